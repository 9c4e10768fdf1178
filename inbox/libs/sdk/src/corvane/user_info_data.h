#pragma once

#include <cstdint>
#include <string>

namespace corvane {

// The account holder (cache table "users").
class UserInfoData {
public:
    UserInfoData() = default;
    virtual ~UserInfoData();

    uint64_t getId() const { return id_; }
    std::string getIdText() const { return idText_; }
    int64_t getCreationTime() const { return creationTime_; }
    std::string getEmail() const { return email_; }
    std::string getFirstName() const { return firstName_; }
    std::string getLastName() const { return lastName_; }
    uint8_t getMultiFactorAuth() const { return multiFactorAuth_; }

protected:
    uint64_t id_ = 0;
    std::string idText_;
    int64_t creationTime_ = 0;
    std::string email_;
    std::string firstName_;
    std::string lastName_;
    uint8_t multiFactorAuth_ = 0;
};

}  // namespace corvane
