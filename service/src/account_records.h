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

// A user: what the snapshot's `users` show, and the credentials and keys the sign-in requests
// keep for it. Users a test fixture makes have no credentials and cannot sign in.
struct UserRecord {
    uint64_t handle = 0;
    std::string email;
    int8_t status = 0;
    std::string firstName, lastName;
    Bytes authHash;    // SHA-256 of the authentication key; the key itself is never kept
    Bytes userKey;     // the master key wrapped under the password key
    Bytes publicKey;   // RSA public key, X.509 DER
    Bytes privateKey;  // RSA private key blob (under the master key)
    Bytes totpSecret;  // two-factor secret, once a set-up link was handed out
    bool totpEnabled = false;
    int32_t pin = -1;  // recovery PIN, -1 when none was given
    uint64_t mainAccount = 0;
    int64_t created = 0;
};

// An account's own record beside its change counter: its keys as the creating client sent
// them, and the switches a test sets.
struct AccountRecord {
    uint64_t handle = 0;
    Bytes publicKey, privateKey, fingerprintKey;
    bool blocked = false;           // sign-in refused with 2
    bool invoicingProblem = false;  // sign-in answered with 19, the session still given
    int64_t created = 0;
};

// A user's place in an account: the account key wrapped for that user (under its master key).
struct Membership {
    uint64_t account = 0;
    uint64_t user = 0;
    Bytes accountKey;
    uint8_t accessLevel = 0;  // 0 full, 1 read-only
    int64_t created = 0;
};

// An address whose e-mail verification was asked for; account creation takes it once.
struct Registration {
    std::string id;
    std::string email;  // lower-cased
    std::string firstName, lastName;
    int64_t created = 0;
    bool used = false;
};

// A password recovery under way: the recovery way of signing in takes it once.
struct Recovery {
    std::string id;
    uint64_t user = 0;
    int64_t created = 0;
    bool used = false;
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
    uint64_t handle = 0;  // the number session lists show
    int64_t created = 0, lastUsed = 0;
    std::string address, userAgent;
    bool active = true;  // false once logged out; an ended session answers nothing
};

}  // namespace corvane::service
