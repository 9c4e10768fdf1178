// Root lists of a new account, secrets, shared drives, filesystem removal and the account
// record.

#include <utility>

#include "cloud/cloud.h"
#include "corvane/node_type.h"
#include "util/log.h"

namespace corvane {

void Cloud::createRootNodeList(const ByteVector& parentKey, EncryptedNodeListCallback completion) {
    createRootNodeStep(std::make_shared<ByteVector>(parentKey), CLOUD_DRIVE_ROOT, std::make_shared<EncryptedNodeList>(),
                       std::move(completion));
}

// Types 0 to 4, then 7.
void Cloud::createRootNodeStep(std::shared_ptr<ByteVector> parentKey, int32_t type,
                               std::shared_ptr<EncryptedNodeList> results, EncryptedNodeListCallback completion) {
    createRootNode(*parentKey, type, [this, parentKey, results, completion](EncryptedNodePointer node) {
        if (!node) {
            CLOG_ERROR("Unable to create root node");
            notify(completion, std::shared_ptr<EncryptedNodeList>());
            return;
        }
        const int32_t next = node->getType() + 1;
        results->push_back(std::move(node));
        if (next >= SHARED_DRIVE_ROOT) {
            notify(completion, results);
            return;
        }
        createRootNodeStep(parentKey, next == PLAIN_ROOT ? CONTACTS_ROOT : next, results, completion);
    });
}

void Cloud::closeSecret(uint64_t id, Callback completion) {
    closeFilesystemRoot(secrets_, id, std::move(completion));
}

void Cloud::deleteSharedDrive(uint64_t id, Callback completion) {
    closeFilesystemRoot(sharedDrives_, id, std::move(completion));
}

// An id that is not held completes at once: its callers wait for the completion.
void Cloud::closeFilesystemRoot(std::map<uint64_t, NodePointer>& roots, uint64_t id, Callback completion) {
    if (roots.count(id) == 0) {
        notify(completion);
        return;
    }
    std::map<uint64_t, NodePointer>* held = &roots;
    removeNode(id, [this, held, id, completion]() {
        removeFilesystemOfNode(id, [this, held, id, completion](bool) {
            held->erase(id);
            notify(completion);
        });
    });
}

void Cloud::removeFilesystemOfNode(uint64_t nodeId, BoolCallback completion) {
    for (const auto& entry : filesystems_) {
        if ((entry.first >> 15) == nodeId) {
            removeFilesystem(entry.first, std::move(completion));
            return;
        }
    }
    notify(completion, false);
}

void Cloud::removeFilesystem(uint64_t filesystemId, BoolCallback completion) {
    filesystems_.erase(filesystemId);
    Database<FilesystemData>* table = filesystemTable();
    if (!table) {
        notify(completion, true);
        return;
    }
    table->remove(filesystemId, [this, completion](bool ok) { notify(completion, ok); });
}

uint8_t Cloud::getAccessLevel() const {
    return accountInfo_ ? accountInfo_->getAccessLevel() : 0;
}

uint8_t Cloud::getAccountCrypto() const {
    return accountInfo_ ? accountInfo_->getCrypto() : 0;
}

void Cloud::updateAccessLevel(uint8_t accessLevel) {
    accountInfo_->setAccessLevel(accessLevel);
}

void Cloud::updateAccountCrypto(uint8_t crypto) {
    accountInfo_->setCrypto(crypto);
}

void Cloud::updateAccountInfo(uint64_t id, int32_t type, const char* name, int64_t creationTime, int64_t storageTotal,
                              int64_t storageUsed, int64_t renewalTime, int32_t period, int32_t amount,
                              int32_t discount, bool credit, bool paymentMethod, const char* plan, const char* nif,
                              const char* referrerCode, int32_t balance, int32_t upgrades, bool reseller,
                              int32_t features, uint8_t crypto, uint8_t accessLevel) {
    MutableAccountInfoData& account = *accountInfo_;
    account.setId(id);
    account.setType(type);
    account.setName(name);
    account.setCreationTime(creationTime);
    account.setStorageTotal(storageTotal);
    account.setStorageUsed(storageUsed);
    account.setRenewalTime(renewalTime);
    account.setPeriod(period);
    account.setAmount(amount);
    account.setDiscount(discount);
    account.setCredit(credit);
    account.setPaymentMethod(paymentMethod);
    account.setPlan(plan);
    account.setNif(nif);
    account.setReferrerCode(referrerCode);
    account.setBalance(balance);
    account.setUpgrades(upgrades);
    account.setReseller(reseller);
    account.setFeatures(static_cast<uint32_t>(features));
    account.setCrypto(crypto);
    account.setAccessLevel(accessLevel);
}

}  // namespace corvane
