#include "database/mutable_account_info_data.h"

#include "corvane/handle.h"

namespace corvane {

const char* const MutableAccountInfoData::kTableName = "account";

void MutableAccountInfoData::setId(uint64_t id) {
    id_ = id;
    idText_ = getHandleTextOrEmpty(id);
}

void MutableAccountInfoData::setName(const char* name) {
    name_ = name ? name : "";
}

void MutableAccountInfoData::setPlan(const char* plan) {
    plan_ = plan ? plan : "";
}

void MutableAccountInfoData::setNif(const char* nif) {
    nif_ = nif ? nif : "";
}

void MutableAccountInfoData::setReferrerCode(const char* code) {
    referrerCode_ = code ? code : "";
}

const std::vector<int32_t>& MutableAccountInfoData::indexColumns() {
    static const std::vector<int32_t> kNone;
    return kNone;
}

const RecordColumns<MutableAccountInfoData>& MutableAccountInfoData::columns() {
    using A = MutableAccountInfoData;
    static const RecordColumns<A> kColumns = {
        column::number<A>("id", &A::id_),
        column::number<A>("type", &A::type_),
        column::string<A>("name", &A::name_),
        column::number<A>("ctime", &A::creationTime_),
        column::number<A>("tstorage", &A::storageTotal_),
        column::number<A>("ustorage", &A::storageUsed_),
        column::number<A>("rtime", &A::renewalTime_),
        column::number<A>("period", &A::period_),
        column::number<A>("amount", &A::amount_),
        column::number<A>("discount", &A::discount_),
        column::number<A>("credit", &A::credit_),
        column::number<A>("pmethod", &A::paymentMethod_),
        column::string<A>("plan", &A::plan_),
        column::string<A>("nif", &A::nif_),
        column::number<A>("status", &A::status_),
        column::string<A>("referrercode", &A::referrerCode_),
        column::number<A>("balance", &A::balance_),
        column::number<A>("upgrades", &A::upgrades_),
        column::number<A>("isreseller", &A::reseller_),
        column::number<A>("features", &A::features_),
        column::number<A>("crypto", &A::crypto_),
        column::number<A>("accesslevel", &A::accessLevel_),
    };
    return kColumns;
}

}  // namespace corvane
