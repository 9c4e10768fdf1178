#include "transfer/transfer_manager.h"

#include "api/api_manager.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr uint64_t kRecheckMilliseconds = 10000;

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
    CLOG_DEBUG("[trman] Transfer manager ready");
}

TransferManager::~TransferManager() {
    CLOG_DEBUG("[trman] Deleting transfer manager");
    removeRecheckTimer();
}

void TransferManager::reset() {
    CLOG_DEBUG("[trman] Resetting transfer manager");
    removeRecheckTimer();
}

void TransferManager::checkPendingTransfers(int32_t direction) {
    CLOG_DEBUG("[trman] Checking pending transfers of direction {}", direction);
}

void TransferManager::armRecheckTimer(int32_t direction) {
    Loop* loop = apiManager_->getLoop();
    if (recheckTimer_ != loop->getInvalidTimer()) {
        return;
    }
    // The direction is checked again once transfer actions can be queued; until then the
    // firing timer only frees its slot.
    recheckTimer_ = loop->addTimer(kRecheckMilliseconds, [this, loop, direction](TimerHandle) {
        static_cast<void>(direction);
        recheckTimer_ = loop->getInvalidTimer();
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
