#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "api/api_manager.h"
#include "corvane/event_data.h"
#include "corvane/task_manager.h"
#include "execution/execution_manager.h"
#include "loop/loop.h"
#include "request/request.h"

namespace corvane {
namespace test {

// A loop that runs its queued tasks only when the test says so. Its timers fire only through
// fireTimers.
class ManualLoop : public Loop {
public:
    ManualLoop() { stopped_ = false; }

    void wakeUp() override {}
    std::error_code start() override {
        stopped_ = false;
        return {};
    }
    void stop() override { stopped_ = true; }
    void join() override {}
    void addSocket(uint64_t, int, SocketCallback) override {}
    void removeSocket(uint64_t) override {}

    TimerHandle addTimer(uint64_t milliseconds, TimerCallback callback) override {
        TimerHandle handle(++lastTimerNumber_);
        timers_.emplace(handle, std::make_unique<TimerContext>(this, handle, std::move(callback)));
        delays[handle] = milliseconds;
        return handle;
    }
    void removeTimer(TimerHandle timer) override {
        timers_.erase(timer);
        delays.erase(timer);
    }

    size_t timerCount() const { return timers_.size(); }

    // Fires every armed timer once, oldest first; timers armed meanwhile wait for the next call.
    void fireTimers() {
        std::vector<TimerHandle> due;
        for (const auto& entry : timers_) {
            due.push_back(entry.first);
        }
        for (TimerHandle handle : due) {
            auto it = timers_.find(handle);
            if (it == timers_.end()) {
                continue;
            }
            std::unique_ptr<TimerContext> context = std::move(it->second);
            timers_.erase(it);
            delays.erase(handle);
            context->callback(handle);
        }
    }

    std::map<TimerHandle, uint64_t> delays;
};

// What an API manager offers the action framework, with every notification it receives
// written down as "<kind>:<sequence id>:<error code>".
class FakeApiManager : public ApiManager {
public:
    Loop* getLoop() const override { return &loop; }
    std::string getSession() const override { return session; }
    int32_t getAccessLevel() const override { return accessLevel; }

    // Six fields separated by single spaces.
    bool isValidCronExpression(const char* expression) const override {
        std::istringstream stream(expression == nullptr ? "" : expression);
        std::string field;
        int fields = 0;
        while (stream >> field) {
            ++fields;
        }
        return fields == 6;
    }

    // Without an execution manager the requests are only kept.
    void enqueueApiRequest(std::shared_ptr<NetworkRequest> request, RequestListener* listener) override {
        if (executionManager != nullptr) {
            executionManager->enqueueApiRequest(request, listener);
        } else {
            requests.push_back(request);
        }
    }

    void enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener) override {
        if (executionManager != nullptr) {
            executionManager->enqueueLocalRequest(request, listener);
        } else {
            requests.push_back(request);
        }
    }

    void resetSession(std::function<void()> completion) override {
        ++resetCount;
        session.clear();
        loop.post(completion);
    }

    void logout(std::function<void()> completion) override {
        ++logoutCount;
        session.clear();
        if (completion) {
            loop.post(completion);
        }
    }

    Cloud* getCloud() override { return cloud; }
    uint64_t getClientId() const override { return clientId; }
    std::string getEmail() const override { return email; }
    void queueNodeRewrite(uint64_t handle) override { rewriteQueue.push_back(handle); }
    void unqueueNodeRewrite(uint64_t handle) override { unqueued.push_back(handle); }
    bool isActiveBackup(const NodeData& node) override { return activeBackups.count(node.getId()) > 0; }
    bool isBackupOfCurrentDevice(const NodeData& node) override { return deviceBackups.count(node.getId()) > 0; }
    void deleteBackup(std::shared_ptr<NodeData> backup) override {
        backupCalls.push_back("delete:" + std::to_string(backup->getId()));
    }
    void modifyBackup(std::shared_ptr<NodeData> backup) override {
        backupCalls.push_back("modify:" + std::to_string(backup->getId()));
    }
    void onEvent(std::shared_ptr<EventData> event) override {
        hostCalls.push_back("event:" + std::to_string(event->getType()));
        events.push_back(event);
    }

    // The persistent requests' hooks, written down in hostCalls in the order they came.
    void beginCacheTransaction() override { hostCalls.push_back("begin"); }
    void updateAccountStatus(uint64_t status, std::string link, std::function<void()> completion) override {
        hostCalls.push_back("status:" + std::to_string(status) + ":" + link);
        complete(std::move(completion));
    }
    void resetBackups() override {
        hostCalls.push_back("resetBackups");
        backupsInitialized = false;
    }
    void initializeBackups(std::function<void()> completion) override {
        hostCalls.push_back("initializeBackups");
        complete([this, completion]() {
            backupsInitialized = true;
            if (completion) {
                completion();
            }
        });
    }
    bool areBackupsInitialized() override { return backupsInitialized; }
    uint64_t getUserHandle() const override { return userHandle; }
    std::vector<uint8_t> getUserKey() const override { return userKey; }
    std::vector<uint8_t> getAccountKey() const override { return accountKey; }
    std::vector<uint8_t> getMasterKey() const override { return masterKey; }

    // As the SDK's modules do, the hooks answer on a loop when one is set; else at once.
    void complete(std::function<void()> completion) {
        if (hookLoop != nullptr) {
            hookLoop->post(std::move(completion));
        } else if (completion) {
            completion();
        }
    }

    void onActionStart(std::shared_ptr<ActionData> action) override { note("start", action); }
    void onActionProcessed(std::shared_ptr<ActionData> action) override { note("processed", action); }
    void onActionProgress(std::shared_ptr<ActionData> action) override { note("progress", action); }
    void onActionError(std::shared_ptr<ActionData> action) override { note("error", action); }
    void onActionFinish(std::shared_ptr<ActionData> action) override { note("finish", action); }

    void note(const char* kind, const std::shared_ptr<ActionData>& action) {
        notifications.push_back(std::string(kind) + ":" + std::to_string(action->getSequenceId()) + ":" +
                                std::to_string(action->getErrorCode()));
    }

    mutable ManualLoop loop;
    std::string session = "session";
    int32_t accessLevel = 0;
    int resetCount = 0;
    int logoutCount = 0;
    std::vector<std::string> notifications;
    std::vector<std::shared_ptr<Request>> requests;
    ExecutionManager* executionManager = nullptr;
    Cloud* cloud = nullptr;
    uint64_t clientId = 0;
    std::string email;
    std::vector<uint64_t> rewriteQueue;
    std::vector<uint64_t> unqueued;
    std::set<uint64_t> activeBackups;
    std::set<uint64_t> deviceBackups;
    std::vector<std::string> backupCalls;
    std::vector<std::shared_ptr<EventData>> events;
    std::vector<std::string> hostCalls;
    bool backupsInitialized = true;
    uint64_t userHandle = 0;
    std::vector<uint8_t> userKey;
    std::vector<uint8_t> accountKey;
    std::vector<uint8_t> masterKey;
    Loop* hookLoop = nullptr;
};

}  // namespace test
}  // namespace corvane
