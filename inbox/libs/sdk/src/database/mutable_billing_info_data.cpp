#include "database/mutable_billing_info_data.h"

namespace corvane {

namespace {

void assign(std::string* field, const char* value) {
    *field = value ? value : "";
}

const std::vector<int32_t>& noIndexes() {
    static const std::vector<int32_t> kNone;
    return kNone;
}

}  // namespace

// ---- payment ----

const char* const MutablePaymentInfoData::kTableName = "payment";
void MutablePaymentInfoData::setInfo(const char* info) {
    assign(&info_, info);
}
void MutablePaymentInfoData::setSignature(const char* signature) {
    assign(&signature_, signature);
}
void MutablePaymentInfoData::setSignatureVersion(const char* version) {
    assign(&signatureVersion_, version);
}
void MutablePaymentInfoData::setUrl(const char* url) {
    assign(&url_, url);
}
const std::vector<int32_t>& MutablePaymentInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutablePaymentInfoData>& MutablePaymentInfoData::columns() {
    using R = MutablePaymentInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("id", &R::id_),
        column::string<R>("info", &R::info_),
        column::string<R>("signature", &R::signature_),
        column::string<R>("signatureVersion", &R::signatureVersion_),
        column::string<R>("url", &R::url_),
    };
    return kColumns;
}

// ---- paymentMethod ----

const char* const MutablePaymentMethodInfoData::kTableName = "paymentMethod";
void MutablePaymentMethodInfoData::setName(const char* name) {
    assign(&name_, name);
}
const std::vector<int32_t>& MutablePaymentMethodInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutablePaymentMethodInfoData>& MutablePaymentMethodInfoData::columns() {
    using R = MutablePaymentMethodInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("id", &R::id_),         column::number<R>("type", &R::type_),
        column::string<R>("name", &R::name_),     column::number<R>("etime", &R::expirationTime_),
        column::number<R>("status", &R::status_),
    };
    return kColumns;
}

// ---- invoice ----

const char* const MutableInvoiceInfoData::kTableName = "invoice";
void MutableInvoiceInfoData::setSubject(const char* subject) {
    assign(&subject_, subject);
}
const std::vector<int32_t>& MutableInvoiceInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutableInvoiceInfoData>& MutableInvoiceInfoData::columns() {
    using R = MutableInvoiceInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("id", &R::id_),           column::number<R>("ctime", &R::creationTime_),
        column::string<R>("subject", &R::subject_), column::number<R>("total", &R::total_),
        column::number<R>("paid", &R::paid_),
    };
    return kColumns;
}

// ---- invoicing ----

const char* const MutableInvoicingInfoData::kTableName = "invoicing";
void MutableInvoicingInfoData::setName(const char* name) {
    assign(&name_, name);
}
void MutableInvoicingInfoData::setAddress(const char* address) {
    assign(&address_, address);
}
void MutableInvoicingInfoData::setAddress2(const char* address) {
    assign(&address2_, address);
}
void MutableInvoicingInfoData::setNif(const char* nif) {
    assign(&nif_, nif);
}
const std::vector<int32_t>& MutableInvoicingInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutableInvoicingInfoData>& MutableInvoicingInfoData::columns() {
    using R = MutableInvoicingInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("id", &R::id_),           column::string<R>("name", &R::name_),
        column::string<R>("address", &R::address_), column::string<R>("address2", &R::address2_),
        column::string<R>("nif", &R::nif_),         column::number<R>("rtime", &R::renewalTime_),
        column::number<R>("credit", &R::credit_),
    };
    return kColumns;
}

// ---- subscription ----

const char* const MutableSubscriptionInfoData::kTableName = "subscription";
void MutableSubscriptionInfoData::setName(const char* name) {
    assign(&name_, name);
}
const std::vector<int32_t>& MutableSubscriptionInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutableSubscriptionInfoData>& MutableSubscriptionInfoData::columns() {
    using R = MutableSubscriptionInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("id", &R::id_),           column::number<R>("type", &R::type_),
        column::string<R>("name", &R::name_),       column::number<R>("period", &R::period_),
        column::number<R>("amount", &R::amount_),   column::number<R>("discount", &R::discount_),
        column::number<R>("storage", &R::storage_), column::number<R>("features", &R::features_),
    };
    return kColumns;
}

// ---- balanceInfo ----

const char* const MutableBalanceInfoData::kTableName = "balanceInfo";
void MutableBalanceInfoData::setSubject(const char* subject) {
    assign(&subject_, subject);
}
const std::vector<int32_t>& MutableBalanceInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutableBalanceInfoData>& MutableBalanceInfoData::columns() {
    using R = MutableBalanceInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("id", &R::id_),         column::number<R>("ctime", &R::creationTime_),
        column::number<R>("type", &R::type_),     column::string<R>("subject", &R::subject_),
        column::number<R>("amount", &R::amount_),
    };
    return kColumns;
}

// ---- balancesInfo ----

const char* const MutableBalancesInfoData::kTableName = "balancesInfo";
const std::vector<int32_t>& MutableBalancesInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutableBalancesInfoData>& MutableBalancesInfoData::columns() {
    using R = MutableBalancesInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("total", &R::total_),
    };
    return kColumns;
}

// ---- Coupon ----

const char* const MutableCouponInfoData::kTableName = "Coupon";
void MutableCouponInfoData::setCode(const char* code) {
    assign(&code_, code);
}
void MutableCouponInfoData::setEmail(const char* email) {
    assign(&email_, email);
}
const std::vector<int32_t>& MutableCouponInfoData::indexColumns() {
    return noIndexes();
}

const RecordColumns<MutableCouponInfoData>& MutableCouponInfoData::columns() {
    using R = MutableCouponInfoData;
    static const RecordColumns<R> kColumns = {
        column::number<R>("id", &R::id_),
        column::string<R>("code", &R::code_),
        column::number<R>("type", &R::type_),
        column::string<R>("email", &R::email_),
        column::number<R>("ctime", &R::creationTime_),
        column::number<R>("utime", &R::useTime_),
    };
    return kColumns;
}

}  // namespace corvane
