#include "action/account_action.h"

#include <cstring>

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
