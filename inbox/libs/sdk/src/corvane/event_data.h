#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "corvane/account_info_data.h"
#include "corvane/action_types.h"
#include "corvane/node_data.h"

namespace corvane {

// The record of one SDK event, read by event listeners; the SDK fills it through
// MutableEventData. Names are owned copies, null when unset.
class EventData {
public:
    explicit EventData(int32_t type = 0);
    virtual ~EventData();

    EventData(const EventData&) = delete;
    EventData& operator=(const EventData&) = delete;

    int32_t getType() const { return type_; }
    // "INVALID" outside 0..10.
    const char* getTypeName() const;
    std::shared_ptr<AccountInfoData> getAccountInfo() const { return accountInfo_; }
    std::shared_ptr<NodeData> getNode() const { return node_; }
    std::shared_ptr<NodeData> getOldNode() const { return oldNode_; }
    // The stored list, or a new empty one when unset (never null).
    std::shared_ptr<NodeList> getNodes() const;
    uint64_t getHandle() const { return handle_; }
    std::string getHandleText() const { return handleText_; }
    uint64_t getClientId() const { return clientId_; }
    const char* getName() const { return name_; }
    const char* getOldName() const { return oldName_; }
    // Made by another client.
    bool isExternal() const { return external_; }
    // CONNECTIVITY: 1 the service is reachable again, 0 connectivity lost.
    int32_t getConnectivity() const { return state_; }
    int32_t getState() const { return state_; }

protected:
    int32_t type_;
    std::shared_ptr<AccountInfoData> accountInfo_;
    std::shared_ptr<NodeData> node_;
    std::shared_ptr<NodeData> oldNode_;
    std::shared_ptr<NodeList> nodes_;
    uint64_t handle_ = 0;
    std::string handleText_;
    uint64_t clientId_ = 0;
    char* name_ = nullptr;
    char* oldName_ = nullptr;
    bool external_ = false;
    int32_t state_ = 0;
};

}  // namespace corvane
