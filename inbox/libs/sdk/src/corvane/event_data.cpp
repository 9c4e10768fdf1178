#include "corvane/event_data.h"

#include "corvane/action_types.h"
#include "util/string_copy.h"

namespace corvane {

EventData::EventData(int32_t type) : type_(type) {
}

EventData::~EventData() {
    freeString(name_);
    freeString(oldName_);
}

const char* EventData::getTypeName() const {
    return getEventTypeName(type_);
}

std::shared_ptr<NodeList> EventData::getNodes() const {
    return nodes_ ? nodes_ : std::make_shared<NodeList>();
}

}  // namespace corvane
