#include "transfer/transfer_manager.h"

#include "api/api_manager.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_data.h"
#include "database/mutable_transfer_data.h"
#include "transfer/download_transfer_processor.h"
#include "transfer/transfer_action_processor.h"
#include "transfer/upload_transfer_processor.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr size_t kProcessorCaps[2] = {10, 10};
constexpr int32_t kFileType = 20;

const char* directionWord(int32_t direction, bool plural) {
    if (direction == 0) {
        return plural ? "uploads" : "upload";
    }
    return plural ? "downloads" : "download";
}

bool isDirection(int32_t direction) {
    return direction == 0 || direction == 1;
}

}  // namespace

TransferManager::TransferManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                                 FilesystemModule* filesystemModule, ApiManager* apiManager)
    : apiManager_(apiManager),
      database_(database),
      cryptoManager_(cryptoManager),
      filesystemModule_(filesystemModule),
      httpModule_(httpModule),
      recheckTimer_(apiManager->getLoop()->getInvalidTimer()) {
    CLOG_DEBUG("[trman] Initializing transfer manager");
    createProcessor(0);
    createProcessor(1);
    CLOG_DEBUG("[trman] Transfer manager ready");
}

TransferManager::~TransferManager() {
    CLOG_DEBUG("[trman] Deleting transfer manager");
    queue_.cancelAll(0);
    queue_.cancelAll(1);
    for (auto& processors : processors_) {
        for (TransferProcessor* processor : processors) {
            delete processor;
        }
        processors.clear();
    }
    queue_.clearFinished(0);
    queue_.clearFinished(1);
    removeRecheckTimer();
}

TransferProcessor* TransferManager::createProcessor(int32_t direction) {
    if (processors_[direction].size() >= kProcessorCaps[direction]) {
        return nullptr;
    }
    TransferProcessor* processor = nullptr;
    if (direction == 0) {
        processor = new UploadTransferProcessor(httpModule_, cryptoManager_, filesystemModule_, this, apiManager_);
    } else {
        processor = new DownloadTransferProcessor(httpModule_, cryptoManager_, filesystemModule_, this, apiManager_);
    }
    processors_[direction].insert(processor);
    return processor;
}

void TransferManager::setRetryPolicy(const TransferRetryPolicy& policy) {
    for (auto& processors : processors_) {
        for (TransferProcessor* processor : processors) {
            processor->setRetryPolicy(policy);
        }
    }
    queue_.setRetryPause(policy.delaySeconds);
}

void TransferManager::refuse(const std::shared_ptr<MutableActionData>& actionData, ActionListener* listener,
                             const char* line) {
    CLOG_WARN("{}", line);
    actionData->setError(Error(UNKNOWN_ERROR));
    if (listener != nullptr) {
        listener->onActionFinish(actionData);
    }
}

void TransferManager::processTransferAction(std::shared_ptr<MutableActionData> actionData, ActionListener* listener) {
    CLOG_DEBUG("[trman] New transfer action received");
    const int32_t type = actionData->getType();
    const bool file = actionData->getOption() == kFileType;
    const bool link = actionData->getLink() != nullptr;
    const std::shared_ptr<NodeData> node = actionData->getNode();
    const int32_t nodeType = node ? node->getType() : 0;

    TransferActionProcessor* action = nullptr;
    switch (type) {
        case UPLOAD:
        case UPLOAD_TO_RECORD:
            if (!file) {
                refuse(actionData, listener, "[trman] Folder uploads are not available yet");
                return;
            }
            action = new SingleTransferAction(this, actionData, listener);
            break;
        case DOWNLOAD:
            if (link ? (actionData->getOption() == 21 || actionData->getOption() == 45) : nodeType != kFileType) {
                refuse(actionData, listener, "[trman] Folder downloads are not available yet");
                return;
            }
            action = new SingleTransferAction(this, actionData, listener);
            break;
        case DOWNLOAD_ZIP:
            refuse(actionData, listener, "[trman] ZIP downloads are not available yet");
            return;
        case BACKUP:
            // A single-file backup has no destination folder or key of its own yet: uploading it
            // as a plain file would put it in the wrong place.
            refuse(actionData, listener,
                   file ? "[trman] Single-file backups are not supported"
                        : "[trman] Folder backups are not available yet");
            return;
        default:
            refuse(actionData, listener, "[trman] Not a transfer action");
            return;
    }

    actionData->setTransferListener(listener);
    queue_.addAction(action);
    onActionProgress(actionData);
    checkPendingTransfers(action->getDirection());
}

TransferProcessor* TransferManager::getIdleProcessor(int32_t direction) const {
    for (TransferProcessor* processor : processors_[direction]) {
        if (processor->isIdle()) {
            return processor;
        }
    }
    return nullptr;
}

void TransferManager::checkPendingTransfers(int32_t direction) {
    if (!isDirection(direction)) {
        return;
    }
    bool pending = false;
    std::shared_ptr<MutableTransferData> transfer = queue_.getNextTransfer(direction, pending);
    if (transfer) {
        TransferProcessor* processor = getIdleProcessor(direction);
        if (processor == nullptr) {
            CLOG_DEBUG("[trman] No available processors for transfer");
            return;
        }
        CLOG_DEBUG("[trman] Activating {}", directionWord(direction, false));
        transfer->setProcessor(processor);
        processor->setTransfer(transfer);
        return;
    }
    if (pending) {
        CLOG_DEBUG("[trman] All {} have the retrying state", directionWord(direction, true));
        armRecheckTimer(direction);
        return;
    }
    CLOG_DEBUG("[trman] No pending {}", directionWord(direction, true));
    // A recheck armed for work that was cancelled since would only wake the loop for nothing.
    if (hasRecheckTimer() && !hasPendingWork(1 - direction)) {
        removeRecheckTimer();
    }
}

bool TransferManager::hasPendingWork(int32_t direction) {
    bool pending = false;
    return queue_.getNextTransfer(direction, pending) != nullptr || pending;
}

void TransferManager::cancelAction(int32_t tag) {
    queue_.cancelAction(tag);
}

void TransferManager::cancelAll(int32_t direction) {
    queue_.cancelAll(direction);
}

void TransferManager::clearFinishedAction(int32_t tag) {
    queue_.clearFinishedAction(tag);
}

void TransferManager::clearFinished(int32_t direction) {
    queue_.clearFinished(direction);
}

std::shared_ptr<std::vector<std::shared_ptr<ActionData>>> TransferManager::getActions(int32_t direction,
                                                                                      int32_t filter) const {
    return queue_.getActions(direction, filter);
}

void TransferManager::onTransferFinish(std::shared_ptr<MutableTransferData> transfer) {
    if (TransferProcessor* processor = transfer->getProcessor()) {
        transfer->setProcessor(nullptr);
        // A processor that let go of this transfer may serve the next one already.
        if (processor->getTransfer() == transfer) {
            processor->setTransfer(nullptr);
        }
    }
    checkPendingTransfers(transfer->getType());
}

void TransferManager::onActionProgress(std::shared_ptr<ActionData> action) {
    auto data = std::static_pointer_cast<MutableActionData>(action);
    if (ActionListener* listener = data->getTransferListener()) {
        listener->onActionProgress(data);
    }
}

void TransferManager::onActionError(std::shared_ptr<ActionData> action) {
    auto data = std::static_pointer_cast<MutableActionData>(action);
    if (ActionListener* listener = data->getTransferListener()) {
        listener->onActionError(data);
    }
}

void TransferManager::onActionFinish(std::shared_ptr<ActionData> action) {
    auto data = std::static_pointer_cast<MutableActionData>(action);
    if (ActionListener* listener = data->getTransferListener()) {
        listener->onActionFinish(data);
    }
    checkPendingTransfers(0);
    checkPendingTransfers(1);
}

void TransferManager::reset() {
    CLOG_DEBUG("[trman] Resetting transfer manager");
    queue_.cancelAll(0);
    queue_.cancelAll(1);
    // Every queued transfer has ended and let go of its processor by now; one that a finished
    // action still had running is ended here, so that nothing keeps a processor busy.
    for (auto& processors : processors_) {
        for (TransferProcessor* processor : processors) {
            std::shared_ptr<MutableTransferData> held = processor->getTransfer();
            if (!held) {
                continue;
            }
            processor->setTransfer(nullptr);
            held->setProcessor(nullptr);
            held->setError(Error(CANCELLED));
            held->setStatus(TransferActionProcessor::kFinished);
            if (TransferListener* owner = held->getOwner()) {
                owner->onTransferFinish(held);
            }
        }
    }
    queue_.clearFinished(0);
    queue_.clearFinished(1);
    removeRecheckTimer();
}

bool TransferManager::hasRecheckTimer() const {
    return recheckTimer_ != apiManager_->getLoop()->getInvalidTimer();
}

void TransferManager::armRecheckTimer(int32_t direction) {
    Loop* loop = apiManager_->getLoop();
    if (recheckTimer_ != loop->getInvalidTimer()) {
        return;
    }
    // The one timer may have been armed for the other direction: both are looked at, or
    // work of the second direction that waits meanwhile would never be rechecked.
    recheckTimer_ = loop->addTimer(recheckDelay_, [this, loop, direction](TimerHandle) {
        recheckTimer_ = loop->getInvalidTimer();
        checkPendingTransfers(direction);
        checkPendingTransfers(1 - direction);
    });
}

void TransferManager::removeRecheckTimer() {
    Loop* loop = apiManager_->getLoop();
    if (recheckTimer_ != loop->getInvalidTimer()) {
        loop->removeTimer(recheckTimer_);
        recheckTimer_ = loop->getInvalidTimer();
    }
}

}  // namespace corvane
