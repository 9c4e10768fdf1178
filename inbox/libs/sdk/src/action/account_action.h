#pragma once

#include <memory>

#include "action/action_processor.h"

namespace corvane {

// Sign-in, session, account creation and joining, credentials, account settings and billing actions.
class VerifyEmailAction : public TypedAction<VERIFY_EMAIL, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class ForgotPasswordAction : public TypedAction<FORGOT_PASSWORD, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class CreateAccountAction : public TypedAction<CREATE_ACCOUNT, Need::BY_RECORD, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
    bool needsSession(const ActionRecord& data) override;

private:
    struct Keys;
    // The steps of the key chain; each ends the action with error 4 when its key is missing.
    void createUser(const ActionRecord& data, const std::shared_ptr<Keys>& keys);
    void createExtraAccount(const ActionRecord& data, const std::shared_ptr<Keys>& keys);
    void sealAccountKeys(const ActionRecord& data, const std::shared_ptr<Keys>& keys);
    void sendRequest(const ActionRecord& data, const std::shared_ptr<Keys>& keys);
    void failKey(const ActionRecord& data, const char* key);
};

class ChangePasswordAction : public TypedAction<CHANGE_PASSWORD, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class RecoveryKeyAction : public TypedAction<RECOVERY_KEY, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override { return true; }
};

class Manage2faAction : public TypedAction<MANAGE_2FA, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class LoginAction : public TypedAction<LOGIN, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
    // Finishes the sign-in; after a first sign-in (response version 0) also stores the
    // contacts root, whose request comes back here and ends nothing.
    void finished(std::shared_ptr<Request> request) override;

private:
    void sendLogin(const ActionRecord& data);
    void createContactsRoot(const ActionRecord& data);
};

class UserInfoAction : public TypedAction<USER_INFO, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override { return true; }
};

class AccountInfoAction : public TypedAction<ACCOUNT_INFO, Need::BY_RECORD, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override { return true; }
    bool needsSession(const ActionRecord& data) override;
};

class SubscriptionOptionsAction : public TypedAction<SUBSCRIPTION_OPTIONS, Need::BY_RECORD, Need::BY_RECORD> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    bool needsSession(const ActionRecord& data) override;
    bool needsWriteAccess(const ActionRecord& data) override;
};

class PaymentInfoAction : public TypedAction<PAYMENT_INFO, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class RemovePaymentMethodAction : public TypedAction<REMOVE_PAYMENT_METHOD, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class SetInvoicingAddressAction : public TypedAction<SET_INVOICING_ADDRESS, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class InvoicingInfoAction : public TypedAction<INVOICING_INFO, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class GetInvoiceAction : public TypedAction<GET_INVOICE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class SessionInfoAction : public TypedAction<SESSION_INFO, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    void process(const ActionRecord& data) override;
};

class LogoutAction : public TypedAction<LOGOUT, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    void process(const ActionRecord& data) override;
};

class CurrentEmailAction : public TypedAction<CURRENT_EMAIL, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    void process(const ActionRecord& data) override;
};

class NewSessionAction : public TypedAction<NEW_SESSION, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    void process(const ActionRecord& data) override;
};

class ReferralsInfoAction : public TypedAction<REFERRALS_INFO, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class BalancesInfoAction : public TypedAction<BALANCES_INFO, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class CouponsAction : public TypedAction<COUPONS, Need::BY_RECORD, Need::BY_RECORD> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    bool needsSession(const ActionRecord& data) override;
    bool needsWriteAccess(const ActionRecord& data) override;
};

class AddPaymentMethodAction : public TypedAction<ADD_PAYMENT_METHOD, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class JoinLinkAction : public TypedAction<JOIN_LINK, Need::BY_RECORD, Need::BY_RECORD> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    bool needsSession(const ActionRecord& data) override;
    bool needsWriteAccess(const ActionRecord& data) override;
};

class DefaultAccountAction : public TypedAction<DEFAULT_ACCOUNT, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class RevokeAccountAccessAction : public TypedAction<REVOKE_ACCOUNT_ACCESS, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override { return true; }
};

class SetAccountValueAction : public TypedAction<SET_ACCOUNT_VALUE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class DeleteAccountAction : public TypedAction<DELETE_ACCOUNT, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class SetAccessLevelAction : public TypedAction<SET_ACCESS_LEVEL, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

}  // namespace corvane
