#pragma once

#include <cstdint>
#include <memory>

#include "add_contact_message_generated.h"
#include "add_contact_response_generated.h"
#include "request/request.h"
#include "revoke_account_access_message_generated.h"
#include "revoke_account_access_response_generated.h"
#include "set_access_level_message_generated.h"
#include "set_access_level_response_generated.h"
#include "set_account_value_message_generated.h"
#include "set_account_value_response_generated.h"
#include "set_default_account_message_generated.h"
#include "set_default_account_response_generated.h"

namespace corvane {

// The requests that change the signed-in account's settings or its users, and add a contact.

// One account-wide value; the kind comes from the owner's number: kCrypto sends the owner's
// option as the account's crypto scheme, kDeleteAccount the owner's text as the reason and
// signs out once the service has deleted the account.
class SetAccountValueRequest : public FlatbufferRequest<SetAccountValueMessage, SetAccountValueResponse> {
public:
    static constexpr int32_t kCrypto = 0;
    static constexpr int32_t kDeleteAccount = 1;

    explicit SetAccountValueRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "SetAccountValue"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

private:
    int32_t type_ = 0;
};

// The user's default account: the owner's account handle.
class SetDefaultAccountRequest : public FlatbufferRequest<SetDefaultAccountMessage, SetDefaultAccountResponse> {
public:
    explicit SetDefaultAccountRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "SetDefaultAccount"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// The access level (the owner's option) of a user (the owner's user handle) on the account.
class SetAccessLevelRequest : public FlatbufferRequest<SetAccessLevelMessage, SetAccessLevelResponse> {
public:
    explicit SetAccessLevelRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "SetAccessLevel"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// Takes a user's (the owner's user handle; 0 the signed-in user's) access to the account
// away; the user's main account goes to the owner's account handle. Revoking the own access
// signs out, whatever the service answered.
class RevokeAccountAccessRequest : public FlatbufferRequest<RevokeAccountAccessMessage, RevokeAccountAccessResponse> {
public:
    explicit RevokeAccountAccessRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "RevokeAccountAccess"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;
};

// Adds the owner's e-mail address as a contact.
class AddContactRequest : public FlatbufferRequest<AddContactMessage, AddContactResponse> {
public:
    explicit AddContactRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "AddContact"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

}  // namespace corvane
