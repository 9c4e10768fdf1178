#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// Billing records handed to the application in action results. Read-only here; the
// writable subclasses fill them. Every number starts at 0 and every text empty.

// One entry of the account's balance (table "balanceInfo").
class BalanceInfoData {
public:
    BalanceInfoData() = default;
    virtual ~BalanceInfoData();

    int32_t getId() const { return id_; }
    int64_t getCreationTime() const { return creationTime_; }
    int32_t getType() const { return type_; }
    std::string getSubject() const { return subject_; }
    int32_t getAmount() const { return amount_; }

protected:
    int32_t id_ = 0;
    int64_t creationTime_ = 0;
    int32_t type_ = 0;
    std::string subject_;
    int32_t amount_ = 0;
};

using BalanceInfoList = std::vector<std::shared_ptr<BalanceInfoData>>;

// The account's balance with its entries (table "balancesInfo").
class BalancesInfoData {
public:
    BalancesInfoData() = default;
    virtual ~BalancesInfoData();

    int32_t getTotal() const { return total_; }
    // The entries; empty when none were set.
    std::shared_ptr<BalanceInfoList> getBalances() const;

protected:
    int32_t total_ = 0;
    std::shared_ptr<BalanceInfoList> balances_;
};

// A coupon (table "Coupon").
class CouponInfoData {
public:
    CouponInfoData() = default;
    virtual ~CouponInfoData();

    int32_t getId() const { return id_; }
    std::string getCode() const { return code_; }
    int32_t getType() const { return type_; }
    std::string getEmail() const { return email_; }
    int64_t getCreationTime() const { return creationTime_; }
    int64_t getUseTime() const { return useTime_; }

protected:
    int32_t id_ = 0;
    std::string code_;
    int32_t type_ = 0;
    std::string email_;
    int64_t creationTime_ = 0;
    int64_t useTime_ = 0;
};

// The data the payment page needs (table "payment").
class PaymentInfoData {
public:
    PaymentInfoData() = default;
    virtual ~PaymentInfoData();

    int32_t getId() const { return id_; }
    std::string getInfo() const { return info_; }
    std::string getSignature() const { return signature_; }
    std::string getSignatureVersion() const { return signatureVersion_; }
    std::string getUrl() const { return url_; }

protected:
    int32_t id_ = 0;
    std::string info_;
    std::string signature_;
    std::string signatureVersion_;
    std::string url_;
};

// A subscription option or the current subscription (table "subscription").
class SubscriptionInfoData {
public:
    SubscriptionInfoData() = default;
    virtual ~SubscriptionInfoData();

    int32_t getId() const { return id_; }
    int32_t getType() const { return type_; }
    std::string getName() const { return name_; }
    int32_t getPeriod() const { return period_; }
    int32_t getAmount() const { return amount_; }
    int32_t getDiscount() const { return discount_; }
    int64_t getStorage() const { return storage_; }
    uint32_t getFeatures() const { return features_; }

protected:
    int32_t id_ = 0;
    int32_t type_ = 0;
    std::string name_;
    int32_t period_ = 0;
    int32_t amount_ = 0;
    int32_t discount_ = 0;
    int64_t storage_ = 0;
    uint32_t features_ = 0;
};

// The stored payment method (table "paymentMethod").
class PaymentMethodInfoData {
public:
    PaymentMethodInfoData() = default;
    virtual ~PaymentMethodInfoData();

    int32_t getId() const { return id_; }
    int32_t getType() const { return type_; }
    std::string getName() const { return name_; }
    int64_t getExpirationTime() const { return expirationTime_; }
    int32_t getStatus() const { return status_; }

protected:
    int32_t id_ = 0;
    int32_t type_ = 0;
    std::string name_;
    int64_t expirationTime_ = 0;
    int32_t status_ = 0;
};

// One invoice (table "invoice").
class InvoiceInfoData {
public:
    InvoiceInfoData() = default;
    virtual ~InvoiceInfoData();

    int32_t getId() const { return id_; }
    int64_t getCreationTime() const { return creationTime_; }
    std::string getSubject() const { return subject_; }
    int32_t getTotal() const { return total_; }
    int32_t getPaid() const { return paid_; }
    bool isPaid() const { return paid_ != 0; }

protected:
    int32_t id_ = 0;
    int64_t creationTime_ = 0;
    std::string subject_;
    int32_t total_ = 0;
    int32_t paid_ = 0;
};

using InvoiceInfoList = std::vector<std::shared_ptr<InvoiceInfoData>>;

// The invoicing details with the subscription, payment method and invoices (table
// "invoicing").
class InvoicingInfoData {
public:
    InvoicingInfoData() = default;
    virtual ~InvoicingInfoData();

    int32_t getId() const { return id_; }
    std::string getName() const { return name_; }
    std::string getAddress() const { return address_; }
    std::string getAddress2() const { return address2_; }
    std::string getNif() const { return nif_; }
    int64_t getRenewalTime() const { return renewalTime_; }
    int32_t getCredit() const { return credit_; }
    bool hasCredit() const { return credit_ != 0; }
    std::shared_ptr<SubscriptionInfoData> getSubscription() const { return subscription_; }
    std::shared_ptr<PaymentMethodInfoData> getPaymentMethod() const { return paymentMethod_; }
    // The invoices; empty when none were set.
    std::shared_ptr<InvoiceInfoList> getInvoices() const;

protected:
    int32_t id_ = 0;
    std::string name_;
    std::string address_;
    std::string address2_;
    std::string nif_;
    int64_t renewalTime_ = 0;
    int32_t credit_ = 0;
    std::shared_ptr<SubscriptionInfoData> subscription_;
    std::shared_ptr<PaymentMethodInfoData> paymentMethod_;
    std::shared_ptr<InvoiceInfoList> invoices_;
};

}  // namespace corvane
