#pragma once

#include <functional>
#include <memory>

#include "corvane/event_data.h"
#include "corvane/shared_ownership.h"

namespace corvane {

using EventFunction = std::function<void(std::shared_ptr<EventData>)>;

// Listener of SDK events; the base calls the function object when one is set.
class EventListener : public SharedOwnership {
public:
    EventListener() = default;
    explicit EventListener(EventFunction function);
    ~EventListener() override;

    virtual void onEvent(std::shared_ptr<EventData> event);

private:
    EventFunction function_;
};

}  // namespace corvane
