#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "execution/callback_dispatcher.h"
#include "execution/execution_manager.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "request/event_request.h"
#include "request/request_channel.h"

namespace corvane {
namespace test {

// The API manager's part in an end-to-end run, and only that: an HTTP loop with the libcurl
// transport, the request channel and the execution manager, built in the order the SDK
// builds them, with every notification passed on to the dispatcher. Created on the test
// thread; everything else runs on the main loop.
class E2eApiManager : public ApiManager {
public:
    E2eApiManager(CallbackDispatcher* dispatcher, LibuvLoop* mainLoop) : dispatcher_(dispatcher), mainLoop_(mainLoop) {
        http_ = std::make_unique<CurlHttp>(&httpLoop_, nullptr, mainLoop_);
        channel_ = std::make_unique<RequestChannel>(this, http_.get());
        executionManager_ = std::make_unique<ExecutionManager>(this);
        // A loop that did not start drops every task: nothing may be sent through it.
        httpLoopStart_ = httpLoop_.start();
    }

    ~E2eApiManager() override {
        // No module work may run once its owner starts going away.
        httpLoop_.stop();
        if (!httpLoopStart_) {
            httpLoop_.join();
        }
        executionManager_.reset();
        channel_.reset();
        http_.reset();
    }

    // Main loop only.
    void enqueueAction(std::shared_ptr<MutableActionData> action) {
        static std::atomic<int32_t> nextSequenceId{1};
        action->setSequenceId(nextSequenceId++);
        executionManager_->enqueueAction(std::move(action));
    }

    RequestChannel& channel() { return *channel_; }
    // Signs the channel's batches with the session; main loop only.
    void setSession(std::string session) {
        session_ = std::move(session);
        channel_->setSession(session_.c_str());
    }
    // Frames every batch with the events and status requests from now on, as the SDK does once
    // the account has a status; statusListener hears when a batch's status request has
    // finished. Main loop only.
    void installPersistentRequests(RequestListener* statusListener) {
        events_ = std::make_shared<GetEventsRequest>(this);
        status_ = std::make_shared<GetStatusRequest>(this);
        executionManager_->addPersistentNetworkRequest(events_, this);
        executionManager_->addPersistentNetworkRequest(status_, statusListener);
        channel_->setLeadingRequest(events_);
        channel_->setTrailingRequest(status_);
    }
    // A batch with the persistent requests even when nothing is queued; main loop only.
    void pollEvents() { channel_->sendHttpRequest(true); }

    // Empty when the HTTP loop runs; otherwise why it could not start.
    std::error_code httpLoopStart() const { return httpLoopStart_; }

    Loop* getLoop() const override { return mainLoop_; }
    std::string getSession() const override { return session_; }
    int32_t getAccessLevel() const override { return 0; }
    bool isValidCronExpression(const char*) const override { return false; }

    void enqueueApiRequest(std::shared_ptr<NetworkRequest> request, RequestListener* listener) override {
        executionManager_->enqueueApiRequest(request, listener);
        if (httpLoopStart_) {
            request->onError(Error(TEMPORARILY_UNAVAILABLE));
            return;
        }
        channel_->queue(request);
    }

    void enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener) override {
        executionManager_->enqueueLocalRequest(std::move(request), listener);
    }

    void resetSession(std::function<void()> completion) override {
        session_.clear();
        channel_->reset();
        executionManager_->cancelLocalRequests();
        if (completion) {
            mainLoop_->post(completion);
        }
    }

    void logout(std::function<void()> completion) override { resetSession(std::move(completion)); }

    void onActionStart(std::shared_ptr<ActionData> action) override { dispatcher_->onActionStart(action); }
    void onActionProcessed(std::shared_ptr<ActionData> action) override { dispatcher_->onActionProcessed(action); }
    void onActionProgress(std::shared_ptr<ActionData> action) override { dispatcher_->onActionProgress(action); }
    void onActionError(std::shared_ptr<ActionData> action) override { dispatcher_->onActionError(action); }
    void onActionFinish(std::shared_ptr<ActionData> action) override { dispatcher_->onActionFinish(action); }
    void onEvent(std::shared_ptr<EventData> event) override { dispatcher_->onEvent(event); }

    // The cache transaction and the account status go to the cloud model when there is one;
    // the long-poll link is only kept.
    void beginCacheTransaction() override {
        if (cloud != nullptr) {
            cloud->beginTransaction();
        }
    }
    void updateAccountStatus(uint64_t status, std::string link, std::function<void()> completion) override {
        accountStatus = status;
        pollLink = std::move(link);
        if (cloud != nullptr) {
            cloud->endTransaction(status, std::move(completion));
        } else {
            mainLoop_->post(std::move(completion));
        }
    }
    // Backups counted as set up once the events request has set them up.
    void resetBackups() override { backupsInitialized = false; }
    void initializeBackups(std::function<void()> completion) override {
        backupsInitialized = true;
        mainLoop_->post(std::move(completion));
    }
    bool areBackupsInitialized() override { return backupsInitialized; }

    Cloud* getCloud() override { return cloud; }
    uint64_t getClientId() const override { return clientId; }
    std::string getEmail() const override { return email; }

    // The cloud model, client id and account e-mail of a test that applies node changes; main
    // loop only.
    Cloud* cloud = nullptr;
    uint64_t clientId = 0;
    std::string email;
    // What the last status request took over, and the backups state; main loop only.
    uint64_t accountStatus = 0;
    std::string pollLink;
    bool backupsInitialized = true;

private:
    CallbackDispatcher* dispatcher_;
    LibuvLoop* mainLoop_;
    LibuvLoop httpLoop_;
    std::unique_ptr<CurlHttp> http_;
    std::unique_ptr<RequestChannel> channel_;
    std::unique_ptr<ExecutionManager> executionManager_;
    std::shared_ptr<GetEventsRequest> events_;
    std::shared_ptr<GetStatusRequest> status_;
    std::string session_;
    std::error_code httpLoopStart_;
};

}  // namespace test
}  // namespace corvane
