#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "corvane/account_info_data.h"
#include "corvane/action_types.h"
#include "corvane/billing_info_data.h"
#include "corvane/error.h"
#include "corvane/node_data.h"
#include "corvane/permission_info_data.h"
#include "corvane/session_info_data.h"
#include "corvane/user_info_data.h"

namespace corvane {

class ActionData;
class TransferData;

using ActionDataList = std::vector<std::shared_ptr<ActionData>>;
using NumberList = std::vector<int64_t>;
using TextList = std::vector<std::string>;
using SubscriptionInfoList = std::vector<std::shared_ptr<SubscriptionInfoData>>;
using SessionInfoList = std::vector<std::shared_ptr<SessionInfoData>>;
using CouponInfoList = std::vector<std::shared_ptr<CouponInfoData>>;
using PermissionInfoList = std::vector<std::shared_ptr<PermissionInfoData>>;

// The record of one action, shared read-only by the caller and every listener; the SDK
// writes it through MutableActionData. Strings are owned copies, null when unset, and stay
// valid while the record lives and the field is not replaced.
class ActionData {
public:
    explicit ActionData(int32_t type = 0);
    virtual ~ActionData();

    ActionData(const ActionData&) = delete;
    ActionData& operator=(const ActionData&) = delete;

    int32_t getId() const { return id_; }
    int32_t getType() const { return type_; }
    // "INVALID" outside 0..105.
    const char* getTypeName() const;
    int32_t getSequenceId() const { return sequenceId_; }

    const char* getEmail() const { return email_; }
    const char* getPassword() const { return password_; }
    const char* getText() const { return text_; }
    const char* getSession() const { return session_; }
    const char* getName() const { return name_; }
    const char* getExtraText() const { return extraText_; }
    const char* getLink() const { return link_; }
    // The same as new strings, empty when unset.
    std::string getEmailString() const { return toString(email_); }
    std::string getTextString() const { return toString(text_); }
    std::string getSessionString() const { return toString(session_); }
    std::string getNameString() const { return toString(name_); }
    std::string getExtraTextString() const { return toString(extraText_); }
    std::string getLinkString() const { return toString(link_); }

    bool isFinished() const { return finished_; }
    bool isProcessed() const { return processed_; }
    Error getError() const { return error_; }
    int32_t getErrorCode() const { return error_.getCode(); }
    // "INVALID" outside 0..21.
    const char* getErrorMessage() const { return error_.getMessage(); }

    int32_t getOption() const { return option_; }
    int32_t getFlags() const { return flags_.load(std::memory_order_relaxed); }
    int32_t getValue() const { return value_; }
    uint64_t getTotalSize() const { return totalSize_.load(std::memory_order_relaxed); }
    uint64_t getCurrentSize() const { return currentSize_.load(std::memory_order_relaxed); }

    uint64_t getAccountHandle() const { return accountHandle_; }
    std::string getAccountHandleText() const { return accountHandleText_; }
    uint64_t getUserHandle() const { return userHandle_; }
    std::string getUserHandleText() const { return userHandleText_; }
    uint64_t getNodeHandle() const { return nodeHandle_; }
    std::string getNodeHandleText() const { return nodeHandleText_; }
    uint64_t getParentHandle() const { return parentHandle_; }
    std::string getParentHandleText() const { return parentHandleText_; }

    std::shared_ptr<NodeData> getNode() const { return node_; }
    std::shared_ptr<TransferData> getTransfer() const;
    std::shared_ptr<PaymentInfoData> getPaymentInfo() const { return paymentInfo_; }
    std::shared_ptr<AccountInfoData> getAccountInfo() const { return accountInfo_; }
    std::shared_ptr<UserInfoData> getUserInfo() const { return userInfo_; }
    std::shared_ptr<InvoicingInfoData> getInvoicingInfo() const { return invoicingInfo_; }
    std::shared_ptr<BalancesInfoData> getBalancesInfo() const { return balancesInfo_; }
    std::shared_ptr<CouponInfoData> getCoupon() const { return coupon_; }

    // List results: the stored list, or a new empty one when unset (never null).
    std::shared_ptr<NodeList> getNodes() const;
    std::shared_ptr<NumberList> getReferralsInfo() const;
    std::shared_ptr<TextList> getReferrals() const;
    std::shared_ptr<ActionDataList> getTransfers() const;
    std::shared_ptr<SubscriptionInfoList> getSubscriptionOptions() const;
    std::shared_ptr<SessionInfoList> getActiveSessions() const;
    std::shared_ptr<SessionInfoList> getInactiveSessions() const;
    std::shared_ptr<CouponInfoList> getCoupons() const;
    std::shared_ptr<PermissionInfoList> getPermissions() const;
    std::shared_ptr<PermissionInfoList> getUsers() const;

    // The bytes of one STREAM read.
    std::vector<uint8_t>& getBuffer() { return buffer_; }
    const std::vector<uint8_t>& getBuffer() const { return buffer_; }

protected:
    static std::string toString(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

    int32_t id_ = 0;
    int32_t type_;
    int32_t sequenceId_ = 0;
    char* email_ = nullptr;
    char* password_ = nullptr;
    char* text_ = nullptr;
    char* session_ = nullptr;
    char* name_ = nullptr;
    char* extraText_ = nullptr;
    char* link_ = nullptr;
    bool finished_ = false;
    bool processed_ = false;
    Error error_;
    int32_t option_ = 0;
    // The transfer status and progress change on the SDK loop while the application reads
    // them in its progress callbacks.
    std::atomic<int32_t> flags_{0};
    int32_t value_ = 0;
    std::atomic<uint64_t> totalSize_{0};
    std::atomic<uint64_t> currentSize_{0};
    uint64_t accountHandle_ = 0;
    std::string accountHandleText_;
    uint64_t userHandle_ = 0;
    std::string userHandleText_;
    std::shared_ptr<NodeData> node_;
    std::shared_ptr<NodeList> nodes_;
    uint64_t nodeHandle_ = 0;
    std::string nodeHandleText_;
    uint64_t parentHandle_ = 0;
    std::string parentHandleText_;
    // Only through the atomic shared-pointer operations: transfers update it from other threads.
    std::shared_ptr<TransferData> transfer_;
    std::vector<uint8_t> buffer_;
    std::shared_ptr<NumberList> referralsInfo_;
    std::shared_ptr<TextList> referrals_;
    std::shared_ptr<ActionDataList> transfers_;
    std::shared_ptr<SubscriptionInfoList> subscriptionOptions_;
    std::shared_ptr<PaymentInfoData> paymentInfo_;
    std::shared_ptr<AccountInfoData> accountInfo_;
    std::shared_ptr<UserInfoData> userInfo_;
    std::shared_ptr<InvoicingInfoData> invoicingInfo_;
    std::shared_ptr<SessionInfoList> activeSessions_;
    std::shared_ptr<SessionInfoList> inactiveSessions_;
    std::shared_ptr<BalancesInfoData> balancesInfo_;
    std::shared_ptr<CouponInfoData> coupon_;
    std::shared_ptr<CouponInfoList> coupons_;
    std::shared_ptr<PermissionInfoList> permissions_;
    std::shared_ptr<PermissionInfoList> users_;
};

}  // namespace corvane
