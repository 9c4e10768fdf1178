#pragma once

#include <cstdint>
#include <string>

namespace corvane {

// One session of the account (table "session"); its handle is the 11-character text of all
// 8 bytes of the id.
class SessionInfoData {
public:
    SessionInfoData() = default;
    virtual ~SessionInfoData();

    uint64_t getId() const { return id_; }
    std::string getHandle() const { return handle_; }
    int64_t getCreationTime() const { return creationTime_; }
    int64_t getLastTime() const { return lastTime_; }
    std::string getIp() const { return ip_; }
    std::string getUserAgent() const { return userAgent_; }
    int32_t getActive() const { return active_; }
    bool isActive() const { return active_ != 0; }

protected:
    uint64_t id_ = 0;
    std::string handle_;
    int64_t creationTime_ = 0;
    int64_t lastTime_ = 0;
    std::string ip_;
    std::string userAgent_;
    int32_t active_ = 0;
};

}  // namespace corvane
