// The tables in this file are laid out by hand, one row a line.
// clang-format off
#include "request/request_catalogue.h"

#include <cstring>

namespace corvane {

// Three command words differ from their class names (BalanceInfo, GenerateCoupon, CouponInfo),
// and the GetCoupons response carries its message's identifier: the service's own quirks, kept.
const std::vector<RequestCatalogueEntry>& getRequestCatalogue() {
    static const std::vector<RequestCatalogueEntry> catalogue = {
        {"AccountInfoRequest", "AccountInfo", "AccountInfoMessage", "ACIM", "AccountInfoResponse", "ACIR", "account_info_message", "account_info_response"},
        {"AddContactRequest", "AddContact", "AddContactMessage", "ADCM", "AddContactResponse", "ADCR", "add_contact_message", "add_contact_response"},
        {"AddMetadataRequest", "AddMetadata", "AddMetadataMessage", "ADMM", "AddMetadataResponse", "ADMR", "add_metadata_message", "add_metadata_response"},
        {"AddNodesRequest", "AddNodes", "AddNodesMessage", "ADNM", "AddNodesResponse", "ADNR", "add_nodes_message", "add_nodes_response"},
        {"AddPaymentMethodRequest", "AddPaymentMethod", "AddPaymentMethodMessage", "ADPM", "AddPaymentMethodResponse", "ADPR", "add_payment_method_message", "add_payment_method_response"},
        {"BalancesInfoRequest", "BalanceInfo", "BalanceInfoMessage", "BAIM", "BalanceInfoResponse", "BAIR", "balance_info_message", "balance_info_response"},
        {"ChangePasswordRequest", "ChangePassword", "ChangePasswordMessage", "CHPM", "ChangePasswordResponse", "CHPR", "change_password_message", "change_password_response"},
        {"CheckJoinLinkRequest", "CheckJoinLink", "CheckJoinLinkMessage", "CHJM", "CheckJoinLinkResponse", "CHJR", "check_join_link_message", "check_join_link_response"},
        {"CrashReportRequest", "CrashReport", "CrashReportMessage", "CRRM", "CrashReportResponse", "CRRR", "crash_report_message", "crash_report_response"},
        {"CreateAccountRequest", "CreateAccount", "CreateAccountMessage", "CRAM", "CreateAccountResponse", "CRAR", "create_account_message", "create_account_response"},
        {"CreateCouponRequest", "GenerateCoupon", "GenerateCouponMessage", "CRCM", "GenerateCouponResponse", "CRCR", "generate_coupon_message", "generate_coupon_response"},
        {"CreateJoinLinkRequest", "CreateJoinLink", "CreateJoinLinkMessage", "CJLM", "CreateJoinLinkResponse", "CJLR", "create_join_link_message", "create_join_link_response"},
        {"CreateLinkRequest", "CreateLink", "CreateLinkMessage", "CRLM", "CreateLinkResponse", "CRLR", "create_link_message", "create_link_response"},
        {"DeleteCouponRequest", "DeleteCoupon", "DeleteCouponMessage", "DECM", "DeleteCouponResponse", "DECR", "delete_coupon_message", "delete_coupon_response"},
        {"DeleteLinkRequest", "DeleteLink", "DeleteLinkMessage", "DELM", "DeleteLinkResponse", "DELR", "delete_link_message", "delete_link_response"},
        {"DeleteNodeRequest", "DeleteNode", "DeleteNodeMessage", "DENM", "DeleteNodeResponse", "DENR", "delete_node_message", "delete_node_response"},
        {"DestroyRequest", "Destroy", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {"DownloadRequest", "Download", "DownloadMessage", "DOWM", "DownloadResponse", "DOWR", "download_message", "download_response"},
        {"ForgotPasswordRequest", "ForgotPassword", "ForgotPasswordMessage", "FOPM", "ForgotPasswordResponse", "FOPR", "forgot_password_message", "forgot_password_response"},
        {"GetCouponInfoRequest", "CouponInfo", "CouponInfoMessage", "CPIM", "CouponInfoResponse", "CPIR", "coupon_info_message", "coupon_info_response"},
        {"GetCouponsRequest", "GetCoupons", "GetCouponsMessage", "GECM", "GetCouponsResponse", "GECM", "get_coupons_message", "get_coupons_response"},
        {"GetEventsRequest", "GetEvents", "GetEventsMessage", "GEEM", "GetEventsResponse", "GEER", "get_events_message", "get_events_response"},
        {"GetInvoiceRequest", "GetInvoice", "GetInvoiceMessage", "GINM", "GetInvoiceResponse", "GINR", "get_invoice_message", "get_invoice_response"},
        {"GetMeetingAccessRequest", "GetMeetingAccess", "GetMeetingAccessMessage", "GMAM", "GetMeetingAccessResponse", "GMAR", "get_meeting_access_message", "get_meeting_access_response"},
        {"GetNodeByFingerprintRequest", "GetNodeByFingerprint", "GetNodeByFingerprintMessage", "GNFM", "GetNodeByFingerprintResponse", "GNFR", "get_node_by_fingerprint_message", "get_node_by_fingerprint_response"},
        {"GetNodesRequest", "GetNodes", "GetNodesMessage", "GENM", "GetNodesResponse", "GENR", "get_nodes_message", "get_nodes_response"},
        {"GetStatusRequest", "GetStatus", "GetStatusMessage", "GESM", "GetStatusResponse", "GESR", "get_status_message", "get_status_response"},
        {"InvoicingInfoRequest", "InvoicingInfo", "InvoicingInfoMessage", "INIM", "InvoicingInfoResponse", "INIR", "invoicing_info_message", "invoicing_info_response"},
        {"JoinAccountRequest", "JoinAccount", "JoinAccountMessage", "JOAM", "JoinAccountResponse", "JOAR", "join_account_message", "join_account_response"},
        {"LogEventRequest", "LogEvent", "LogEventMessage", "LOEM", "LogEventResponse", "LOER", "log_event_message", "log_event_response"},
        {"LoginLinkRequest", "LoginLink", "LoginLinkMessage", "LILM", "LoginLinkResponse", "LILR", "login_link_message", "login_link_response"},
        {"LoginRequest", "Login", "LoginMessage", "LOIM", "LoginResponse", "LOIR", "login_message", "login_response"},
        {"LogoutLinkRequest", "LogoutLink", "LogoutLinkMessage", "LOLM", "LogoutLinkResponse", "LOLR", "logout_link_message", "logout_link_response"},
        {"LogoutRequest", "Logout", "LogoutMessage", "LOOM", "LogoutResponse", "LOOR", "logout_message", "logout_response"},
        {"Manage2faRequest", "Manage2fa", "Manage2faMessage", "MA2M", "Manage2faResponse", "MA2R", "manage2fa_message", "manage2fa_response"},
        {"MoveNodeRequest", "MoveNode", "MoveNodeMessage", "MONM", "MoveNodeResponse", "MONR", "move_node_message", "move_node_response"},
        {"NewSecretRequest", "NewSecret", "NewSecretMessage", "NSEM", "NewSecretResponse", "NSER", "new_secret_message", "new_secret_response"},
        {"NewSessionRequest", "NewSession", "NewSessionMessage", "NESM", "NewSessionResponse", "NESR", "new_session_message", "new_session_response"},
        {"NewSharedDriveRequest", "NewSharedDrive", "NewSharedDriveMessage", "NSDM", "NewSharedDriveResponse", "NSDR", "new_shared_drive_message", "new_shared_drive_response"},
        {"OfflineLogoutRequest", "OfflineLogout", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {"OpenSecretRequest", "OpenSecret", "OpenSecretMessage", "OSEM", "OpenSecretResponse", "OSER", "open_secret_message", "open_secret_response"},
        {"PaymentInfoRequest", "PaymentInfo", "PaymentInfoMessage", "PAIM", "PaymentInfoResponse", "PAIR", "payment_info_message", "payment_info_response"},
        {"RecordInfoRequest", "RecordInfo", "RecordInfoMessage", "REIM", "RecordInfoResponse", "REIR", "record_info_message", "record_info_response"},
        {"ReferralsInfoRequest", "ReferralsInfo", "ReferralsInfoMessage", "RFIM", "ReferralsInfoResponse", "RFIR", "referrals_info_message", "referrals_info_response"},
        {"RemovePaymentMethodRequest", "RemovePaymentMethod", "RemovePaymentMethodMessage", "RPMM", "RemovePaymentMethodResponse", "RPMR", "remove_payment_method_message", "remove_payment_method_response"},
        {"RenameNodeRequest", "RenameNode", "RenameNodeMessage", "RENM", "RenameNodeResponse", "RENR", "rename_node_message", "rename_node_response"},
        {"RevokeAccountAccessRequest", "RevokeAccountAccess", "RevokeAccountAccessMessage", "RAAM", "RevokeAccountAccessResponse", "RAAR", "revoke_account_access_message", "revoke_account_access_response"},
        {"RewriteKeysRequest", "RewriteKeys", "RewriteKeysMessage", "REKM", "RewriteKeysResponse", "REKR", "rewrite_keys_message", "rewrite_keys_response"},
        {"SessionInfoRequest", "SessionInfo", "SessionInfoMessage", "SEIM", "SessionInfoResponse", "SEIR", "session_info_message", "session_info_response"},
        {"SetAccessLevelRequest", "SetAccessLevel", "SetAccessLevelMessage", "SALM", "SetAccessLevelResponse", "SALR", "set_access_level_message", "set_access_level_response"},
        {"SetAccountValueRequest", "SetAccountValue", "SetAccountValueMessage", "SAVM", "SetAccountValueResponse", "SAVR", "set_account_value_message", "set_account_value_response"},
        {"SetDefaultAccountRequest", "SetDefaultAccount", "SetDefaultAccountMessage", "SDAM", "SetDefaultAccountResponse", "SDAR", "set_default_account_message", "set_default_account_response"},
        {"SetInvoicingAddressRequest", "SetInvoicingAddress", "SetInvoicingAddressMessage", "SIAM", "SetInvoicingAddressResponse", "SIAR", "set_invoicing_address_message", "set_invoicing_address_response"},
        {"SetSubscriptionRequest", "SetSubscription", "SetSubscriptionMessage", "SSUM", "SetSubscriptionResponse", "SSUR", "set_subscription_message", "set_subscription_response"},
        {"ShareFilesystemRequest", "ShareFilesystem", "ShareFilesystemMessage", "SHFM", "ShareFilesystemResponse", "SHFR", "share_filesystem_message", "share_filesystem_response"},
        {"SharedDriveInfoRequest", "SharedDriveInfo", "SharedDriveInfoMessage", "SDIM", "SharedDriveInfoResponse", "SDIR", "shared_drive_info_message", "shared_drive_info_response"},
        {"SubscriptionOptionsRequest", "SubscriptionOptions", "SubscriptionOptionsMessage", "SUOM", "SubscriptionOptionsResponse", "SUOR", "subscription_options_message", "subscription_options_response"},
        {"TestRequest", "Test", "TestMessage", "TESM", "TestResponse", "TESR", "test_message", "test_response"},
        {"TransferMetadataRequest", "TransferMetadata", "TransferMetadataMessage", "TRMM", "TransferMetadataResponse", "TRMR", "transfer_metadata_message", "transfer_metadata_response"},
        {"UpdateRequest", "Update", "UpdateMessage", "UPDM", "UpdateResponse", "UPDR", "update_message", "update_response"},
        {"UpdateSecretRequest", "UpdateSecret", "UpdateSecretMessage", "USEM", "UpdateSecretResponse", "USER", "update_secret_message", "update_secret_response"},
        {"UploadRequest", "Upload", "UploadMessage", "UPLM", "UploadResponse", "UPLR", "upload_message", "upload_response"},
        {"UserInfoRequest", "UserInfo", "UserInfoMessage", "USIM", "UserInfoResponse", "USIR", "user_info_message", "user_info_response"},
        {"VerifyEmailRequest", "VerifyEmail", "VerifyEmailMessage", "VEEM", "VerifyEmailResponse", "VEER", "verify_email_message", "verify_email_response"},
    };
    return catalogue;
}

const RequestCatalogueEntry* findRequestByCommandWord(const char* commandWord) {
    if (commandWord == nullptr) {
        return nullptr;
    }
    for (const auto& entry : getRequestCatalogue()) {
        if (std::strcmp(entry.commandWord, commandWord) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace corvane
// clang-format on
