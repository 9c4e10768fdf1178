#include "action/cloud_action.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "request/cloud_request.h"
#include "request/tree_request.h"
#include "util/log.h"
#include "util/memory_usage.h"

namespace corvane {

namespace {

bool hasSlash(const char* name) {
    return name != nullptr && std::strchr(name, '/') != nullptr;
}

bool sameName(const char* a, const char* b) {
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

// Where the cache shows the nodes inside the recycle bin.
constexpr const char* kRecycleBinPath = "//bin/";

// The system root a deleted node of this type goes to; -1 when its filesystem decides.
int32_t rootIndexForType(int32_t type) {
    switch (type) {
        case INBOX_NODE:
        case RECORD_NODE:
            return REGISTER_ROOT;
        case LINK_COPY_NODE:
            return SHARED_FOLDERS_ROOT;
        case CONTACT_NODE:
        case OUTBOX_NODE:
            return CONTACTS_ROOT;
        case 40:
        case BACKUP_NODE:
        case SNAPSHOT_NODE:
            return BACKUPS_ROOT;
        default:
            return -1;
    }
}

// The id of the root a deleted node goes to, 0 when the cache holds none.
uint64_t deletionRootId(Cloud* cloud, const NodeData& node) {
    int32_t index = rootIndexForType(node.getType());
    if (index < 0) {
        const uint64_t filesystemId = node.getFilesystem();
        switch (cloud->getFilesystemType(filesystemId)) {
            case SECRET_ROOT: {
                auto filesystem = cloud->getFilesystem(filesystemId);
                auto secret = filesystem ? cloud->getSecretNode(filesystem->getRootId()) : nullptr;
                return secret ? secret->getId() : 0;
            }
            case SHARED_DRIVE_ROOT: {
                if (auto drive = cloud->getSharedDrive(filesystemId)) {
                    return drive->getId();
                }
                auto main = cloud->getRoot(CLOUD_DRIVE_ROOT);
                return main && main->getType() == SHARED_DRIVE_ROOT && main->getId() == filesystemId ? filesystemId : 0;
            }
            default:
                index = RECYCLE_BIN_ROOT;
                break;
        }
    }
    auto root = cloud->getRoot(index);
    return root ? root->getId() : 0;
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

// --- node changes ---

// The cache changes only when the service's answer is applied; these actions read the cached
// nodes and prepare what the service needs.

void AddNodesAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getParentHandle(), [this, data](Cloud* cloud, Cloud::NodePointer parent) {
        cloud->getChildren(
            parent->getId(),
            [this, cloud, data](Cloud::NodeListPointer children) {
                std::shared_ptr<NodeList> nodes = data->getNodes();
                if (children) {
                    for (const auto& node : *nodes) {
                        for (const auto& child : *children) {
                            if (sameName(node->getName(), child->getName())) {
                                data->setNode(child);
                                endWithError(data, Error(ALREADY_EXISTS));
                                return;
                            }
                        }
                    }
                }
                const uint8_t crypto = cloud->getAccountCrypto();
                for (auto& node : *nodes) {
                    auto writable = std::dynamic_pointer_cast<MutableNodeData>(node);
                    if (!writable) {
                        writable = std::make_shared<MutableNodeData>(*node);
                        node = writable;
                    }
                    writable->setCrypto(crypto);
                    // Top-level new nodes hang under the action's parent.
                    if (writable->getParent() == 0) {
                        writable->setParent(data->getParentHandle());
                    }
                }
                cloud->encryptNodeList(nodes, [this, data](std::shared_ptr<EncryptedNodeList> sealed) {
                    if (!sealed || sealed->empty()) {
                        endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                        return;
                    }
                    notifyProcessed(data);
                    manager_->enqueueApiRequest(
                        std::make_shared<AddNodesRequest>(data, sealed, manager_->getClientId()), this);
                });
            },
            0);
    });
}

void DeleteNodeAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer node) {
        data->setNode(node);
        if (node->isRoot()) {
            if (!node->isFilesystemRoot()) {
                endWithError(data, Error(FORBIDDEN));
                return;
            }
            data->setNumber(node->getFilesystem());
            notifyProcessed(data);
            manager_->enqueueApiRequest(std::make_shared<DeleteNodeRequest>(data, manager_->getClientId()), this);
            return;
        }
        const uint64_t rootId = deletionRootId(cloud, *node);
        if (rootId == 0) {
            // Without the root there is no key to hand the service for the node's new place.
            CLOG_WARN("No root to delete node {} into", node->getId());
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        deleteUnderRoot(data, node, rootId);
    });
}

void DeleteNodeAction::deleteUnderRoot(const ActionRecord& data, const std::shared_ptr<NodeData>& node,
                                       uint64_t rootId) {
    Cloud* cloud = manager_->getCloud();
    cloud->getNodeById(rootId, [this, cloud, data, node](Cloud::NodePointer root) {
        if (!root) {
            CLOG_WARN("No root to delete node {} into", node->getId());
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        auto writable = std::static_pointer_cast<MutableNodeData>(node);
        cloud->encryptChildKey(
            writable, root, [this, cloud, data, root](uint64_t filesystem, std::shared_ptr<ByteVector> key) {
                if (!key) {
                    CLOG_ERROR("Unable to encrypt child key");
                    endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                    return;
                }
                data->setNumber(filesystem);
                data->setUserKey(new ByteVector(std::move(*key)));
                auto sendDelete = [this, data]() {
                    notifyProcessed(data);
                    manager_->enqueueApiRequest(std::make_shared<DeleteNodeRequest>(data, manager_->getClientId()),
                                                this);
                };
                if (root->getType() != RECYCLE_BIN_ROOT || data->getValue() == 0) {
                    sendDelete();
                    return;
                }
                const uint64_t binId = root->getId();
                cloud->getNodePath(data->getNodeHandle(), [this, data, binId, sendDelete](std::string path, Error) {
                    if (path.compare(0, std::strlen(kRecycleBinPath), kRecycleBinPath) == 0) {
                        sendDelete();
                        return;
                    }
                    data->setParentHandle(binId);
                    notifyProcessed(data);
                    manager_->enqueueApiRequest(std::make_shared<MoveNodeRequest>(data, manager_->getClientId()), this);
                });
            });
    });
}

void RenameNodeAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer node) {
        if (node->isRoot() && node->getType() != SHARED_DRIVE_ROOT) {
            endWithError(data, Error(FORBIDDEN));
            return;
        }
        auto copy = std::make_shared<MutableNodeData>(*node);
        copy->setName(data->getName());
        cloud->encryptNode(copy, [this, data, copy](Cloud::EncryptedNodePointer sealed) {
            if (!sealed || sealed->getEncryptedAttributes() == nullptr) {
                endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                return;
            }
            data->setAttributes(new ByteVector(*sealed->getEncryptedAttributes()));
            data->setNode(copy);
            const uint64_t extraNumber = copy->getExtraNumber();
            data->setOption(static_cast<int32_t>(extraNumber));
            notifyProcessed(data);
            // The whole 64 bits go back: a contact's handle or a drive's parent id does not fit
            // the option field.
            manager_->enqueueApiRequest(std::make_shared<RenameNodeRequest>(data, manager_->getClientId(), extraNumber),
                                        this);
        });
    });
}

void MoveNodeAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer node) {
        if (node->getParent() == data->getParentHandle() || node->isRoot()) {
            endWithError(data, Error(FORBIDDEN));
            return;
        }
        data->setNode(node);
        withCachedNode(data, data->getParentHandle(), [this, data, node](Cloud* cloud, Cloud::NodePointer parent) {
            cloud->isDescendant(
                node->getId(), parent->getId(), [this, cloud, data, node, parent](bool completed, bool inside, Error) {
                    if (!completed || inside) {
                        endWithError(data, Error(FORBIDDEN));
                        return;
                    }
                    cloud->encryptChildKey(
                        node, parent, [this, data](uint64_t filesystem, std::shared_ptr<ByteVector> key) {
                            if (!key) {
                                CLOG_ERROR("Unable to encrypt child key");
                                endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                                return;
                            }
                            data->setNumber(filesystem);
                            data->setUserKey(new ByteVector(std::move(*key)));
                            notifyProcessed(data);
                            manager_->enqueueApiRequest(
                                std::make_shared<MoveNodeRequest>(data, manager_->getClientId()), this);
                        });
                });
        });
    });
}

void CopyNodeAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer node) {
        if (node->isRoot()) {
            endWithError(data, Error(FORBIDDEN));
            return;
        }
        withCachedNode(data, data->getParentHandle(), [this, data](Cloud* cloud, Cloud::NodePointer parent) {
            cloud->copyNode(data->getNodeHandle(), parent->getId(), [this, cloud, data](Cloud::NodeListPointer copies) {
                if (!copies || copies->empty()) {
                    endWithError(data, Error(NOT_FOUND));
                    return;
                }
                cloud->encryptNodeList(copies, [this, data](std::shared_ptr<EncryptedNodeList> sealed) {
                    if (!sealed || sealed->empty()) {
                        endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                        return;
                    }
                    notifyProcessed(data);
                    manager_->enqueueApiRequest(
                        std::make_shared<AddNodesRequest>(data, sealed, manager_->getClientId()), this);
                });
            });
        });
    });
}

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
    withCachedNode(data, data->getParentHandle(), [this, data](Cloud*, Cloud::NodePointer folder) {
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
        withCachedNode(data, data->getNodeHandle(), [this, data](Cloud*, Cloud::NodePointer node) {
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
    withCachedNode(data, data->getParentHandle(), [this, data](Cloud*, Cloud::NodePointer top) {
        notifyProcessed(data);
        if (top->isFile()) {
            notifyFinish(data);
            return;
        }
        manager_->enqueueApiRequest(std::make_shared<GetNodesRequest>(data), this);
    });
}

}  // namespace corvane
