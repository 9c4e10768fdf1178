// The requests that read an account and change account-wide settings and its users: AccountInfo
// (the own account, or another account's name and public key without a session),
// SetAccountValue, SetDefaultAccount, SetAccessLevel, RevokeAccountAccess and AddContact.
#pragma once

namespace corvane::service {

class AccountDirectory;
class BatchDispatcher;

void registerAccountSettingsHandlers(BatchDispatcher& dispatcher, AccountDirectory& accounts);

}  // namespace corvane::service
