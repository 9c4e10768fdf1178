#include "request/tree_request.h"

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "corvane/mutable_event_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/log.h"
#include "util/memory_usage.h"

namespace corvane {

namespace {

constexpr uint8_t kNodesApi = 5;
constexpr uint8_t kRewrittenCrypto = 1;
constexpr int kMemoryShift = 20;

using change::cloudOf;
using change::self;
using change::setOwnerError;

}  // namespace

GetNodesRequest::GetNodesRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    GetNodesMessageBuilder message(builder);
    message.add_api(kNodesApi);
    if (actionData_) {
        if (actionData_->getFlags() != 0) {
            message.add_mode(static_cast<uint32_t>(actionData_->getFlags()));
        } else if (actionData_->getParentHandle() != 0) {
            message.add_parent(actionData_->getParentHandle());
            message.add_levels(static_cast<uint32_t>(actionData_->getSize()));
        } else if (actionData_->getNodeHandle() != 0) {
            message.add_node(actionData_->getNodeHandle());
        }
    }
    finishMessage(builder, message.Finish().o);
}

bool GetNodesRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<GetNodesResponse>(bytes);
    if (readError(response) != 0) {
        return true;
    }
    const auto* nodes = response->nodes();
    if (nodes == nullptr) {
        // Nothing to place: the cache stays as it is.
        CLOG_ERROR("[req]{}: Response without nodes", getName());
        setOwnerError(actionData_, UNKNOWN_ERROR);
        return true;
    }
    const bool part = actionData_ && (actionData_->getNodeHandle() != 0 || actionData_->getParentHandle() != 0);
    if (part) {
        CLOG_DEBUG("Received {} nodes", nodes->size());
    } else {
        const auto* filesystems = response->filesystems();
        filesystems_ = getFilesystemList(filesystems);
        CLOG_DEBUG("Received {} nodes in {} filesystems", nodes->size(),
                   filesystems != nullptr ? filesystems->size() : 0);
    }
    nodes_ = getEncryptedNodes(nodes);
    if (nodes_->empty()) {
        setOwnerError(actionData_, UNKNOWN_ERROR);
        return true;
    }
    if (const auto* contacts = response->contacts()) {
        auto contactNodes = getEncryptedNodes(contacts);
        nodes_->insert(nodes_->end(), contactNodes->begin(), contactNodes->end());
    }
    accountStatus_ = response->accountStatus();
    if (response->link() != nullptr) {
        link_ = response->link()->str();
    }
    return true;
}

void GetNodesRequest::applyResults(RequestHost* manager) {
    if (!actionData_ || actionData_->getErrorCode() != SUCCESS || !nodes_) {
        notifyFinished();
        return;
    }
    if (actionData_->getParentHandle() != 0) {
        applyPart(manager, true);
    } else if (actionData_->getNodeHandle() != 0) {
        applyPart(manager, false);
    } else {
        applyTree(manager);
    }
}

void GetNodesRequest::queueRewrites(RequestHost* manager) const {
    for (const auto& node : *nodes_) {
        if (node->getType() == RECORD_NODE && node->getCrypto() == kRewrittenCrypto) {
            manager->queueNodeRewrite(node->getId());
        }
    }
}

void GetNodesRequest::applyPart(RequestHost* manager, bool subtree) {
    Cloud* cloud = cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    if (subtree) {
        queueRewrites(manager);
    }
    auto request = self(this);
    auto nodes = std::make_shared<NodeList>(nodes_->begin(), nodes_->end());
    cloud->addNodes(
        nodes,
        [request, subtree](Cloud::NodeListPointer placed) {
            const auto& data = request->actionData_;
            if (!placed || placed->empty()) {
                CLOG_ERROR("Unexpected error decrypting nodes");
                data->setError(Error(CRYPTOGRAPHIC_ERROR));
                request->notifyFinished();
                return;
            }
            data->setNode(placed->front());
            if (subtree) {
                data->setNodes(std::make_shared<NodeList>(placed->begin() + 1, placed->end()));
            }
            request->notifyFinished();
        },
        subtree);
}

// Never fails once read: what the cache could not place is left out, as a later events
// snapshot would leave it out too. Only a tree without its main root cannot be used.
void GetNodesRequest::applyTree(RequestHost* manager) {
    Cloud* cloud = cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    manager->beginCacheTransaction();
    auto request = self(this);
    cloud->addFilesystems(filesystems_, [request, manager, cloud](bool) {
        request->queueRewrites(manager);
        auto nodes = std::make_shared<NodeList>(request->nodes_->begin(), request->nodes_->end());
        cloud->addNodes(
            nodes,
            [request, manager](Cloud::NodeListPointer) {
                manager->updateAccountStatus(request->accountStatus_, request->link_, [request, manager]() {
                    manager->initializeBackups([request, manager]() { request->finishTree(manager); });
                });
            },
            true);
    });
}

void GetNodesRequest::finishTree(RequestHost* manager) {
    // The cache holds them now.
    nodes_.reset();
    filesystems_.reset();
    Cloud* cloud = manager->getCloud();
    std::shared_ptr<NodeData> root = cloud != nullptr ? cloud->getRoot(0) : nullptr;
    if (!root) {
        CLOG_ERROR("[req]{}: No main root after loading the tree", getName());
        actionData_->setError(Error(NOT_FOUND));
        notifyFinished();
        return;
    }
    // A copy: the caller's record must not follow later changes to the cache.
    actionData_->setNode(std::make_shared<MutableNodeData>(*root));
    CLOG_DEBUG("[action][{}] Cloud loaded from server. Peak Memory: {} MB Current Memory: {} MB", getName(),
               getPeakMemoryUsage() >> kMemoryShift, getCurrentMemoryUsage() >> kMemoryShift);
    manager->onEvent(std::make_shared<MutableEventData>(EVENT_ACCOUNT_READY));
    notifyFinished();
}

}  // namespace corvane
