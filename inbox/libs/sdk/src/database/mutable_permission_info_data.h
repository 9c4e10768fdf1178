#pragma once

#include <cstdint>
#include <vector>

#include "corvane/permission_info_data.h"
#include "database/table_record.h"

namespace corvane {

// The writable permission record and its row of the table "Permission".
class MutablePermissionInfoData : public PermissionInfoData, public TableRecord<MutablePermissionInfoData> {
public:
    MutablePermissionInfoData() = default;
    ~MutablePermissionInfoData() override = default;

    // The handle and its text form (empty for 0). Reading a row sets the number only.
    void setId(uint64_t id);
    // Copied; null empties it.
    void setName(const char* name);
    void setCreationTime(int64_t time) { creationTime_ = time; }
    void setAccessLevel(int32_t accessLevel) { accessLevel_ = accessLevel; }

private:
    friend class TableRecord<MutablePermissionInfoData>;
    static const char* const kTableName;
    static const RecordColumns<MutablePermissionInfoData>& columns();
    static const std::vector<int32_t>& indexColumns();
};

}  // namespace corvane
