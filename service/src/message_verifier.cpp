#include "message_verifier.h"

#include <cstring>

#include <flatbuffers/flatbuffers.h>
#include <flatbuffers/minireflect.h>

#include "account_info_message_generated.h"
#include "account_info_response_generated.h"
#include "add_contact_message_generated.h"
#include "add_contact_response_generated.h"
#include "add_metadata_message_generated.h"
#include "add_metadata_response_generated.h"
#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "add_payment_method_message_generated.h"
#include "add_payment_method_response_generated.h"
#include "balance_info_message_generated.h"
#include "balance_info_response_generated.h"
#include "change_password_message_generated.h"
#include "change_password_response_generated.h"
#include "check_join_link_message_generated.h"
#include "check_join_link_response_generated.h"
#include "coupon_info_message_generated.h"
#include "coupon_info_response_generated.h"
#include "crash_report_message_generated.h"
#include "crash_report_response_generated.h"
#include "create_account_message_generated.h"
#include "create_account_response_generated.h"
#include "create_join_link_message_generated.h"
#include "create_join_link_response_generated.h"
#include "create_link_message_generated.h"
#include "create_link_response_generated.h"
#include "delete_coupon_message_generated.h"
#include "delete_coupon_response_generated.h"
#include "delete_link_message_generated.h"
#include "delete_link_response_generated.h"
#include "delete_node_message_generated.h"
#include "delete_node_response_generated.h"
#include "download_message_generated.h"
#include "download_response_generated.h"
#include "forgot_password_message_generated.h"
#include "forgot_password_response_generated.h"
#include "generate_coupon_message_generated.h"
#include "generate_coupon_response_generated.h"
#include "get_coupons_message_generated.h"
#include "get_coupons_response_generated.h"
#include "get_events_message_generated.h"
#include "get_events_response_generated.h"
#include "get_invoice_message_generated.h"
#include "get_invoice_response_generated.h"
#include "get_meeting_access_message_generated.h"
#include "get_meeting_access_response_generated.h"
#include "get_node_by_fingerprint_message_generated.h"
#include "get_node_by_fingerprint_response_generated.h"
#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"
#include "get_status_message_generated.h"
#include "get_status_response_generated.h"
#include "invoicing_info_message_generated.h"
#include "invoicing_info_response_generated.h"
#include "join_account_message_generated.h"
#include "join_account_response_generated.h"
#include "log_event_message_generated.h"
#include "log_event_response_generated.h"
#include "login_link_message_generated.h"
#include "login_link_response_generated.h"
#include "login_message_generated.h"
#include "login_response_generated.h"
#include "logout_link_message_generated.h"
#include "logout_link_response_generated.h"
#include "logout_message_generated.h"
#include "logout_response_generated.h"
#include "manage2fa_message_generated.h"
#include "manage2fa_response_generated.h"
#include "move_node_message_generated.h"
#include "move_node_response_generated.h"
#include "new_secret_message_generated.h"
#include "new_secret_response_generated.h"
#include "new_session_message_generated.h"
#include "new_session_response_generated.h"
#include "new_shared_drive_message_generated.h"
#include "new_shared_drive_response_generated.h"
#include "open_secret_message_generated.h"
#include "open_secret_response_generated.h"
#include "payment_info_message_generated.h"
#include "payment_info_response_generated.h"
#include "record_info_message_generated.h"
#include "record_info_response_generated.h"
#include "referrals_info_message_generated.h"
#include "referrals_info_response_generated.h"
#include "remove_payment_method_message_generated.h"
#include "remove_payment_method_response_generated.h"
#include "rename_node_message_generated.h"
#include "rename_node_response_generated.h"
#include "revoke_account_access_message_generated.h"
#include "revoke_account_access_response_generated.h"
#include "rewrite_keys_message_generated.h"
#include "rewrite_keys_response_generated.h"
#include "session_info_message_generated.h"
#include "session_info_response_generated.h"
#include "set_access_level_message_generated.h"
#include "set_access_level_response_generated.h"
#include "set_account_value_message_generated.h"
#include "set_account_value_response_generated.h"
#include "set_default_account_message_generated.h"
#include "set_default_account_response_generated.h"
#include "set_invoicing_address_message_generated.h"
#include "set_invoicing_address_response_generated.h"
#include "set_subscription_message_generated.h"
#include "set_subscription_response_generated.h"
#include "share_filesystem_message_generated.h"
#include "share_filesystem_response_generated.h"
#include "shared_drive_info_message_generated.h"
#include "shared_drive_info_response_generated.h"
#include "subscription_options_message_generated.h"
#include "subscription_options_response_generated.h"
#include "test_message_generated.h"
#include "test_response_generated.h"
#include "transfer_metadata_message_generated.h"
#include "transfer_metadata_response_generated.h"
#include "update_message_generated.h"
#include "update_response_generated.h"
#include "update_secret_message_generated.h"
#include "update_secret_response_generated.h"
#include "upload_message_generated.h"
#include "upload_response_generated.h"
#include "user_info_message_generated.h"
#include "user_info_response_generated.h"
#include "verify_email_message_generated.h"
#include "verify_email_response_generated.h"

namespace corvane::service {

namespace {

// The limits every verifier of the system runs with.
constexpr flatbuffers::uoffset_t kMaxDepth = 64;
constexpr flatbuffers::uoffset_t kMaxTables = 1000000;

// The whole message is verified, size prefix included: a size-prefixed builder aligns its
// fields from the start of the prefix, so a verifier started past the prefix would take
// every 8-byte field for misaligned.
template <class Message>
bool verifySizePrefixed(const uint8_t* message, size_t size, const char* identifier) {
    flatbuffers::Verifier verifier(message, size, kMaxDepth, kMaxTables);
    return verifier.VerifySizePrefixedBuffer<Message>(identifier);
}

template <class Message, class Response>
MessageKind kind(const char* messageIdentifier, const char* responseIdentifier) {
    return MessageKind{messageIdentifier, responseIdentifier, &verifySizePrefixed<Message>,
                       &Response::MiniReflectTypeTable};
}

}  // namespace

#define CORVANE_MESSAGE_KIND(word) \
    kind<word##Message, word##Response>(word##MessageIdentifier(), word##ResponseIdentifier())

const std::vector<MessageKind>& messageKinds() {
    static const std::vector<MessageKind> kinds = {
        CORVANE_MESSAGE_KIND(AccountInfo),
        CORVANE_MESSAGE_KIND(AddContact),
        CORVANE_MESSAGE_KIND(AddMetadata),
        CORVANE_MESSAGE_KIND(AddNodes),
        CORVANE_MESSAGE_KIND(AddPaymentMethod),
        CORVANE_MESSAGE_KIND(BalanceInfo),
        CORVANE_MESSAGE_KIND(ChangePassword),
        CORVANE_MESSAGE_KIND(CheckJoinLink),
        CORVANE_MESSAGE_KIND(CrashReport),
        CORVANE_MESSAGE_KIND(CreateAccount),
        CORVANE_MESSAGE_KIND(GenerateCoupon),
        CORVANE_MESSAGE_KIND(CreateJoinLink),
        CORVANE_MESSAGE_KIND(CreateLink),
        CORVANE_MESSAGE_KIND(DeleteCoupon),
        CORVANE_MESSAGE_KIND(DeleteLink),
        CORVANE_MESSAGE_KIND(DeleteNode),
        CORVANE_MESSAGE_KIND(Download),
        CORVANE_MESSAGE_KIND(ForgotPassword),
        CORVANE_MESSAGE_KIND(CouponInfo),
        CORVANE_MESSAGE_KIND(GetCoupons),
        CORVANE_MESSAGE_KIND(GetEvents),
        CORVANE_MESSAGE_KIND(GetInvoice),
        CORVANE_MESSAGE_KIND(GetMeetingAccess),
        CORVANE_MESSAGE_KIND(GetNodeByFingerprint),
        CORVANE_MESSAGE_KIND(GetNodes),
        CORVANE_MESSAGE_KIND(GetStatus),
        CORVANE_MESSAGE_KIND(InvoicingInfo),
        CORVANE_MESSAGE_KIND(JoinAccount),
        CORVANE_MESSAGE_KIND(LogEvent),
        CORVANE_MESSAGE_KIND(LoginLink),
        CORVANE_MESSAGE_KIND(Login),
        CORVANE_MESSAGE_KIND(LogoutLink),
        CORVANE_MESSAGE_KIND(Logout),
        CORVANE_MESSAGE_KIND(Manage2fa),
        CORVANE_MESSAGE_KIND(MoveNode),
        CORVANE_MESSAGE_KIND(NewSecret),
        CORVANE_MESSAGE_KIND(NewSession),
        CORVANE_MESSAGE_KIND(NewSharedDrive),
        CORVANE_MESSAGE_KIND(OpenSecret),
        CORVANE_MESSAGE_KIND(PaymentInfo),
        CORVANE_MESSAGE_KIND(RecordInfo),
        CORVANE_MESSAGE_KIND(ReferralsInfo),
        CORVANE_MESSAGE_KIND(RemovePaymentMethod),
        CORVANE_MESSAGE_KIND(RenameNode),
        CORVANE_MESSAGE_KIND(RevokeAccountAccess),
        CORVANE_MESSAGE_KIND(RewriteKeys),
        CORVANE_MESSAGE_KIND(SessionInfo),
        CORVANE_MESSAGE_KIND(SetAccessLevel),
        CORVANE_MESSAGE_KIND(SetAccountValue),
        CORVANE_MESSAGE_KIND(SetDefaultAccount),
        CORVANE_MESSAGE_KIND(SetInvoicingAddress),
        CORVANE_MESSAGE_KIND(SetSubscription),
        CORVANE_MESSAGE_KIND(ShareFilesystem),
        CORVANE_MESSAGE_KIND(SharedDriveInfo),
        CORVANE_MESSAGE_KIND(SubscriptionOptions),
        CORVANE_MESSAGE_KIND(Test),
        CORVANE_MESSAGE_KIND(TransferMetadata),
        CORVANE_MESSAGE_KIND(Update),
        CORVANE_MESSAGE_KIND(UpdateSecret),
        CORVANE_MESSAGE_KIND(Upload),
        CORVANE_MESSAGE_KIND(UserInfo),
        CORVANE_MESSAGE_KIND(VerifyEmail),
    };
    return kinds;
}

#undef CORVANE_MESSAGE_KIND

const MessageKind* findMessageKind(const std::string& identifier) {
    for (const auto& kind : messageKinds()) {
        if (identifier == kind.messageIdentifier) return &kind;
    }
    return nullptr;
}

bool verifyMessage(const MessageKind& kind, const std::string& message) {
    return kind.verify(reinterpret_cast<const uint8_t*>(message.data()), message.size(), kind.messageIdentifier);
}

std::string errorResponse(const MessageKind& kind, int32_t code) {
    const flatbuffers::TypeTable* type = kind.responseType();
    flatbuffers::FlatBufferBuilder builder(64);
    const auto start = builder.StartTable();
    // The error field is not always the first one (the secret and shared-drive responses put
    // it third), so it is found by name.
    for (size_t i = 0; i < type->num_elems; ++i) {
        const auto& field = type->type_codes[i];
        if (field.base_type == flatbuffers::ET_INT && !field.is_repeating && type->names &&
            std::strcmp(type->names[i], "error") == 0) {
            builder.AddElement<int32_t>(flatbuffers::FieldIndexToOffset(static_cast<flatbuffers::voffset_t>(i)), code,
                                        0);
        }
    }
    const flatbuffers::Offset<flatbuffers::Table> root(builder.EndTable(start));
    builder.Finish(root, kind.responseIdentifier);
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

}  // namespace corvane::service
