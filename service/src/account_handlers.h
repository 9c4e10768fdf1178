// The requests that register users and accounts and manage their credentials: VerifyEmail,
// CreateAccount, ChangePassword, ForgotPassword, Manage2fa and UserInfo.
#pragma once

namespace corvane::service {

class AccountDirectory;
class BatchDispatcher;

void registerAccountHandlers(BatchDispatcher& dispatcher, AccountDirectory& accounts);

}  // namespace corvane::service
