// The requests that open, list and close sessions: Login (with the session text, with e-mail
// and authentication key, or with a recovery id), Logout, NewSession and SessionInfo.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "account_records.h"

namespace corvane::service {

class AccountDirectory;
class BatchDispatcher;
class SessionScope;
struct Caller;

void registerSessionHandlers(BatchDispatcher& dispatcher, AccountDirectory& accounts);

// Runs the answer inside the batch's scope, or, for a batch without session, inside a scope of
// its own (the account and registration requests share this).
std::string withScope(AccountDirectory& accounts, SessionScope* scope,
                      const std::function<std::string(SessionScope&)>& answer);

// A new session of the user in the account, and its secret sealed to the user's public key
// (the client's session text is the Base64URL text of that secret). Nothing when the user has
// no usable public key.
struct SealedSession {
    SessionRecord session;
    std::string sealed;
};
std::optional<SealedSession> openSealedSession(SessionScope& scope, const UserRecord& user, uint64_t account,
                                               const Caller& caller);

}  // namespace corvane::service
