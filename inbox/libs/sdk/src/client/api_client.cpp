#include "client/api_client.h"

#include "corvane/mutable_action_data.h"
#include "execution/callback_dispatcher.h"
#include "loop/libuv_loop.h"

namespace corvane {

ApiClient::ApiClient(LibuvLoop* mainLoop, CallbackDispatcher* dispatcher) : Module(mainLoop), dispatcher_(dispatcher) {
}

ApiClient::~ApiClient() = default;

void ApiClient::execute(std::shared_ptr<MutableActionData> action) {
    Module::execute([this, action = std::move(action)]() { enqueueAction(action); });
}

DirectApiClient::DirectApiClient(LibuvLoop* mainLoop, CallbackDispatcher* dispatcher, const CorvaneSettings* settings)
    : ApiClient(mainLoop, dispatcher), manager_(dispatcher, mainLoop, settings) {
}

// The members go in reverse order: the API manager before the client part.
DirectApiClient::~DirectApiClient() = default;

std::error_code DirectApiClient::start() {
    return manager_.startError();
}

void DirectApiClient::enqueueAction(std::shared_ptr<MutableActionData> action) {
    manager_.enqueueAction(std::move(action));
}

}  // namespace corvane
