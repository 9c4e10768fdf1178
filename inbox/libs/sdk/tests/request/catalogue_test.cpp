#include "request/request_catalogue.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <flatbuffers/minireflect.h>
#include <gtest/gtest.h>

#include "message_verifier.h"
#include "util/schema_text.h"

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
#include "download_metadata_message_generated.h"
#include "download_metadata_response_generated.h"
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
#include "upload_metadata_message_generated.h"
#include "upload_metadata_response_generated.h"
#include "upload_response_generated.h"
#include "user_info_message_generated.h"
#include "user_info_response_generated.h"
#include "verify_email_message_generated.h"
#include "verify_email_response_generated.h"

namespace corvane {
namespace {

// A root table as flatc generated it: name, identifier and type table straight from the
// generated code, independent of the catalogue under test.
struct WireTable {
    const char* name;
    const char* identifier;
    const flatbuffers::TypeTable* (*type)();
};

#define CORVANE_WIRE_PAIR(word)                                                                              \
    WireTable{#word "Message", word##MessageIdentifier(), &word##Message::MiniReflectTypeTable}, WireTable { \
#word "Response", word##ResponseIdentifier(), &word##Response::MiniReflectTypeTable                  \
    }

const std::vector<WireTable>& wireTables() {
    static const std::vector<WireTable> tables = {
        CORVANE_WIRE_PAIR(AccountInfo),
        CORVANE_WIRE_PAIR(AddContact),
        CORVANE_WIRE_PAIR(AddMetadata),
        CORVANE_WIRE_PAIR(AddNodes),
        CORVANE_WIRE_PAIR(AddPaymentMethod),
        CORVANE_WIRE_PAIR(BalanceInfo),
        CORVANE_WIRE_PAIR(ChangePassword),
        CORVANE_WIRE_PAIR(CheckJoinLink),
        CORVANE_WIRE_PAIR(CrashReport),
        CORVANE_WIRE_PAIR(CreateAccount),
        CORVANE_WIRE_PAIR(GenerateCoupon),
        CORVANE_WIRE_PAIR(CreateJoinLink),
        CORVANE_WIRE_PAIR(CreateLink),
        CORVANE_WIRE_PAIR(DeleteCoupon),
        CORVANE_WIRE_PAIR(DeleteLink),
        CORVANE_WIRE_PAIR(DeleteNode),
        CORVANE_WIRE_PAIR(Download),
        CORVANE_WIRE_PAIR(ForgotPassword),
        CORVANE_WIRE_PAIR(CouponInfo),
        CORVANE_WIRE_PAIR(GetCoupons),
        CORVANE_WIRE_PAIR(GetEvents),
        CORVANE_WIRE_PAIR(GetInvoice),
        CORVANE_WIRE_PAIR(GetMeetingAccess),
        CORVANE_WIRE_PAIR(GetNodeByFingerprint),
        CORVANE_WIRE_PAIR(GetNodes),
        CORVANE_WIRE_PAIR(GetStatus),
        CORVANE_WIRE_PAIR(InvoicingInfo),
        CORVANE_WIRE_PAIR(JoinAccount),
        CORVANE_WIRE_PAIR(LogEvent),
        CORVANE_WIRE_PAIR(LoginLink),
        CORVANE_WIRE_PAIR(Login),
        CORVANE_WIRE_PAIR(LogoutLink),
        CORVANE_WIRE_PAIR(Logout),
        CORVANE_WIRE_PAIR(Manage2fa),
        CORVANE_WIRE_PAIR(MoveNode),
        CORVANE_WIRE_PAIR(NewSecret),
        CORVANE_WIRE_PAIR(NewSession),
        CORVANE_WIRE_PAIR(NewSharedDrive),
        CORVANE_WIRE_PAIR(OpenSecret),
        CORVANE_WIRE_PAIR(PaymentInfo),
        CORVANE_WIRE_PAIR(RecordInfo),
        CORVANE_WIRE_PAIR(ReferralsInfo),
        CORVANE_WIRE_PAIR(RemovePaymentMethod),
        CORVANE_WIRE_PAIR(RenameNode),
        CORVANE_WIRE_PAIR(RevokeAccountAccess),
        CORVANE_WIRE_PAIR(RewriteKeys),
        CORVANE_WIRE_PAIR(SessionInfo),
        CORVANE_WIRE_PAIR(SetAccessLevel),
        CORVANE_WIRE_PAIR(SetAccountValue),
        CORVANE_WIRE_PAIR(SetDefaultAccount),
        CORVANE_WIRE_PAIR(SetInvoicingAddress),
        CORVANE_WIRE_PAIR(SetSubscription),
        CORVANE_WIRE_PAIR(ShareFilesystem),
        CORVANE_WIRE_PAIR(SharedDriveInfo),
        CORVANE_WIRE_PAIR(SubscriptionOptions),
        CORVANE_WIRE_PAIR(Test),
        CORVANE_WIRE_PAIR(TransferMetadata),
        CORVANE_WIRE_PAIR(Update),
        CORVANE_WIRE_PAIR(UpdateSecret),
        CORVANE_WIRE_PAIR(Upload),
        CORVANE_WIRE_PAIR(UserInfo),
        CORVANE_WIRE_PAIR(VerifyEmail),
    };
    return tables;
}

#undef CORVANE_WIRE_PAIR

const WireTable* findWireTable(const char* name) {
    for (const auto& table : wireTables()) {
        if (std::strcmp(table.name, name) == 0) {
            return &table;
        }
    }
    return nullptr;
}

// Writes every field of the table with a value other than its default (scalars 1, a short
// string, a 3-byte vector, nested tables and two-element vectors of tables filled the same
// way), so that the verifier has each field, with its width and alignment, to check.
flatbuffers::uoffset_t fillTable(flatbuffers::FlatBufferBuilder& builder, const flatbuffers::TypeTable* type) {
    std::vector<flatbuffers::uoffset_t> offsets(type->num_elems, 0);
    // Strings, vectors and nested tables first: no table may be open while they are built.
    for (size_t i = 0; i < type->num_elems; ++i) {
        const auto& field = type->type_codes[i];
        const bool isTable = field.base_type == flatbuffers::ET_SEQUENCE;
        const flatbuffers::TypeTable* nested = isTable ? type->type_refs[field.sequence_ref]() : nullptr;
        if (isTable && nested->st != flatbuffers::ST_TABLE) {
            ADD_FAILURE() << type->names[i] << ": only tables are expected in the wire schemas";
            continue;
        }
        if (field.is_repeating) {
            if (isTable) {
                std::vector<flatbuffers::Offset<flatbuffers::Table>> elements;
                elements.emplace_back(fillTable(builder, nested));
                elements.emplace_back(fillTable(builder, nested));
                offsets[i] = builder.CreateVector(elements).o;
            } else if (field.base_type == flatbuffers::ET_UCHAR) {
                const uint8_t bytes[] = {1, 2, 3};
                offsets[i] = builder.CreateVector(bytes, sizeof(bytes)).o;
            } else {
                ADD_FAILURE() << type->names[i] << ": only byte and table vectors are expected";
            }
        } else if (field.base_type == flatbuffers::ET_STRING) {
            offsets[i] = builder.CreateString("text").o;
        } else if (isTable) {
            offsets[i] = fillTable(builder, nested);
        }
    }
    const auto start = builder.StartTable();
    for (size_t i = 0; i < type->num_elems; ++i) {
        const auto slot = flatbuffers::FieldIndexToOffset(static_cast<flatbuffers::voffset_t>(i));
        if (offsets[i] != 0) {
            builder.AddOffset(slot, flatbuffers::Offset<void>(offsets[i]));
            continue;
        }
        switch (type->type_codes[i].base_type) {
            case flatbuffers::ET_BOOL:
            case flatbuffers::ET_CHAR:
            case flatbuffers::ET_UCHAR:
                builder.AddElement<uint8_t>(slot, 1);
                break;
            case flatbuffers::ET_SHORT:
            case flatbuffers::ET_USHORT:
                builder.AddElement<uint16_t>(slot, 1);
                break;
            case flatbuffers::ET_INT:
            case flatbuffers::ET_UINT:
                builder.AddElement<uint32_t>(slot, 1);
                break;
            case flatbuffers::ET_LONG:
            case flatbuffers::ET_ULONG:
                builder.AddElement<uint64_t>(slot, 1);
                break;
            default:
                ADD_FAILURE() << type->names[i] << ": unexpected field type";
        }
    }
    return builder.EndTable(start);
}

// A message as the SDK sends it: every field written, minimum alignment 8, finished
// size-prefixed with the identifier.
std::string buildFullMessage(const WireTable& table) {
    flatbuffers::FlatBufferBuilder builder(128);
    builder.Align(8);
    const flatbuffers::Offset<flatbuffers::Table> root(fillTable(builder, table.type()));
    builder.FinishSizePrefixed(root, table.identifier);
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

uint32_t littleEndian32(const std::string& bytes, size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool isLocal(const RequestCatalogueEntry& entry) {
    return entry.messageTable == nullptr;
}

// The catalogue as the service knows it, typed here by hand rather than taken from the
// generated code: a typo made in a schema and again in the catalogue must not pass. A null
// identifier marks a local request.
struct ServiceRow {
    const char* className;
    const char* commandWord;
    const char* messageIdentifier;
    const char* responseIdentifier;
};

const std::vector<ServiceRow>& serviceRows() {
    static const std::vector<ServiceRow> rows = {
        {"AccountInfoRequest", "AccountInfo", "ACIM", "ACIR"},
        {"AddContactRequest", "AddContact", "ADCM", "ADCR"},
        {"AddMetadataRequest", "AddMetadata", "ADMM", "ADMR"},
        {"AddNodesRequest", "AddNodes", "ADNM", "ADNR"},
        {"AddPaymentMethodRequest", "AddPaymentMethod", "ADPM", "ADPR"},
        {"BalancesInfoRequest", "BalanceInfo", "BAIM", "BAIR"},
        {"ChangePasswordRequest", "ChangePassword", "CHPM", "CHPR"},
        {"CheckJoinLinkRequest", "CheckJoinLink", "CHJM", "CHJR"},
        {"CrashReportRequest", "CrashReport", "CRRM", "CRRR"},
        {"CreateAccountRequest", "CreateAccount", "CRAM", "CRAR"},
        {"CreateCouponRequest", "GenerateCoupon", "CRCM", "CRCR"},
        {"CreateJoinLinkRequest", "CreateJoinLink", "CJLM", "CJLR"},
        {"CreateLinkRequest", "CreateLink", "CRLM", "CRLR"},
        {"DeleteCouponRequest", "DeleteCoupon", "DECM", "DECR"},
        {"DeleteLinkRequest", "DeleteLink", "DELM", "DELR"},
        {"DeleteNodeRequest", "DeleteNode", "DENM", "DENR"},
        {"DestroyRequest", "Destroy", nullptr, nullptr},
        {"DownloadRequest", "Download", "DOWM", "DOWR"},
        {"ForgotPasswordRequest", "ForgotPassword", "FOPM", "FOPR"},
        {"GetCouponInfoRequest", "CouponInfo", "CPIM", "CPIR"},
        {"GetCouponsRequest", "GetCoupons", "GECM", "GECM"},
        {"GetEventsRequest", "GetEvents", "GEEM", "GEER"},
        {"GetInvoiceRequest", "GetInvoice", "GINM", "GINR"},
        {"GetMeetingAccessRequest", "GetMeetingAccess", "GMAM", "GMAR"},
        {"GetNodeByFingerprintRequest", "GetNodeByFingerprint", "GNFM", "GNFR"},
        {"GetNodesRequest", "GetNodes", "GENM", "GENR"},
        {"GetStatusRequest", "GetStatus", "GESM", "GESR"},
        {"InvoicingInfoRequest", "InvoicingInfo", "INIM", "INIR"},
        {"JoinAccountRequest", "JoinAccount", "JOAM", "JOAR"},
        {"LogEventRequest", "LogEvent", "LOEM", "LOER"},
        {"LoginLinkRequest", "LoginLink", "LILM", "LILR"},
        {"LoginRequest", "Login", "LOIM", "LOIR"},
        {"LogoutLinkRequest", "LogoutLink", "LOLM", "LOLR"},
        {"LogoutRequest", "Logout", "LOOM", "LOOR"},
        {"Manage2faRequest", "Manage2fa", "MA2M", "MA2R"},
        {"MoveNodeRequest", "MoveNode", "MONM", "MONR"},
        {"NewSecretRequest", "NewSecret", "NSEM", "NSER"},
        {"NewSessionRequest", "NewSession", "NESM", "NESR"},
        {"NewSharedDriveRequest", "NewSharedDrive", "NSDM", "NSDR"},
        {"OfflineLogoutRequest", "OfflineLogout", nullptr, nullptr},
        {"OpenSecretRequest", "OpenSecret", "OSEM", "OSER"},
        {"PaymentInfoRequest", "PaymentInfo", "PAIM", "PAIR"},
        {"RecordInfoRequest", "RecordInfo", "REIM", "REIR"},
        {"ReferralsInfoRequest", "ReferralsInfo", "RFIM", "RFIR"},
        {"RemovePaymentMethodRequest", "RemovePaymentMethod", "RPMM", "RPMR"},
        {"RenameNodeRequest", "RenameNode", "RENM", "RENR"},
        {"RevokeAccountAccessRequest", "RevokeAccountAccess", "RAAM", "RAAR"},
        {"RewriteKeysRequest", "RewriteKeys", "REKM", "REKR"},
        {"SessionInfoRequest", "SessionInfo", "SEIM", "SEIR"},
        {"SetAccessLevelRequest", "SetAccessLevel", "SALM", "SALR"},
        {"SetAccountValueRequest", "SetAccountValue", "SAVM", "SAVR"},
        {"SetDefaultAccountRequest", "SetDefaultAccount", "SDAM", "SDAR"},
        {"SetInvoicingAddressRequest", "SetInvoicingAddress", "SIAM", "SIAR"},
        {"SetSubscriptionRequest", "SetSubscription", "SSUM", "SSUR"},
        {"ShareFilesystemRequest", "ShareFilesystem", "SHFM", "SHFR"},
        {"SharedDriveInfoRequest", "SharedDriveInfo", "SDIM", "SDIR"},
        {"SubscriptionOptionsRequest", "SubscriptionOptions", "SUOM", "SUOR"},
        {"TestRequest", "Test", "TESM", "TESR"},
        {"TransferMetadataRequest", "TransferMetadata", "TRMM", "TRMR"},
        {"UpdateRequest", "Update", "UPDM", "UPDR"},
        {"UpdateSecretRequest", "UpdateSecret", "USEM", "USER"},
        {"UploadRequest", "Upload", "UPLM", "UPLR"},
        {"UserInfoRequest", "UserInfo", "USIM", "USIR"},
        {"VerifyEmailRequest", "VerifyEmail", "VEEM", "VEER"},
    };
    return rows;
}

std::string textOf(const char* text) {
    return text == nullptr ? std::string("(none)") : std::string(text);
}

// Row for row, in the catalogue's own order (sorted by class name), and nothing besides.
TEST(RequestCatalogue, EveryRowIsTheServicesRow) {
    const std::vector<RequestCatalogueEntry>& catalogue = getRequestCatalogue();
    const std::vector<ServiceRow>& rows = serviceRows();
    ASSERT_EQ(catalogue.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const ServiceRow& row = rows[i];
        const RequestCatalogueEntry& entry = catalogue[i];
        SCOPED_TRACE(row.className);
        EXPECT_EQ(textOf(entry.className), row.className);
        EXPECT_EQ(textOf(entry.commandWord), row.commandWord);
        EXPECT_EQ(textOf(entry.messageIdentifier), textOf(row.messageIdentifier));
        EXPECT_EQ(textOf(entry.responseIdentifier), textOf(row.responseIdentifier));
        if (row.messageIdentifier != nullptr) {
            // The schemas say the same: what the generated code finishes and checks with.
            const WireTable* message = findWireTable(entry.messageTable);
            const WireTable* response = findWireTable(entry.responseTable);
            ASSERT_NE(message, nullptr);
            ASSERT_NE(response, nullptr);
            EXPECT_STREQ(message->identifier, row.messageIdentifier);
            EXPECT_STREQ(response->identifier, row.responseIdentifier);
        }
    }
}

// Schema texts of the API that no request class sends or reads: identifier, no field.
TEST(RequestCatalogue, MetadataSchemaTextsCarryOnlyTheirIdentifiers) {
    struct Case {
        const char* stem;
        const char* table;
        const char* identifier;
        const char* generatedIdentifier;
    };
    const std::vector<Case> cases = {
        {"upload_metadata_message", "UploadMetadataMessage", "UPMM", UploadMetadataMessageIdentifier()},
        {"upload_metadata_response", "UploadMetadataResponse", "UPMR", UploadMetadataResponseIdentifier()},
        {"download_metadata_message", "DownloadMetadataMessage", "DOMM", DownloadMetadataMessageIdentifier()},
        {"download_metadata_response", "DownloadMetadataResponse", "DOMR", DownloadMetadataResponseIdentifier()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        EXPECT_STREQ(c.generatedIdentifier, c.identifier);
        const char* text = getSchemaText(c.stem);
        ASSERT_NE(text, nullptr);
        const std::string schema(text);
        const std::string opening = std::string("table ") + c.table + " {";
        const size_t open = schema.find(opening);
        ASSERT_NE(open, std::string::npos);
        const size_t close = schema.find('}', open);
        ASSERT_NE(close, std::string::npos);
        EXPECT_EQ(schema.substr(open + opening.size(), close - open - opening.size()).find_first_not_of(" \n"),
                  std::string::npos)
            << "fields in " << c.table;
        EXPECT_NE(schema.find(std::string("root_type ") + c.table + ";"), std::string::npos);
        EXPECT_NE(schema.find(std::string("file_identifier \"") + c.identifier + "\";"), std::string::npos);
        EXPECT_EQ(findRequestByCommandWord(c.table), nullptr);
    }
}

TEST(RequestCatalogue, EveryTableCarriesTheIdentifierOfItsRow) {
    size_t networkRows = 0;
    for (const auto& entry : getRequestCatalogue()) {
        SCOPED_TRACE(entry.className);
        if (isLocal(entry)) {
            EXPECT_EQ(entry.messageIdentifier, nullptr);
            EXPECT_EQ(entry.responseTable, nullptr);
            continue;
        }
        ++networkRows;
        const WireTable* message = findWireTable(entry.messageTable);
        const WireTable* response = findWireTable(entry.responseTable);
        ASSERT_NE(message, nullptr) << entry.messageTable;
        ASSERT_NE(response, nullptr) << entry.responseTable;
        EXPECT_STREQ(message->identifier, entry.messageIdentifier);
        EXPECT_STREQ(response->identifier, entry.responseIdentifier);
        EXPECT_EQ(std::string(entry.messageTable), std::string(entry.commandWord) + "Message");
        EXPECT_EQ(std::string(entry.responseTable), std::string(entry.commandWord) + "Response");
    }
    // Each generated pair belongs to exactly one row.
    EXPECT_EQ(2 * networkRows, wireTables().size());
}

TEST(RequestCatalogue, KeepsTheServiceNamesThatDifferFromTheClasses) {
    struct Case {
        const char* className;
        const char* commandWord;
        const char* responseIdentifier;
    };
    const std::vector<Case> cases = {
        {"BalancesInfoRequest", "BalanceInfo", "BAIR"}, {"CreateCouponRequest", "GenerateCoupon", "CRCR"},
        {"GetCouponInfoRequest", "CouponInfo", "CPIR"}, {"GetCouponsRequest", "GetCoupons", "GECM"},
        {"DestroyRequest", "Destroy", nullptr},         {"OfflineLogoutRequest", "OfflineLogout", nullptr},
    };
    for (const auto& c : cases) {
        const RequestCatalogueEntry* entry = findRequestByCommandWord(c.commandWord);
        ASSERT_NE(entry, nullptr) << c.commandWord;
        EXPECT_STREQ(entry->className, c.className);
        if (c.responseIdentifier == nullptr) {
            EXPECT_EQ(entry->responseIdentifier, nullptr) << c.className;
        } else {
            EXPECT_STREQ(entry->responseIdentifier, c.responseIdentifier) << c.className;
        }
    }
    EXPECT_EQ(findRequestByCommandWord("BalancesInfo"), nullptr);
    EXPECT_EQ(findRequestByCommandWord(nullptr), nullptr);
}

// The stand-in tells messages apart by identifier alone.
TEST(RequestCatalogue, MessageIdentifiersAreUnique) {
    std::set<std::string> seen;
    for (const auto& entry : getRequestCatalogue()) {
        if (!isLocal(entry)) {
            EXPECT_TRUE(seen.insert(entry.messageIdentifier).second) << entry.messageIdentifier;
        }
    }
}

TEST(RequestCatalogue, AFullMessageOfEachTablePassesTheStandInVerifier) {
    for (const auto& entry : getRequestCatalogue()) {
        if (isLocal(entry)) {
            continue;
        }
        SCOPED_TRACE(entry.messageTable);
        const WireTable* table = findWireTable(entry.messageTable);
        ASSERT_NE(table, nullptr);
        const std::string message = buildFullMessage(*table);
        ASSERT_GE(message.size(), 12u);
        EXPECT_EQ(message.size() % 8, 0u);
        EXPECT_EQ(littleEndian32(message, 0), message.size() - 4);
        EXPECT_EQ(message.substr(8, 4), entry.messageIdentifier);

        const service::MessageKind* kind = service::findMessageKind(entry.messageIdentifier);
        ASSERT_NE(kind, nullptr);
        EXPECT_STREQ(kind->responseIdentifier, entry.responseIdentifier);
        EXPECT_TRUE(service::verifyMessage(*kind, message));
        // A root offset that points past the end, or a foreign identifier, is refused.
        std::string astray = message;
        const auto past = static_cast<uint32_t>(message.size());
        astray.replace(
            4, 4, std::string{char(past & 0xFF), char(past >> 8 & 0xFF), char(past >> 16 & 0xFF), char(past >> 24)});
        EXPECT_FALSE(service::verifyMessage(*kind, astray));
        std::string foreign = message;
        foreign.replace(8, 4, "XXXM");
        EXPECT_FALSE(service::verifyMessage(*kind, foreign));
    }
}

TEST(RequestCatalogue, EachSchemaTextNamesItsRootTypeAndIdentifier) {
    for (const auto& entry : getRequestCatalogue()) {
        if (isLocal(entry)) {
            continue;
        }
        const struct {
            const char* stem;
            const char* table;
            const char* identifier;
        } sides[] = {{entry.messageSchema, entry.messageTable, entry.messageIdentifier},
                     {entry.responseSchema, entry.responseTable, entry.responseIdentifier}};
        for (const auto& side : sides) {
            SCOPED_TRACE(side.stem);
            const char* text = getSchemaText(side.stem);
            ASSERT_NE(text, nullptr);
            const std::string schema(text);
            EXPECT_NE(schema.find(std::string("root_type ") + side.table + ";"), std::string::npos);
            EXPECT_NE(schema.find(std::string("file_identifier \"") + side.identifier + "\";"), std::string::npos);
            EXPECT_NE(schema.find("namespace corvane;"), std::string::npos);
            // Include lines, when there are any, come first.
            if (schema.find("include ") != std::string::npos) {
                EXPECT_EQ(schema.rfind("include \"", 0), 0u);
            }
        }
    }
}

}  // namespace
}  // namespace corvane
