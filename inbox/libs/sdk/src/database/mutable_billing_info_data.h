#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "corvane/billing_info_data.h"
#include "database/table_record.h"

namespace corvane {

// Writable billing records. Their tables are described but no database creates them; the
// requests fill the records through the setters. Strings are copied and null empties them;
// flags are kept as 0 or 1.

#define CORVANE_TABLE_RECORD_DESCRIPTION(Class)   \
private:                                          \
    friend class TableRecord<Class>;              \
    static const char* const kTableName;          \
    static const RecordColumns<Class>& columns(); \
    static const std::vector<int32_t>& indexColumns();

class MutablePaymentInfoData : public PaymentInfoData, public TableRecord<MutablePaymentInfoData> {
public:
    void setId(int32_t id) { id_ = id; }
    void setInfo(const char* info);
    void setSignature(const char* signature);
    void setSignatureVersion(const char* version);
    void setUrl(const char* url);

    CORVANE_TABLE_RECORD_DESCRIPTION(MutablePaymentInfoData)
};

class MutablePaymentMethodInfoData : public PaymentMethodInfoData, public TableRecord<MutablePaymentMethodInfoData> {
public:
    void setId(int32_t id) { id_ = id; }
    void setType(int32_t type) { type_ = type; }
    void setName(const char* name);
    void setExpirationTime(int64_t time) { expirationTime_ = time; }
    void setStatus(int32_t status) { status_ = status; }

    CORVANE_TABLE_RECORD_DESCRIPTION(MutablePaymentMethodInfoData)
};

class MutableInvoiceInfoData : public InvoiceInfoData, public TableRecord<MutableInvoiceInfoData> {
public:
    void setId(int32_t id) { id_ = id; }
    void setCreationTime(int64_t time) { creationTime_ = time; }
    void setSubject(const char* subject);
    void setTotal(int32_t total) { total_ = total; }
    void setPaid(bool paid) { paid_ = paid ? 1 : 0; }

    CORVANE_TABLE_RECORD_DESCRIPTION(MutableInvoiceInfoData)
};

class MutableInvoicingInfoData : public InvoicingInfoData, public TableRecord<MutableInvoicingInfoData> {
public:
    void setId(int32_t id) { id_ = id; }
    void setName(const char* name);
    void setAddress(const char* address);
    void setAddress2(const char* address);
    void setNif(const char* nif);
    void setRenewalTime(int64_t time) { renewalTime_ = time; }
    void setCredit(bool credit) { credit_ = credit ? 1 : 0; }
    void setSubscription(std::shared_ptr<SubscriptionInfoData> subscription) {
        subscription_ = std::move(subscription);
    }
    void setPaymentMethod(std::shared_ptr<PaymentMethodInfoData> paymentMethod) {
        paymentMethod_ = std::move(paymentMethod);
    }
    void setInvoices(std::shared_ptr<InvoiceInfoList> invoices) { invoices_ = std::move(invoices); }

    CORVANE_TABLE_RECORD_DESCRIPTION(MutableInvoicingInfoData)
};

class MutableSubscriptionInfoData : public SubscriptionInfoData, public TableRecord<MutableSubscriptionInfoData> {
public:
    void setId(int32_t id) { id_ = id; }
    void setType(int32_t type) { type_ = type; }
    void setName(const char* name);
    void setPeriod(int32_t period) { period_ = period; }
    void setAmount(int32_t amount) { amount_ = amount; }
    void setDiscount(int32_t discount) { discount_ = discount; }
    void setStorage(int64_t storage) { storage_ = storage; }
    void setFeatures(uint32_t features) { features_ = features; }

    CORVANE_TABLE_RECORD_DESCRIPTION(MutableSubscriptionInfoData)
};

class MutableBalanceInfoData : public BalanceInfoData, public TableRecord<MutableBalanceInfoData> {
public:
    void setId(int32_t id) { id_ = id; }
    void setCreationTime(int64_t time) { creationTime_ = time; }
    void setType(int32_t type) { type_ = type; }
    void setSubject(const char* subject);
    void setAmount(int32_t amount) { amount_ = amount; }

    CORVANE_TABLE_RECORD_DESCRIPTION(MutableBalanceInfoData)
};

class MutableBalancesInfoData : public BalancesInfoData, public TableRecord<MutableBalancesInfoData> {
public:
    void setTotal(int32_t total) { total_ = total; }
    void setBalances(std::shared_ptr<BalanceInfoList> balances) { balances_ = std::move(balances); }

    CORVANE_TABLE_RECORD_DESCRIPTION(MutableBalancesInfoData)
};

class MutableCouponInfoData : public CouponInfoData, public TableRecord<MutableCouponInfoData> {
public:
    void setId(int32_t id) { id_ = id; }
    void setCode(const char* code);
    void setType(int32_t type) { type_ = type; }
    void setEmail(const char* email);
    void setCreationTime(int64_t time) { creationTime_ = time; }
    void setUseTime(int64_t time) { useTime_ = time; }

    CORVANE_TABLE_RECORD_DESCRIPTION(MutableCouponInfoData)
};

#undef CORVANE_TABLE_RECORD_DESCRIPTION

}  // namespace corvane
