// The accounts the stand-in serves: users, accounts with their filesystems and nodes, sessions,
// and each account's change log, kept in the store and serialised by one lock. Tests set them
// up directly through the fixture operations, or through the account and sign-in requests; the
// batch endpoint opens a SessionScope for the session a batch names and answers its messages
// inside it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "account_records.h"
#include "service_store.h"

namespace corvane::service {

class AccountDirectory;

// One batch of one session: holds the directory's lock (and a store transaction) from its
// start to its end, so that the status a batch reports covers exactly the changes its events
// carried and its own. Changes are told to the long polls once the scope ends.
class SessionScope {
public:
    ~SessionScope();
    SessionScope(const SessionScope&) = delete;
    SessionScope& operator=(const SessionScope&) = delete;

    const SessionRecord& session() const { return session_; }
    bool signedIn() const { return !session_.id.empty(); }  // false for a scope without session
    uint64_t account() const { return session_.account; }
    ServiceStore& store() { return store_; }
    uint64_t status();  // the account status now

    // A change: the status it brings is nextStatus(), which its response carries; logChange
    // then keeps that response for the account's other sessions and moves the status on.
    uint64_t nextStatus() { return status() + 1; }
    void logChange(const std::string& response);
    // The same for a change this session made in another account (a link session's record
    // appearing in the inbox owner's account).
    void logChangeIn(uint64_t account, const std::string& response);

    void setTold(uint64_t status);  // what this session's status answer said
    Snapshot takeSnapshot();        // the snapshot forced on it, cleared

    // A new session of the user in the account; its id is the Base64URL text of `secret`.
    std::optional<SessionRecord> openSession(uint64_t user, uint64_t account, const std::string& secret,
                                             const std::string& address, const std::string& userAgent);
    void endSession(const std::string& id);

private:
    friend class AccountDirectory;
    SessionScope(AccountDirectory& directory, std::unique_lock<std::mutex> lock, SessionRecord session);

    AccountDirectory& directory_;
    ServiceStore& store_;
    std::unique_lock<std::mutex> lock_;
    SessionRecord session_;
    bool changed_ = false;
};

class AccountDirectory {
public:
    // How many changes an account keeps; a session whose status is older gets a snapshot.
    static constexpr size_t kDefaultKeptChanges = 100000;

    AccountDirectory();
    ~AccountDirectory();
    AccountDirectory(const AccountDirectory&) = delete;
    AccountDirectory& operator=(const AccountDirectory&) = delete;

    // Where the accounts live: in memory until a data directory is opened (before any is made).
    bool openDirectory(const std::string& directory);

    // Fixture operations. Handles are random below 2^48; 0 means failure.
    uint64_t createUser(const std::string& email, int8_t status = 0);
    // A new account with the user as its first user; its status starts at 1, so the first
    // status answer already turns on the reception of changes.
    uint64_t createAccount(uint64_t user);
    bool addAccountUser(uint64_t account, uint64_t user);
    // A further user of an existing account, with the account key wrapped for that user and
    // its access level (0 full, 1 read-only): the user can then sign in to the account.
    bool addMember(uint64_t account, uint64_t user, uint8_t accessLevel, Bytes accountKey);
    // A root node with its filesystem: the root gets a fresh handle when it has none, and the
    // filesystem the id root << 15 (index 0) when it has none; returns the root's handle.
    uint64_t addRoot(uint64_t account, NodeRecord root, FilesystemRecord filesystem);
    // A node placed directly (no change is logged): gets a fresh handle when it has none, and
    // its parent's filesystem when it names none. Returns its handle, 0 when the parent is
    // not in the account.
    uint64_t addNode(uint64_t account, NodeRecord node);
    // A session of the user in the account: returns its id (the "s=" text); its long-poll
    // token is separate (pollToken).
    std::string createSession(uint64_t user, uint64_t account);
    std::string pollToken(const std::string& sessionId);
    // The account of a session, 0 when unknown.
    uint64_t accountOf(const std::string& sessionId);
    std::optional<SessionRecord> session(const std::string& sessionId);  // active ones only
    std::optional<UserRecord> user(uint64_t handle);
    std::optional<UserRecord> userByEmail(const std::string& email);

    // Per-account switches: a blocked account is refused sign-in (2); one with an invoicing
    // problem is signed in with 19. False when the account is unknown.
    bool setBlocked(uint64_t account, bool blocked);
    bool setInvoicingProblem(uint64_t account, bool problem);

    uint64_t accountStatus(uint64_t account);
    std::optional<NodeRecord> node(uint64_t account, uint64_t handle);
    std::vector<NodeRecord> nodes(uint64_t account);
    std::vector<FilesystemRecord> filesystems(uint64_t account);
    // The user's place in the account (its wrapped account key); none when not a member.
    std::optional<Membership> membership(uint64_t account, uint64_t user);

    // Logs a change response (any of ADNR, ADMR, RENR, DENR, MONR, REKR, ACIR, NSDR) as made
    // outside every session; returns the account status it brought. The response is kept as
    // given: it should carry that status (nextStatus) where its table has the field.
    uint64_t nextStatus(uint64_t account);
    uint64_t logChange(uint64_t account, const std::string& response);
    // The session's next events request gets a snapshot (Full), or one without nodes (Empty).
    bool forceSnapshot(const std::string& sessionId, Snapshot snapshot = Snapshot::Full);
    void setKeptChanges(size_t count);

    // Session checks are on once a session exists: before that the stand-in takes any batch.
    bool checksSessions();
    // The scope of one batch of a known session; null when the session is unknown.
    std::unique_ptr<SessionScope> open(const std::string& sessionId);
    // A scope without session, for the requests that sign in or register.
    std::unique_ptr<SessionScope> openWithoutSession();
    // The scope of a link session's batch: in the link's account, under the link token as its
    // id, with no user.
    std::unique_ptr<SessionScope> openLink(uint64_t account, const std::string& token);

    // Long polls: true when the poll token's session has changes it was not told of (made by
    // other sessions or outside them), or a snapshot waits for it.
    bool hasNews(const std::string& pollToken);
    // Called, without any lock of the directory held, after changes were logged.
    void setChangeListener(std::function<void()> listener);

private:
    friend class SessionScope;
    uint64_t logChangeLocked(uint64_t account, const std::string& origin, const std::string& response);
    std::optional<SessionRecord> makeSessionLocked(uint64_t user, uint64_t account, const std::string& id,
                                                   const std::string& address, const std::string& userAgent);
    void changed();

    std::mutex mutex_;
    ServiceStore store_;
    size_t keptChanges_ = kDefaultKeptChanges;
    bool sessionsExist_ = false;
    std::function<void()> listener_;
};

}  // namespace corvane::service
