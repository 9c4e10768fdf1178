#pragma once

#include <cstdint>
#include <vector>

#include "action/action_processor.h"

namespace corvane {

class ApiManager;

// Builds the processor of one action type.
class ActionProcessorDirectoryItem {
public:
    explicit ActionProcessorDirectoryItem(int32_t type) : type_(type) {}
    // A new processor, owned by the caller.
    virtual ActionProcessor* create(ApiManager* manager, TaskManager* loop, ActionListener* listener) = 0;
    virtual ~ActionProcessorDirectoryItem() = default;

    int32_t getType() const { return type_; }

private:
    int32_t type_;
};

// Maps each action type to the factory of its processor; filled completely on construction.
class ActionProcessorDirectory {
public:
    ActionProcessorDirectory();
    virtual ~ActionProcessorDirectory();

    ActionProcessorDirectory(const ActionProcessorDirectory&) = delete;
    ActionProcessorDirectory& operator=(const ActionProcessorDirectory&) = delete;

    // Takes the item; an item of an invalid or already registered type is refused (and
    // deleted).
    void registerProcessor(ActionProcessorDirectoryItem* item);
    // A new processor of the type, owned by the caller; null for an invalid type.
    ActionProcessor* createProcessor(uint32_t type, ApiManager* manager, TaskManager* loop,
                                     ActionListener* listener) const;
    const char* getName(uint32_t type) const;

private:
    std::vector<ActionProcessorDirectoryItem*> items_;
    uint32_t count_ = 0;
};

}  // namespace corvane
