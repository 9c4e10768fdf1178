#include "database/mutable_session_info_data.h"

#include "corvane/handle.h"

namespace corvane {

const char* const MutableSessionInfoData::kTableName = "session";

void MutableSessionInfoData::setId(uint64_t id) {
    id_ = id;
    handle_ = getSessionHandleText(id);
}

void MutableSessionInfoData::setIp(const char* ip) {
    ip_ = ip ? ip : "";
}

void MutableSessionInfoData::setUserAgent(const char* userAgent) {
    userAgent_ = userAgent ? userAgent : "";
}

const std::vector<int32_t>& MutableSessionInfoData::indexColumns() {
    static const std::vector<int32_t> kNone;
    return kNone;
}

const RecordColumns<MutableSessionInfoData>& MutableSessionInfoData::columns() {
    using S = MutableSessionInfoData;
    static const RecordColumns<S> kColumns = {
        column::number<S>("id", &S::id_),
        column::string<S>("handle", &S::handle_),
        column::number<S>("ctime", &S::creationTime_),
        column::number<S>("ltime", &S::lastTime_),
        column::string<S>("ip", &S::ip_),
        column::string<S>("userAgent", &S::userAgent_),
        column::number<S>("active", &S::active_),
    };
    return kColumns;
}

}  // namespace corvane
