#include "corvane/event_listener.h"

#include <utility>

namespace corvane {

EventListener::EventListener(EventFunction function) : function_(std::move(function)) {
}

EventListener::~EventListener() = default;

void EventListener::onEvent(std::shared_ptr<EventData> event) {
    if (function_) {
        function_(event);
    }
}

}  // namespace corvane
