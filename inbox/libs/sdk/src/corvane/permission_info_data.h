#pragma once

#include <cstdint>
#include <string>

namespace corvane {

// One user's permission on the account (table "Permission").
class PermissionInfoData {
public:
    PermissionInfoData() = default;
    virtual ~PermissionInfoData();

    uint64_t getId() const { return id_; }
    std::string getIdText() const { return idText_; }
    std::string getName() const { return name_; }
    int64_t getCreationTime() const { return creationTime_; }
    int32_t getAccessLevel() const { return accessLevel_; }

protected:
    uint64_t id_ = 0;
    std::string idText_;
    std::string name_;
    int64_t creationTime_ = 0;
    int32_t accessLevel_ = 0;
};

}  // namespace corvane
