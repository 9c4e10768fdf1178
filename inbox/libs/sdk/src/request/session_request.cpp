#include "request/session_request.h"

#include <algorithm>
#include <cstring>

#include "cloud/cloud.h"
#include "corvane/error.h"
#include "corvane/handle.h"
#include "corvane/mutable_action_data.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_account_info_data.h"
#include "database/mutable_session_info_data.h"
#include "request/account_request.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/base64.h"
#include "util/log.h"

namespace corvane {

namespace {

using Bytes = std::vector<uint8_t>;

// Key material is overwritten before its memory is given back.
void wipe(Bytes& bytes) {
    volatile uint8_t* data = bytes.data();
    for (size_t i = 0; i < bytes.size(); ++i) {
        data[i] = 0;
    }
    bytes.clear();
}

void wipe(std::string& text) {
    volatile char* data = text.data();
    for (size_t i = 0; i < text.size(); ++i) {
        data[i] = 0;
    }
    text.clear();
}

Bytes bytesOf(const flatbuffers::Vector<uint8_t>* vector) {
    return vector != nullptr ? Bytes(vector->begin(), vector->end()) : Bytes();
}

// The master key from its Base64URL text; fewer than 32 bytes when the text is too short.
Bytes decodeMasterKey(const char* text) {
    Bytes key(kSessionKeySize);
    Base64 codec;
    key.resize(codec.decodeUrl(text, key.data(), key.size()));
    return key;
}

std::string masterKeyText(const Bytes& key) {
    Base64 codec;
    std::string text(Base64::encodedUrlSize(key.size()), '\0');
    text.resize(codec.encodeUrl(key.data(), key.size(), &text[0], text.size()));
    return text;
}

bool hasText(const char* text) {
    return text != nullptr;
}

// A shared key that the next crypto step reads until its completion has run.
std::shared_ptr<Bytes> keep(CryptoBytes bytes) {
    return std::shared_ptr<Bytes>(bytes.release(), [](Bytes* key) {
        wipe(*key);
        delete key;
    });
}

}  // namespace

bool isSavedSession(const char* session) {
    return session != nullptr && std::strlen(session) > kSessionKeyTextLength;
}

// The keys opened so far; they live only as long as the chain.
struct LoginRequest::Chain {
    std::shared_ptr<Bytes> masterKey;
    std::shared_ptr<Bytes> accountKey;
    std::shared_ptr<Bytes> fingerprintKey;
    std::shared_ptr<Bytes> accountRsaKey;
    std::shared_ptr<Bytes> userRsaKey;
    std::string sessionText;

    ~Chain() { wipe(sessionText); }
};

LoginRequest::LoginRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const MutableActionData& data = *actionData_;
    sessionWay_ = isSavedSession(data.getSession());
    if (sessionWay_) {
        const std::string saved = data.getSession();
        std::string text = saved.substr(0, saved.size() - kSessionKeyTextLength);
        const auto session = builder.CreateString(text);
        wipe(text);
        LoginMessageBuilder message(builder);
        message.add_session(session);
        finishMessage(builder, message.Finish().o);
        return;
    }
    const auto email = builder.CreateString(data.getEmail() != nullptr ? data.getEmail() : "");
    flatbuffers::Offset<flatbuffers::String> recoveryId;
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> auth;
    const bool recoveryWay = hasText(data.getText());
    if (recoveryWay) {
        recoveryId = builder.CreateString(data.getText());
    } else {
        const Bytes* authKey = data.getAuthKey();
        auth = authKey != nullptr ? builder.CreateVector(*authKey) : builder.CreateVector(Bytes());
    }
    LoginMessageBuilder message(builder);
    message.add_email(email);
    if (recoveryWay) {
        message.add_recoveryId(recoveryId);
        message.add_pin(data.getOption());
    } else {
        message.add_auth(auth);
    }
    message.add_code(data.getValue());
    message.add_account(data.getAccountHandle());
    finishMessage(builder, message.Finish().o);
}

LoginRequest::~LoginRequest() {
    for (Bytes* bytes : {&session_, &key_, &privateKey_, &accountKey_, &accountPrivateKey_, &accountFingerprintKey_}) {
        wipe(*bytes);
    }
}

bool LoginRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<LoginResponse>(bytes);
    const int32_t error = response->error();
    if (error != 0 && error != INVOICING_INFO_ERROR) {
        storeError(error);
        return true;
    }
    actionData_->setError(Error(error));
    session_ = bytesOf(response->session());
    privateKey_ = bytesOf(response->privateKey());
    key_ = bytesOf(response->key());
    accountPrivateKey_ = bytesOf(response->accountPrivateKey());
    accountFingerprintKey_ = bytesOf(response->accountFingerprintKey());
    accountKey_ = bytesOf(response->accountkey());
    user_ = response->user();
    account_ = response->account();
    crypto_ = response->crypto();
    accessLevel_ = response->accessLevel();

    actionData_->setOption(response->multiFactorAuth());
    actionData_->setAccountHandle(response->mainAccount());
    if (response->accountEmail() != nullptr) {
        actionData_->setEmail(response->accountEmail()->c_str());
    }
    actionData_->setPermissions(getPermissions(response->permissions()));
    actionData_->setUsers(getPermissions(response->users()));
    actionData_->setFlags(static_cast<int32_t>(response->features()));
    actionData_->setValue(static_cast<int32_t>(response->version()));
    return true;
}

void LoginRequest::failCrypto() {
    actionData_->setError(Error(CRYPTOGRAPHIC_ERROR));
    notifyFinished();
}

void LoginRequest::applyResults(RequestHost* manager) {
    const int32_t error = actionData_->getErrorCode();
    if (error != 0 && error != INVOICING_INFO_ERROR) {
        notifyFinished();
        return;
    }
    CryptoManager* crypto = manager->getCryptoManager();
    if (crypto == nullptr) {
        CLOG_ERROR("[req]{}: No crypto manager to open the keys with", getName());
        actionData_->setError(Error(UNKNOWN_ERROR));
        notifyFinished();
        return;
    }
    auto self = change::self(this);
    auto chain = std::make_shared<Chain>();

    if (!session_.empty()) {
        if (hasText(actionData_->getText())) {
            // Recovery: the password field carries the recovery key, the master key's text.
            Bytes masterKey = decodeMasterKey(actionData_->getPassword() != nullptr ? actionData_->getPassword() : "");
            if (masterKey.size() < kSessionKeySize) {
                CLOG_ERROR("Invalid master key. Wrong size: {}", masterKey.size());
                wipe(masterKey);
                failCrypto();
                return;
            }
            chain->masterKey = keep(CryptoBytes(new Bytes(std::move(masterKey))));
            openAccountKeys(manager, chain);
            return;
        }
        const Bytes* passwordKey = actionData_->getPasswordKey();
        if (passwordKey == nullptr) {
            failCrypto();
            return;
        }
        crypto->decryptNodeKey(&key_, passwordKey, [self, manager, chain](CryptoBytes masterKey) {
            if (!masterKey) {
                self->failCrypto();
                return;
            }
            chain->masterKey = keep(std::move(masterKey));
            self->openAccountKeys(manager, chain);
        });
        return;
    }

    if (sessionWay_) {
        manager->resetSession([self, manager, chain]() {
            const std::string saved = self->actionData_->getSession();
            Bytes masterKey = decodeMasterKey(saved.c_str() + saved.size() - kSessionKeyTextLength);
            // A key text that does not make a whole key opens nothing.
            if (masterKey.size() < kSessionKeySize) {
                CLOG_ERROR("Invalid master key. Wrong size: {}", masterKey.size());
                wipe(masterKey);
                self->failCrypto();
                return;
            }
            chain->masterKey = keep(CryptoBytes(new Bytes(std::move(masterKey))));
            chain->sessionText = saved.substr(0, saved.size() - kSessionKeyTextLength);
            self->openAccountKeys(manager, chain);
        });
        return;
    }

    actionData_->setError(Error(UNKNOWN_ERROR));
    notifyFinished();
}

void LoginRequest::openAccountKeys(RequestHost* manager, std::shared_ptr<Chain> chain) {
    CryptoManager* crypto = manager->getCryptoManager();
    auto self = change::self(this);
    crypto->decryptNodeKey(&accountKey_, chain->masterKey.get(), [self, manager, chain, crypto](CryptoBytes key) {
        if (!key) {
            self->failCrypto();
            return;
        }
        chain->accountKey = keep(std::move(key));
        crypto->decryptNodeKey(&self->accountFingerprintKey_, chain->accountKey.get(),
                               [self, manager, chain, crypto](CryptoBytes fingerprintKey) {
                                   if (!fingerprintKey) {
                                       self->failCrypto();
                                       return;
                                   }
                                   chain->fingerprintKey = keep(std::move(fingerprintKey));
                                   crypto->decryptRsaKey(&self->accountPrivateKey_, chain->accountKey.get(),
                                                         [self, manager, chain](CryptoBytes rsaKey) {
                                                             if (!rsaKey || rsaKey->empty()) {
                                                                 self->failCrypto();
                                                                 return;
                                                             }
                                                             chain->accountRsaKey = keep(std::move(rsaKey));
                                                             self->openUserKey(manager, chain);
                                                         });
                               });
    });
}

void LoginRequest::openUserKey(RequestHost* manager, std::shared_ptr<Chain> chain) {
    CryptoManager* crypto = manager->getCryptoManager();
    auto self = change::self(this);
    crypto->decryptRsaKey(&privateKey_, chain->masterKey.get(), [self, manager, chain](CryptoBytes rsaKey) {
        if (!rsaKey || rsaKey->empty()) {
            self->failCrypto();
            return;
        }
        chain->userRsaKey = keep(std::move(rsaKey));
        if (self->session_.empty()) {
            // The session way: the session was reset before the chain and its text is known.
            self->install(manager, chain);
            return;
        }
        self->openSession(manager, chain);
    });
}

void LoginRequest::openSession(RequestHost* manager, std::shared_ptr<Chain> chain) {
    CryptoManager* crypto = manager->getCryptoManager();
    auto self = change::self(this);
    crypto->decryptSession(&session_, chain->userRsaKey.get(), [self, manager, chain](std::string session) {
        if (session.empty()) {
            self->failCrypto();
            return;
        }
        chain->sessionText = std::move(session);
        manager->resetSession([self, manager, chain]() {
            std::string saved = chain->sessionText + masterKeyText(*chain->masterKey);
            self->actionData_->setSession(saved.c_str());
            wipe(saved);
            self->install(manager, chain);
        });
    });
}

void LoginRequest::install(RequestHost* manager, std::shared_ptr<Chain> chain) {
    auto self = change::self(this);
    const char* email = actionData_->getEmail();
    manager->setSession(email != nullptr ? email : "", chain->sessionText.c_str(), *chain->masterKey,
                        *chain->userRsaKey, *chain->accountKey, *chain->fingerprintKey, *chain->accountRsaKey, user_,
                        account_, static_cast<uint8_t>(crypto_), accessLevel_, [self]() { self->notifyFinished(); });
}

LogoutRequest::LogoutRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    LogoutMessageBuilder message(builder);
    finishMessage(builder, message.Finish().o);
}

bool LogoutRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    readError(flatbuffers::GetRoot<LogoutResponse>(bytes));
    return true;
}

void LogoutRequest::applyResults(RequestHost* manager) {
    // Whatever the service said, this client no longer holds the session.
    auto self = change::self(this);
    manager->logout([self]() { self->notifyFinished(); });
}

NewSessionRequest::NewSessionRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    NewSessionMessageBuilder message(builder);
    message.add_account(actionData_->getAccountHandle());
    finishMessage(builder, message.Finish().o);
}

bool NewSessionRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<NewSessionResponse>(bytes);
    if (readError(response) != 0) {
        return true;
    }
    id_ = response->id();
    session_ = bytesOf(response->session());
    return true;
}

void NewSessionRequest::applyResults(RequestHost* manager) {
    if (actionData_->getErrorCode() != 0) {
        notifyFinished();
        return;
    }
    CryptoManager* crypto = manager->getCryptoManager();
    if (crypto == nullptr) {
        actionData_->setError(Error(CRYPTOGRAPHIC_ERROR));
        notifyFinished();
        return;
    }
    auto self = change::self(this);
    auto privateKey = std::shared_ptr<Bytes>(new Bytes(manager->getRsaPrivateKey()), [](Bytes* key) {
        wipe(*key);
        delete key;
    });
    crypto->decryptSession(&session_, privateKey.get(), [self, manager, privateKey](std::string session) {
        if (session.empty()) {
            self->actionData_->setError(Error(CRYPTOGRAPHIC_ERROR));
            self->notifyFinished();
            return;
        }
        Bytes masterKey = manager->getMasterKey();
        std::string saved = session + masterKeyText(masterKey);
        wipe(masterKey);
        wipe(session);
        self->actionData_->setSession(saved.c_str());
        wipe(saved);
        self->actionData_->setNodeHandle(self->id_);
        if (Cloud* cloud = manager->getCloud()) {
            if (auto account = cloud->getAccountInfo()) {
                self->actionData_->setAccountHandle(account->getId());
            }
        }
        self->notifyFinished();
    });
}

SessionInfoRequest::SessionInfoRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    SessionInfoMessageBuilder message(builder);
    finishMessage(builder, message.Finish().o);
}

bool SessionInfoRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<SessionInfoResponse>(bytes);
    if (readError(response) != 0) {
        return true;
    }
    actionData_->setNodeHandleText(getSessionHandleText(response->currentId()));
    auto active = std::make_shared<SessionInfoList>();
    auto inactive = std::make_shared<SessionInfoList>();
    if (const auto* sessions = response->sessions()) {
        for (const SessionMessage* message : *sessions) {
            auto entry = std::make_shared<MutableSessionInfoData>();
            entry->setId(message->id());
            entry->setCreationTime(message->creationTime());
            entry->setLastTime(message->lastTime());
            if (message->ip() != nullptr) {
                entry->setIp(message->ip()->c_str());
            }
            if (message->userAgent() != nullptr) {
                entry->setUserAgent(message->userAgent()->c_str());
            }
            entry->setActive(message->active());
            (message->active() ? active : inactive)->push_back(std::move(entry));
        }
    }
    actionData_->setActiveSessions(std::move(active));
    actionData_->setInactiveSessions(std::move(inactive));
    return true;
}

}  // namespace corvane
