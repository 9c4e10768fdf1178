#include "database/mutable_permission_info_data.h"

#include "corvane/handle.h"

namespace corvane {

const char* const MutablePermissionInfoData::kTableName = "Permission";

void MutablePermissionInfoData::setId(uint64_t id) {
    id_ = id;
    idText_ = getHandleTextOrEmpty(id);
}

void MutablePermissionInfoData::setName(const char* name) {
    name_ = name ? name : "";
}

const std::vector<int32_t>& MutablePermissionInfoData::indexColumns() {
    static const std::vector<int32_t> kNone;
    return kNone;
}

const RecordColumns<MutablePermissionInfoData>& MutablePermissionInfoData::columns() {
    using P = MutablePermissionInfoData;
    static const RecordColumns<P> kColumns = {
        column::number<P>("id", &P::id_),
        column::string<P>("name", &P::name_),
        column::number<P>("ctime", &P::creationTime_),
        column::number<P>("accesslevel", &P::accessLevel_),
    };
    return kColumns;
}

}  // namespace corvane
