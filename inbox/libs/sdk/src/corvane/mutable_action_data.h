#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "corvane/action_data.h"

namespace corvane {

class ActionListener;

// The writable action record. Besides the fields readers see it carries sixteen owned byte
// vectors (keys, attributes, metadata) and a few values read only inside the SDK. Written
// by one thread at a time; only the transfer field is atomic.
class MutableActionData : public ActionData {
public:
    explicit MutableActionData(int32_t type);
    ~MutableActionData() override;

    void setId(int32_t id) { id_ = id; }
    void setSequenceId(int32_t sequenceId) { sequenceId_ = sequenceId; }
    void setOption(int32_t option) { option_ = option; }
    void setFlags(int32_t flags) { flags_.store(flags, std::memory_order_relaxed); }
    void setValue(int32_t value) { value_ = value; }
    void setTotalSize(uint64_t totalSize) { totalSize_.store(totalSize, std::memory_order_relaxed); }
    void setCurrentSize(uint64_t currentSize) { currentSize_.store(currentSize, std::memory_order_relaxed); }

    // Private copies; null clears the field.
    void setEmail(const char* email);
    void setPassword(const char* password);
    void setText(const char* text);
    void setSession(const char* session);
    void setName(const char* name);
    void setExtraText(const char* extraText);
    void setLink(const char* link);

    // Store the handle and its 8-character text.
    void setAccountHandle(uint64_t handle);
    void setUserHandle(uint64_t handle);
    void setNodeHandle(uint64_t handle);
    void setParentHandle(uint64_t handle);
    // Store the text and the handle it decodes to.
    void setAccountHandleText(std::string text);
    void setNodeHandleText(std::string text);

    void setError(Error error) { error_ = error; }
    void setProcessed() { processed_ = true; }
    void setFinished() { finished_ = true; }

    void setNode(std::shared_ptr<NodeData> node) { node_ = std::move(node); }
    void setNodes(std::shared_ptr<NodeList> nodes) { nodes_ = std::move(nodes); }
    void setReferralsInfo(std::shared_ptr<NumberList> list) { referralsInfo_ = std::move(list); }
    void setReferrals(std::shared_ptr<TextList> list) { referrals_ = std::move(list); }
    void setTransfers(std::shared_ptr<ActionDataList> transfers) { transfers_ = std::move(transfers); }
    void setSubscriptionOptions(std::shared_ptr<SubscriptionInfoList> options) {
        subscriptionOptions_ = std::move(options);
    }
    void setPaymentInfo(std::shared_ptr<PaymentInfoData> info) { paymentInfo_ = std::move(info); }
    void setAccountInfo(std::shared_ptr<AccountInfoData> info) { accountInfo_ = std::move(info); }
    void setUserInfo(std::shared_ptr<UserInfoData> info) { userInfo_ = std::move(info); }
    void setInvoicingInfo(std::shared_ptr<InvoicingInfoData> info) { invoicingInfo_ = std::move(info); }
    void setActiveSessions(std::shared_ptr<SessionInfoList> sessions) { activeSessions_ = std::move(sessions); }
    void setInactiveSessions(std::shared_ptr<SessionInfoList> sessions) { inactiveSessions_ = std::move(sessions); }
    void setBalancesInfo(std::shared_ptr<BalancesInfoData> info) { balancesInfo_ = std::move(info); }
    void setCoupon(std::shared_ptr<CouponInfoData> coupon) { coupon_ = std::move(coupon); }
    void setCoupons(std::shared_ptr<CouponInfoList> coupons) { coupons_ = std::move(coupons); }
    void setPermissions(std::shared_ptr<PermissionInfoList> permissions) { permissions_ = std::move(permissions); }
    void setUsers(std::shared_ptr<PermissionInfoList> users) { users_ = std::move(users); }
    // Atomic store; transfers read it from other threads.
    void setTransfer(std::shared_ptr<TransferData> transfer);

    // Stores a copy of the bytes (null clears); the caller keeps its vector.
    void setKey(const ByteVector* key);
    // Take ownership of a heap vector (null clears); the previous vector is freed.
    void setLinkAuth(ByteVector* bytes) { linkAuth_.reset(bytes); }
    void setUserKey(ByteVector* bytes) { userKey_.reset(bytes); }
    void setAccountKey(ByteVector* bytes) { accountKey_.reset(bytes); }
    void setAttributes(ByteVector* bytes) { attributes_.reset(bytes); }
    void setUserPrivateKey(ByteVector* bytes) { userPrivateKey_.reset(bytes); }
    void setExtraKey(ByteVector* bytes) { extraKey_.reset(bytes); }
    void setAccountFingerprintKey(ByteVector* bytes) { accountFingerprintKey_.reset(bytes); }
    void setPrivateKey(ByteVector* bytes) { privateKey_.reset(bytes); }
    void setAccountPrivateKey(ByteVector* bytes) { accountPrivateKey_.reset(bytes); }
    void setFingerprintKey(ByteVector* bytes) { fingerprintKey_.reset(bytes); }
    void setPublicKey(ByteVector* bytes) { publicKey_.reset(bytes); }
    void setAccountPublicKey(ByteVector* bytes) { accountPublicKey_.reset(bytes); }
    void setPasswordKey(ByteVector* bytes) { passwordKey_.reset(bytes); }
    void setAuthKey(ByteVector* bytes) { authKey_.reset(bytes); }
    void setMetadata(ByteVector* bytes) { metadata_.reset(bytes); }

    // The vectors stay the record's; null when unset.
    ByteVector* getKey() const { return key_.get(); }
    ByteVector* getLinkAuth() const { return linkAuth_.get(); }
    ByteVector* getUserKey() const { return userKey_.get(); }
    ByteVector* getAccountKey() const { return accountKey_.get(); }
    ByteVector* getAttributes() const { return attributes_.get(); }
    ByteVector* getUserPrivateKey() const { return userPrivateKey_.get(); }
    ByteVector* getExtraKey() const { return extraKey_.get(); }
    ByteVector* getAccountFingerprintKey() const { return accountFingerprintKey_.get(); }
    ByteVector* getPrivateKey() const { return privateKey_.get(); }
    ByteVector* getAccountPrivateKey() const { return accountPrivateKey_.get(); }
    ByteVector* getFingerprintKey() const { return fingerprintKey_.get(); }
    ByteVector* getPublicKey() const { return publicKey_.get(); }
    ByteVector* getAccountPublicKey() const { return accountPublicKey_.get(); }
    ByteVector* getPasswordKey() const { return passwordKey_.get(); }
    ByteVector* getAuthKey() const { return authKey_.get(); }
    ByteVector* getMetadata() const { return metadata_.get(); }

    // Start position of a transfer or ranged read.
    void setOffset(uint64_t offset) { offset_ = offset; }
    uint64_t getOffset() const { return offset_; }
    void setNumber(uint64_t number) { number_ = number; }
    uint64_t getNumber() const { return number_; }
    void setCrypto(uint32_t crypto) { crypto_ = crypto; }
    uint32_t getCrypto() const { return crypto_; }
    void setSize(uint64_t size) { size_ = size; }
    uint64_t getSize() const { return size_; }

    // The requesting processor's listener, to which the transfer and metadata managers relay
    // progress, errors and the end. Not owned.
    void setTransferListener(ActionListener* listener) { transferListener_ = listener; }
    ActionListener* getTransferListener() const { return transferListener_; }

    // A second listener told when a BACKUP action finishes. Not owned.
    void setExtraListener(ActionListener* listener) { extraListener_ = listener; }
    ActionListener* getExtraListener() const { return extraListener_; }

private:
    std::unique_ptr<ByteVector> key_;
    std::unique_ptr<ByteVector> linkAuth_;
    std::unique_ptr<ByteVector> userKey_;
    std::unique_ptr<ByteVector> accountKey_;
    std::unique_ptr<ByteVector> attributes_;
    std::unique_ptr<ByteVector> userPrivateKey_;
    std::unique_ptr<ByteVector> extraKey_;
    std::unique_ptr<ByteVector> accountFingerprintKey_;
    std::unique_ptr<ByteVector> privateKey_;
    std::unique_ptr<ByteVector> accountPrivateKey_;
    std::unique_ptr<ByteVector> fingerprintKey_;
    std::unique_ptr<ByteVector> publicKey_;
    std::unique_ptr<ByteVector> accountPublicKey_;
    std::unique_ptr<ByteVector> passwordKey_;
    std::unique_ptr<ByteVector> authKey_;
    std::unique_ptr<ByteVector> metadata_;
    uint64_t offset_ = 0;
    uint64_t number_ = 0;
    uint32_t crypto_ = 0;
    uint64_t size_ = 0;
    ActionListener* transferListener_ = nullptr;
    ActionListener* extraListener_ = nullptr;
};

}  // namespace corvane
