#include "action/public_link_action.h"

#include <string>

#include "action/public_link_parser.h"
#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "request/cloud_request.h"
#include "request/public_link_request.h"
#include "request/transfer_request.h"

namespace corvane {

namespace {

// CREATE_LINK's number: publish the register root, or demand a shared-drive root.
constexpr uint64_t kPublishRegisterRoot = 1;
constexpr uint64_t kPublishSharedDrive = 2;

bool hasKey(const NodeData& node) {
    return node.getKey() != nullptr && !node.getKey()->empty();
}

}  // namespace

// --- CREATE_LINK ---

bool CreateLinkAction::validate(const ActionRecord& data) {
    return (data->getNodeHandle() != 0 || data->getNumber() == kPublishRegisterRoot) &&
           (data->getValue() == 0 || data->getValue() == 1);
}

void CreateLinkAction::process(const ActionRecord& data) {
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        endUnavailable(data);
        return;
    }
    if (data->getNumber() == kPublishRegisterRoot) {
        std::shared_ptr<NodeData> root = cloud->getRoot(REGISTER_ROOT);
        if (!root) {
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        data->setNodeHandle(root->getId());
    }
    withCachedNode(data, data->getNodeHandle(),
                   [this, data](Cloud* cloud, const Cloud::NodePointer& node) { publish(data, cloud, node); });
}

void CreateLinkAction::publish(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& node) {
    const int32_t type = node->getType();
    if (data->getNumber() == kPublishSharedDrive) {
        if (type != SHARED_DRIVE_ROOT) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
    } else if (type != FILE_NODE && type != FOLDER_NODE && type != INBOX_NODE && type != REGISTER_ROOT) {
        endWithError(data, Error(WRONG_PARAMETERS));
        return;
    }
    if (type == FILE_NODE || type == FOLDER_NODE || type == INBOX_NODE) {
        if (!hasKey(*node)) {
            endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
            return;
        }
        data->setOption(type);
        if (type == FOLDER_NODE) {
            publishFolder(data, cloud, node);
            return;
        }
        data->setKey(node->getKey());
    }
    data->setNode(node);
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<CreateLinkRequest>(data), this);
}

// A folder is published as a copy of its tree under the shared-folders root; the link names
// the copy.
void CreateLinkAction::publishFolder(const ActionRecord& data, Cloud* cloud,
                                     const std::shared_ptr<MutableNodeData>& folder) {
    std::shared_ptr<NodeData> sharedRoot = cloud->getRoot(SHARED_FOLDERS_ROOT);
    if (!sharedRoot) {
        endWithError(data, Error(NOT_FOUND));
        return;
    }
    data->setParentHandle(sharedRoot->getId());
    cloud->shareNodeTree(folder->getId(), sharedRoot->getId(), [this, cloud, data](Cloud::NodeListPointer copies) {
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
            manager_->enqueueApiRequest(std::make_shared<AddNodesRequest>(data, sealed, manager_->getClientId()), this);
        });
    });
}

void CreateLinkAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    if (data->getErrorCode() != SUCCESS || data->getLink() != nullptr || data->getOption() != FOLDER_NODE) {
        notifyFinish(data);
        return;
    }
    // The folder's copies are stored: the first is the copy of the folder itself.
    std::shared_ptr<NodeData> copy = data->getNode();
    if (!copy) {
        data->setError(Error(UNKNOWN_ERROR));
        notifyFinish(data);
        return;
    }
    data->setKey(copy->getKey());
    data->setNodeHandle(copy->getId());
    manager_->enqueueApiRequest(std::make_shared<CreateLinkRequest>(data), this);
}

// --- DELETE_LINK ---

bool DeleteLinkAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

void DeleteLinkAction::process(const ActionRecord& data) {
    std::optional<PublicLinkParts> link = parseLinkToDelete(data->getLinkString());
    if (!link) {
        endWithError(data, Error(WRONG_PARAMETERS));
        return;
    }
    data->setNumber(static_cast<uint64_t>(link->type));
    data->setAuthKey(new ByteVector(std::move(link->handle)));
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<DeleteLinkRequest>(data), this);
}

// --- GET_LINK_INFO ---

bool GetLinkInfoAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

void GetLinkInfoAction::process(const ActionRecord& data) {
    std::optional<PublicLinkParts> link = parseLinkToOpen(data->getLinkString());
    if (!link) {
        endWithError(data, Error(WRONG_PARAMETERS));
        return;
    }
    data->setPublicKey(new ByteVector(std::move(link->handle)));
    data->setKey(&link->key);
    data->setOption(link->type);
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<DownloadRequest>(data), this);
}

void GetLinkInfoAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    Cloud* cloud = manager_->getCloud();
    if (data->getErrorCode() != SUCCESS || cloud == nullptr) {
        if (data->getErrorCode() == SUCCESS) {
            data->setError(Error(UNKNOWN_ERROR));
        }
        notifyFinish(data);
        return;
    }
    auto node = std::make_shared<MutableNodeData>();
    node->setId(data->getNodeHandle());
    node->setType(data->getOption());
    node->setSize(data->getSize());
    node->setKey(data->getKey());
    node->setCrypto(static_cast<uint8_t>(data->getCrypto()));
    if (const ByteVector* metadata = data->getMetadata()) {
        node->setMetadata(metadata->data(), metadata->size());
    }
    cloud->decryptAttributes(data->getCrypto(), data->getAttributes(), node, [this, data, node](bool opened) {
        if (!opened) {
            data->setError(Error(CRYPTOGRAPHIC_ERROR));
        } else {
            data->setName(node->getName());
            data->setNode(node);
        }
        notifyFinish(data);
    });
}

}  // namespace corvane
