#pragma once

namespace corvane {

// What the event receiver asks for a batch when the service says changes are waiting, or when
// the long poll failed for good. The API manager sits above this layer and implements it.
class EventPollTarget {
public:
    virtual ~EventPollTarget() = default;

    // Sends a batch at once; its events request fetches the changes and its status request
    // brings the next link. Called on the SDK main loop.
    virtual void pollEvents() = 0;
};

}  // namespace corvane
