#pragma once

#include <cstdint>
#include <memory>

#include "corvane/event_data.h"

namespace corvane {

// The writable event record, filled by the SDK before it hands the event to listeners.
class MutableEventData : public EventData {
public:
    explicit MutableEventData(int32_t type);
    ~MutableEventData() override;

    void setNode(std::shared_ptr<NodeData> node) { node_ = std::move(node); }
    void setOldNode(std::shared_ptr<NodeData> node) { oldNode_ = std::move(node); }
    void setNodes(std::shared_ptr<NodeList> nodes) { nodes_ = std::move(nodes); }
    // Stores the handle and its 8-character text; handle 0 empties the text.
    void setHandle(uint64_t handle);
    // Private copies; null clears the field.
    void setName(const char* name);
    void setOldName(const char* oldName);
    void setState(int32_t state) { state_ = state; }
    void setAccountInfo(std::shared_ptr<AccountInfoData> info) { accountInfo_ = std::move(info); }
    void setClientId(uint64_t clientId) { clientId_ = clientId; }
    void setExternal(bool external) { external_ = external; }
};

}  // namespace corvane
