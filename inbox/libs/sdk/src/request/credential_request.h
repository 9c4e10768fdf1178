#pragma once

#include <cstdint>
#include <memory>

#include "change_password_message_generated.h"
#include "change_password_response_generated.h"
#include "forgot_password_message_generated.h"
#include "forgot_password_response_generated.h"
#include "manage2fa_message_generated.h"
#include "manage2fa_response_generated.h"
#include "request/request.h"
#include "verify_email_message_generated.h"
#include "verify_email_response_generated.h"

namespace corvane {

// The requests that change or recover the user's credentials. None changes SDK state: what
// they read goes into the owner, and applying finishes at once.

// The new login proof (auth key) and the master key wrapped under the new password key, as
// the owner holds them.
class ChangePasswordRequest : public FlatbufferRequest<ChangePasswordMessage, ChangePasswordResponse> {
public:
    explicit ChangePasswordRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "ChangePassword"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// Starts a password recovery for the owner's e-mail address; the recovery id goes to the
// owner's text.
class ForgotPasswordRequest : public FlatbufferRequest<ForgotPasswordMessage, ForgotPasswordResponse> {
public:
    explicit ForgotPasswordRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "ForgotPassword"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// Starts the registration of the owner's e-mail address with first (name) and last (extra
// text) name; the registration id goes to the owner's text.
class VerifyEmailRequest : public FlatbufferRequest<VerifyEmailMessage, VerifyEmailResponse> {
public:
    explicit VerifyEmailRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "VerifyEmail"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// Two-factor set-up: the owner's option is the operation (1 set-up link, 2 enable, 3 disable)
// and its value the authenticator's code (enable and disable only). The set-up link goes to
// the owner's text.
class Manage2faRequest : public FlatbufferRequest<Manage2faMessage, Manage2faResponse> {
public:
    static constexpr uint8_t kCreateLink = 1;
    static constexpr uint8_t kEnable = 2;
    static constexpr uint8_t kDisable = 3;

    explicit Manage2faRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "Manage2fa"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

}  // namespace corvane
