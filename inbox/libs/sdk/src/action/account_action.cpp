#include "action/account_action.h"

#include <cstring>

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
    cloud->createRootNode(manager_->getUserKey(), CONTACTS_ROOT,
                          [this, data](Cloud::EncryptedNodePointer node) {
                              if (node) {
                                  auto nodes = std::make_shared<Cloud::EncryptedNodeList>();
                                  nodes->push_back(std::move(node));
                                  auto carrier = std::make_shared<MutableActionData>(LOGIN);
                                  manager_->enqueueApiRequest(
                                      std::make_shared<AddNodesRequest>(carrier, nodes, manager_->getClientId()),
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
