#include "session_handlers.h"

#include <ctime>

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"
#include "service_crypto.h"
#include "totp.h"

#include "login_message_generated.h"
#include "login_response_generated.h"
#include "logout_message_generated.h"
#include "logout_response_generated.h"
#include "new_session_message_generated.h"
#include "new_session_response_generated.h"
#include "session_info_message_generated.h"
#include "session_info_response_generated.h"

namespace corvane::service {

namespace {

// What a session is opened with: its text is this many random bytes in Base64URL.
constexpr size_t kSessionSecretBytes = 32;
constexpr size_t kAuthKeyBytes = 32;
constexpr int8_t kContactsRoot = 7;
// A recovery id stays usable this long after it was handed out.
constexpr int64_t kRecoverySeconds = 24 * 3600;
constexpr int32_t kNoCode = -1;

std::string refuse(const char* messageIdentifier, int32_t code) {
    return errorResponse(*findMessageKind(messageIdentifier), code);
}

std::string text(const flatbuffers::String* string) {
    return string ? string->str() : std::string();
}

std::string bytes(const flatbuffers::Vector<uint8_t>* vector) {
    return vector ? std::string(reinterpret_cast<const char*>(vector->data()), vector->size()) : std::string();
}

std::string displayName(const UserRecord& user) {
    if (user.firstName.empty()) return user.lastName;
    return user.lastName.empty() ? user.firstName : user.firstName + " " + user.lastName;
}

// The client creates the contacts root after a sign-in answered with version 0.
uint32_t responseVersion(ServiceStore& store, uint64_t account) {
    for (const auto& node : store.nodes(account)) {
        if (node.parent == 0 && node.type == kContactsRoot) return 1;
    }
    return 0;
}

// A whole LoginResponse for the user in the account; `sealed` is the new session (absent for
// the session way, where the client goes on with the one it has).
std::string loginResponse(ServiceStore& store, const UserRecord& user, const Membership& membership,
                          const AccountRecord& account, const std::string* sealed) {
    auto builder = responseBuilder(4096);
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> session;
    if (sealed) session = writeBytes(builder, *sealed);
    const auto key = writeBytes(builder, user.userKey);
    const auto privateKey = writeBytes(builder, user.privateKey);
    const auto accountKey = writeBytes(builder, membership.accountKey);
    const auto accountPrivateKey = writeBytes(builder, account.privateKey);
    const auto fingerprintKey = writeBytes(builder, account.fingerprintKey);
    const auto email = builder.CreateString(user.email);

    std::vector<flatbuffers::Offset<PermissionMessage>> permissions;
    for (const auto& entry : store.memberships(0, user.handle))
        permissions.push_back(CreatePermissionMessage(builder, entry.account, 0, entry.created, entry.accessLevel));
    const auto permissionVector = builder.CreateVector(permissions);

    std::string accountEmail;
    std::vector<flatbuffers::Offset<PermissionMessage>> users;
    for (const auto& entry : store.memberships(account.handle)) {
        const auto member = store.user(entry.user);
        if (!member) continue;
        if (accountEmail.empty()) accountEmail = member->email;  // the account's first user owns it
        const auto name = builder.CreateString(displayName(*member));
        users.push_back(CreatePermissionMessage(builder, entry.user, name, entry.created, entry.accessLevel));
    }
    const auto userVector = builder.CreateVector(users);
    const auto accountEmailText = builder.CreateString(accountEmail.empty() ? user.email : accountEmail);

    LoginResponseBuilder response(builder);
    if (account.invoicingProblem) response.add_error(kErrorInvoicing);
    if (sealed) response.add_session(session);
    response.add_key(key);
    response.add_privateKey(privateKey);
    response.add_accountkey(accountKey);
    response.add_accountPrivateKey(accountPrivateKey);
    response.add_accountFingerprintKey(fingerprintKey);
    response.add_user(user.handle);
    response.add_email(email);
    response.add_account(account.handle);
    response.add_multiFactorAuth(user.totpEnabled ? 1 : 0);
    response.add_mainAccount(user.mainAccount);
    response.add_permissions(permissionVector);
    response.add_accountEmail(accountEmailText);
    response.add_users(userVector);
    response.add_version(responseVersion(store, account.handle));
    response.add_accessLevel(membership.accessLevel);
    builder.Finish(response.Finish(), LoginResponseIdentifier());
    return finishedResponse(builder);
}

// The password and recovery ways: who signs in, or the error that refuses them. Unknown
// addresses and wrong keys get the same answer.
int32_t checkCredentials(ServiceStore& store, const LoginMessage& message, std::optional<UserRecord>& user) {
    const std::string email = text(message.email());
    if (email.empty()) return kErrorWrongParameters;
    user = store.userByEmail(email);
    if (message.recoveryId()) {
        auto recovery = store.recovery(message.recoveryId()->str());
        const int64_t now = std::time(nullptr);
        if (!user || !recovery || recovery->used || recovery->user != user->handle ||
            now - recovery->created > kRecoverySeconds)
            return kErrorWrongParameters;
        if (user->pin == kNoCode || message.pin() != user->pin) {
            // A guessed PIN costs the recovery id.
            recovery->used = true;
            store.putRecovery(*recovery);
            return kErrorWrongParameters;
        }
        return 0;
    }
    const std::string auth = bytes(message.auth());
    // A user without a stored hash (made by a fixture) has no password to match.
    const std::string stored = user && user->authHash ? *user->authHash : std::string();
    const bool matches = auth.size() == kAuthKeyBytes && sameSecret(sha256(auth), stored);
    return user && matches ? 0 : kErrorWrongParameters;
}

std::string answerLogin(const std::string& bytesIn, SessionScope& scope, const Caller& caller) {
    const AlignedMessage aligned(bytesIn);
    const auto* message = flatbuffers::GetSizePrefixedRoot<LoginMessage>(aligned.data());
    ServiceStore& store = scope.store();

    if (message->session()) {
        const auto session = store.session(message->session()->str());
        if (!session) return refuse("LOIM", kErrorSessionNotValid);
        const auto user = store.user(session->user);
        const auto membership = store.membership(session->account, session->user);
        const auto account = store.account(session->account);
        if (!user || !membership || !account) return refuse("LOIM", kErrorSessionNotValid);
        if (account->blocked) return refuse("LOIM", kErrorForbidden);
        store.touchSession(session->id, std::time(nullptr));
        return loginResponse(store, *user, *membership, *account, nullptr);
    }

    std::optional<UserRecord> user;
    if (const int32_t error = checkCredentials(store, *message, user)) return refuse("LOIM", error);
    if (user->totpEnabled) {
        if (message->code() == kNoCode) return refuse("LOIM", kErrorTwoFactorNeeded);
        if (!totpAccepts(user->totpSecret.value_or(std::string()), message->code(), std::time(nullptr)))
            return refuse("LOIM", kErrorWrongParameters);
    }
    const uint64_t accountHandle = message->account() != 0 ? message->account() : user->mainAccount;
    const auto membership = store.membership(accountHandle, user->handle);
    const auto account = store.account(accountHandle);
    if (!membership || !account) return refuse("LOIM", kErrorNotFound);
    if (account->blocked) return refuse("LOIM", kErrorForbidden);

    if (message->recoveryId()) {
        auto recovery = store.recovery(message->recoveryId()->str());
        recovery->used = true;
        store.putRecovery(*recovery);
    }
    const auto opened = openSealedSession(scope, *user, accountHandle, caller);
    if (!opened) return refuse("LOIM", kErrorUnknown);
    return loginResponse(store, *user, *membership, *account, &opened->sealed);
}

std::string answerLogout(SessionScope* scope) {
    if (!scope) return refuse("LOOM", kErrorSessionNotValid);
    scope->endSession(scope->session().id);
    return refuse("LOOM", 0);
}

std::string answerNewSession(const std::string& bytesIn, SessionScope* scope, const Caller& caller) {
    if (!scope) return refuse("NESM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytesIn);
    const auto* message = flatbuffers::GetSizePrefixedRoot<NewSessionMessage>(aligned.data());
    ServiceStore& store = scope->store();
    const uint64_t accountHandle = message->account() != 0 ? message->account() : scope->account();
    const auto user = store.user(scope->session().user);
    const auto account = store.account(accountHandle);
    if (!user || !account || !store.membership(accountHandle, user->handle)) return refuse("NESM", kErrorNotFound);
    if (account->blocked) return refuse("NESM", kErrorForbidden);
    const auto opened = openSealedSession(*scope, *user, accountHandle, caller);
    if (!opened) return refuse("NESM", kErrorUnknown);

    auto builder = responseBuilder(1024);
    const auto sealed = writeBytes(builder, opened->sealed);
    NewSessionResponseBuilder response(builder);
    response.add_id(opened->session.handle);
    response.add_session(sealed);
    builder.Finish(response.Finish(), NewSessionResponseIdentifier());
    return finishedResponse(builder);
}

std::string answerSessionInfo(SessionScope* scope) {
    if (!scope) return refuse("SEIM", kErrorSessionNotValid);
    auto builder = responseBuilder(1024);
    std::vector<flatbuffers::Offset<SessionMessage>> sessions;
    for (const auto& session : scope->store().sessionsOfUser(scope->session().user)) {
        const auto address = builder.CreateString(session.address);
        const auto userAgent = builder.CreateString(session.userAgent);
        sessions.push_back(CreateSessionMessage(builder, session.handle, session.created, session.lastUsed, address,
                                                userAgent, session.active));
    }
    const auto vector = builder.CreateVector(sessions);
    SessionInfoResponseBuilder response(builder);
    response.add_sessions(vector);
    response.add_currentId(scope->session().handle);
    builder.Finish(response.Finish(), SessionInfoResponseIdentifier());
    return finishedResponse(builder);
}

}  // namespace

std::string withScope(AccountDirectory& accounts, SessionScope* scope,
                      const std::function<std::string(SessionScope&)>& answer) {
    if (scope) return answer(*scope);
    const auto own = accounts.openWithoutSession();
    return answer(*own);
}

std::optional<SealedSession> openSealedSession(SessionScope& scope, const UserRecord& user, uint64_t account,
                                               const Caller& caller) {
    if (!user.publicKey) return std::nullopt;
    const std::string secret = randomSecret(kSessionSecretBytes);
    if (secret.empty()) return std::nullopt;
    auto sealed = sealToPublicKey(*user.publicKey, secret);
    if (!sealed) return std::nullopt;
    auto session = scope.openSession(user.handle, account, secret, caller.address, caller.userAgent);
    if (!session) return std::nullopt;
    return SealedSession{std::move(*session), std::move(*sealed)};
}

void registerSessionHandlers(BatchDispatcher& dispatcher, AccountDirectory& accounts) {
    dispatcher.setCallerHandler(
        "LOIM", [&accounts](const std::string& message, SessionScope* scope, const Caller& caller) {
            return withScope(accounts, scope, [&](SessionScope& own) { return answerLogin(message, own, caller); });
        });
    dispatcher.setScopedHandler("LOOM", [](const std::string&, SessionScope* scope) { return answerLogout(scope); });
    dispatcher.setCallerHandler("NESM", &answerNewSession);
    dispatcher.setScopedHandler("SEIM",
                                [](const std::string&, SessionScope* scope) { return answerSessionInfo(scope); });
}

}  // namespace corvane::service
