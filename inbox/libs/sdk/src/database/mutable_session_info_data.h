#pragma once

#include <cstdint>
#include <vector>

#include "corvane/session_info_data.h"
#include "database/table_record.h"

namespace corvane {

// The writable session record and its row of the table "session".
class MutableSessionInfoData : public SessionInfoData, public TableRecord<MutableSessionInfoData> {
public:
    MutableSessionInfoData() = default;
    ~MutableSessionInfoData() override = default;

    // The id and its 11-character handle text (all 8 bytes), id 0 included.
    void setId(uint64_t id);
    void setCreationTime(int64_t time) { creationTime_ = time; }
    void setLastTime(int64_t time) { lastTime_ = time; }
    // Strings are copied; null empties them.
    void setIp(const char* ip);
    void setUserAgent(const char* userAgent);
    void setActive(bool active) { active_ = active ? 1 : 0; }

private:
    friend class TableRecord<MutableSessionInfoData>;
    static const char* const kTableName;
    static const RecordColumns<MutableSessionInfoData>& columns();
    static const std::vector<int32_t>& indexColumns();
};

}  // namespace corvane
