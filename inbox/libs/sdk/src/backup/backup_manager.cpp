#include "backup/backup_manager.h"

#include "cloud/cloud.h"
#include "loop/loop.h"

namespace corvane {

namespace {

constexpr int32_t kBackupsRoot = 1;

}  // namespace

BackupManager::BackupManager(Cloud* cloud, Loop* loop, ApiManager* apiManager)
    : cloud_(cloud), loop_(loop), apiManager_(apiManager) {
}

BackupManager::~BackupManager() = default;

void BackupManager::initialize(std::function<void()> completion) {
    backupsRoot_ = cloud_->getRoot(kBackupsRoot);
    // No device can be selected yet, so the completion is always posted: callers rely on it
    // never running inside this call.
    TaskManager::postOrRun(loop_, [completion = std::move(completion)]() {
        if (completion) {
            completion();
        }
    });
}

bool BackupManager::isInitialized() const {
    return backupsRoot_ != nullptr;
}

void BackupManager::reset() {
    backupsRoot_.reset();
}

}  // namespace corvane
