// A stand-in without accounts, and a client's side of registering and signing in made here
// independently of the stand-in: RSA keys and OAEP with OpenSSL, messages with the generated
// FlatBuffers builders, TOTP codes and Base32/Base64URL written out again.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "account_directory.h"
#include "api_session.h"
#include "stand_in_service.h"

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "change_password_message_generated.h"
#include "change_password_response_generated.h"
#include "create_account_message_generated.h"
#include "create_account_response_generated.h"
#include "forgot_password_message_generated.h"
#include "forgot_password_response_generated.h"
#include "get_status_message_generated.h"
#include "get_status_response_generated.h"
#include "login_message_generated.h"
#include "login_response_generated.h"
#include "logout_message_generated.h"
#include "logout_response_generated.h"
#include "manage2fa_message_generated.h"
#include "manage2fa_response_generated.h"
#include "new_session_message_generated.h"
#include "new_session_response_generated.h"
#include "session_info_message_generated.h"
#include "session_info_response_generated.h"
#include "user_info_message_generated.h"
#include "user_info_response_generated.h"
#include "verify_email_message_generated.h"
#include "verify_email_response_generated.h"

namespace corvane::service::test {

inline std::string secretBytes(size_t size) {
    std::string bytes(size, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(size));
    return bytes;
}

inline std::string bytesIn(const flatbuffers::Vector<uint8_t>* vector) {
    return vector ? std::string(reinterpret_cast<const char*>(vector->data()), vector->size()) : std::string();
}

inline std::string textOf(const flatbuffers::String* string) {
    return string ? string->str() : std::string();
}

inline std::string base64UrlText(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v =
            uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            text += kAlphabet[(v >> shift) & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (rest == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        if (rest == 2) text += kAlphabet[(v >> 6) & 63];
    }
    return text;
}

inline std::string base32Decoded(const std::string& text) {
    std::string bytes;
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        int value = c >= 'A' && c <= 'Z' ? c - 'A' : c >= '2' && c <= '7' ? c - '2' + 26 : -1;
        if (value < 0) return {};
        buffer = (buffer << 5) | uint32_t(value);
        bits += 5;
        if (bits >= 8) {
            bytes += static_cast<char>((buffer >> (bits - 8)) & 0xFF);
            bits -= 8;
        }
    }
    return bytes;
}

// The six-digit code an authenticator shows now for the secret.
inline int32_t currentCode(const std::string& secret) {
    uint64_t step = static_cast<uint64_t>(std::time(nullptr)) / 30;
    unsigned char counter[8];
    for (int i = 7; i >= 0; --i, step >>= 8)
        counter[i] = static_cast<unsigned char>(step);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()), counter, 8, mac, &length);
    const int offset = mac[19] & 15;
    const uint32_t value = uint32_t(mac[offset] & 0x7F) << 24 | uint32_t(mac[offset + 1]) << 16 |
                           uint32_t(mac[offset + 2]) << 8 | mac[offset + 3];
    return static_cast<int32_t>(value % 1000000);
}

// An RSA key pair as the client makes it (3072 bits, exponent 17).
class RsaKey {
public:
    RsaKey() {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
        BIGNUM* exponent = BN_new();
        BN_set_word(exponent, 17);
        EVP_PKEY* key = nullptr;
        if (EVP_PKEY_keygen_init(context) > 0 && EVP_PKEY_CTX_set_rsa_keygen_bits(context, 3072) > 0 &&
            EVP_PKEY_CTX_set1_rsa_keygen_pubexp(context, exponent) > 0)
            EVP_PKEY_keygen(context, &key);
        BN_free(exponent);
        EVP_PKEY_CTX_free(context);
        key_.reset(key);
    }
    bool valid() const { return key_ != nullptr; }

    std::string publicDer() const {
        unsigned char* der = nullptr;
        const int length = i2d_PUBKEY(key_.get(), &der);
        std::string bytes(reinterpret_cast<const char*>(der), static_cast<size_t>(length > 0 ? length : 0));
        OPENSSL_free(der);
        return bytes;
    }

    // The session text a sealed session opens to, as the client's crypto manager makes it;
    // "" when it does not open.
    std::string openSession(const std::string& sealed) const {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key_.get(), nullptr);
        std::string plain(512, '\0');
        size_t length = plain.size();
        const bool opened = EVP_PKEY_decrypt_init(context) > 0 &&
                            EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_OAEP_PADDING) > 0 &&
                            EVP_PKEY_CTX_set_rsa_oaep_md(context, EVP_sha1()) > 0 &&
                            EVP_PKEY_CTX_set_rsa_mgf1_md(context, EVP_sha1()) > 0 &&
                            EVP_PKEY_decrypt(context, reinterpret_cast<unsigned char*>(plain.data()), &length,
                                             reinterpret_cast<const unsigned char*>(sealed.data()), sealed.size()) > 0;
        EVP_PKEY_CTX_free(context);
        if (!opened || length == 0) return {};
        plain.resize(length);
        return base64UrlText(plain);
    }

private:
    struct Free {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    std::unique_ptr<EVP_PKEY, Free> key_;
};

// What a client registering a user sends: every key opaque random bytes except the public ones.
struct NewUser {
    std::string email;
    std::string firstName = "Ada", lastName = "Lovelace";
    std::string auth = secretBytes(32);
    std::string userKey = secretBytes(40);
    std::string publicKey;
    std::string privateKey = secretBytes(1800);
    int32_t pin = 4321;
    std::string accountKey = secretBytes(40);
    std::string accountPublicKey;
    std::string accountPrivateKey = secretBytes(1800);
    std::string fingerprintKey = secretBytes(40);
    std::vector<int8_t> roots = {0, 1, 3};
    std::string registration;  // set when verified
};

inline std::string verifyEmailMessage(const std::string& email, const std::string& first = "Ada",
                                      const std::string& last = "Lovelace") {
    auto builder = messageBuilder();
    FinishSizePrefixedVerifyEmailMessageBuffer(
        builder, CreateVerifyEmailMessageDirect(builder, email.c_str(), first.c_str(), last.c_str()));
    return sizePrefixedMessage(builder);
}

inline std::string createAccountMessage(const NewUser& user, bool newUser = true) {
    auto builder = messageBuilder();
    auto bytes = [&](const std::string& b) {
        return builder.CreateVector(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    };
    std::vector<flatbuffers::Offset<NodeMessage>> roots;
    for (int8_t type : user.roots) {
        const auto nodekey = bytes(secretBytes(40));
        const auto childkey = bytes("");
        const auto attributes = bytes(secretBytes(48));
        NodeMessageBuilder node(builder);
        node.add_type(type);
        node.add_nodekey(nodekey);
        node.add_childkey(childkey);
        node.add_attributes(attributes);
        roots.push_back(node.Finish());
    }
    const auto nodes = builder.CreateVector(roots);
    flatbuffers::Offset<flatbuffers::String> registration, first, last, email;
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> auth, userKey, publicKey, privateKey;
    if (newUser) {
        registration = builder.CreateString(user.registration);
        first = builder.CreateString(user.firstName);
        last = builder.CreateString(user.lastName);
        email = builder.CreateString(user.email);
        auth = bytes(user.auth);
        userKey = bytes(user.userKey);
        publicKey = bytes(user.publicKey);
        privateKey = bytes(user.privateKey);
    }
    const auto accountKey = bytes(user.accountKey);
    const auto accountPublicKey = bytes(user.accountPublicKey);
    const auto accountPrivateKey = bytes(user.accountPrivateKey);
    const auto fingerprintKey = bytes(user.fingerprintKey);
    CreateAccountMessageBuilder message(builder);
    if (newUser) {
        message.add_registrationId(registration);
        message.add_firstName(first);
        message.add_lastName(last);
        message.add_email(email);
        message.add_auth(auth);
        message.add_userKey(userKey);
        message.add_publicKey(publicKey);
        message.add_privateKey(privateKey);
        message.add_pin(user.pin);
    }
    message.add_accountKey(accountKey);
    message.add_accountPublicKey(accountPublicKey);
    message.add_accountPrivateKey(accountPrivateKey);
    message.add_accountFingerprintKey(fingerprintKey);
    message.add_nodes(nodes);
    FinishSizePrefixedCreateAccountMessageBuffer(builder, message.Finish());
    return sizePrefixedMessage(builder);
}

// One of the three ways of LoginMessage; code and pin -1 are left out as the client does.
struct LoginWay {
    std::string email, auth, session, recoveryId;
    int32_t code = -1, pin = -1;
    uint64_t account = 0;
};

inline LoginWay byKey(const std::string& email, const std::string& auth, int32_t code = -1, uint64_t account = 0) {
    LoginWay way;
    way.email = email;
    way.auth = auth;
    way.code = code;
    way.account = account;
    return way;
}

inline LoginWay bySession(const std::string& session) {
    LoginWay way;
    way.session = session;
    return way;
}

inline LoginWay byRecovery(const std::string& email, const std::string& recoveryId, int32_t pin) {
    LoginWay way;
    way.email = email;
    way.recoveryId = recoveryId;
    way.pin = pin;
    return way;
}

inline std::string loginMessage(const LoginWay& way) {
    auto builder = messageBuilder();
    flatbuffers::Offset<flatbuffers::String> email, session, recovery;
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> auth;
    if (!way.session.empty()) session = builder.CreateString(way.session);
    if (!way.email.empty()) email = builder.CreateString(way.email);
    if (!way.recoveryId.empty()) recovery = builder.CreateString(way.recoveryId);
    if (!way.auth.empty())
        auth = builder.CreateVector(reinterpret_cast<const uint8_t*>(way.auth.data()), way.auth.size());
    LoginMessageBuilder message(builder);
    if (!way.session.empty()) message.add_session(session);
    if (!way.email.empty()) message.add_email(email);
    if (!way.auth.empty()) message.add_auth(auth);
    if (!way.recoveryId.empty()) message.add_recoveryId(recovery);
    if (way.code != -1) message.add_code(way.code);
    if (way.pin != -1) message.add_pin(way.pin);
    if (way.account != 0) message.add_account(way.account);
    FinishSizePrefixedLoginMessageBuffer(builder, message.Finish());
    return sizePrefixedMessage(builder);
}

inline std::string logoutMessage() {
    auto builder = messageBuilder();
    FinishSizePrefixedLogoutMessageBuffer(builder, CreateLogoutMessage(builder));
    return sizePrefixedMessage(builder);
}

inline std::string newSessionMessage(uint64_t account = 0) {
    auto builder = messageBuilder();
    FinishSizePrefixedNewSessionMessageBuffer(builder, CreateNewSessionMessage(builder, 0, account));
    return sizePrefixedMessage(builder);
}

inline std::string sessionInfoMessage() {
    auto builder = messageBuilder();
    FinishSizePrefixedSessionInfoMessageBuffer(builder, CreateSessionInfoMessage(builder));
    return sizePrefixedMessage(builder);
}

inline std::string manage2faMessage(uint8_t operation, int32_t code = -1) {
    auto builder = messageBuilder();
    FinishSizePrefixedManage2faMessageBuffer(builder, CreateManage2faMessage(builder, operation, code));
    return sizePrefixedMessage(builder);
}

inline std::string changePasswordMessage(const std::string& key, const std::string& auth) {
    auto builder = messageBuilder();
    const auto k = builder.CreateVector(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    const auto a = builder.CreateVector(reinterpret_cast<const uint8_t*>(auth.data()), auth.size());
    FinishSizePrefixedChangePasswordMessageBuffer(builder, CreateChangePasswordMessage(builder, k, a));
    return sizePrefixedMessage(builder);
}

inline std::string forgotPasswordMessage(const std::string& email) {
    auto builder = messageBuilder();
    FinishSizePrefixedForgotPasswordMessageBuffer(builder, CreateForgotPasswordMessageDirect(builder, email.c_str()));
    return sizePrefixedMessage(builder);
}

inline std::string userInfoMessage(uint64_t user = 0, const std::string& email = "") {
    auto builder = messageBuilder();
    FinishSizePrefixedUserInfoMessageBuffer(
        builder, CreateUserInfoMessageDirect(builder, user, email.empty() ? nullptr : email.c_str()));
    return sizePrefixedMessage(builder);
}

inline std::string getStatusMessage() {
    auto builder = messageBuilder();
    FinishSizePrefixedGetStatusMessageBuffer(builder, CreateGetStatusMessage(builder, 0, 1));
    return sizePrefixedMessage(builder);
}

// The error field of any response of these requests; -1 when it fails its verifier.
inline int32_t errorIn(const Response& response) {
    const std::string id = response.identifier();
#define CORVANE_ERROR_OF(Type, identifier) \
    if (id == identifier) return response.as<Type>(identifier) ? response.as<Type>(identifier)->error() : -1;
    CORVANE_ERROR_OF(LoginResponse, "LOIR")
    CORVANE_ERROR_OF(LogoutResponse, "LOOR")
    CORVANE_ERROR_OF(NewSessionResponse, "NESR")
    CORVANE_ERROR_OF(SessionInfoResponse, "SEIR")
    CORVANE_ERROR_OF(VerifyEmailResponse, "VEER")
    CORVANE_ERROR_OF(CreateAccountResponse, "CRAR")
    CORVANE_ERROR_OF(ChangePasswordResponse, "CHPR")
    CORVANE_ERROR_OF(ForgotPasswordResponse, "FOPR")
    CORVANE_ERROR_OF(Manage2faResponse, "MA2R")
    CORVANE_ERROR_OF(UserInfoResponse, "USIR")
    CORVANE_ERROR_OF(AddNodesResponse, "ADNR")
    CORVANE_ERROR_OF(GetStatusResponse, "GESR")
#undef CORVANE_ERROR_OF
    return -1;
}

class SignInFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        curl_global_init(CURL_GLOBAL_ALL);
        userKey_ = new RsaKey;
        accountKey_ = new RsaKey;
    }
    static void TearDownTestSuite() {
        delete userKey_;
        delete accountKey_;
        userKey_ = accountKey_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(userKey_->valid());
        ASSERT_TRUE(accountKey_->valid());
        ASSERT_TRUE(service_.start());
    }

    // One message alone in a batch of the session ("" for none), sent with a User-Agent.
    Response ask(const std::string& session, const std::string& message,
                 const std::string& userAgent = "SignInTest/1.0") {
        Call call;
        call.url = service_.apiUrl() + "?" + (session.empty() ? "" : "s=" + session + "&") + kApplicationKeyQuery;
        call.caFile = service_.certificatePath();
        call.body = message;
        call.headers["User-Agent"] = userAgent;
        const Reply reply = perform(call);
        lastStatus_ = reply.status;
        std::vector<std::string> parts;
        if (reply.status != 200 || !splitResponses(reply.body, parts) || parts.size() != 1) return Response();
        return Response(parts[0]);
    }

    // True when the batch endpoint takes the session and answers its status request.
    bool sessionWorks(const std::string& session) {
        const Response status = ask(session, getStatusMessage());
        return lastStatus_ == 200 && errorIn(status) == 0;
    }

    NewUser newUser(const std::string& email) {
        NewUser user;
        user.email = email;
        user.publicKey = userKey_->publicDer();
        user.accountPublicKey = accountKey_->publicDer();
        return user;
    }

    std::string verify(const std::string& email) {
        const Response answer = ask("", verifyEmailMessage(email));
        const auto* response = answer.as<VerifyEmailResponse>("VEER");
        EXPECT_NE(response, nullptr);
        EXPECT_EQ(response ? response->error() : -1, 0);
        return response ? textOf(response->registrationId()) : std::string();
    }

    // Verifies and creates the user; the created user's session text, "" on failure.
    struct Created {
        uint64_t user = 0, account = 0;
        std::string session;
    };
    Created registerUser(NewUser& user) {
        user.registration = verify(user.email);
        const Response answer = ask("", createAccountMessage(user));
        const auto* response = answer.as<CreateAccountResponse>("CRAR");
        EXPECT_NE(response, nullptr);
        if (!response) return {};
        EXPECT_EQ(response->error(), 0);
        return Created{response->user(), response->account(), userKey_->openSession(bytesIn(response->session()))};
    }

    // Signs in with e-mail and authentication key; the session text, "" when refused.
    std::string signIn(const NewUser& user, int32_t code = -1) {
        const Response answer = ask("", loginMessage(byKey(user.email, user.auth, code)));
        const auto* response = answer.as<LoginResponse>("LOIR");
        if (!response || response->error() != 0) return {};
        return userKey_->openSession(bytesIn(response->session()));
    }

    static RsaKey* userKey_;
    static RsaKey* accountKey_;
    StandInService service_;
    long lastStatus_ = 0;
};

inline RsaKey* SignInFixture::userKey_ = nullptr;
inline RsaKey* SignInFixture::accountKey_ = nullptr;

}  // namespace corvane::service::test
