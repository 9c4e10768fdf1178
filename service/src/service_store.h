// The stand-in's SQLite store: users with their credentials, accounts and their users, sessions,
// pending registrations and recoveries, filesystems, nodes, metadata blobs and each account's
// change log. The store is not locked by itself: its owner
// (the account directory) serialises every use.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "account_records.h"

struct sqlite3;
struct sqlite3_stmt;

namespace corvane::service {

class ServiceStore {
public:
    static constexpr const char* kFileName = "corvane-service.db";

    ServiceStore() = default;
    ~ServiceStore();
    ServiceStore(const ServiceStore&) = delete;
    ServiceStore& operator=(const ServiceStore&) = delete;

    // Opens, creating it when absent, the database file in the directory (which must exist).
    bool open(const std::string& directory);
    static std::string pathIn(const std::string& directory);
    // A private database in memory, for a stand-in without a data directory.
    bool openInMemory();
    void close();
    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }  // "" in memory

    bool begin();
    bool commit();
    void rollback();

    // A fresh random handle in [1, kHandleLimit), never given out before by this store.
    uint64_t newHandle();

    bool putUser(const UserRecord& user);
    std::optional<UserRecord> user(uint64_t handle);
    std::optional<UserRecord> userByEmail(const std::string& email);  // ASCII letters folded
    bool putAccount(uint64_t account, uint64_t status);
    bool hasAccount(uint64_t account);
    // The keys and switches of an existing account (its status is left alone).
    bool putAccountRecord(const AccountRecord& account);
    std::optional<AccountRecord> account(uint64_t handle);
    bool addAccountUser(uint64_t account, uint64_t user);
    std::vector<UserRecord> accountUsers(uint64_t account);
    bool putMembership(const Membership& membership);
    std::optional<Membership> membership(uint64_t account, uint64_t user);
    // The users of an account (account != 0), or the accounts of a user, in the order joined.
    std::vector<Membership> memberships(uint64_t account, uint64_t user = 0);

    // Status: the account's change counter. Floor: the lowest status a change list can start
    // from (the status before the oldest change kept).
    uint64_t accountStatus(uint64_t account);
    uint64_t accountFloor(uint64_t account);
    bool setAccountStatus(uint64_t account, uint64_t status, uint64_t floor);

    bool putSession(const SessionRecord& session);
    // A session still active (ended ones are only listed).
    std::optional<SessionRecord> session(const std::string& id);
    std::vector<SessionRecord> sessionsOfUser(uint64_t user);  // ended ones included
    bool endSession(const std::string& id);
    bool touchSession(const std::string& id, int64_t time);
    bool hasSessions();
    std::optional<SessionRecord> sessionByPollToken(const std::string& token);
    bool setSessionTold(const std::string& id, uint64_t told);
    bool setSessionSnapshot(const std::string& id, Snapshot snapshot);
    bool setAccountSnapshot(uint64_t account, Snapshot snapshot);

    bool putFilesystem(uint64_t account, const FilesystemRecord& filesystem);
    std::vector<FilesystemRecord> filesystems(uint64_t account);
    bool deleteFilesystemsOfRoot(uint64_t account, uint64_t root);

    bool putNode(uint64_t account, const NodeRecord& node);
    std::optional<NodeRecord> node(uint64_t account, uint64_t handle);
    std::vector<NodeRecord> nodes(uint64_t account);
    std::vector<uint64_t> children(uint64_t account, uint64_t parent);
    bool deleteNode(uint64_t account, uint64_t handle);

    bool putRegistration(const Registration& registration);
    std::optional<Registration> registration(const std::string& id);
    bool putRecovery(const Recovery& recovery);
    std::optional<Recovery> recovery(const std::string& id);

    bool putMetadata(uint64_t handle, uint64_t node, uint8_t type, const std::string& token);
    // The metadata blob with that handle: its node, kind and the upload token it was attached by.
    struct MetadataBlob {
        uint64_t node = 0;
        uint8_t type = 0;
        std::string token;
    };
    std::optional<MetadataBlob> metadataBlob(uint64_t handle);

    // The stored content (the content store's id) of a file node.
    bool putNodeContent(uint64_t node, const std::string& content);
    std::optional<std::string> nodeContent(uint64_t node);
    // The node with that public handle, with its account.
    std::optional<std::pair<uint64_t, NodeRecord>> nodeByPublicHandle(const std::string& pubhandle);

    // The change log: each change is the complete response that made it, kept under the
    // account status it brought and the session that made it ("" for none).
    bool appendChange(uint64_t account, uint64_t status, const std::string& origin, const std::string& response);
    // The changes after `status` made by sessions other than `exclude`, in order.
    std::vector<std::string> changesAfter(uint64_t account, uint64_t status, const std::string& exclude);
    bool hasChangesAfter(uint64_t account, uint64_t status, const std::string& exclude);
    // Forgets all but the latest `keep` changes; returns the status of the newest forgotten
    // one, the account's new floor (0 when none was forgotten).
    uint64_t trimChanges(uint64_t account, size_t keep);

    // Account-wide values and account removal, for the account settings requests.
    bool setAccountCrypto(uint64_t account, uint8_t crypto);
    uint8_t accountCrypto(uint64_t account);  // 0 when never set
    bool deleteMembership(uint64_t account, uint64_t user);
    // Ends the active sessions in the account, of one user or (user 0) of all.
    bool endSessionsIn(uint64_t account, uint64_t user = 0);
    // Everything kept of the account: its record, users' places, sessions (ended), filesystems,
    // nodes with their metadata, change log, values and contacts. Users are left alone.
    bool deleteAccount(uint64_t account);
    bool putContact(uint64_t account, const std::string& email);
    std::vector<std::string> contacts(uint64_t account);

private:
    bool createTables();
    sqlite3_stmt* statement(const char* sql);  // prepared once, reset before each use
    bool run(sqlite3_stmt* statement);         // steps to the end; true on SQLITE_DONE
    bool exec(const char* sql);

    sqlite3* db_ = nullptr;
    std::string path_;
    std::map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace corvane::service
