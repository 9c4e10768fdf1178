#pragma once

#include <cstdint>
#include <string>

namespace corvane {

// The account record (cache table "account"). Read-only here; the writable subclass sets
// the fields.
class AccountInfoData {
public:
    AccountInfoData() = default;
    virtual ~AccountInfoData();

    uint64_t getId() const { return id_; }
    std::string getIdText() const { return idText_; }
    int32_t getType() const { return type_; }
    std::string getName() const { return name_; }
    int64_t getCreationTime() const { return creationTime_; }
    int64_t getStorageTotal() const { return storageTotal_; }
    int64_t getStorageUsed() const { return storageUsed_; }
    int64_t getRenewalTime() const { return renewalTime_; }
    int32_t getPeriod() const { return period_; }
    int32_t getAmount() const { return amount_; }
    int32_t getDiscount() const { return discount_; }
    int32_t getCredit() const { return credit_; }
    bool hasCredit() const { return credit_ != 0; }
    int32_t getPaymentMethod() const { return paymentMethod_; }
    bool hasPaymentMethod() const { return paymentMethod_ != 0; }
    std::string getPlan() const { return plan_; }
    std::string getNif() const { return nif_; }
    uint64_t getStatus() const { return status_; }
    std::string getReferrerCode() const { return referrerCode_; }
    int32_t getBalance() const { return balance_; }
    int32_t getUpgrades() const { return upgrades_; }
    bool isReseller() const { return reseller_; }
    uint32_t getFeatures() const { return features_; }
    uint8_t getCrypto() const { return crypto_; }
    uint8_t getAccessLevel() const { return accessLevel_; }

protected:
    uint64_t id_ = 0;
    std::string idText_;
    int32_t type_ = 0;
    std::string name_;
    int64_t creationTime_ = 0;
    int64_t storageTotal_ = 0;
    int64_t storageUsed_ = 0;
    int64_t renewalTime_ = 0;
    int32_t period_ = 0;
    int32_t amount_ = 0;
    int32_t discount_ = 0;
    int32_t credit_ = 0;
    int32_t paymentMethod_ = 0;
    std::string plan_;
    std::string nif_;
    uint64_t status_ = 0;
    std::string referrerCode_;
    int32_t balance_ = 0;
    int32_t upgrades_ = 0;
    bool reseller_ = false;
    uint32_t features_ = 0;
    uint8_t crypto_ = 0;
    uint8_t accessLevel_ = 0;
};

}  // namespace corvane
