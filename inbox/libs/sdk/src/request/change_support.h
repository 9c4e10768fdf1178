#pragma once

#include <cstdint>
#include <memory>

#include "cloud/cloud.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "corvane/mutable_event_data.h"
#include "request/request.h"
#include "request/request_host.h"
#include "util/log.h"

namespace corvane {
namespace change {

// Steps shared by the requests that apply a change to the cloud cache and raise an SDK event.
// SDK main loop only.

// An event of a response: flagged external unless this client made the change.
inline std::shared_ptr<MutableEventData> makeEvent(int32_t type, uint64_t clientId, RequestHost* manager) {
    auto event = std::make_shared<MutableEventData>(type);
    event->setClientId(clientId);
    event->setExternal(clientId == 0 || clientId != manager->getClientId());
    return event;
}

// Owner-less readers have nobody to tell.
inline void setOwnerError(const std::shared_ptr<MutableActionData>& owner, int32_t code) {
    if (owner) {
        owner->setError(Error(code));
    }
}

// The owning reference that the continuations of a request hold.
template <class T>
std::shared_ptr<T> self(T* request) {
    return std::static_pointer_cast<T>(request->shared_from_this());
}

// The cache the responses are applied to; without one the request finishes with error 9.
inline Cloud* cloudOf(RequestHost* manager, Request* request) {
    Cloud* cloud = manager->getCloud();
    if (cloud == nullptr) {
        CLOG_ERROR("[req]{}: No cloud model to apply the response to", request->getName());
        setOwnerError(request->getActionData(), UNKNOWN_ERROR);
        request->notifyFinished();
    }
    return cloud;
}

}  // namespace change
}  // namespace corvane
