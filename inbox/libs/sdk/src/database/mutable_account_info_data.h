#pragma once

#include <cstdint>
#include <vector>

#include "corvane/account_info_data.h"
#include "database/table_record.h"

namespace corvane {

// The writable account record and its row of the cache table "account".
class MutableAccountInfoData : public AccountInfoData, public TableRecord<MutableAccountInfoData> {
public:
    MutableAccountInfoData() = default;
    ~MutableAccountInfoData() override = default;

    // The handle and its text form (empty for 0). Reading a row sets the number only.
    void setId(uint64_t id);
    void setType(int32_t type) { type_ = type; }
    // Strings are copied; null empties them.
    void setName(const char* name);
    void setCreationTime(int64_t time) { creationTime_ = time; }
    void setStorageTotal(int64_t bytes) { storageTotal_ = bytes; }
    void setStorageUsed(int64_t bytes) { storageUsed_ = bytes; }
    void setRenewalTime(int64_t time) { renewalTime_ = time; }
    void setPeriod(int32_t period) { period_ = period; }
    void setAmount(int32_t amount) { amount_ = amount; }
    void setDiscount(int32_t discount) { discount_ = discount; }
    // Flags kept as 0 or 1.
    void setCredit(bool credit) { credit_ = credit ? 1 : 0; }
    void setPaymentMethod(bool paymentMethod) { paymentMethod_ = paymentMethod ? 1 : 0; }
    void setPlan(const char* plan);
    void setNif(const char* nif);
    void setStatus(uint64_t status) { status_ = status; }
    void setReferrerCode(const char* code);
    void setBalance(int32_t balance) { balance_ = balance; }
    void setUpgrades(int32_t upgrades) { upgrades_ = upgrades; }
    void setReseller(bool reseller) { reseller_ = reseller; }
    void setFeatures(uint32_t features) { features_ = features; }
    void setCrypto(uint8_t crypto) { crypto_ = crypto; }
    void setAccessLevel(uint8_t accessLevel) { accessLevel_ = accessLevel; }

private:
    friend class TableRecord<MutableAccountInfoData>;
    static const char* const kTableName;
    static const RecordColumns<MutableAccountInfoData>& columns();
    static const std::vector<int32_t>& indexColumns();
};

}  // namespace corvane
