#pragma once

#include <cstdint>
#include <string>

#include "account_directory.h"
#include "cloud/cloud_test_support.h"

namespace corvane {
namespace test {

// A user with an account on the stand-in whose cloud drive root and filesystem it holds as
// opaque bytes, and two sessions of that user: ours, and another device's. Zeros and empty
// strings when the stand-in refused any part.
struct StandInAccount {
    uint64_t user = 0;
    uint64_t account = 0;
    uint64_t root = 0;
    std::string ours;
    std::string theirs;
};

inline StandInAccount makeStandInAccount(service::AccountDirectory& accounts,
                                         const std::string& email = "ada@example.test") {
    StandInAccount made;
    made.user = accounts.createUser(email);
    made.account = accounts.createAccount(made.user);
    service::NodeRecord root;
    root.type = 0;
    root.nodekey = std::string(32, 'k');
    root.attributes = std::string(48, 'a');
    service::FilesystemRecord filesystem;
    filesystem.type = 0;
    filesystem.nodekey = std::string(32, 'n');
    filesystem.filesystemKey = std::string(32, 'f');
    made.root = accounts.addRoot(made.account, root, filesystem);
    made.ours = accounts.createSession(made.user, made.account);
    made.theirs = accounts.createSession(made.user, made.account);
    return made;
}

// Writes into a cache what a previous run would have left of that account: the account record
// at the given status, the root and its filesystem (the filesystem key is the test's own).
inline void putCachedRoot(CacheFile& cache, uint64_t accountId, uint64_t status, uint64_t root) {
    cache.putAccount(accountId, status);
    const Bytes key = patternKey(9);
    cache.put(makeFilesystem(root << 15, 0, 0, &key, nullptr));
    cache.put(makeNode(root, 0, 0, nullptr, root << 15));
}

}  // namespace test
}  // namespace corvane
