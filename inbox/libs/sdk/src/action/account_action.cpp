#include "action/account_action.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "crypto/crypto_manager.h"
#include "request/account_creation_request.h"
#include "request/account_request.h"
#include "request/account_settings_request.h"
#include "request/credential_request.h"
#include "util/base64.h"
#include "util/log.h"

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/node_type.h"
#include "crypto/crypto_manager.h"
#include "request/cloud_request.h"
#include "request/session_request.h"
#include "util/log.h"

namespace corvane {

namespace {

// A saved session is the session text followed by the 43-character text of the master key.
constexpr size_t kMasterKeyTextLength = 43;

// Only A to Z change: addresses are compared byte for byte by the service.
std::string lowerCaseAscii(const char* text) {
    std::string lowered = text != nullptr ? text : "";
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

}  // namespace

bool VerifyEmailAction::validate(const ActionRecord& data) {
    return isSet(data->getEmail()) && isSet(data->getName()) && isSet(data->getExtraText());
}

bool ForgotPasswordAction::validate(const ActionRecord& data) {
    return isSet(data->getEmail());
}

bool CreateAccountAction::validate(const ActionRecord& data) {
    if (!isSet(data->getText())) {
        return true;
    }
    return isSet(data->getName()) && isSet(data->getExtraText()) && isSet(data->getEmail()) &&
           isSet(data->getPassword()) && data->getOption() != 0;
}

bool CreateAccountAction::needsSession(const ActionRecord& data) {
    return !isSet(data->getText());
}

// Plain and sealed keys of one CREATE_ACCOUNT run; they move into the record once all are made.
struct CreateAccountAction::Keys {
    ByteVector masterKey;
    ByteVector userPublicKey;
    ByteVector userPrivateKey;
    ByteVector accountPublicKey;
    ByteVector accountPrivateKey;
    ByteVector accountKey;
    ByteVector fingerprintKey;
    CryptoBytes sealedMasterKey;
    CryptoBytes sealedUserPrivateKey;
    CryptoBytes sealedAccountKey;
    CryptoBytes sealedAccountPrivateKey;
    CryptoBytes sealedFingerprintKey;
    bool newUser = false;
};

void CreateAccountAction::process(const ActionRecord& data) {
    if (manager_->getCryptoManager() == nullptr) {
        endUnavailable(data);
        return;
    }
    auto keys = std::make_shared<Keys>();
    keys->newUser = isSet(data->getText());
    if (keys->newUser) {
        createUser(data, keys);
    } else {
        createExtraAccount(data, keys);
    }
}

// A key that failed to appear would otherwise be sent and leave an account nobody can open.
void CreateAccountAction::failKey(const ActionRecord& data, const char* key) {
    CLOG_WARN("[cra] Unable to make the {}", key);
    endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
}

void CreateAccountAction::createUser(const ActionRecord& data, const std::shared_ptr<Keys>& keys) {
    CryptoManager* crypto = manager_->getCryptoManager();
    CLOG_INFO("[cra] Generating main user keys");
    crypto->deriveUserKeys(
        data->getEmail(), data->getPassword(), [this, crypto, data, keys](CryptoBytes auth, CryptoBytes password) {
            if (!auth || !password) {
                failKey(data, "user keys");
                return;
            }
            CLOG_INFO("[cra] Main user keys ready");
            data->setAuthKey(auth.release());
            data->setPasswordKey(password.release());
            CLOG_INFO("[cra] Generating RSA keys");
            crypto->generateRsaKey([this, crypto, data, keys](CryptoBytes publicKey, CryptoBytes privateKey) {
                if (!publicKey || !privateKey) {
                    failKey(data, "user RSA key");
                    return;
                }
                keys->userPublicKey = std::move(*publicKey);
                keys->userPrivateKey = std::move(*privateKey);
                CLOG_DEBUG("[cra] User RSA key ready (1 / 2)");
                crypto->generateRsaKey([this, crypto, data, keys](CryptoBytes publicKey, CryptoBytes privateKey) {
                    if (!publicKey || !privateKey) {
                        failKey(data, "account RSA key");
                        return;
                    }
                    keys->accountPublicKey = std::move(*publicKey);
                    keys->accountPrivateKey = std::move(*privateKey);
                    CLOG_DEBUG("[cra] Account RSA key ready (2 / 2)");
                    CLOG_INFO("[cra] RSA keys ready");
                    CryptoBytes masterKey = crypto->newRandomKey();
                    if (!masterKey) {
                        failKey(data, "master key");
                        return;
                    }
                    keys->masterKey = std::move(*masterKey);
                    CLOG_INFO("[cra] Encrypting keys");
                    crypto->encryptNodeKey(&keys->masterKey, data->getPasswordKey(),
                                           [this, data, keys](CryptoBytes sealed) {
                                               if (!sealed) {
                                                   failKey(data, "user key");
                                                   return;
                                               }
                                               keys->sealedMasterKey = std::move(sealed);
                                               CLOG_DEBUG("[cra] User key ready (1 / 5)");
                                               sealAccountKeys(data, keys);
                                           });
                });
            });
        });
}

void CreateAccountAction::createExtraAccount(const ActionRecord& data, const std::shared_ptr<Keys>& keys) {
    CryptoManager* crypto = manager_->getCryptoManager();
    CLOG_INFO("[cra] Generating RSA keys");
    crypto->generateRsaKey([this, data, keys](CryptoBytes publicKey, CryptoBytes privateKey) {
        if (!publicKey || !privateKey) {
            failKey(data, "account RSA key");
            return;
        }
        keys->accountPublicKey = std::move(*publicKey);
        keys->accountPrivateKey = std::move(*privateKey);
        CLOG_DEBUG("[cra] Account RSA key ready (1 / 1)");
        CLOG_INFO("[cra] RSA keys ready");
        keys->masterKey = manager_->getMasterKey();
        keys->userPrivateKey = manager_->getRsaPrivateKey();
        if (keys->masterKey.empty() || keys->userPrivateKey.empty()) {
            failKey(data, "account keys without the signed-in user's keys");
            return;
        }
        CLOG_INFO("[cra] Encrypting keys");
        sealAccountKeys(data, keys);
    });
}

// The account key under the master key, then (new user) the user's private key under the
// master key, the account's private key and the fingerprint key under the account key.
void CreateAccountAction::sealAccountKeys(const ActionRecord& data, const std::shared_ptr<Keys>& keys) {
    CryptoManager* crypto = manager_->getCryptoManager();
    const int total = keys->newUser ? 5 : 3;
    const int first = keys->newUser ? 2 : 1;
    CryptoBytes accountKey = crypto->newRandomKey();
    if (!accountKey) {
        failKey(data, "account key");
        return;
    }
    keys->accountKey = std::move(*accountKey);
    crypto->encryptNodeKey(&keys->accountKey, &keys->masterKey, [=](CryptoBytes sealed) {
        if (!sealed) {
            failKey(data, "account key");
            return;
        }
        keys->sealedAccountKey = std::move(sealed);
        CLOG_DEBUG("[cra] Account key ready ({} / {})", first, total);
        auto sealAccountPrivateKey = [=]() {
            const int step = keys->newUser ? 4 : 2;
            crypto->encryptRsaKey(&keys->accountPrivateKey, &keys->accountKey, [=](CryptoBytes sealed) {
                if (!sealed) {
                    failKey(data, "account private key");
                    return;
                }
                keys->sealedAccountPrivateKey = std::move(sealed);
                CLOG_DEBUG("[cra] Account private key ready ({} / {})", step, total);
                CryptoBytes fingerprintKey = crypto->newRandomKey();
                if (!fingerprintKey) {
                    failKey(data, "account fingerprint key");
                    return;
                }
                keys->fingerprintKey = std::move(*fingerprintKey);
                crypto->encryptNodeKey(&keys->fingerprintKey, &keys->accountKey, [=](CryptoBytes sealed) {
                    if (!sealed) {
                        failKey(data, "account fingerprint key");
                        return;
                    }
                    keys->sealedFingerprintKey = std::move(sealed);
                    CLOG_DEBUG("[cra] Account fingerprint key ready ({} / {})", total, total);
                    CLOG_INFO("[cra] Keys ready");
                    sendRequest(data, keys);
                });
            });
        };
        if (!keys->newUser) {
            sealAccountPrivateKey();
            return;
        }
        crypto->encryptRsaKey(&keys->userPrivateKey, &keys->masterKey, [=](CryptoBytes sealed) {
            if (!sealed) {
                failKey(data, "user private key");
                return;
            }
            keys->sealedUserPrivateKey = std::move(sealed);
            CLOG_DEBUG("[cra] User private key ready (3 / 5)");
            sealAccountPrivateKey();
        });
    });
}

void CreateAccountAction::sendRequest(const ActionRecord& data, const std::shared_ptr<Keys>& keys) {
    data->setKey(&keys->masterKey);
    data->setUserPrivateKey(new ByteVector(keys->userPrivateKey));
    data->setLinkAuth(new ByteVector(keys->accountKey));
    data->setAccountKey(keys->sealedAccountKey.release());
    data->setAccountPublicKey(new ByteVector(std::move(keys->accountPublicKey)));
    data->setExtraKey(new ByteVector(keys->accountPrivateKey));
    data->setAccountPrivateKey(keys->sealedAccountPrivateKey.release());
    data->setAccountFingerprintKey(new ByteVector(keys->fingerprintKey));
    data->setFingerprintKey(keys->sealedFingerprintKey.release());
    if (keys->newUser) {
        data->setUserKey(keys->sealedMasterKey.release());
        data->setPublicKey(new ByteVector(std::move(keys->userPublicKey)));
        data->setPrivateKey(keys->sealedUserPrivateKey.release());
    } else {
        data->setEmail(manager_->getEmail().c_str());
    }
    if (isSet(data->getLink()) && !isNonEmpty(data->getLink())) {
        data->setLink(nullptr);
    }
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        endUnavailable(data);
        return;
    }
    CLOG_DEBUG("[cra] Preparing root nodes");
    cloud->createRootNodeList(keys->accountKey, [this, data](std::shared_ptr<EncryptedNodeList> roots) {
        if (!roots) {
            failKey(data, "root nodes");
            return;
        }
        CLOG_DEBUG("[cra] Root nodes ready");
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<CreateAccountRequest>(data, std::move(roots)), this);
    });
}

void ChangePasswordAction::process(const ActionRecord& data) {
    CryptoManager* crypto = manager_->getCryptoManager();
    if (crypto == nullptr) {
        endUnavailable(data);
        return;
    }
    data->setEmail(manager_->getEmail().c_str());
    crypto->deriveUserKeys(
        data->getEmail(), data->getPassword(), [this, crypto, data](CryptoBytes auth, CryptoBytes password) {
            if (!auth || !password) {
                endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                return;
            }
            data->setAuthKey(auth.release());
            data->setPasswordKey(password.release());
            auto masterKey = std::make_shared<ByteVector>(manager_->getMasterKey());
            // Without a master key the service would be sent a wrapped key that opens nothing.
            if (masterKey->empty()) {
                endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                return;
            }
            crypto->encryptNodeKey(masterKey.get(), data->getPasswordKey(),
                                   [this, data, masterKey](CryptoBytes sealed) {
                                       std::fill(masterKey->begin(), masterKey->end(), 0);
                                       masterKey->clear();
                                       if (!sealed) {
                                           endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                                           return;
                                       }
                                       data->setUserKey(sealed.release());
                                       notifyProcessed(data);
                                       manager_->enqueueApiRequest(std::make_shared<ChangePasswordRequest>(data), this);
                                   });
        });
}

void ForgotPasswordAction::process(const ActionRecord& data) {
    data->setEmail(lowerCaseAscii(data->getEmail()).c_str());
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<ForgotPasswordRequest>(data), this);
}

void VerifyEmailAction::process(const ActionRecord& data) {
    data->setEmail(lowerCaseAscii(data->getEmail()).c_str());
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<VerifyEmailRequest>(data), this);
}

void Manage2faAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<Manage2faRequest>(data), this);
}

void RecoveryKeyAction::process(const ActionRecord& data) {
    ByteVector masterKey = manager_->getMasterKey();
    // A link session has a session but no master key: there is no recovery key to give.
    if (masterKey.empty()) {
        endWithError(data, Error(FORBIDDEN));
        return;
    }
    std::string text(masterKey.size() * 2, '\0');
    text.resize(Base64().encodeUrl(masterKey.data(), masterKey.size(), text.data(), text.size()));
    std::fill(masterKey.begin(), masterKey.end(), 0);
    data->setText(text.c_str());
    std::fill(text.begin(), text.end(), '\0');
    notifyProcessed(data);
    notifyFinish(data);
}

bool ChangePasswordAction::validate(const ActionRecord& data) {
    return isSet(data->getPassword());
}

bool Manage2faAction::validate(const ActionRecord& data) {
    return data->getOption() >= 1 && data->getOption() <= 3;
}

bool LoginAction::validate(const ActionRecord& data) {
    const char* session = data->getSession();
    bool passwordSignIn = !isSet(data->getText()) && isSet(data->getEmail()) && isSet(data->getPassword());
    bool sessionSignIn = isSet(session) && std::strlen(session) > kMasterKeyTextLength;
    bool recoverySignIn =
        data->getOption() != 0 && isSet(data->getEmail()) && isSet(data->getPassword()) && isSet(data->getText());
    return passwordSignIn || sessionSignIn || recoverySignIn;
}

// A session too short to hold the master key's text is not a way in: with e-mail and password
// also set, the password way is taken instead.
void LoginAction::process(const ActionRecord& data) {
    if (isSavedSession(data->getSession()) || isSet(data->getText())) {
        sendLogin(data);
        return;
    }
    CryptoManager* crypto = manager_->getCryptoManager();
    if (crypto == nullptr) {
        endWithError(data, Error(UNKNOWN_ERROR));
        return;
    }
    crypto->deriveUserKeys(data->getEmail(), data->getPassword(),
                           [this, data](CryptoBytes authKey, CryptoBytes passwordKey) {
                               if (!authKey || !passwordKey) {
                                   endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                                   return;
                               }
                               data->setAuthKey(authKey.release());
                               data->setPasswordKey(passwordKey.release());
                               sendLogin(data);
                           });
}

void LoginAction::sendLogin(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<LoginRequest>(data), this);
}

void LoginAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    // The contacts root's own request: its carrier belongs to no action of the application.
    if (std::dynamic_pointer_cast<AddNodesRequest>(request)) {
        if (data->getErrorCode() != 0) {
            CLOG_WARN("[action]LOGIN: Contacts root not stored: error {}", data->getErrorCode());
        }
        return;
    }
    if (data->getErrorCode() != 0 || data->getValue() != 0) {
        notifyFinish(data);
        return;
    }
    createContactsRoot(data);
}

void LoginAction::createContactsRoot(const ActionRecord& data) {
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        notifyFinish(data);
        return;
    }
    cloud->createRootNode(manager_->getUserKey(), CONTACTS_ROOT, [this, data](Cloud::EncryptedNodePointer node) {
        if (node) {
            auto nodes = std::make_shared<Cloud::EncryptedNodeList>();
            nodes->push_back(std::move(node));
            auto carrier = std::make_shared<MutableActionData>(LOGIN);
            manager_->enqueueApiRequest(std::make_shared<AddNodesRequest>(carrier, nodes, manager_->getClientId()),
                                        this);
        } else {
            CLOG_ERROR("[action]LOGIN: Unable to create the contacts root");
        }
        // The sign-in is complete without waiting for the root to be stored.
        notifyFinish(data);
    });
}

void LogoutAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<LogoutRequest>(data), this);
}

void NewSessionAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<NewSessionRequest>(data), this);
}

void SessionInfoAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<SessionInfoRequest>(data), this);
}

void CurrentEmailAction::process(const ActionRecord& data) {
    const std::string email = manager_->getEmail();
    if (email.empty()) {
        data->setError(Error(NOT_FOUND));
    } else {
        data->setEmail(email.c_str());
    }
    notifyProcessed(data);
    notifyFinish(data);
}

bool AccountInfoAction::needsSession(const ActionRecord& data) {
    return !isSet(data->getLink()) && data->getAccountHandle() == 0;
}

void AccountInfoAction::process(const ActionRecord& data) {
    if (isSet(data->getLink())) {
        static constexpr const char kAccountPath[] = "/account/";
        constexpr size_t kPathLength = sizeof(kAccountPath) - 1;
        const std::string link = data->getLinkString();
        const size_t at = link.find(kAccountPath);
        if (link.size() < kPathLength || at == std::string::npos || at + kPathLength == link.size()) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        data->setAccountHandleText(link.substr(at + kPathLength));
    }
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<AccountInfoRequest>(data), this);
}

void UserInfoAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<UserInfoRequest>(data), this);
}

void DefaultAccountAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<SetDefaultAccountRequest>(data), this);
}

void SetAccessLevelAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<SetAccessLevelRequest>(data), this);
}

void RevokeAccountAccessAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<RevokeAccountAccessRequest>(data), this);
}

void SetAccountValueAction::process(const ActionRecord& data) {
    data->setNumber(SetAccountValueRequest::kCrypto);
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<SetAccountValueRequest>(data), this);
}

void DeleteAccountAction::process(const ActionRecord& data) {
    data->setNumber(SetAccountValueRequest::kDeleteAccount);
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<SetAccountValueRequest>(data), this);
}

bool SubscriptionOptionsAction::needsSession(const ActionRecord& data) {
    return data->getOption() != 0;
}

bool SubscriptionOptionsAction::needsWriteAccess(const ActionRecord& data) {
    return needsSession(data);
}

bool PaymentInfoAction::validate(const ActionRecord& data) {
    return data->getNumber() != 0;
}

bool SetInvoicingAddressAction::validate(const ActionRecord& data) {
    return isSet(data->getName()) && isSet(data->getEmail()) && isSet(data->getLink());
}

bool GetInvoiceAction::validate(const ActionRecord& data) {
    return data->getNumber() != 0 && isSet(data->getName());
}

bool CouponsAction::validate(const ActionRecord& data) {
    switch (data->getValue()) {
        case 0:
            return true;
        case 1:
        case 2:
            return data->getOption() != 0;
        case 3:
            return isNonEmpty(data->getText());
        default:
            return false;
    }
}

bool CouponsAction::needsSession(const ActionRecord& data) {
    return data->getValue() != 3;
}

bool CouponsAction::needsWriteAccess(const ActionRecord& data) {
    return data->getValue() == 1 || data->getValue() == 2;
}

bool AddPaymentMethodAction::validate(const ActionRecord& data) {
    switch (data->getOption()) {
        case 2:
            return isNonEmpty(data->getText());
        case 3:
            return isNonEmpty(data->getText()) && isNonEmpty(data->getName());
        case 4:
            return true;
        default:
            return false;
    }
}

bool JoinLinkAction::validate(const ActionRecord& data) {
    if (data->getAccountHandle() != 0) {
        return isNonEmpty(data->getLink());
    }
    return isNonEmpty(data->getEmail()) &&
           (isNonEmpty(data->getLink()) || data->getOption() == 0 || data->getOption() == 1);
}

bool JoinLinkAction::needsSession(const ActionRecord& data) {
    if (data->getAccountHandle() != 0) {
        return !isSet(data->getText());
    }
    return !isSet(data->getLink());
}

bool JoinLinkAction::needsWriteAccess(const ActionRecord& data) {
    return data->getAccountHandle() == 0 && !isSet(data->getLink());
}

bool DefaultAccountAction::validate(const ActionRecord& data) {
    return data->getAccountHandle() != 0;
}

bool SetAccountValueAction::validate(const ActionRecord& data) {
    return data->getNumber() == 0 && (data->getOption() == 0 || data->getOption() == 2);
}

bool DeleteAccountAction::validate(const ActionRecord& data) {
    return isSet(data->getText());
}

bool SetAccessLevelAction::validate(const ActionRecord& data) {
    return data->getUserHandle() != 0 && (data->getOption() == 0 || data->getOption() == 1);
}

}  // namespace corvane
