#include "transfer/transfer_action_processor.h"

#include <ctime>
#include <vector>

#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_transfer_data.h"
#include "transfer/transfer_manager.h"
#include "util/log.h"
#include "util/memory_usage.h"

namespace corvane {

namespace {

constexpr int kMemoryShift = 20;
constexpr uint64_t kProgressLogStep = 104857600;

int64_t nowSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

TransferActionProcessor::TransferActionProcessor(TransferManager* manager,
                                                 std::shared_ptr<MutableActionData> actionData,
                                                 ActionListener* listener)
    : actionData_(std::move(actionData)), listener_(listener), manager_(manager) {
    setStatus(kReady);
}

TransferActionProcessor::~TransferActionProcessor() {
    CLOG_DEBUG("Deleting TransferActionProcessor");
    transfers_.clear();
    // The action data and its current transfer hold each other: the cycle ends here.
    actionData_->setTransfer(nullptr);
    actionData_.reset();
}

void TransferActionProcessor::setStatus(int32_t status) {
    status_ = status;
    actionData_->setFlags(status);
}

void TransferActionProcessor::finish() {
    if (finished_) {
        return;
    }
    // FINISHED first: ending a transfer makes the manager look for work, which must not find
    // more of this action.
    setStatus(kFinished);
    // Transfers that have not started would stay queued for ever behind a finished action.
    std::vector<std::shared_ptr<MutableTransferData>> unstarted;
    for (const auto& transfer : transfers_.items()) {
        const int32_t status = transfer->getStatus();
        if (status == kReady || status == kRetrying || status == kWaiting) {
            unstarted.push_back(transfer);
        }
    }
    for (const auto& transfer : unstarted) {
        endTransfer(transfer);
        --pendingFiles_;
    }
    // Set before the report, which may reach back into the queue.
    finished_ = true;
    manager_->onActionFinish(actionData_);
    deleteIfDone();
}

void TransferActionProcessor::endTransfer(const std::shared_ptr<MutableTransferData>& transfer) {
    transfer->setError(Error(CANCELLED));
    transfer->setStatus(kFinished);
    // A processor that still holds the transfer lets it go without reporting to this owner,
    // which may be gone by then: the transfer's one finish is this one.
    transfer->setOwner(nullptr);
    manager_->onTransferFinish(transfer);
}

void TransferActionProcessor::notifyStopped() {
    const int32_t pending = getPendingAsyncRequests();
    if (pending != 0) {
        CLOG_DEBUG("Pending async requests stopping transfer: {}", pending);
        return;
    }
    stopped_ = true;
    if (finished_) {
        deleteIfDone();
    }
}

void TransferActionProcessor::requestDeletion() {
    if (stopped_ && finished_) {
        delete this;
        return;
    }
    CLOG_DEBUG("Pending async requests before deletion: {}", getPendingAsyncRequests());
    deletionRequested_ = true;
}

bool TransferActionProcessor::deleteIfDone() {
    if (!stopped_ || !finished_) {
        return false;
    }
    transfers_.clear();
    if (deletionRequested_) {
        delete this;
        return true;
    }
    return false;
}

std::shared_ptr<MutableTransferData> TransferActionProcessor::getNextTransfer(int64_t now, int64_t pauseSeconds,
                                                                              bool& pending) {
    return transfers_.next(now, pauseSeconds, pending);
}

void TransferActionProcessor::cancel() {
    CLOG_DEBUG("Cancelling transfer action");
    if (status_ == kFinished) {
        CLOG_WARN("Transfer action already finished");
        return;
    }
    // FINISHED first, so that the manager, told of each ended transfer, starts none of the
    // ones still listed.
    setStatus(kFinished);
    while (auto transfer = transfers_.takeLast()) {
        if (transfer->getStatus() != kFinished) {
            endTransfer(transfer);
            --pendingFiles_;
        }
    }
    CLOG_DEBUG("Setting transfer status to FINISHED");
    actionData_->setError(Error(CANCELLED));
    finish();
}

void TransferActionProcessor::onTransferStart(std::shared_ptr<MutableTransferData> transfer) {
    actionData_->setTransfer(transfer);
}

void TransferActionProcessor::onTransferProgress(std::shared_ptr<MutableTransferData> transfer) {
    const uint64_t transferred = transfer->getTransferred();
    if (transferred != 0 && transferred % kProgressLogStep == 0) {
        CLOG_DEBUG("Transfer progress {} MB. Peak Memory: {} MB Current Memory: {} MB", transferred >> kMemoryShift,
                   getPeakMemoryUsage() >> kMemoryShift, getCurrentMemoryUsage() >> kMemoryShift);
    }
}

void TransferActionProcessor::onTransferError(std::shared_ptr<MutableTransferData> transfer) {
    CLOG_DEBUG("Temporary transfer error. Peak Memory: {} MB Current Memory: {} MB",
               getPeakMemoryUsage() >> kMemoryShift, getCurrentMemoryUsage() >> kMemoryShift);
    if (isFinished()) {
        return;
    }
    setStatus(kRetrying);
    lastErrorTime_ = nowSeconds();
    actionData_->setTransfer(transfer);
    manager_->onActionError(actionData_);
    manager_->checkPendingTransfers(transfer->getType());
}

void TransferActionProcessor::onTransferFinish(std::shared_ptr<MutableTransferData> transfer) {
    CLOG_DEBUG("Transfer finished. Peak Memory: {} MB Current Memory: {} MB", getPeakMemoryUsage() >> kMemoryShift,
               getCurrentMemoryUsage() >> kMemoryShift);
}

SingleTransferAction::SingleTransferAction(TransferManager* manager, std::shared_ptr<MutableActionData> actionData,
                                           ActionListener* listener)
    : TransferActionProcessor(manager, std::move(actionData), listener) {
    const MutableActionData& a = *actionData_;
    direction_ = a.getType() == UPLOAD || a.getType() == UPLOAD_TO_RECORD ? 0 : 1;
    CLOG_DEBUG("[sta] New single transfer action");
    auto transfer = std::make_shared<MutableTransferData>();
    transfer->setType(direction_);
    transfer->setTag(a.getSequenceId());
    if (a.getName() != nullptr) {
        transfer->setFile(a.getName());
    }
    transfer->setSize(a.getSize());
    transfer->setCryptoScheme(static_cast<uint8_t>(a.getCrypto()));
    if (direction_ == 0) {
        transfer->setNodeId(a.getParentHandle());
        transfer->setEndOffset(a.getSize());
        if (CryptoManager* crypto = manager_->getCryptoManager()) {
            if (CryptoBytes key = crypto->generateNodeKey(a.getCrypto(), TransferData::kNodeTypeFile)) {
                transfer->setNodeKey(key->data(), key->size());
            }
        }
    } else {
        transfer->setNodeId(a.getNodeHandle());
        transfer->setStartOffset(a.getOffset());
        transfer->setEndOffset(a.getNumber() != 0 ? a.getNumber() : a.getSize());
        transfer->setCurrentOffset(a.getOffset());
        if (const ByteVector* key = a.getKey()) {
            transfer->setNodeKey(key->data(), key->size());
        }
    }
    if (a.getText() != nullptr) {
        transfer->setLink(a.getText());
    }
    if (const ByteVector* hash = a.getAuthKey()) {
        transfer->setFullHash(hash->data(), hash->size());
    }
    transfer->setAction(actionData_);
    transfer->setOwner(this);
    actionData_->setTransfer(transfer);
    actionData_->setTotalSize(transfer->getSize());
    ++pendingFiles_;
    transfers_.add(std::move(transfer));
    // The manager queues the action first and then looks for work itself.
}

SingleTransferAction::~SingleTransferAction() {
    CLOG_DEBUG("Deleting SingleTransferAction");
}

void SingleTransferAction::onTransferStart(std::shared_ptr<MutableTransferData> transfer) {
    if (isFinished()) {
        return;
    }
    setStatus(kActive);
}

void SingleTransferAction::onTransferProgress(std::shared_ptr<MutableTransferData> transfer) {
    TransferActionProcessor::onTransferProgress(transfer);
    if (isFinished()) {
        return;
    }
    if (actionData_->getTotalSize() == 0 && transfer->getSize() != 0) {
        actionData_->setTotalSize(transfer->getSize());
    }
    actionData_->setCurrentSize(transfer->getTransferred());
    manager_->onActionProgress(actionData_);
}

void SingleTransferAction::onTransferFinish(std::shared_ptr<MutableTransferData> transfer) {
    if (!isFinished()) {
        actionData_->setError(transfer->getError());
    }
    TransferActionProcessor::onTransferFinish(transfer);
    // The transfer's one finish: nothing of it may reach this object again.
    transfer->setOwner(nullptr);
    --pendingFiles_;
    manager_->onTransferFinish(transfer);
    // Not stopped while the transfer was pending, so finish cannot delete the object; the
    // stop may, and is the last step.
    finish();
    notifyStopped();
}

void SingleTransferAction::cancel() {
    TransferActionProcessor::cancel();
    notifyStopped();
}

}  // namespace corvane
