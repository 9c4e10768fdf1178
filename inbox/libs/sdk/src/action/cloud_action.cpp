#include "action/cloud_action.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/node_data.h"
#include "database/mutable_node_data.h"
#include "request/tree_request.h"
#include "util/log.h"
#include "util/memory_usage.h"

namespace corvane {

namespace {

bool hasSlash(const char* name) {
    return name != nullptr && std::strchr(name, '/') != nullptr;
}

constexpr int kMemoryShift = 20;
constexpr int32_t kAllRoots = 9;
constexpr int32_t kFilesOnly = 1;
constexpr int32_t kFoldersOnly = 2;

// The cache's listing of a folder's children as the option asks, in the order of the value.
void listFromCache(Cloud* cloud, const ActionRecord& data, Cloud::NodeListCallback completion) {
    const uint64_t parent = data->getParentHandle();
    const int32_t order = data->getValue();
    switch (data->getOption()) {
        case kFilesOnly:
            cloud->getChildFiles(parent, std::move(completion), order);
            break;
        case kFoldersOnly:
            cloud->getChildFolders(parent, std::move(completion), order);
            break;
        default:
            cloud->getChildren(parent, std::move(completion), order);
            break;
    }
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

namespace corvane {

// --- node reading ---

void GetNodesAction::process(const ActionRecord& data) {
    manager_->loadCache([this, data](bool loaded) {
        if (!loaded) {
            CLOG_DEBUG("[action][{}] Requesting cloud state", data->getTypeName());
            data->setFlags(1);
            notifyProcessed(data);
            manager_->enqueueApiRequest(std::make_shared<GetNodesRequest>(data), this);
            return;
        }
        Cloud* cloud = manager_->getCloud();
        std::shared_ptr<NodeData> root = cloud != nullptr ? cloud->getRoot(0) : nullptr;
        if (!root) {
            // A cache without its main root is of no use to the caller.
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        // A copy: the caller's record must not follow later changes to the cache.
        data->setNode(std::make_shared<MutableNodeData>(*root));
        CLOG_DEBUG("[action][{}] Cloud loaded from database. Peak Memory: {} MB Current Memory: {} MB",
                   data->getTypeName(), getPeakMemoryUsage() >> kMemoryShift, getCurrentMemoryUsage() >> kMemoryShift);
        notifyProcessed(data);
        notifyFinish(data);
    });
}

void GetRootAction::process(const ActionRecord& data) {
    if (manager_->getCloud() == nullptr) {
        endUnavailable(data);
        return;
    }
    Cloud* cloud = manager_->getCloud();
    if (data->getOption() == kAllRoots) {
        data->setNodes(cloud->getRoots());
    } else {
        // An index without a cached root answers an empty node and no error.
        data->setNode(cloud->getRoot(data->getOption()));
    }
    notifyProcessed(data);
    notifyFinish(data);
}

void GetChildrenAction::process(const ActionRecord& data) {
    if (manager_->getCloud() == nullptr) {
        endUnavailable(data);
        return;
    }
    manager_->getCloud()->getNodeById(data->getParentHandle(), [this, data](Cloud::NodePointer folder) {
        if (!folder) {
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        data->setNode(folder);
        if (!folder->isContainer()) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        if (!folder->isFull()) {
            // Its children were never loaded: one level from the service first.
            data->setSize(1);
            notifyProcessed(data);
            manager_->enqueueApiRequest(std::make_shared<GetNodesRequest>(data), this);
            return;
        }
        listChildren(data, true);
    });
}

void GetChildrenAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    if (data->getErrorCode() != SUCCESS) {
        notifyFinish(data);
        return;
    }
    listChildren(data, false);
}

void GetChildrenAction::listChildren(const ActionRecord& data, bool notifyProcessedFirst) {
    listFromCache(manager_->getCloud(), data, [this, data, notifyProcessedFirst](Cloud::NodeListPointer children) {
        if (!children) {
            data->setError(Error(UNKNOWN_ERROR));
        } else {
            data->setNodes(std::move(children));
        }
        if (notifyProcessedFirst) {
            notifyProcessed(data);
        }
        notifyFinish(data);
    });
}

void GetNodeAction::process(const ActionRecord& data) {
    if (manager_->getCloud() == nullptr) {
        endUnavailable(data);
        return;
    }
    Cloud* cloud = manager_->getCloud();
    if (data->getNodeHandle() != 0) {
        cloud->getNodeById(data->getNodeHandle(), [this, data](Cloud::NodePointer node) {
            if (!node) {
                endWithError(data, Error(NOT_FOUND));
                return;
            }
            data->setNode(node);
            notifyProcessed(data);
            notifyFinish(data);
        });
        return;
    }
    cloud->getNode(data->getText(), [this, data](std::shared_ptr<NodeData> node, std::string rest) {
        if (!node) {
            endWithError(data, Error(UNKNOWN_ERROR));
            return;
        }
        if (rest.empty()) {
            data->setNode(std::move(node));
            notifyProcessed(data);
            notifyFinish(data);
            return;
        }
        // One level for each component the cache does not hold.
        data->setParentHandle(node->getId());
        data->setSize(static_cast<uint64_t>(std::count(rest.begin(), rest.end(), '/')) + 1);
        data->setText(rest.c_str());
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<GetNodesRequest>(data), this);
    });
}

void GetNodeAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    if (data->getErrorCode() != SUCCESS || data->getNodeHandle() != 0) {
        notifyFinish(data);
        return;
    }
    manager_->getCloud()->getNodeByPath(data->getParentHandle(), data->getText(),
                                        [this, data](std::shared_ptr<NodeData> node) {
                                            if (!node) {
                                                data->setError(Error(NOT_FOUND));
                                            } else {
                                                data->setNode(std::move(node));
                                            }
                                            notifyFinish(data);
                                        });
}

void GetPathAction::process(const ActionRecord& data) {
    if (manager_->getCloud() == nullptr) {
        endUnavailable(data);
        return;
    }
    manager_->getCloud()->getNodePath(data->getNodeHandle(), [this, data](std::string path, Error) {
        if (path.empty()) {
            data->setError(Error(NOT_FOUND));
        } else {
            data->setText(path.c_str());
        }
        notifyProcessed(data);
        notifyFinish(data);
    });
}

void GetNodeTreeAction::process(const ActionRecord& data) {
    if (manager_->getCloud() == nullptr) {
        endUnavailable(data);
        return;
    }
    manager_->getCloud()->getNodeById(data->getParentHandle(), [this, data](Cloud::NodePointer top) {
        if (!top) {
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        notifyProcessed(data);
        if (top->isFile()) {
            notifyFinish(data);
            return;
        }
        manager_->enqueueApiRequest(std::make_shared<GetNodesRequest>(data), this);
    });
}

}  // namespace corvane
