// What the stand-in keeps of an account: plain records, one per row of the store's tables. Byte
// fields are kept exactly as received (the stand-in never decrypts); an absent vector stays
// absent, apart from an empty one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::service {

using Bytes = std::optional<std::string>;

// Handles the stand-in gives out (users, accounts, nodes, metadata) stay below this bound, so
// that their 6-byte text form holds them and a filesystem id (root << 15 | index) fits 63 bits.
constexpr uint64_t kHandleLimit = uint64_t(1) << 48;

// One node, field for field the NodeMessage table (the upload token is not kept).
struct NodeRecord {
    uint64_t handle = 0;
    uint64_t parent = 0;  // 0 for a root
    int8_t type = -1;
    uint8_t crypto = 0;
    bool shared = false;
    uint64_t filesystem = 0;
    uint32_t ctime = 0;
    uint64_t size = 0;
    bool full = false;
    uint64_t extraNumber = 0;
    Bytes pubhandle, nodekey, childkey, attributes, metadata, fingerprint, extraData;
};

// One filesystem, field for field the FilesystemMessage table.
struct FilesystemRecord {
    uint64_t handle = 0;  // root node handle << 15 | index
    int8_t type = -1;
    uint8_t crypto = 0;
    Bytes nodekey, filesystemKey;
    uint64_t source = 0, target = 0;
    uint8_t permissions = 0;
    uint32_t ctime = 0;
};

// A user known to an account (the snapshot's `users`).
struct UserRecord {
    uint64_t handle = 0;
    std::string email;
    int8_t status = 0;
};

// What a session's next events request gets in place of its change list.
enum class Snapshot : uint8_t { None = 0, Full = 1, Empty = 2 };

struct SessionRecord {
    std::string id;         // the "s=" text of its batches
    std::string pollToken;  // the last part of its long-poll link
    uint64_t user = 0;
    uint64_t account = 0;
    uint64_t told = 0;  // the account status its last status answer carried
    Snapshot snapshot = Snapshot::None;
};

}  // namespace corvane::service
