#include "service_store.h"

#include <openssl/rand.h>
#include <sqlite3.h>

#include <cstdio>

namespace corvane::service {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS handles (handle INTEGER PRIMARY KEY);
CREATE TABLE IF NOT EXISTS users (handle INTEGER PRIMARY KEY, email TEXT NOT NULL, status INTEGER NOT NULL,
  first_name TEXT NOT NULL DEFAULT '', last_name TEXT NOT NULL DEFAULT '', auth_hash BLOB, user_key BLOB,
  public_key BLOB, private_key BLOB, totp_secret BLOB, totp_enabled INTEGER NOT NULL DEFAULT 0,
  pin INTEGER NOT NULL DEFAULT -1, main_account INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS users_by_email ON users (lower(email));
CREATE TABLE IF NOT EXISTS accounts (handle INTEGER PRIMARY KEY, status INTEGER NOT NULL, floor INTEGER NOT NULL,
  public_key BLOB, private_key BLOB, fingerprint_key BLOB, blocked INTEGER NOT NULL DEFAULT 0,
  invoicing_problem INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS account_users (account INTEGER NOT NULL, user INTEGER NOT NULL, account_key BLOB,
  access_level INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (account, user));
CREATE TABLE IF NOT EXISTS sessions (id TEXT PRIMARY KEY, poll_token TEXT NOT NULL UNIQUE, user INTEGER NOT NULL,
  account INTEGER NOT NULL, told INTEGER NOT NULL, snapshot INTEGER NOT NULL, handle INTEGER NOT NULL DEFAULT 0,
  created INTEGER NOT NULL DEFAULT 0, last_used INTEGER NOT NULL DEFAULT 0, address TEXT NOT NULL DEFAULT '',
  user_agent TEXT NOT NULL DEFAULT '', active INTEGER NOT NULL DEFAULT 1);
CREATE INDEX IF NOT EXISTS sessions_by_user ON sessions (user);
CREATE TABLE IF NOT EXISTS registrations (id TEXT PRIMARY KEY, email TEXT NOT NULL, first_name TEXT NOT NULL,
  last_name TEXT NOT NULL, created INTEGER NOT NULL, used INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS recoveries (id TEXT PRIMARY KEY, user INTEGER NOT NULL, created INTEGER NOT NULL,
  used INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS filesystems (handle INTEGER PRIMARY KEY, account INTEGER NOT NULL, type INTEGER NOT NULL,
  crypto INTEGER NOT NULL, nodekey BLOB, filesystem_key BLOB, source INTEGER NOT NULL, target INTEGER NOT NULL,
  permissions INTEGER NOT NULL, ctime INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS nodes (handle INTEGER PRIMARY KEY, account INTEGER NOT NULL, parent INTEGER NOT NULL,
  type INTEGER NOT NULL, crypto INTEGER NOT NULL, shared INTEGER NOT NULL, filesystem INTEGER NOT NULL,
  ctime INTEGER NOT NULL, size INTEGER NOT NULL, full INTEGER NOT NULL, extra_number INTEGER NOT NULL,
  pubhandle BLOB, nodekey BLOB, childkey BLOB, attributes BLOB, metadata BLOB, fingerprint BLOB, extra_data BLOB);
CREATE INDEX IF NOT EXISTS nodes_by_parent ON nodes (account, parent);
CREATE TABLE IF NOT EXISTS metadata (handle INTEGER PRIMARY KEY, node INTEGER NOT NULL, type INTEGER NOT NULL, token BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS changes (account INTEGER NOT NULL, status INTEGER NOT NULL, origin TEXT NOT NULL,
  response BLOB NOT NULL, PRIMARY KEY (account, status));
CREATE TABLE IF NOT EXISTS account_values (account INTEGER PRIMARY KEY, crypto INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS contacts (account INTEGER NOT NULL, email TEXT NOT NULL, PRIMARY KEY (account, email));
CREATE TABLE IF NOT EXISTS node_contents (node INTEGER PRIMARY KEY, content TEXT NOT NULL);
)sql";

// SQLite keeps integers signed: uint64 values travel bit for bit.
sqlite3_int64 sql(uint64_t value) {
    return static_cast<sqlite3_int64>(value);
}

uint64_t u64(sqlite3_stmt* s, int column) {
    return static_cast<uint64_t>(sqlite3_column_int64(s, column));
}

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void bindBytes(sqlite3_stmt* s, int index, const Bytes& bytes) {
    if (!bytes)
        sqlite3_bind_null(s, index);
    else  // a zero-length blob, not NULL, for an empty vector
        sqlite3_bind_blob(s, index, bytes->empty() ? "" : bytes->data(), static_cast<int>(bytes->size()),
                          SQLITE_TRANSIENT);
}

Bytes columnBytes(sqlite3_stmt* s, int column) {
    if (sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
    const void* data = sqlite3_column_blob(s, column);
    const int size = sqlite3_column_bytes(s, column);
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

std::string columnText(sqlite3_stmt* s, int column) {
    const unsigned char* text = sqlite3_column_text(s, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

constexpr const char* kNodeColumns =
    "handle, parent, type, crypto, shared, filesystem, ctime, size, full, extra_number, pubhandle, nodekey, "
    "childkey, attributes, metadata, fingerprint, extra_data";

NodeRecord readNode(sqlite3_stmt* s) {
    NodeRecord node;
    node.handle = u64(s, 0);
    node.parent = u64(s, 1);
    node.type = static_cast<int8_t>(sqlite3_column_int(s, 2));
    node.crypto = static_cast<uint8_t>(sqlite3_column_int(s, 3));
    node.shared = sqlite3_column_int(s, 4) != 0;
    node.filesystem = u64(s, 5);
    node.ctime = static_cast<uint32_t>(sqlite3_column_int64(s, 6));
    node.size = u64(s, 7);
    node.full = sqlite3_column_int(s, 8) != 0;
    node.extraNumber = u64(s, 9);
    node.pubhandle = columnBytes(s, 10);
    node.nodekey = columnBytes(s, 11);
    node.childkey = columnBytes(s, 12);
    node.attributes = columnBytes(s, 13);
    node.metadata = columnBytes(s, 14);
    node.fingerprint = columnBytes(s, 15);
    node.extraData = columnBytes(s, 16);
    return node;
}

SessionRecord readSession(sqlite3_stmt* s) {
    SessionRecord session;
    session.id = columnText(s, 0);
    session.pollToken = columnText(s, 1);
    session.user = u64(s, 2);
    session.account = u64(s, 3);
    session.told = u64(s, 4);
    session.snapshot = static_cast<Snapshot>(sqlite3_column_int(s, 5));
    session.handle = u64(s, 6);
    session.created = sqlite3_column_int64(s, 7);
    session.lastUsed = sqlite3_column_int64(s, 8);
    session.address = columnText(s, 9);
    session.userAgent = columnText(s, 10);
    session.active = sqlite3_column_int(s, 11) != 0;
    return session;
}

constexpr const char* kSessionColumns =
    "id, poll_token, user, account, told, snapshot, handle, created, last_used, address, user_agent, active";

constexpr const char* kUserColumns =
    "handle, email, status, first_name, last_name, auth_hash, user_key, public_key, private_key, totp_secret, "
    "totp_enabled, pin, main_account, created";

UserRecord readUser(sqlite3_stmt* s, int first = 0) {
    UserRecord user;
    user.handle = u64(s, first);
    user.email = columnText(s, first + 1);
    user.status = static_cast<int8_t>(sqlite3_column_int(s, first + 2));
    user.firstName = columnText(s, first + 3);
    user.lastName = columnText(s, first + 4);
    user.authHash = columnBytes(s, first + 5);
    user.userKey = columnBytes(s, first + 6);
    user.publicKey = columnBytes(s, first + 7);
    user.privateKey = columnBytes(s, first + 8);
    user.totpSecret = columnBytes(s, first + 9);
    user.totpEnabled = sqlite3_column_int(s, first + 10) != 0;
    user.pin = sqlite3_column_int(s, first + 11);
    user.mainAccount = u64(s, first + 12);
    user.created = sqlite3_column_int64(s, first + 13);
    return user;
}

Membership readMembership(sqlite3_stmt* s) {
    Membership membership;
    membership.account = u64(s, 0);
    membership.user = u64(s, 1);
    membership.accountKey = columnBytes(s, 2);
    membership.accessLevel = static_cast<uint8_t>(sqlite3_column_int(s, 3));
    membership.created = sqlite3_column_int64(s, 4);
    return membership;
}

}  // namespace

ServiceStore::~ServiceStore() {
    close();
}

std::string ServiceStore::pathIn(const std::string& directory) {
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + kFileName;
}

bool ServiceStore::open(const std::string& directory) {
    close();
    std::string path = pathIn(directory);
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    db_ = db;
    // The tables put the file on disk at once.
    if (!createTables()) {
        close();
        return false;
    }
    path_ = std::move(path);
    return true;
}

bool ServiceStore::openInMemory() {
    close();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    db_ = db;
    if (!createTables()) {
        close();
        return false;
    }
    return true;
}

void ServiceStore::close() {
    for (auto& entry : statements_)
        sqlite3_finalize(entry.second);
    statements_.clear();
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    path_.clear();
}

bool ServiceStore::createTables() {
    if (!exec(kSchema)) return false;
    // A data directory written before the sign-in columns existed gets them added; on a new
    // file each of these fails harmlessly, the column being there already.
    static const char* const kAddedColumns[] = {
        "ALTER TABLE users ADD COLUMN first_name TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE users ADD COLUMN last_name TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE users ADD COLUMN auth_hash BLOB",
        "ALTER TABLE users ADD COLUMN user_key BLOB",
        "ALTER TABLE users ADD COLUMN public_key BLOB",
        "ALTER TABLE users ADD COLUMN private_key BLOB",
        "ALTER TABLE users ADD COLUMN totp_secret BLOB",
        "ALTER TABLE users ADD COLUMN totp_enabled INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE users ADD COLUMN pin INTEGER NOT NULL DEFAULT -1",
        "ALTER TABLE users ADD COLUMN main_account INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE users ADD COLUMN created INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE accounts ADD COLUMN public_key BLOB",
        "ALTER TABLE accounts ADD COLUMN private_key BLOB",
        "ALTER TABLE accounts ADD COLUMN fingerprint_key BLOB",
        "ALTER TABLE accounts ADD COLUMN blocked INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE accounts ADD COLUMN invoicing_problem INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE accounts ADD COLUMN created INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE account_users ADD COLUMN account_key BLOB",
        "ALTER TABLE account_users ADD COLUMN access_level INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE account_users ADD COLUMN created INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE sessions ADD COLUMN handle INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE sessions ADD COLUMN created INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE sessions ADD COLUMN last_used INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE sessions ADD COLUMN address TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE sessions ADD COLUMN user_agent TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE sessions ADD COLUMN active INTEGER NOT NULL DEFAULT 1",
    };
    for (const char* statement : kAddedColumns)
        exec(statement);
    return true;
}

bool ServiceStore::exec(const char* text) {
    return db_ && sqlite3_exec(db_, text, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool ServiceStore::begin() {
    return exec("BEGIN IMMEDIATE");
}

bool ServiceStore::commit() {
    return exec("COMMIT");
}

void ServiceStore::rollback() {
    exec("ROLLBACK");
}

sqlite3_stmt* ServiceStore::statement(const char* text) {
    if (!db_) return nullptr;
    auto it = statements_.find(text);
    if (it == statements_.end()) {
        sqlite3_stmt* prepared = nullptr;
        if (sqlite3_prepare_v2(db_, text, -1, &prepared, nullptr) != SQLITE_OK) {
            // A statement that cannot be prepared is a fault of the stand-in itself: say so
            // instead of answering as if the table were empty.
            std::fprintf(stderr, "corvane-service: cannot prepare \"%s\": %s\n", text, sqlite3_errmsg(db_));
            return nullptr;
        }
        it = statements_.emplace(text, prepared).first;
    }
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
}

bool ServiceStore::run(sqlite3_stmt* s) {
    if (!s) return false;
    int result;
    while ((result = sqlite3_step(s)) == SQLITE_ROW) {
    }
    sqlite3_reset(s);
    return result == SQLITE_DONE;
}

uint64_t ServiceStore::newHandle() {
    for (;;) {
        uint64_t value = 0;
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value) != 1) return 0;
        value &= kHandleLimit - 1;
        if (value == 0) continue;
        sqlite3_stmt* s = statement("INSERT OR IGNORE INTO handles (handle) VALUES (?)");
        if (!s) return 0;
        sqlite3_bind_int64(s, 1, sql(value));
        if (!run(s)) return 0;
        if (sqlite3_changes(db_) == 1) return value;
    }
}

bool ServiceStore::putUser(const UserRecord& user) {
    sqlite3_stmt* s = statement(
        "INSERT OR REPLACE INTO users (handle, email, status, first_name, last_name, auth_hash, user_key, public_key, "
        "private_key, totp_secret, totp_enabled, pin, main_account, created) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(user.handle));
    bindText(s, 2, user.email);
    sqlite3_bind_int(s, 3, user.status);
    bindText(s, 4, user.firstName);
    bindText(s, 5, user.lastName);
    bindBytes(s, 6, user.authHash);
    bindBytes(s, 7, user.userKey);
    bindBytes(s, 8, user.publicKey);
    bindBytes(s, 9, user.privateKey);
    bindBytes(s, 10, user.totpSecret);
    sqlite3_bind_int(s, 11, user.totpEnabled ? 1 : 0);
    sqlite3_bind_int(s, 12, user.pin);
    sqlite3_bind_int64(s, 13, sql(user.mainAccount));
    sqlite3_bind_int64(s, 14, user.created);
    return run(s);
}

std::optional<UserRecord> ServiceStore::user(uint64_t handle) {
    static const std::string text = std::string("SELECT ") + kUserColumns + " FROM users WHERE handle = ?";
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return std::nullopt;
    sqlite3_bind_int64(s, 1, sql(handle));
    std::optional<UserRecord> found;
    if (sqlite3_step(s) == SQLITE_ROW) found = readUser(s);
    sqlite3_reset(s);
    return found;
}

std::optional<UserRecord> ServiceStore::userByEmail(const std::string& email) {
    // SQLite's lower() folds A to Z only, as the client does.
    static const std::string text =
        std::string("SELECT ") + kUserColumns + " FROM users WHERE lower(email) = lower(?) ORDER BY rowid LIMIT 1";
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return std::nullopt;
    bindText(s, 1, email);
    std::optional<UserRecord> found;
    if (sqlite3_step(s) == SQLITE_ROW) found = readUser(s);
    sqlite3_reset(s);
    return found;
}

bool ServiceStore::putAccount(uint64_t account, uint64_t status) {
    sqlite3_stmt* s = statement("INSERT INTO accounts (handle, status, floor) VALUES (?, ?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(status));
    sqlite3_bind_int64(s, 3, sql(status));
    return run(s);
}

bool ServiceStore::hasAccount(uint64_t account) {
    sqlite3_stmt* s = statement("SELECT 1 FROM accounts WHERE handle = ?");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    const bool found = sqlite3_step(s) == SQLITE_ROW;
    sqlite3_reset(s);
    return found;
}

bool ServiceStore::addAccountUser(uint64_t account, uint64_t user) {
    sqlite3_stmt* s = statement("INSERT OR IGNORE INTO account_users (account, user) VALUES (?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(user));
    return run(s);
}

std::vector<UserRecord> ServiceStore::accountUsers(uint64_t account) {
    std::vector<UserRecord> users;
    static const std::string text = [] {
        std::string columns = kUserColumns;
        std::string prefixed;
        size_t at = 0;
        while (at < columns.size()) {
            size_t comma = columns.find(", ", at);
            if (comma == std::string::npos) comma = columns.size();
            if (!prefixed.empty()) prefixed += ", ";
            prefixed += "users." + columns.substr(at, comma - at);
            at = comma + 2;
        }
        return "SELECT " + prefixed +
               " FROM account_users JOIN users ON users.handle = account_users.user WHERE account_users.account = ? "
               "ORDER BY account_users.rowid";
    }();
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return users;
    sqlite3_bind_int64(s, 1, sql(account));
    while (sqlite3_step(s) == SQLITE_ROW)
        users.push_back(readUser(s));
    sqlite3_reset(s);
    return users;
}

bool ServiceStore::putMembership(const Membership& membership) {
    sqlite3_stmt* s = statement(
        "INSERT INTO account_users (account, user, account_key, access_level, created) VALUES (?, ?, ?, ?, ?) "
        "ON CONFLICT (account, user) DO UPDATE SET account_key = excluded.account_key, "
        "access_level = excluded.access_level, created = excluded.created");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(membership.account));
    sqlite3_bind_int64(s, 2, sql(membership.user));
    bindBytes(s, 3, membership.accountKey);
    sqlite3_bind_int(s, 4, membership.accessLevel);
    sqlite3_bind_int64(s, 5, membership.created);
    return run(s);
}

std::optional<Membership> ServiceStore::membership(uint64_t account, uint64_t user) {
    sqlite3_stmt* s = statement(
        "SELECT account, user, account_key, access_level, created FROM account_users WHERE account = ? AND user = ?");
    if (!s) return std::nullopt;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(user));
    std::optional<Membership> found;
    if (sqlite3_step(s) == SQLITE_ROW) found = readMembership(s);
    sqlite3_reset(s);
    return found;
}

std::vector<Membership> ServiceStore::memberships(uint64_t account, uint64_t user) {
    std::vector<Membership> list;
    sqlite3_stmt* s = account != 0 ? statement(
                                         "SELECT account, user, account_key, access_level, created FROM account_users "
                                         "WHERE account = ? ORDER BY rowid")
                                   : statement(
                                         "SELECT account, user, account_key, access_level, created FROM account_users "
                                         "WHERE user = ? ORDER BY rowid");
    if (!s) return list;
    sqlite3_bind_int64(s, 1, sql(account != 0 ? account : user));
    while (sqlite3_step(s) == SQLITE_ROW)
        list.push_back(readMembership(s));
    sqlite3_reset(s);
    return list;
}

bool ServiceStore::putAccountRecord(const AccountRecord& account) {
    sqlite3_stmt* s = statement(
        "UPDATE accounts SET public_key = ?, private_key = ?, fingerprint_key = ?, blocked = ?, "
        "invoicing_problem = ?, created = ? WHERE handle = ?");
    if (!s) return false;
    bindBytes(s, 1, account.publicKey);
    bindBytes(s, 2, account.privateKey);
    bindBytes(s, 3, account.fingerprintKey);
    sqlite3_bind_int(s, 4, account.blocked ? 1 : 0);
    sqlite3_bind_int(s, 5, account.invoicingProblem ? 1 : 0);
    sqlite3_bind_int64(s, 6, account.created);
    sqlite3_bind_int64(s, 7, sql(account.handle));
    return run(s) && sqlite3_changes(db_) == 1;
}

std::optional<AccountRecord> ServiceStore::account(uint64_t handle) {
    sqlite3_stmt* s = statement(
        "SELECT handle, public_key, private_key, fingerprint_key, blocked, invoicing_problem, created FROM accounts "
        "WHERE handle = ?");
    if (!s) return std::nullopt;
    sqlite3_bind_int64(s, 1, sql(handle));
    std::optional<AccountRecord> found;
    if (sqlite3_step(s) == SQLITE_ROW) {
        AccountRecord account;
        account.handle = u64(s, 0);
        account.publicKey = columnBytes(s, 1);
        account.privateKey = columnBytes(s, 2);
        account.fingerprintKey = columnBytes(s, 3);
        account.blocked = sqlite3_column_int(s, 4) != 0;
        account.invoicingProblem = sqlite3_column_int(s, 5) != 0;
        account.created = sqlite3_column_int64(s, 6);
        found = account;
    }
    sqlite3_reset(s);
    return found;
}

uint64_t ServiceStore::accountStatus(uint64_t account) {
    sqlite3_stmt* s = statement("SELECT status FROM accounts WHERE handle = ?");
    if (!s) return 0;
    sqlite3_bind_int64(s, 1, sql(account));
    const uint64_t status = sqlite3_step(s) == SQLITE_ROW ? u64(s, 0) : 0;
    sqlite3_reset(s);
    return status;
}

uint64_t ServiceStore::accountFloor(uint64_t account) {
    sqlite3_stmt* s = statement("SELECT floor FROM accounts WHERE handle = ?");
    if (!s) return 0;
    sqlite3_bind_int64(s, 1, sql(account));
    const uint64_t floor = sqlite3_step(s) == SQLITE_ROW ? u64(s, 0) : 0;
    sqlite3_reset(s);
    return floor;
}

bool ServiceStore::setAccountStatus(uint64_t account, uint64_t status, uint64_t floor) {
    sqlite3_stmt* s = statement("UPDATE accounts SET status = ?, floor = ? WHERE handle = ?");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(status));
    sqlite3_bind_int64(s, 2, sql(floor));
    sqlite3_bind_int64(s, 3, sql(account));
    return run(s);
}

bool ServiceStore::putSession(const SessionRecord& session) {
    sqlite3_stmt* s = statement(
        "INSERT OR REPLACE INTO sessions (id, poll_token, user, account, told, snapshot, handle, created, last_used, "
        "address, user_agent, active) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s) return false;
    bindText(s, 1, session.id);
    bindText(s, 2, session.pollToken);
    sqlite3_bind_int64(s, 3, sql(session.user));
    sqlite3_bind_int64(s, 4, sql(session.account));
    sqlite3_bind_int64(s, 5, sql(session.told));
    sqlite3_bind_int(s, 6, static_cast<int>(session.snapshot));
    sqlite3_bind_int64(s, 7, sql(session.handle));
    sqlite3_bind_int64(s, 8, session.created);
    sqlite3_bind_int64(s, 9, session.lastUsed);
    bindText(s, 10, session.address);
    bindText(s, 11, session.userAgent);
    sqlite3_bind_int(s, 12, session.active ? 1 : 0);
    return run(s);
}

std::optional<SessionRecord> ServiceStore::session(const std::string& id) {
    static const std::string text = std::string("SELECT ") + kSessionColumns + " FROM sessions WHERE id = ? AND active";
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return std::nullopt;
    bindText(s, 1, id);
    std::optional<SessionRecord> found;
    if (sqlite3_step(s) == SQLITE_ROW) found = readSession(s);
    sqlite3_reset(s);
    return found;
}

std::vector<SessionRecord> ServiceStore::sessionsOfUser(uint64_t user) {
    static const std::string text =
        std::string("SELECT ") + kSessionColumns + " FROM sessions WHERE user = ? ORDER BY rowid";
    std::vector<SessionRecord> list;
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return list;
    sqlite3_bind_int64(s, 1, sql(user));
    while (sqlite3_step(s) == SQLITE_ROW)
        list.push_back(readSession(s));
    sqlite3_reset(s);
    return list;
}

bool ServiceStore::endSession(const std::string& id) {
    sqlite3_stmt* s = statement("UPDATE sessions SET active = 0 WHERE id = ?");
    if (!s) return false;
    bindText(s, 1, id);
    return run(s);
}

bool ServiceStore::touchSession(const std::string& id, int64_t time) {
    sqlite3_stmt* s = statement("UPDATE sessions SET last_used = ? WHERE id = ?");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, time);
    bindText(s, 2, id);
    return run(s);
}

bool ServiceStore::hasSessions() {
    sqlite3_stmt* s = statement("SELECT 1 FROM sessions LIMIT 1");
    if (!s) return false;
    const bool found = sqlite3_step(s) == SQLITE_ROW;
    sqlite3_reset(s);
    return found;
}

std::optional<SessionRecord> ServiceStore::sessionByPollToken(const std::string& token) {
    static const std::string text =
        std::string("SELECT ") + kSessionColumns + " FROM sessions WHERE poll_token = ? AND active";
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return std::nullopt;
    bindText(s, 1, token);
    std::optional<SessionRecord> found;
    if (sqlite3_step(s) == SQLITE_ROW) found = readSession(s);
    sqlite3_reset(s);
    return found;
}

bool ServiceStore::putRegistration(const Registration& registration) {
    sqlite3_stmt* s = statement(
        "INSERT OR REPLACE INTO registrations (id, email, first_name, last_name, created, used) "
        "VALUES (?, ?, ?, ?, ?, ?)");
    if (!s) return false;
    bindText(s, 1, registration.id);
    bindText(s, 2, registration.email);
    bindText(s, 3, registration.firstName);
    bindText(s, 4, registration.lastName);
    sqlite3_bind_int64(s, 5, registration.created);
    sqlite3_bind_int(s, 6, registration.used ? 1 : 0);
    return run(s);
}

std::optional<Registration> ServiceStore::registration(const std::string& id) {
    sqlite3_stmt* s =
        statement("SELECT id, email, first_name, last_name, created, used FROM registrations WHERE id = ?");
    if (!s) return std::nullopt;
    bindText(s, 1, id);
    std::optional<Registration> found;
    if (sqlite3_step(s) == SQLITE_ROW) {
        Registration registration;
        registration.id = columnText(s, 0);
        registration.email = columnText(s, 1);
        registration.firstName = columnText(s, 2);
        registration.lastName = columnText(s, 3);
        registration.created = sqlite3_column_int64(s, 4);
        registration.used = sqlite3_column_int(s, 5) != 0;
        found = registration;
    }
    sqlite3_reset(s);
    return found;
}

bool ServiceStore::putRecovery(const Recovery& recovery) {
    sqlite3_stmt* s = statement("INSERT OR REPLACE INTO recoveries (id, user, created, used) VALUES (?, ?, ?, ?)");
    if (!s) return false;
    bindText(s, 1, recovery.id);
    sqlite3_bind_int64(s, 2, sql(recovery.user));
    sqlite3_bind_int64(s, 3, recovery.created);
    sqlite3_bind_int(s, 4, recovery.used ? 1 : 0);
    return run(s);
}

std::optional<Recovery> ServiceStore::recovery(const std::string& id) {
    sqlite3_stmt* s = statement("SELECT id, user, created, used FROM recoveries WHERE id = ?");
    if (!s) return std::nullopt;
    bindText(s, 1, id);
    std::optional<Recovery> found;
    if (sqlite3_step(s) == SQLITE_ROW)
        found = Recovery{columnText(s, 0), u64(s, 1), sqlite3_column_int64(s, 2), sqlite3_column_int(s, 3) != 0};
    sqlite3_reset(s);
    return found;
}

bool ServiceStore::setSessionTold(const std::string& id, uint64_t told) {
    sqlite3_stmt* s = statement("UPDATE sessions SET told = ? WHERE id = ?");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(told));
    bindText(s, 2, id);
    return run(s);
}

bool ServiceStore::setSessionSnapshot(const std::string& id, Snapshot snapshot) {
    sqlite3_stmt* s = statement("UPDATE sessions SET snapshot = ? WHERE id = ?");
    if (!s) return false;
    sqlite3_bind_int(s, 1, static_cast<int>(snapshot));
    bindText(s, 2, id);
    return run(s);
}

bool ServiceStore::setAccountSnapshot(uint64_t account, Snapshot snapshot) {
    sqlite3_stmt* s = statement("UPDATE sessions SET snapshot = ? WHERE account = ?");
    if (!s) return false;
    sqlite3_bind_int(s, 1, static_cast<int>(snapshot));
    sqlite3_bind_int64(s, 2, sql(account));
    return run(s);
}

bool ServiceStore::putFilesystem(uint64_t account, const FilesystemRecord& fs) {
    sqlite3_stmt* s = statement(
        "INSERT OR REPLACE INTO filesystems (handle, account, type, crypto, nodekey, filesystem_key, source, target, "
        "permissions, ctime) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(fs.handle));
    sqlite3_bind_int64(s, 2, sql(account));
    sqlite3_bind_int(s, 3, fs.type);
    sqlite3_bind_int(s, 4, fs.crypto);
    bindBytes(s, 5, fs.nodekey);
    bindBytes(s, 6, fs.filesystemKey);
    sqlite3_bind_int64(s, 7, sql(fs.source));
    sqlite3_bind_int64(s, 8, sql(fs.target));
    sqlite3_bind_int(s, 9, fs.permissions);
    sqlite3_bind_int64(s, 10, fs.ctime);
    return run(s);
}

std::vector<FilesystemRecord> ServiceStore::filesystems(uint64_t account) {
    std::vector<FilesystemRecord> list;
    sqlite3_stmt* s = statement(
        "SELECT handle, type, crypto, nodekey, filesystem_key, source, target, permissions, ctime FROM filesystems "
        "WHERE account = ? ORDER BY rowid");
    if (!s) return list;
    sqlite3_bind_int64(s, 1, sql(account));
    while (sqlite3_step(s) == SQLITE_ROW) {
        FilesystemRecord fs;
        fs.handle = u64(s, 0);
        fs.type = static_cast<int8_t>(sqlite3_column_int(s, 1));
        fs.crypto = static_cast<uint8_t>(sqlite3_column_int(s, 2));
        fs.nodekey = columnBytes(s, 3);
        fs.filesystemKey = columnBytes(s, 4);
        fs.source = u64(s, 5);
        fs.target = u64(s, 6);
        fs.permissions = static_cast<uint8_t>(sqlite3_column_int(s, 7));
        fs.ctime = static_cast<uint32_t>(sqlite3_column_int64(s, 8));
        list.push_back(std::move(fs));
    }
    sqlite3_reset(s);
    return list;
}

bool ServiceStore::deleteFilesystemsOfRoot(uint64_t account, uint64_t root) {
    sqlite3_stmt* s = statement("DELETE FROM filesystems WHERE account = ? AND handle >> 15 = ?");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(root));
    return run(s);
}

bool ServiceStore::putNode(uint64_t account, const NodeRecord& node) {
    sqlite3_stmt* s = statement(
        "INSERT OR REPLACE INTO nodes (account, handle, parent, type, crypto, shared, filesystem, ctime, size, full, "
        "extra_number, pubhandle, nodekey, childkey, attributes, metadata, fingerprint, extra_data) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(node.handle));
    sqlite3_bind_int64(s, 3, sql(node.parent));
    sqlite3_bind_int(s, 4, node.type);
    sqlite3_bind_int(s, 5, node.crypto);
    sqlite3_bind_int(s, 6, node.shared ? 1 : 0);
    sqlite3_bind_int64(s, 7, sql(node.filesystem));
    sqlite3_bind_int64(s, 8, node.ctime);
    sqlite3_bind_int64(s, 9, sql(node.size));
    sqlite3_bind_int(s, 10, node.full ? 1 : 0);
    sqlite3_bind_int64(s, 11, sql(node.extraNumber));
    bindBytes(s, 12, node.pubhandle);
    bindBytes(s, 13, node.nodekey);
    bindBytes(s, 14, node.childkey);
    bindBytes(s, 15, node.attributes);
    bindBytes(s, 16, node.metadata);
    bindBytes(s, 17, node.fingerprint);
    bindBytes(s, 18, node.extraData);
    return run(s);
}

std::optional<NodeRecord> ServiceStore::node(uint64_t account, uint64_t handle) {
    static const std::string text =
        std::string("SELECT ") + kNodeColumns + " FROM nodes WHERE account = ? AND handle = ?";
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return std::nullopt;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(handle));
    std::optional<NodeRecord> found;
    if (sqlite3_step(s) == SQLITE_ROW) found = readNode(s);
    sqlite3_reset(s);
    return found;
}

std::vector<NodeRecord> ServiceStore::nodes(uint64_t account) {
    static const std::string text =
        std::string("SELECT ") + kNodeColumns + " FROM nodes WHERE account = ? ORDER BY rowid";
    std::vector<NodeRecord> list;
    sqlite3_stmt* s = statement(text.c_str());
    if (!s) return list;
    sqlite3_bind_int64(s, 1, sql(account));
    while (sqlite3_step(s) == SQLITE_ROW)
        list.push_back(readNode(s));
    sqlite3_reset(s);
    return list;
}

std::vector<uint64_t> ServiceStore::children(uint64_t account, uint64_t parent) {
    std::vector<uint64_t> list;
    sqlite3_stmt* s = statement("SELECT handle FROM nodes WHERE account = ? AND parent = ?");
    if (!s) return list;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(parent));
    while (sqlite3_step(s) == SQLITE_ROW)
        list.push_back(u64(s, 0));
    sqlite3_reset(s);
    return list;
}

bool ServiceStore::deleteNode(uint64_t account, uint64_t handle) {
    sqlite3_stmt* s = statement("DELETE FROM nodes WHERE account = ? AND handle = ?");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(handle));
    if (!run(s)) return false;
    // The node's metadata and its tie to stored content go with it.
    for (const char* sqlText : {"DELETE FROM metadata WHERE node = ?", "DELETE FROM node_contents WHERE node = ?"}) {
        sqlite3_stmt* m = statement(sqlText);
        if (!m) return false;
        sqlite3_bind_int64(m, 1, sql(handle));
        if (!run(m)) return false;
    }
    return true;
}

bool ServiceStore::putMetadata(uint64_t handle, uint64_t node, uint8_t type, const std::string& token) {
    sqlite3_stmt* s = statement("INSERT OR REPLACE INTO metadata (handle, node, type, token) VALUES (?, ?, ?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(handle));
    sqlite3_bind_int64(s, 2, sql(node));
    sqlite3_bind_int(s, 3, type);
    bindBytes(s, 4, token);
    return run(s);
}

std::optional<ServiceStore::MetadataBlob> ServiceStore::metadataBlob(uint64_t handle) {
    sqlite3_stmt* s = statement("SELECT node, type, token FROM metadata WHERE handle = ?");
    if (!s) return std::nullopt;
    sqlite3_bind_int64(s, 1, sql(handle));
    std::optional<MetadataBlob> blob;
    if (sqlite3_step(s) == SQLITE_ROW) {
        blob = MetadataBlob{};
        blob->node = static_cast<uint64_t>(sqlite3_column_int64(s, 0));
        blob->type = static_cast<uint8_t>(sqlite3_column_int(s, 1));
        blob->token = columnBytes(s, 2).value_or(std::string());
    }
    sqlite3_reset(s);
    return blob;
}

bool ServiceStore::appendChange(uint64_t account, uint64_t status, const std::string& origin,
                                const std::string& response) {
    sqlite3_stmt* s = statement("INSERT INTO changes (account, status, origin, response) VALUES (?, ?, ?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(status));
    bindText(s, 3, origin);
    bindBytes(s, 4, response);
    return run(s);
}

std::vector<std::string> ServiceStore::changesAfter(uint64_t account, uint64_t status, const std::string& exclude) {
    std::vector<std::string> list;
    sqlite3_stmt* s =
        statement("SELECT response FROM changes WHERE account = ? AND status > ? AND origin <> ? ORDER BY status");
    if (!s) return list;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(status));
    bindText(s, 3, exclude);
    while (sqlite3_step(s) == SQLITE_ROW)
        list.push_back(columnBytes(s, 0).value_or(std::string()));
    sqlite3_reset(s);
    return list;
}

bool ServiceStore::hasChangesAfter(uint64_t account, uint64_t status, const std::string& exclude) {
    sqlite3_stmt* s = statement("SELECT 1 FROM changes WHERE account = ? AND status > ? AND origin <> ? LIMIT 1");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(status));
    bindText(s, 3, exclude);
    const bool found = sqlite3_step(s) == SQLITE_ROW;
    sqlite3_reset(s);
    return found;
}

uint64_t ServiceStore::trimChanges(uint64_t account, size_t keep) {
    sqlite3_stmt* s = statement("SELECT status FROM changes WHERE account = ? ORDER BY status DESC LIMIT 1 OFFSET ?");
    if (!s) return 0;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(keep));
    const uint64_t newestForgotten = sqlite3_step(s) == SQLITE_ROW ? u64(s, 0) : 0;
    sqlite3_reset(s);
    if (newestForgotten == 0) return 0;
    sqlite3_stmt* d = statement("DELETE FROM changes WHERE account = ? AND status <= ?");
    if (!d) return 0;
    sqlite3_bind_int64(d, 1, sql(account));
    sqlite3_bind_int64(d, 2, sql(newestForgotten));
    run(d);
    return newestForgotten;
}

bool ServiceStore::setAccountCrypto(uint64_t account, uint8_t crypto) {
    sqlite3_stmt* s = statement(
        "INSERT INTO account_values (account, crypto) VALUES (?, ?) "
        "ON CONFLICT (account) DO UPDATE SET crypto = excluded.crypto");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int(s, 2, crypto);
    return run(s);
}

uint8_t ServiceStore::accountCrypto(uint64_t account) {
    sqlite3_stmt* s = statement("SELECT crypto FROM account_values WHERE account = ?");
    if (!s) return 0;
    sqlite3_bind_int64(s, 1, sql(account));
    uint8_t crypto = 0;
    if (sqlite3_step(s) == SQLITE_ROW) crypto = static_cast<uint8_t>(sqlite3_column_int(s, 0));
    sqlite3_reset(s);
    return crypto;
}

bool ServiceStore::deleteMembership(uint64_t account, uint64_t user) {
    sqlite3_stmt* s = statement("DELETE FROM account_users WHERE account = ? AND user = ?");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(user));
    return run(s);
}

bool ServiceStore::endSessionsIn(uint64_t account, uint64_t user) {
    sqlite3_stmt* s = statement("UPDATE sessions SET active = 0 WHERE account = ? AND (? = 0 OR user = ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    sqlite3_bind_int64(s, 2, sql(user));
    sqlite3_bind_int64(s, 3, sql(user));
    return run(s);
}

bool ServiceStore::deleteAccount(uint64_t account) {
    if (!endSessionsIn(account)) return false;
    // Metadata and content ties first: they are found through the account's nodes.
    static const char* const kDeletes[] = {
        "DELETE FROM metadata WHERE node IN (SELECT handle FROM nodes WHERE account = ?)",
        "DELETE FROM node_contents WHERE node IN (SELECT handle FROM nodes WHERE account = ?)",
        "DELETE FROM nodes WHERE account = ?",
        "DELETE FROM filesystems WHERE account = ?",
        "DELETE FROM changes WHERE account = ?",
        "DELETE FROM account_users WHERE account = ?",
        "DELETE FROM account_values WHERE account = ?",
        "DELETE FROM contacts WHERE account = ?",
        "DELETE FROM accounts WHERE handle = ?",
    };
    for (const char* sqlText : kDeletes) {
        sqlite3_stmt* s = statement(sqlText);
        if (!s) return false;
        sqlite3_bind_int64(s, 1, sql(account));
        if (!run(s)) return false;
    }
    return true;
}

bool ServiceStore::putContact(uint64_t account, const std::string& email) {
    sqlite3_stmt* s = statement("INSERT OR IGNORE INTO contacts (account, email) VALUES (?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(account));
    bindText(s, 2, email);
    return run(s);
}

std::vector<std::string> ServiceStore::contacts(uint64_t account) {
    std::vector<std::string> list;
    sqlite3_stmt* s = statement("SELECT email FROM contacts WHERE account = ? ORDER BY rowid");
    if (!s) return list;
    sqlite3_bind_int64(s, 1, sql(account));
    while (sqlite3_step(s) == SQLITE_ROW) {
        list.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    }
    sqlite3_reset(s);
    return list;
}

bool ServiceStore::putNodeContent(uint64_t node, const std::string& content) {
    sqlite3_stmt* s = statement("INSERT OR REPLACE INTO node_contents (node, content) VALUES (?, ?)");
    if (!s) return false;
    sqlite3_bind_int64(s, 1, sql(node));
    bindText(s, 2, content);
    return run(s);
}

std::optional<std::string> ServiceStore::nodeContent(uint64_t node) {
    sqlite3_stmt* s = statement("SELECT content FROM node_contents WHERE node = ?");
    if (!s) return std::nullopt;
    sqlite3_bind_int64(s, 1, sql(node));
    std::optional<std::string> content;
    if (sqlite3_step(s) == SQLITE_ROW) content = columnText(s, 0);
    sqlite3_reset(s);
    return content;
}

std::optional<std::pair<uint64_t, NodeRecord>> ServiceStore::nodeByPublicHandle(const std::string& pubhandle) {
    // An empty handle names no link, whatever empty blobs the table holds.
    if (pubhandle.empty()) return std::nullopt;
    sqlite3_stmt* s = statement("SELECT account, handle FROM nodes WHERE pubhandle = ? ORDER BY rowid LIMIT 1");
    if (!s) return std::nullopt;
    bindBytes(s, 1, pubhandle);
    uint64_t account = 0, handle = 0;
    const bool found = sqlite3_step(s) == SQLITE_ROW;
    if (found) {
        account = u64(s, 0);
        handle = u64(s, 1);
    }
    sqlite3_reset(s);
    if (!found) return std::nullopt;
    auto record = node(account, handle);
    if (!record) return std::nullopt;
    return std::make_pair(account, std::move(*record));
}

}  // namespace corvane::service
