#pragma once

#include <functional>

#include "corvane/event_listener.h"

namespace corvane {

// What requests and the request channel may ask of the SDK instance that runs them. The API
// manager implements it; requests sit below the API layer and see only this face. SDK events
// that a request raises go to its event-listener face.
class RequestHost : public EventListener {
public:
    ~RequestHost() override = default;

    // Drops the session and resets the cloud model, keeping the cache file; then the
    // completion, on the SDK main loop.
    virtual void resetSession(std::function<void()> completion) = 0;

    // Signs out: everything is reset and the cache removed; then the completion, which may be
    // empty.
    virtual void logout(std::function<void()> completion) = 0;
};

}  // namespace corvane
