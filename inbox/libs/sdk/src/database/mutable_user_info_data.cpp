#include "database/mutable_user_info_data.h"

#include "corvane/handle.h"

namespace corvane {

const char* const MutableUserInfoData::kTableName = "users";

void MutableUserInfoData::setId(uint64_t id) {
    id_ = id;
    idText_ = getHandleText(id);
}

void MutableUserInfoData::setEmail(const char* email) {
    email_ = email ? email : "";
}

void MutableUserInfoData::setFirstName(const char* name) {
    firstName_ = name ? name : "";
}

void MutableUserInfoData::setLastName(const char* name) {
    lastName_ = name ? name : "";
}

const std::vector<int32_t>& MutableUserInfoData::indexColumns() {
    static const std::vector<int32_t> kIndexes = {2};  // email
    return kIndexes;
}

const RecordColumns<MutableUserInfoData>& MutableUserInfoData::columns() {
    using U = MutableUserInfoData;
    static const RecordColumns<U> kColumns = {
        column::number<U>("id", &U::id_),
        column::number<U>("ctime", &U::creationTime_),
        column::string<U>("email", &U::email_),
        column::string<U>("firstname", &U::firstName_),
        column::string<U>("lastname", &U::lastName_),
        column::number<U>(
            "mfauth", [](const U& u) { return static_cast<int64_t>(u.multiFactorAuth_); },
            [](U& u, int64_t v) { u.multiFactorAuth_ = v != 0 ? 1 : 0; }),
    };
    return kColumns;
}

}  // namespace corvane
