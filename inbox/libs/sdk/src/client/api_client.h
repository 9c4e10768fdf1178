#pragma once

#include <memory>
#include <system_error>

#include "client/sdk_api_manager.h"
#include "module/module.h"

namespace corvane {

class CallbackDispatcher;
class CorvaneSettings;
class LibuvLoop;
class MutableActionData;

// The facade's way into one SDK instance. Its work loop is the SDK main loop: execute may be
// called from any thread and only posts; enqueueAction runs on the main loop.
class ApiClient : public Module {
public:
    ApiClient(LibuvLoop* mainLoop, CallbackDispatcher* dispatcher);
    ~ApiClient() override;

    // Empty when the client can take actions; otherwise why it cannot, and nothing handed to
    // it would ever finish.
    virtual std::error_code start() = 0;
    // Main loop only.
    virtual void enqueueAction(std::shared_ptr<MutableActionData> action) = 0;

    // Posts the action to the main loop, where enqueueAction takes it.
    void execute(std::shared_ptr<MutableActionData> action);

protected:
    CallbackDispatcher* dispatcher_;
};

// The client that holds the API manager itself, in this process.
class DirectApiClient : public ApiClient {
public:
    // Builds the API manager and every module on the calling thread.
    DirectApiClient(LibuvLoop* mainLoop, CallbackDispatcher* dispatcher, const CorvaneSettings* settings);
    ~DirectApiClient() override;

    // The API manager's own start error: a module loop that did not run.
    std::error_code start() override;
    void enqueueAction(std::shared_ptr<MutableActionData> action) override;

    SdkApiManager& getApiManager() { return manager_; }

private:
    SdkApiManager manager_;
};

}  // namespace corvane
