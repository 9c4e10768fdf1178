#include "account_handlers.h"

#include <cctype>
#include <ctime>

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"
#include "service_crypto.h"
#include "session_handlers.h"
#include "totp.h"

#include "change_password_message_generated.h"
#include "change_password_response_generated.h"
#include "create_account_message_generated.h"
#include "create_account_response_generated.h"
#include "forgot_password_message_generated.h"
#include "forgot_password_response_generated.h"
#include "manage2fa_message_generated.h"
#include "manage2fa_response_generated.h"
#include "user_info_message_generated.h"
#include "user_info_response_generated.h"
#include "verify_email_message_generated.h"
#include "verify_email_response_generated.h"

namespace corvane::service {

namespace {

constexpr size_t kIdBytes = 18;  // registration and recovery ids: 24 Base64URL characters
constexpr size_t kAuthKeyBytes = 32;
constexpr size_t kTotpSecretBytes = 20;
constexpr const char* kTotpIssuer = "Corvane";
constexpr int8_t kLastRootType = 8;

enum TwoFactorOperation : uint8_t { kCreateLink = 1, kEnable = 2, kDisable = 3 };

std::string refuse(const char* messageIdentifier, int32_t code) {
    return errorResponse(*findMessageKind(messageIdentifier), code);
}

std::string text(const flatbuffers::String* string) {
    return string ? string->str() : std::string();
}

Bytes bytes(const flatbuffers::Vector<uint8_t>* vector) {
    return readBytes(vector);
}

bool present(const flatbuffers::Vector<uint8_t>* vector) {
    return vector && vector->size() > 0;
}

// ASCII letters only, as the client folds addresses.
std::string lowerCase(std::string value) {
    for (char& c : value) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return value;
}

// Everything but unreserved characters (and the label's ':' and the address's '@') percent-encoded.
std::string linkText(const std::string& value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '@' || c == ':') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kDigits[c >> 4];
            encoded += kDigits[c & 15];
        }
    }
    return encoded;
}

// The answers that carry one text after their error.
template <typename Table, typename Create>
std::string textResponse(const std::string& value, Create create, const char* identifier) {
    auto builder = responseBuilder(256);
    const flatbuffers::Offset<Table> table = create(builder, 0, builder.CreateString(value));
    builder.Finish(table, identifier);
    return finishedResponse(builder);
}

std::string answerVerifyEmail(const std::string& in, SessionScope& scope) {
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<VerifyEmailMessage>(aligned.data());
    const std::string email = lowerCase(text(message->email()));
    if (email.empty()) return refuse("VEEM", kErrorWrongParameters);
    ServiceStore& store = scope.store();
    if (store.userByEmail(email)) return refuse("VEEM", kErrorAlreadyExists);
    Registration registration{base64Url(randomSecret(kIdBytes)),
                              email,
                              text(message->firstName()),
                              text(message->lastName()),
                              std::time(nullptr),
                              false};
    if (registration.id.empty() || !store.putRegistration(registration)) return refuse("VEEM", kErrorUnknown);
    return textResponse<VerifyEmailResponse>(registration.id, &CreateVerifyEmailResponse,
                                             VerifyEmailResponseIdentifier());
}

bool rootsValid(const CreateAccountMessage& message) {
    if (!message.nodes()) return true;
    for (const NodeMessage* table : *message.nodes()) {
        if (table->type() < 0 || table->type() > kLastRootType) return false;
    }
    return true;
}

// The account's roots as sent, each in a filesystem of its own with its record.
bool storeRoots(ServiceStore& store, uint64_t account, const CreateAccountMessage& message) {
    if (!message.nodes()) return true;
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    for (const NodeMessage* table : *message.nodes()) {
        NodeRecord root = readNode(*table);
        root.handle = store.newHandle();
        if (root.handle == 0) return false;
        root.parent = 0;
        root.filesystem = root.handle << 15;
        if (root.ctime == 0) root.ctime = now;
        // Without its filesystem record the client cannot open the root after a reload.
        const FilesystemRecord filesystem = takeRootFilesystem(root);
        if (!store.putFilesystem(account, filesystem) || !store.putNode(account, root)) return false;
    }
    return true;
}

std::string answerCreateAccount(const std::string& in, SessionScope& scope, const Caller& caller) {
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<CreateAccountMessage>(aligned.data());
    ServiceStore& store = scope.store();
    const int64_t now = std::time(nullptr);
    if (!present(message->accountKey()) || !present(message->accountPrivateKey()) ||
        !present(message->accountFingerprintKey()) || !message->accountPublicKey() ||
        !isRsaPublicKey(*bytes(message->accountPublicKey())) || !rootsValid(*message))
        return refuse("CRAM", kErrorWrongParameters);

    std::optional<UserRecord> user;
    if (message->registrationId()) {
        auto registration = store.registration(message->registrationId()->str());
        if (!registration) return refuse("CRAM", kErrorNotFound);
        if (registration->used) return refuse("CRAM", kErrorAlreadyExists);
        if (lowerCase(text(message->email())) != registration->email) return refuse("CRAM", kErrorWrongParameters);
        if (store.userByEmail(registration->email)) return refuse("CRAM", kErrorAlreadyExists);
        if (!message->auth() || message->auth()->size() != kAuthKeyBytes || !present(message->userKey()) ||
            !present(message->privateKey()) || !message->publicKey() || !isRsaPublicKey(*bytes(message->publicKey())))
            return refuse("CRAM", kErrorWrongParameters);
        registration->used = true;
        store.putRegistration(*registration);
        user = UserRecord{};
        user->handle = store.newHandle();
        user->email = text(message->email());
        user->firstName = text(message->firstName());
        user->lastName = text(message->lastName());
        user->authHash = sha256(*bytes(message->auth()));
        user->userKey = bytes(message->userKey());
        user->publicKey = bytes(message->publicKey());
        user->privateKey = bytes(message->privateKey());
        user->pin = message->pin();
        user->created = now;
    } else {
        // A further account of the signed-in user.
        if (!scope.signedIn()) return refuse("CRAM", kErrorSessionNotValid);
        user = store.user(scope.session().user);
        if (!user) return refuse("CRAM", kErrorSessionNotValid);
        if (!user->publicKey) return refuse("CRAM", kErrorWrongParameters);
    }

    AccountRecord account;
    account.handle = store.newHandle();
    if (user->handle == 0 || account.handle == 0 || !store.putAccount(account.handle, 1))
        return refuse("CRAM", kErrorUnknown);
    account.publicKey = bytes(message->accountPublicKey());
    account.privateKey = bytes(message->accountPrivateKey());
    account.fingerprintKey = bytes(message->accountFingerprintKey());
    account.created = now;
    if (user->mainAccount == 0) user->mainAccount = account.handle;
    Membership membership{account.handle, user->handle, bytes(message->accountKey()), 0, now};
    if (!store.putAccountRecord(account) || !store.putUser(*user) || !store.putMembership(membership) ||
        !storeRoots(store, account.handle, *message))
        return refuse("CRAM", kErrorUnknown);

    const auto opened = openSealedSession(scope, *user, account.handle, caller);
    if (!opened) return refuse("CRAM", kErrorUnknown);
    auto builder = responseBuilder(1024);
    const auto sealed = writeBytes(builder, opened->sealed);
    CreateAccountResponseBuilder response(builder);
    response.add_user(user->handle);
    response.add_session(sealed);
    response.add_account(account.handle);
    builder.Finish(response.Finish(), CreateAccountResponseIdentifier());
    return finishedResponse(builder);
}

std::string answerChangePassword(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("CHPM", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<ChangePasswordMessage>(aligned.data());
    if (!present(message->key()) || !message->auth() || message->auth()->size() != kAuthKeyBytes)
        return refuse("CHPM", kErrorWrongParameters);
    ServiceStore& store = scope->store();
    auto user = store.user(scope->session().user);
    if (!user) return refuse("CHPM", kErrorSessionNotValid);
    user->userKey = bytes(message->key());
    user->authHash = sha256(*bytes(message->auth()));
    if (!store.putUser(*user)) return refuse("CHPM", kErrorUnknown);
    return refuse("CHPM", 0);
}

std::string answerForgotPassword(const std::string& in, SessionScope& scope) {
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<ForgotPasswordMessage>(aligned.data());
    ServiceStore& store = scope.store();
    const auto user = text(message->email()).empty() ? std::nullopt : store.userByEmail(text(message->email()));
    if (!user) return refuse("FOPM", kErrorNotFound);
    Recovery recovery{base64Url(randomSecret(kIdBytes)), user->handle, std::time(nullptr), false};
    if (recovery.id.empty() || !store.putRecovery(recovery)) return refuse("FOPM", kErrorUnknown);
    return textResponse<ForgotPasswordResponse>(recovery.id, &CreateForgotPasswordResponse,
                                                ForgotPasswordResponseIdentifier());
}

std::string answerManage2fa(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("MA2M", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<Manage2faMessage>(aligned.data());
    ServiceStore& store = scope->store();
    auto user = store.user(scope->session().user);
    if (!user) return refuse("MA2M", kErrorSessionNotValid);
    const std::string secret = user->totpSecret.value_or(std::string());
    const auto codeMatches = [&] { return totpAccepts(secret, message->code(), std::time(nullptr)); };

    switch (message->operation()) {
        case kCreateLink: {
            // A new secret while one is in use would silently break the user's authenticator.
            if (user->totpEnabled) return refuse("MA2M", kErrorAlreadyExists);
            user->totpSecret = randomSecret(kTotpSecretBytes);
            if (user->totpSecret->empty() || !store.putUser(*user)) return refuse("MA2M", kErrorUnknown);
            const std::string label = linkText(std::string(kTotpIssuer) + ":" + user->email);
            const std::string link = "otpauth://totp/" + label + "?secret=" + base32(*user->totpSecret) +
                                     "&issuer=" + kTotpIssuer + "&algorithm=SHA1&digits=6&period=30";
            return textResponse<Manage2faResponse>(link, &CreateManage2faResponse, Manage2faResponseIdentifier());
        }
        case kEnable:
            if (user->totpEnabled) return refuse("MA2M", kErrorAlreadyExists);
            if (secret.empty()) return refuse("MA2M", kErrorNotFound);
            if (!codeMatches()) return refuse("MA2M", kErrorWrongParameters);
            user->totpEnabled = true;
            break;
        case kDisable:
            if (!user->totpEnabled) return refuse("MA2M", kErrorNotFound);
            if (!codeMatches()) return refuse("MA2M", kErrorWrongParameters);
            user->totpEnabled = false;
            user->totpSecret.reset();
            break;
        default:
            return refuse("MA2M", kErrorWrongParameters);
    }
    if (!store.putUser(*user)) return refuse("MA2M", kErrorUnknown);
    return refuse("MA2M", 0);
}

std::string answerUserInfo(const std::string& in, SessionScope* scope) {
    if (!scope) return refuse("USIM", kErrorSessionNotValid);
    const AlignedMessage aligned(in);
    const auto* message = flatbuffers::GetSizePrefixedRoot<UserInfoMessage>(aligned.data());
    ServiceStore& store = scope->store();
    const uint64_t caller = scope->session().user;
    std::optional<UserRecord> user;
    if (message->user() != 0)
        user = store.user(message->user());
    else if (message->email())
        user = store.userByEmail(message->email()->str());
    else
        user = store.user(caller);
    if (!user) return refuse("USIM", kErrorNotFound);

    auto builder = responseBuilder(2048);
    const auto publicKey = writeBytes(builder, user->publicKey);
    // The private key goes only to its owner; the names and keys to any signed-in user.
    const bool own = user->handle == caller;
    const auto email = builder.CreateString(user->email);
    const auto firstName = builder.CreateString(user->firstName);
    const auto lastName = builder.CreateString(user->lastName);
    const auto privateKey =
        own ? writeBytes(builder, user->privateKey) : flatbuffers::Offset<flatbuffers::Vector<uint8_t>>();
    std::vector<flatbuffers::Offset<PermissionMessage>> permissions;
    // Which accounts a user is in is told to that user alone.
    for (const auto& entry : own ? store.memberships(0, user->handle) : std::vector<Membership>())
        permissions.push_back(CreatePermissionMessage(builder, entry.account, 0, entry.created, entry.accessLevel));
    const auto permissionVector = builder.CreateVector(permissions);
    UserInfoResponseBuilder response(builder);
    response.add_handle(user->handle);
    response.add_creationTime(user->created);
    response.add_email(email);
    response.add_firstName(firstName);
    response.add_lastName(lastName);
    response.add_multiFactorAuth(user->totpEnabled ? 1 : 0);
    response.add_publicKey(publicKey);
    if (own) response.add_privateKey(privateKey);
    response.add_mainAccount(user->mainAccount);
    if (own) response.add_permissions(permissionVector);
    builder.Finish(response.Finish(), UserInfoResponseIdentifier());
    return finishedResponse(builder);
}

}  // namespace

void registerAccountHandlers(BatchDispatcher& dispatcher, AccountDirectory& accounts) {
    dispatcher.setScopedHandler("VEEM", [&accounts](const std::string& message, SessionScope* scope) {
        return withScope(accounts, scope, [&](SessionScope& own) { return answerVerifyEmail(message, own); });
    });
    dispatcher.setCallerHandler("CRAM", [&accounts](const std::string& message, SessionScope* scope,
                                                    const Caller& caller) {
        return withScope(accounts, scope, [&](SessionScope& own) { return answerCreateAccount(message, own, caller); });
    });
    dispatcher.setScopedHandler("CHPM", &answerChangePassword);
    dispatcher.setScopedHandler("FOPM", [&accounts](const std::string& message, SessionScope* scope) {
        return withScope(accounts, scope, [&](SessionScope& own) { return answerForgotPassword(message, own); });
    });
    dispatcher.setScopedHandler("MA2M", &answerManage2fa);
    dispatcher.setScopedHandler("USIM", &answerUserInfo);
}

}  // namespace corvane::service
