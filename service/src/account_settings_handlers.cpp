#include "account_settings_handlers.h"

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"
#include "session_handlers.h"

#include "account_info_message_generated.h"
#include "account_info_response_generated.h"
#include "add_contact_message_generated.h"
#include "add_contact_response_generated.h"
#include "revoke_account_access_message_generated.h"
#include "revoke_account_access_response_generated.h"
#include "set_access_level_message_generated.h"
#include "set_access_level_response_generated.h"
#include "set_account_value_message_generated.h"
#include "set_account_value_response_generated.h"
#include "set_default_account_message_generated.h"
#include "set_default_account_response_generated.h"

namespace corvane::service {

namespace {

constexpr uint8_t kFullAccess = 0;
constexpr uint8_t kReadOnly = 1;
constexpr int32_t kValueCrypto = 0;
constexpr int32_t kValueDeleteAccount = 1;
// The plan every stand-in account has.
constexpr uint64_t kStorageTotal = uint64_t(20) << 30;
constexpr const char* kPlan = "business";

std::string refuse(const char* messageIdentifier, int32_t code) {
    return errorResponse(*findMessageKind(messageIdentifier), code);
}

std::string displayName(const UserRecord& user) {
    if (user.lastName.empty()) return user.firstName;
    return user.firstName.empty() ? user.lastName : user.firstName + " " + user.lastName;
}

// The account's name is its first user's.
std::string accountName(ServiceStore& store, uint64_t account) {
    const auto users = store.memberships(account);
    if (users.empty()) return std::string();
    const auto first = store.user(users.front().user);
    return first ? displayName(*first) : std::string();
}

std::string accountEmail(ServiceStore& store, uint64_t account) {
    const auto users = store.memberships(account);
    if (users.empty()) return std::string();
    const auto first = store.user(users.front().user);
    return first ? first->email : std::string();
}

flatbuffers::Offset<PermissionMessage> writePermission(flatbuffers::FlatBufferBuilder& builder, ServiceStore& store,
                                                       const Membership& entry) {
    const auto user = store.user(entry.user);
    const auto name = builder.CreateString(user ? displayName(*user) : std::string());
    return CreatePermissionMessage(builder, entry.user, name, entry.created, entry.accessLevel);
}

// The account's record as its users see it. `first`, when not 0, is the user whose entry leads
// the users list (a pushed record is about that user); `accessLevel` is the caller's.
std::string accountRecord(ServiceStore& store, uint64_t account, uint64_t first, uint8_t accessLevel) {
    const auto record = store.account(account);
    auto builder = responseBuilder(1024);
    const auto name = builder.CreateString(accountName(store, account));
    const auto plan = builder.CreateString(kPlan);
    const auto email = builder.CreateString(accountEmail(store, account));
    std::vector<flatbuffers::Offset<PermissionMessage>> users;
    const auto members = store.memberships(account);
    for (const auto& entry : members) {
        if (entry.user == first) users.push_back(writePermission(builder, store, entry));
    }
    for (const auto& entry : members) {
        if (entry.user != first) users.push_back(writePermission(builder, store, entry));
    }
    const auto userVector = builder.CreateVector(users);
    uint64_t used = 0;
    for (const auto& node : store.nodes(account))
        used += node.size;
    AccountInfoResponseBuilder response(builder);
    response.add_handle(account);
    response.add_name(name);
    response.add_creationTime(record ? record->created : 0);
    response.add_storageTotal(kStorageTotal);
    response.add_storageUsed(used);
    response.add_plan(plan);
    response.add_accountEmail(email);
    response.add_users(userVector);
    response.add_crypto(store.accountCrypto(account));
    response.add_accessLevel(accessLevel);
    builder.Finish(response.Finish(), AccountInfoResponseIdentifier());
    return finishedResponse(builder);
}

// The caller's place in its session's account; none when it has lost it.
std::optional<Membership> callerPlace(SessionScope& scope) {
    return scope.store().membership(scope.account(), scope.session().user);
}

std::string answerAccountInfo(const std::string& in, SessionScope& scope) {
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<AccountInfoMessage>(aligned.data());
    ServiceStore& store = scope.store();
    if (message->account() != 0) {
        // Another account: its name and public key, to anyone.
        const auto account = store.account(message->account());
        if (!account) return refuse("ACIM", kErrorNotFound);
        auto builder = responseBuilder(1024);
        const auto name = builder.CreateString(accountName(store, account->handle));
        const auto publicKey = writeBytes(builder, account->publicKey);
        AccountInfoResponseBuilder response(builder);
        response.add_handle(account->handle);
        response.add_name(name);
        response.add_publicKey(publicKey);
        builder.Finish(response.Finish(), AccountInfoResponseIdentifier());
        return finishedResponse(builder);
    }
    if (!scope.signedIn()) return refuse("ACIM", kErrorSessionNotValid);
    const auto place = callerPlace(scope);
    if (!place) return refuse("ACIM", kErrorForbidden);
    return accountRecord(store, scope.account(), scope.session().user, place->accessLevel);
}

// The account's record pushed to its sessions, led by the user it concerns.
void pushAccountRecord(SessionScope& scope, uint64_t user) {
    ServiceStore& store = scope.store();
    const auto place = store.membership(scope.account(), user);
    scope.logChange(accountRecord(store, scope.account(), user, place ? place->accessLevel : kFullAccess));
}

bool isAdmin(SessionScope& scope) {
    const auto place = callerPlace(scope);
    return place && place->accessLevel == kFullAccess;
}

std::string answerSetAccountValue(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("SAVM", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<SetAccountValueMessage>(aligned.data());
    if (!isAdmin(*scope)) return refuse("SAVM", kErrorForbidden);
    ServiceStore& store = scope->store();
    switch (message->type()) {
        case kValueCrypto:
            if (message->intValue() < 0 || message->intValue() > 0xff) return refuse("SAVM", kErrorWrongParameters);
            if (!store.setAccountCrypto(scope->account(), static_cast<uint8_t>(message->intValue())))
                return refuse("SAVM", kErrorUnknown);
            return refuse("SAVM", 0);
        case kValueDeleteAccount: {
            if (!message->textValue()) return refuse("SAVM", kErrorWrongParameters);
            // The account's users lose it; whose main account it was has none left.
            for (const auto& entry : store.memberships(scope->account())) {
                auto user = store.user(entry.user);
                if (user && user->mainAccount == scope->account()) {
                    user->mainAccount = 0;
                    store.putUser(*user);
                }
            }
            if (!store.deleteAccount(scope->account())) return refuse("SAVM", kErrorUnknown);
            scope->endSession(scope->session().id);
            return refuse("SAVM", 0);
        }
        default:
            return refuse("SAVM", kErrorWrongParameters);
    }
}

std::string answerSetDefaultAccount(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("SDAM", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<SetDefaultAccountMessage>(aligned.data());
    ServiceStore& store = scope->store();
    auto user = store.user(scope->session().user);
    if (!user) return refuse("SDAM", kErrorSessionNotValid);
    if (!store.membership(message->account(), user->handle)) return refuse("SDAM", kErrorNotFound);
    user->mainAccount = message->account();
    return refuse("SDAM", store.putUser(*user) ? 0 : kErrorUnknown);
}

std::string answerSetAccessLevel(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("SALM", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<SetAccessLevelMessage>(aligned.data());
    if (!isAdmin(*scope)) return refuse("SALM", kErrorForbidden);
    if (message->accessLevel() != kFullAccess && message->accessLevel() != kReadOnly)
        return refuse("SALM", kErrorWrongParameters);
    ServiceStore& store = scope->store();
    auto place = store.membership(scope->account(), message->userHandle());
    if (!place) return refuse("SALM", kErrorNotFound);
    place->accessLevel = static_cast<uint8_t>(message->accessLevel());
    if (!store.putMembership(*place)) return refuse("SALM", kErrorUnknown);
    pushAccountRecord(*scope, place->user);
    return refuse("SALM", 0);
}

std::string answerRevokeAccountAccess(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("RAAM", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<RevokeAccountAccessMessage>(aligned.data());
    const uint64_t target = message->user() != 0 ? message->user() : scope->session().user;
    // A user may give up its own access; only an administrator takes another's.
    if (target != scope->session().user && !isAdmin(*scope)) return refuse("RAAM", kErrorForbidden);
    ServiceStore& store = scope->store();
    const auto user = store.user(target);
    if (!user || !store.membership(scope->account(), target)) return refuse("RAAM", kErrorNotFound);
    // The user's main account cannot be left: the user would have no account to sign in to.
    if (user->mainAccount == scope->account()) return refuse("RAAM", kErrorForbidden);
    // Told while the user is still listed, so its sessions learn of the change.
    pushAccountRecord(*scope, target);
    if (!store.deleteMembership(scope->account(), target) || !store.endSessionsIn(scope->account(), target))
        return refuse("RAAM", kErrorUnknown);
    auto builder = responseBuilder();
    builder.Finish(CreateRevokeAccountAccessResponse(builder, 0, user->mainAccount),
                   RevokeAccountAccessResponseIdentifier());
    return finishedResponse(builder);
}

std::string lowerCase(std::string value) {
    for (char& c : value) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return value;
}

std::string answerAddContact(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("ADCM", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<AddContactMessage>(aligned.data());
    const std::string email = message->email() ? lowerCase(message->email()->str()) : std::string();
    if (email.empty() || email.find('@') == std::string::npos) return refuse("ADCM", kErrorWrongParameters);
    return refuse("ADCM", scope->store().putContact(scope->account(), email) ? 0 : kErrorUnknown);
}

}  // namespace

void registerAccountSettingsHandlers(BatchDispatcher& dispatcher, AccountDirectory& accounts) {
    dispatcher.setScopedHandler("ACIM", [&accounts](const std::string& message, SessionScope* scope) {
        return withScope(accounts, scope, [&](SessionScope& own) { return answerAccountInfo(message, own); });
    });
    dispatcher.setScopedHandler("SAVM", &answerSetAccountValue);
    dispatcher.setScopedHandler("SDAM", &answerSetDefaultAccount);
    dispatcher.setScopedHandler("SALM", &answerSetAccessLevel);
    dispatcher.setScopedHandler("RAAM", &answerRevokeAccountAccess);
    dispatcher.setScopedHandler("ADCM", &answerAddContact);
}

}  // namespace corvane::service
