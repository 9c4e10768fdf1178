#pragma once

#include <cstdint>
#include <vector>

#include "corvane/user_info_data.h"
#include "database/table_record.h"

namespace corvane {

// The writable account holder and its row of the cache table "users".
class MutableUserInfoData : public UserInfoData, public TableRecord<MutableUserInfoData> {
public:
    MutableUserInfoData() = default;
    ~MutableUserInfoData() override = default;

    // The handle and its text form, handle 0 included. Reading a row sets the number only.
    void setId(uint64_t id);
    void setCreationTime(int64_t time) { creationTime_ = time; }
    // Strings are copied; null empties them.
    void setEmail(const char* email);
    void setFirstName(const char* name);
    void setLastName(const char* name);
    void setMultiFactorAuth(uint8_t enabled) { multiFactorAuth_ = enabled; }

private:
    friend class TableRecord<MutableUserInfoData>;
    static const char* const kTableName;
    static const RecordColumns<MutableUserInfoData>& columns();
    static const std::vector<int32_t>& indexColumns();
};

}  // namespace corvane
