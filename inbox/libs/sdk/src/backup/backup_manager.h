#pragma once

#include <functional>
#include <memory>

#include "corvane/node_data.h"

namespace corvane {

class ApiManager;
class Cloud;
class Loop;

// Knows where the account's backups live. Called only on the SDK main loop; no locks.
class BackupManager {
public:
    BackupManager(Cloud* cloud, Loop* loop, ApiManager* apiManager);
    ~BackupManager();

    BackupManager(const BackupManager&) = delete;
    BackupManager& operator=(const BackupManager&) = delete;

    // Looks up the backups root (the cloud's root of kind 1; stays unset when the account has
    // none) and calls the completion once, posted to the SDK main loop.
    void initialize(std::function<void()> completion);
    // Whether the backups root is known.
    bool isInitialized() const;
    // Forgets the backups root: until the next initialize the manager knows no backups.
    void reset();

private:
    Cloud* cloud_;
    Loop* loop_;
    ApiManager* apiManager_;
    std::shared_ptr<NodeData> backupsRoot_;
};

}  // namespace corvane
