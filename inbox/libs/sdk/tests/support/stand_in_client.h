#pragma once

// Batches to the stand-in sent beside the SDK, with libcurl and messages built here: a user
// registered with keys made independently (account_keys.h), a recovery id asked for, two-factor
// sign-in switched on and off, and the codes an authenticator would show.

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "batch_framing.h"
#include "create_account_message_generated.h"
#include "create_account_response_generated.h"
#include "forgot_password_message_generated.h"
#include "forgot_password_response_generated.h"
#include "manage2fa_message_generated.h"
#include "manage2fa_response_generated.h"
#include "stand_in_service.h"
#include "support/account_keys.h"
#include "verify_email_message_generated.h"
#include "verify_email_response_generated.h"

namespace corvane {
namespace test {
namespace signin {

// The answer of one batch: the HTTP status and each response (plain buffers, 8-aligned).
struct BatchAnswer {
    long status = 0;
    std::vector<std::vector<uint64_t>> responses;

    template <class Table>
    const Table* as(size_t index, const char* identifier) const {
        if (index >= responses.size()) {
            return nullptr;
        }
        const auto* data = reinterpret_cast<const uint8_t*>(responses[index].data());
        flatbuffers::Verifier verifier(data, responses[index].size() * 8);
        if (!verifier.VerifyBuffer<Table>(identifier)) {
            return nullptr;
        }
        return flatbuffers::GetRoot<Table>(data);
    }
};

inline size_t appendTo(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

inline BatchAnswer postBatch(const service::StandInService& service, const std::string& session,
                             const std::vector<std::string>& messages) {
    std::string body;
    for (const auto& message : messages) {
        body += message;
    }
    const std::string url = service.apiUrl() + (session.empty() ? "" : "?s=" + session);
    std::string reply;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, service.certificatePath().c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &appendTo);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 20000L);
    BatchAnswer answer;
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    }
    curl_easy_cleanup(curl);
    std::vector<std::string> parts;
    if (answer.status == 200 && service::splitResponses(reply, parts)) {
        for (const auto& part : parts) {
            std::vector<uint64_t> words((part.size() + 7) / 8);
            std::memcpy(words.data(), part.data(), part.size());
            answer.responses.push_back(std::move(words));
        }
    }
    return answer;
}

inline flatbuffers::FlatBufferBuilder messageBuilder() {
    flatbuffers::FlatBufferBuilder builder(256);
    builder.Align(8);
    return builder;
}

inline std::string finished(flatbuffers::FlatBufferBuilder& builder) {
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

// A registered user and the handles the stand-in gave; both 0 when registration failed.
struct Registered {
    uint64_t user = 0;
    uint64_t account = 0;
};

inline Registered registerUser(const service::StandInService& service, const AccountKeys& keys, int32_t pin) {
    auto verify = messageBuilder();
    FinishSizePrefixedVerifyEmailMessageBuffer(
        verify, CreateVerifyEmailMessageDirect(verify, keys.email.c_str(), "Ada", "Lovelace"));
    BatchAnswer verified = postBatch(service, "", {finished(verify)});
    const auto* registration = verified.as<VerifyEmailResponse>(0, "VEER");
    if (registration == nullptr || registration->error() != 0 || registration->registrationId() == nullptr) {
        return {};
    }
    auto create = messageBuilder();
    const auto id = create.CreateString(registration->registrationId()->str());
    const auto email = create.CreateString(keys.email);
    const auto first = create.CreateString("Ada");
    const auto last = create.CreateString("Lovelace");
    const auto auth = create.CreateVector(keys.authKey);
    const auto userKey = create.CreateVector(keys.wrappedMasterKey);
    const auto publicKey = create.CreateVector(keys.userRsa.publicKey);
    const auto privateKey = create.CreateVector(keys.sealedUserRsa);
    const auto accountKey = create.CreateVector(keys.wrappedAccountKey);
    const auto accountPublicKey = create.CreateVector(keys.accountRsa.publicKey);
    const auto accountPrivateKey = create.CreateVector(keys.sealedAccountRsa);
    const auto fingerprintKey = create.CreateVector(keys.wrappedFingerprintKey);
    CreateAccountMessageBuilder message(create);
    message.add_registrationId(id);
    message.add_firstName(first);
    message.add_lastName(last);
    message.add_email(email);
    message.add_auth(auth);
    message.add_userKey(userKey);
    message.add_publicKey(publicKey);
    message.add_privateKey(privateKey);
    message.add_pin(pin);
    message.add_accountKey(accountKey);
    message.add_accountPublicKey(accountPublicKey);
    message.add_accountPrivateKey(accountPrivateKey);
    message.add_accountFingerprintKey(fingerprintKey);
    FinishSizePrefixedCreateAccountMessageBuffer(create, message.Finish());
    BatchAnswer created = postBatch(service, "", {finished(create)});
    const auto* account = created.as<CreateAccountResponse>(0, "CRAR");
    if (account == nullptr || account->error() != 0) {
        return {};
    }
    return {account->user(), account->account()};
}

// A recovery id for the address; empty when refused.
inline std::string askRecovery(const service::StandInService& service, const std::string& email) {
    auto builder = messageBuilder();
    FinishSizePrefixedForgotPasswordMessageBuffer(builder, CreateForgotPasswordMessageDirect(builder, email.c_str()));
    BatchAnswer answer = postBatch(service, "", {finished(builder)});
    const auto* response = answer.as<ForgotPasswordResponse>(0, "FOPR");
    return response != nullptr && response->error() == 0 && response->recoveryId() != nullptr
               ? response->recoveryId()->str()
               : std::string();
}

// One two-factor operation in the session (1 new secret, 2 enable, 3 disable): the error and,
// for 1, the otpauth link; error -1 when the batch failed.
inline std::pair<int32_t, std::string> manageTwoFactor(const service::StandInService& service,
                                                       const std::string& session, uint8_t operation, int32_t code) {
    auto builder = messageBuilder();
    Manage2faMessageBuilder message(builder);
    message.add_operation(operation);
    message.add_code(code);
    FinishSizePrefixedManage2faMessageBuffer(builder, message.Finish());
    BatchAnswer answer = postBatch(service, session, {finished(builder)});
    const auto* response = answer.as<Manage2faResponse>(0, "MA2R");
    if (response == nullptr) {
        return {-1, std::string()};
    }
    return {response->error(), response->url() != nullptr ? response->url()->str() : std::string()};
}

// The secret of an otpauth link ("secret=" Base32 text).
inline std::string secretOfLink(const std::string& link) {
    const size_t at = link.find("secret=");
    if (at == std::string::npos) {
        return {};
    }
    const std::string text = link.substr(at + 7, link.find('&', at) - at - 7);
    std::string bytes;
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        const int value = c >= 'A' && c <= 'Z' ? c - 'A' : c >= '2' && c <= '7' ? c - '2' + 26 : -1;
        if (value < 0) {
            return {};
        }
        buffer = (buffer << 5) | static_cast<uint32_t>(value);
        bits += 5;
        if (bits >= 8) {
            bytes += static_cast<char>((buffer >> (bits - 8)) & 0xFF);
            bits -= 8;
        }
    }
    return bytes;
}

// The six-digit code of RFC 6238 (SHA-1, 30 s) for the secret at the time.
inline int32_t totpCode(const std::string& secret, std::time_t when = std::time(nullptr)) {
    uint64_t step = static_cast<uint64_t>(when) / 30;
    unsigned char counter[8];
    for (int i = 7; i >= 0; --i, step >>= 8) {
        counter[i] = static_cast<unsigned char>(step);
    }
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()), counter, 8, mac, &length);
    const int offset = mac[19] & 15;
    const uint32_t value = uint32_t(mac[offset] & 0x7F) << 24 | uint32_t(mac[offset + 1]) << 16 |
                           uint32_t(mac[offset + 2]) << 8 | mac[offset + 3];
    return static_cast<int32_t>(value % 1000000);
}

}  // namespace signin
}  // namespace test
}  // namespace corvane
