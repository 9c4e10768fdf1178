#include "corvane/mutable_event_data.h"

#include "corvane/handle.h"
#include "util/string_copy.h"

namespace corvane {

MutableEventData::MutableEventData(int32_t type) : EventData(type) {
}

MutableEventData::~MutableEventData() = default;

void MutableEventData::setHandle(uint64_t handle) {
    handle_ = handle;
    handleText_ = getHandleTextOrEmpty(handle);
}

void MutableEventData::setName(const char* name) {
    replaceString(&name_, name);
}

void MutableEventData::setOldName(const char* oldName) {
    replaceString(&oldName_, oldName);
}

}  // namespace corvane
