#include "action/cloud_action.h"

#include <cstring>

#include "corvane/node_data.h"

namespace corvane {

namespace {

bool hasSlash(const char* name) {
    return name != nullptr && std::strchr(name, '/') != nullptr;
}

}  // namespace

bool GetRootAction::validate(const ActionRecord& data) {
    return data->getOption() >= 0 && data->getOption() <= 9;
}

bool GetChildrenAction::validate(const ActionRecord& data) {
    // Compared unsigned, so a negative option fails too.
    return data->getParentHandle() != 0 && uint32_t(data->getOption()) <= 2 && data->getValue() >= -6 &&
           data->getValue() <= 6;
}

bool GetNodeAction::validate(const ActionRecord& data) {
    if (data->getNodeHandle() != 0) {
        return true;
    }
    const char* path = data->getText();
    return isNonEmpty(path) && path[0] == '/';
}

bool GetPathAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool AddNodesAction::validate(const ActionRecord& data) {
    std::shared_ptr<NodeList> nodes = data->getNodes();
    if (nodes->empty() || data->getParentHandle() == 0) {
        return false;
    }
    for (const std::shared_ptr<NodeData>& node : *nodes) {
        if (!node || hasSlash(node->getName())) {
            return false;
        }
    }
    return true;
}

bool DeleteNodeAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool RenameNodeAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName()) && !hasSlash(data->getName());
}

bool MoveNodeAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && data->getParentHandle() != 0 &&
           data->getNodeHandle() != data->getParentHandle();
}

bool CopyNodeAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && data->getParentHandle() != 0;
}

bool GetNodeTreeAction::validate(const ActionRecord& data) {
    return data->getParentHandle() != 0;
}

bool ManageSecretsAction::validate(const ActionRecord& data) {
    switch (data->getOption()) {
        case 1:
            return true;
        case 2:
        case 3:
            return isSet(data->getName()) && isSet(data->getPassword());
        case 4:
        case 6:
        case 8:
            return data->getNodeHandle() != 0;
        case 5:
            return isSet(data->getName()) && isSet(data->getPassword()) && data->getNodeHandle() != 0;
        case 7:
            return isSet(data->getText());
        default:
            return false;
    }
}

bool ManageSecretsAction::needsWriteAccess(const ActionRecord& data) {
    switch (data->getOption()) {
        case 2:
        case 5:
        case 7:
        case 8:
            return true;
        default:
            return false;
    }
}

bool ManageSharedDrivesAction::needsWriteAccess(const ActionRecord& data) {
    if (isSet(data->getName())) {
        return true;
    }
    return data->getNodeHandle() != 0 &&
           (data->getAccountHandle() != 0 || isSet(data->getLink()) || data->getOption() != 1);
}

bool ManageMeetingsAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool CreateLinkAction::validate(const ActionRecord& data) {
    return (data->getNodeHandle() != 0 || data->getNumber() == 1) && (data->getValue() == 0 || data->getValue() == 1);
}

bool GetLinkInfoAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

bool DeleteLinkAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

}  // namespace corvane
