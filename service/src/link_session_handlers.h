// Sessions opened on a public link instead of an account: LoginLink opens one on an inbox (it
// makes the new record under the inbox and tells the owner), a record, a folder or a drive;
// LogoutLink ends it, keeping the record under a public handle of its own or discarding it;
// RecordInfo reads a record and its files by the record's public handle, without a session.
// A link session sees only its link's subtree and writes only under its record: the node,
// transfer and tree requests are wrapped with those checks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace corvane::service {

class AccountDirectory;
class BatchDispatcher;
class SessionScope;

struct LinkSession {
    uint64_t account = 0;
    uint64_t root = 0;    // the top of what the session sees
    uint64_t record = 0;  // where it may write; 0 for none
};

class LinkSessionHandlers {
public:
    explicit LinkSessionHandlers(AccountDirectory& accounts);

    // Registers LILM, LOLM and REIM, and wraps the handlers registered before (node, tree,
    // transfer and event requests) with the link session's limits.
    void registerWith(BatchDispatcher& dispatcher);

    // The scope of one batch of the link session the token (the "link=" text) names; null
    // when it names none. Never called with the directory's lock held.
    std::unique_ptr<SessionScope> open(const std::string& token);

    std::optional<LinkSession> find(const std::string& token) const;

private:
    std::optional<LinkSession> sessionOf(const SessionScope* scope) const;
    void keep(const std::string& token, const LinkSession& session);
    void forget(const std::string& token);

    std::string answerLoginLink(const std::string& bytes, SessionScope* scope);
    std::string answerLogoutLink(const std::string& bytes, SessionScope* scope);
    std::string answerRecordInfo(const std::string& bytes, SessionScope* scope);

    AccountDirectory& accounts_;
    mutable std::mutex mutex_;
    std::map<std::string, LinkSession> sessions_;
};

}  // namespace corvane::service
