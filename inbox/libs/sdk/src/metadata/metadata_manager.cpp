#include "metadata/metadata_manager.h"

#include <deque>

#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "database/mutable_transfer_data.h"
#include "metadata/metadata_processor.h"
#include "metadata/metadata_transfer_queue.h"
#include "util/log.h"

namespace corvane {

namespace {

const char* pluralOf(int32_t direction) {
    return direction == 0 ? "uploads" : "downloads";
}

const char* singularOf(int32_t direction) {
    return direction == 0 ? "upload" : "download";
}

}  // namespace

MetadataManager::MetadataManager(HttpModule* httpModule, CryptoManager* cryptoManager, SQLiteDatabase* database,
                                 FilesystemModule* filesystemModule)
    : database_(database),
      cryptoManager_(cryptoManager),
      filesystemModule_(filesystemModule),
      httpModule_(httpModule),
      queue_(std::make_unique<MetadataTransferQueue>()) {
    // The metadata manager shares the transfer manager's log texts.
    CLOG_DEBUG("[trman] Initializing transfer manager");
    for (int32_t i = 0; i < kProcessorsPerDirection; ++i) {
        processors_[0].push_back(
            std::make_unique<UploadMetadataProcessor>(httpModule, cryptoManager, filesystemModule, this));
    }
    for (int32_t i = 0; i < kProcessorsPerDirection; ++i) {
        processors_[1].push_back(
            std::make_unique<DownloadMetadataProcessor>(httpModule, cryptoManager, filesystemModule, this));
    }
    CLOG_DEBUG("[trman] Transfer manager ready");
}

MetadataManager::~MetadataManager() {
    CLOG_DEBUG("[trman] Deleting transfer manager");
    processors_[0].clear();
    processors_[1].clear();
    // Records still queued hold their actions, which hold the records: let go of both.
    for (int32_t direction = 0; direction < 2; ++direction) {
        for (const auto& transfer : queue_->takeAll(direction)) {
            transfer->setAction(nullptr);
        }
    }
}

void MetadataManager::processTransfer(std::shared_ptr<MutableActionData> actionData, ActionListener* listener) {
    CLOG_DEBUG("[trman] New transfer received");
    auto transfer = std::make_shared<MutableTransferData>();
    const bool upload = actionData->getType() == UPLOAD_METADATA;
    transfer->setType(upload ? 0 : 1);
    transfer->setTag(actionData->getSequenceId());
    transfer->setFile(actionData->getName());
    transfer->setNodeId(upload ? actionData->getParentHandle() : actionData->getNodeHandle());
    transfer->setSize(actionData->getSize());
    transfer->setCryptoScheme(static_cast<uint8_t>(actionData->getCrypto()));
    if (const ByteVector* key = actionData->getKey()) {
        transfer->setNodeKey(key->data(), key->size());
    }
    transfer->setLink(actionData->getText());
    transfer->setAction(actionData);
    transfer->setOwner(this);
    actionData->setTransfer(transfer);
    actionData->setTransferListener(listener);
    const int32_t direction = transfer->getType();
    queue_->addTransfer(std::move(transfer));
    checkPendingTransfers(direction);
}

void MetadataManager::checkPendingTransfers(int32_t direction) {
    if (direction != 0 && direction != 1) {
        return;
    }
    auto transfer = queue_->getNextTransfer(direction);
    if (!transfer) {
        CLOG_DEBUG("[trman] No pending {}", pluralOf(direction));
        return;
    }
    for (const auto& processor : processors_[direction]) {
        if (!processor->getTransfer()) {
            CLOG_DEBUG("[trman] Activating {}", singularOf(direction));
            processor->setTransfer(std::move(transfer));
            return;
        }
    }
}

void MetadataManager::onTransferFinish(std::shared_ptr<MutableTransferData> transfer) {
    // An ended transfer is never offered again; keeping it would only let the queue grow.
    queue_->removeTransfer(transfer);
    auto action = std::static_pointer_cast<MutableActionData>(transfer->getAction());
    // The action keeps the record, the record no longer its action.
    transfer->setAction(nullptr);
    if (action) {
        if (transfer->getError().getCode() != SUCCESS && action->getErrorCode() == SUCCESS) {
            action->setError(transfer->getError());
        }
        if (ActionListener* listener = action->getTransferListener()) {
            listener->onActionFinish(action);
        }
    }
    checkPendingTransfers(transfer->getType());
}

void MetadataManager::reset() {
    for (auto& direction : processors_) {
        for (const auto& processor : direction) {
            processor->abandon();
        }
    }
    // Running transfers stay queued until their end, so the queue holds them all.
    std::deque<std::shared_ptr<MutableTransferData>> ended;
    for (int32_t direction = 0; direction < 2; ++direction) {
        for (auto& transfer : queue_->takeAll(direction)) {
            ended.push_back(std::move(transfer));
        }
    }
    if (!ended.empty()) {
        CLOG_DEBUG("[trman] Cancelling {} metadata transfers", ended.size());
    }
    for (const auto& transfer : ended) {
        transfer->setError(Error(CANCELLED));
        onTransferFinish(transfer);
    }
}

int32_t MetadataManager::activeTransfers(int32_t direction) const {
    if (direction != 0 && direction != 1) {
        return 0;
    }
    int32_t active = 0;
    for (const auto& processor : processors_[direction]) {
        if (processor->getTransfer()) {
            ++active;
        }
    }
    return active;
}

bool MetadataManager::isIdle() const {
    for (const auto& direction : processors_) {
        for (const auto& processor : direction) {
            if (!processor->isIdle()) {
                return false;
            }
        }
    }
    return queue_->size(0) == 0 && queue_->size(1) == 0;
}

}  // namespace corvane
