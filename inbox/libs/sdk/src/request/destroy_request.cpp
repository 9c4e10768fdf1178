#include "request/destroy_request.h"

#include "request/request_host.h"

namespace corvane {

DestroyRequest::DestroyRequest(std::shared_ptr<MutableActionData> actionData) : Request(std::move(actionData)) {
}

void DestroyRequest::applyResults(RequestHost* manager) {
    // The completion keeps the request alive until the session has been reset.
    std::shared_ptr<Request> self = shared_from_this();
    manager->resetSession([self]() { self->notifyFinished(); });
}

}  // namespace corvane
