#include "request/cloud_request.h"

#include <cstring>
#include <functional>
#include <string>

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "corvane/mutable_event_data.h"
#include "corvane/node_type.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr uint8_t kRewrittenCrypto = 1;

using change::cloudOf;
using change::makeEvent;
using change::self;
using change::setOwnerError;

std::shared_ptr<NodeList> asNodeList(const EncryptedNodeList& nodes) {
    return std::make_shared<NodeList>(nodes.begin(), nodes.end());
}

flatbuffers::Offset<flatbuffers::Vector<uint8_t>> bytesOrEmpty(flatbuffers::FlatBufferBuilder& builder,
                                                               const ByteVector* bytes) {
    return bytes != nullptr ? builder.CreateVector(*bytes)
                            : builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
}

bool sameText(const char* a, const char* b) {
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

// Names the event after the node's path, then hands the cached node on; a node the cache does
// not hold ends the request with 9 after the given line.
void withCachedNode(Cloud* cloud, std::shared_ptr<Request> request, std::shared_ptr<MutableEventData> event,
                    uint64_t handle, const char* unknownLine, std::function<void(Cloud::NodePointer)> found) {
    cloud->getNodePath(handle, [cloud, request, event, handle, unknownLine, found](std::string path, Error) {
        event->setName(path.c_str());
        cloud->getNodeById(handle, [request, handle, unknownLine, found](Cloud::NodePointer node) {
            if (!node) {
                CLOG_DEBUG(fmt::runtime(unknownLine), handle);
                setOwnerError(request->getActionData(), UNKNOWN_ERROR);
                request->notifyFinished();
                return;
            }
            found(std::move(node));
        });
    });
}

}  // namespace

// --- AddNodes ---

AddNodesRequest::AddNodesRequest() : FlatbufferRequest(nullptr) {
}

AddNodesRequest::AddNodesRequest(std::shared_ptr<MutableActionData> owner, std::shared_ptr<EncryptedNodeList> nodes,
                                 uint64_t clientId)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    if (nodes) {
        for (const auto& node : *nodes) {
            tables.push_back(buildNodeMessage(builder, *node));
        }
    }
    const auto vector = builder.CreateVector(tables);
    AddNodesMessageBuilder message(builder);
    message.add_clientId(clientId);
    message.add_parent(actionData_ ? actionData_->getParentHandle() : 0);
    message.add_nodes(vector);
    finishMessage(builder, message.Finish().o);
}

bool AddNodesRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<AddNodesResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    clientId_ = response->clientId();
    if (response->nodes() != nullptr) {
        nodes_ = getEncryptedNodes(response->nodes());
    }
    return true;
}

void AddNodesRequest::applyResults(RequestHost* manager) {
    if (error_ != 0) {
        notifyFinished();
        return;
    }
    // A success that names no nodes added nothing the caller could use.
    if (!nodes_ || nodes_->empty()) {
        CLOG_DEBUG("Unknown nodes during addition");
        setOwnerError(actionData_, UNKNOWN_ERROR);
        notifyFinished();
        return;
    }
    Cloud* cloud = cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    // Keys of the old scheme are rewritten, except in a link session, which may not.
    if (!manager->getEmail().empty()) {
        for (const auto& node : *nodes_) {
            if (node->getCrypto() == kRewrittenCrypto) {
                manager->queueNodeRewrite(node->getId());
            }
        }
    }
    auto request = self(this);
    cloud->addNodes(
        asNodeList(*nodes_),
        [request, manager, cloud](std::shared_ptr<NodeList> placed) {
            if (!placed || placed->empty()) {
                CLOG_DEBUG("Unknown nodes during addition");
                setOwnerError(request->actionData_, UNKNOWN_ERROR);
                request->notifyFinished();
                return;
            }
            auto event = makeEvent(EVENT_NEW_NODES, request->clientId_, manager);
            event->setNodes(placed);
            event->setNode(placed->front());
            if (request->actionData_) {
                request->actionData_->setNode(placed->front());
            }
            cloud->getNodePath(placed->front()->getId(), [request, manager, event](std::string path, Error) {
                event->setName(path.c_str());
                request->notifyFinished();
                manager->onEvent(event);
            });
        },
        true);
}

// --- DeleteNode ---

DeleteNodeRequest::DeleteNodeRequest() : FlatbufferRequest(nullptr) {
}

DeleteNodeRequest::DeleteNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId)
    : FlatbufferRequest(std::move(owner)) {
    node_ = actionData_ ? actionData_->getNodeHandle() : 0;
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> childKey;
    if (actionData_ && actionData_->getUserKey() != nullptr) {
        childKey = builder.CreateVector(*actionData_->getUserKey());
    }
    DeleteNodeMessageBuilder message(builder);
    message.add_clientId(clientId);
    message.add_node(node_);
    message.add_filesystem(actionData_ ? actionData_->getNumber() : 0);
    if (!childKey.IsNull()) {
        message.add_childkey(childKey);
    }
    finishMessage(builder, message.Finish().o);
}

bool DeleteNodeRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<DeleteNodeResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    clientId_ = response->clientId();
    node_ = response->node();
    return true;
}

void DeleteNodeRequest::applyResults(RequestHost* manager) {
    // A node the service no longer has goes from the cache as well.
    const uint32_t code = static_cast<uint32_t>(error_);
    if (code > NOT_FOUND) {
        notifyFinished();
        return;
    }
    if (code == NOT_FOUND) {
        clientId_ = 0;
    }
    // An owner-less not-found answer names no node; a success that names none is malformed.
    if (node_ == 0) {
        if (code == SUCCESS) {
            CLOG_DEBUG("Deletion answered without a node");
            setOwnerError(actionData_, UNKNOWN_ERROR);
        }
        notifyFinished();
        return;
    }
    Cloud* cloud = cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    auto request = self(this);
    auto event = makeEvent(EVENT_DELETED_NODE, clientId_, manager);
    event->setHandle(node_);
    const uint64_t handle = node_;
    withCachedNode(cloud, request, event, handle, "Unknown node during deletion {}",
                   [request, manager, cloud, event, handle](Cloud::NodePointer node) {
                       event->setNode(node);
                       if (manager->isActiveBackup(*node)) {
                           CLOG_DEBUG("Stopping deleted backup");
                           manager->deleteBackup(node);
                       }
                       auto done = [request, manager, event]() {
                           request->notifyFinished();
                           manager->onEvent(event);
                       };
                       switch (node->getType()) {
                           case NodeType::SECRET_ROOT:
                               cloud->closeSecret(handle, done);
                               break;
                           case NodeType::SHARED_DRIVE_ROOT:
                               cloud->deleteSharedDrive(handle, done);
                               break;
                           default:
                               cloud->removeNode(handle, done);
                               break;
                       }
                   });
}

// --- MoveNode ---

MoveNodeRequest::MoveNodeRequest() : FlatbufferRequest(nullptr) {
}

MoveNodeRequest::MoveNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    // The service needs the key under the new parent; an absent one travels empty.
    const auto childKey = bytesOrEmpty(builder, actionData_ ? actionData_->getUserKey() : nullptr);
    MoveNodeMessageBuilder message(builder);
    message.add_clientId(clientId);
    if (actionData_) {
        message.add_node(actionData_->getNodeHandle());
        message.add_parent(actionData_->getParentHandle());
        message.add_filesystem(actionData_->getNumber());
    }
    message.add_childkey(childKey);
    finishMessage(builder, message.Finish().o);
}

bool MoveNodeRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<MoveNodeResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    clientId_ = response->clientId();
    node_ = response->node();
    parent_ = response->parent();
    filesystem_ = response->filesystem();
    return true;
}

void MoveNodeRequest::applyResults(RequestHost* manager) {
    if (error_ != 0) {
        notifyFinished();
        return;
    }
    if (node_ == 0 || parent_ == 0) {
        CLOG_DEBUG("Move answered without node or parent");
        setOwnerError(actionData_, UNKNOWN_ERROR);
        notifyFinished();
        return;
    }
    Cloud* cloud = cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    auto request = self(this);
    auto event = makeEvent(EVENT_MOVED_NODE, clientId_, manager);
    event->setHandle(node_);
    const uint64_t handle = node_;
    withCachedNode(cloud, request, event, handle, "Unknown node during move {}",
                   [request, manager, cloud, event, handle](Cloud::NodePointer node) {
                       event->setOldNode(node);
                       cloud->moveNode(handle, request->parent_, request->filesystem_,
                                       [request, manager, event](Cloud::NodePointer moved) {
                                           if (!moved) {
                                               CLOG_DEBUG("Node moved to unknown parent");
                                               setOwnerError(request->actionData_, UNKNOWN_ERROR);
                                               request->notifyFinished();
                                               return;
                                           }
                                           event->setNode(moved);
                                           if (const auto& owner = request->actionData_) {
                                               // The moving action left the node as it was before the move there.
                                               if (auto before = owner->getNode()) {
                                                   owner->setParentHandle(before->getParent());
                                               }
                                               owner->setNode(moved);
                                           }
                                           request->notifyFinished();
                                           manager->onEvent(event);
                                       });
                   });
}

// --- RenameNode ---

RenameNodeRequest::RenameNodeRequest() : FlatbufferRequest(nullptr) {
}

RenameNodeRequest::RenameNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId)
    : RenameNodeRequest(owner, clientId, owner ? static_cast<uint64_t>(static_cast<int64_t>(owner->getOption())) : 0) {
}

RenameNodeRequest::RenameNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId, uint64_t extraNumber)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> attributes;
    if (actionData_ && actionData_->getAttributes() != nullptr) {
        attributes = builder.CreateVector(*actionData_->getAttributes());
    }
    RenameNodeMessageBuilder message(builder);
    message.add_clientId(clientId);
    if (actionData_) {
        message.add_node(actionData_->getNodeHandle());
        message.add_extraNumber(extraNumber);
    }
    if (!attributes.IsNull()) {
        message.add_attributes(attributes);
    }
    finishMessage(builder, message.Finish().o);
}

bool RenameNodeRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<RenameNodeResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    clientId_ = response->clientId();
    node_ = response->node();
    if (const auto* attributes = response->attributes()) {
        attributes_ = std::make_shared<ByteVector>(attributes->begin(), attributes->end());
    }
    extraNumber_ = response->extraNumber();
    return true;
}

void RenameNodeRequest::applyResults(RequestHost* manager) {
    if (error_ != 0) {
        notifyFinished();
        return;
    }
    Cloud* cloud = cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    auto request = self(this);
    auto event = makeEvent(EVENT_UPDATED_NODE, clientId_, manager);
    event->setHandle(node_);
    const uint64_t handle = node_;
    withCachedNode(cloud, request, event, handle, "Unknown node during update {}",
                   [request, manager, event](Cloud::NodePointer node) { request->updateFound(manager, event, node); });
}

void RenameNodeRequest::updateFound(RequestHost* manager, std::shared_ptr<MutableEventData> event,
                                    std::shared_ptr<MutableNodeData> found) {
    // A response without attributes carries no change to apply.
    if (!attributes_) {
        CLOG_DEBUG("Rename of {} answered without attributes", found->getId());
        setOwnerError(actionData_, UNKNOWN_ERROR);
        notifyFinished();
        return;
    }
    Cloud* cloud = manager->getCloud();
    event->setOldNode(found);
    auto copy = std::make_shared<MutableNodeData>(*found);
    // A shared drive's extra number is its own, not the attribute change's.
    if (found->getType() != NodeType::SHARED_DRIVE_ROOT) {
        copy->setExtraNumber(extraNumber_);
    }
    auto request = self(this);
    auto decrypted = [request, manager, cloud, event, found, copy](bool ok) {
        if (!ok) {
            CLOG_ERROR("Error decrypting attributes");
            setOwnerError(request->actionData_, CRYPTOGRAPHIC_ERROR);
            request->notifyFinished();
            return;
        }
        cloud->updateNode(
            copy,
            [request, manager, event, found](Cloud::NodePointer updated) {
                if (!updated) {
                    CLOG_ERROR("Error updating node");
                    setOwnerError(request->actionData_, UNKNOWN_ERROR);
                    request->notifyFinished();
                    return;
                }
                // A change made through an action never touches backups; one made elsewhere may
                // have moved an active backup's folder.
                if (!request->actionData_ && manager->isBackupOfCurrentDevice(*updated)) {
                    if (manager->isActiveBackup(*updated)) {
                        if (sameText(updated->getLocalPath(), found->getLocalPath())) {
                            CLOG_DEBUG("Updating active backup");
                            manager->modifyBackup(updated);
                        } else {
                            CLOG_DEBUG("Blocking backup due to a changed local path");
                            manager->deleteBackup(updated);
                        }
                    } else {
                        CLOG_DEBUG("External change in blocked backup");
                    }
                }
                event->setOldName(updated->getName());
                event->setNode(updated);
                if (request->actionData_) {
                    request->actionData_->setNode(updated);
                }
                request->notifyFinished();
                manager->onEvent(event);
            },
            false);
    };
    cloud->decryptAttributes(found->getCrypto(), attributes_.get(), copy, decrypted);
}

// --- RewriteKeys ---

RewriteKeysRequest::RewriteKeysRequest() : FlatbufferRequest(nullptr) {
}

RewriteKeysRequest::RewriteKeysRequest(std::shared_ptr<MutableActionData> owner,
                                       std::shared_ptr<EncryptedNodeList> nodes, uint64_t clientId)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    if (nodes) {
        for (const auto& node : *nodes) {
            const auto nodeKey = bytesOrEmpty(builder, node->getEncryptedNodeKey());
            const auto childKey = bytesOrEmpty(builder, node->getEncryptedChildKey());
            NodeMessageBuilder table(builder);
            table.add_handle(node->getId());
            table.add_crypto(node->getCrypto());
            table.add_filesystem(node->getFilesystem());
            table.add_nodekey(nodeKey);
            table.add_childkey(childKey);
            tables.push_back(table.Finish());
        }
    }
    const auto vector = builder.CreateVector(tables);
    RewriteKeysMessageBuilder message(builder);
    message.add_clientId(clientId);
    message.add_nodes(vector);
    finishMessage(builder, message.Finish().o);
}

bool RewriteKeysRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<RewriteKeysResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    clientId_ = response->clientId();
    // An absent list reads as an empty one, which places nothing.
    nodes_ = getEncryptedNodes(response->nodes());
    return true;
}

void RewriteKeysRequest::applyResults(RequestHost* manager) {
    if (error_ != 0) {
        notifyFinished();
        return;
    }
    if (!nodes_ || nodes_->empty()) {
        CLOG_DEBUG("Unknown nodes during rewrite");
        setOwnerError(actionData_, UNKNOWN_ERROR);
        notifyFinished();
        return;
    }
    Cloud* cloud = cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    auto request = self(this);
    cloud->addNodes(
        asNodeList(*nodes_),
        [request, manager, cloud](std::shared_ptr<NodeList> placed) {
            if (!placed || placed->empty()) {
                CLOG_DEBUG("Unknown nodes during rewrite");
                setOwnerError(request->actionData_, UNKNOWN_ERROR);
                request->notifyFinished();
                return;
            }
            for (const auto& node : *placed) {
                manager->unqueueNodeRewrite(node->getId());
            }
            auto event = makeEvent(EVENT_UPDATED_KEYS, request->clientId_, manager);
            event->setNodes(placed);
            event->setNode(placed->front());
            if (request->actionData_) {
                request->actionData_->setNode(placed->front());
            }
            cloud->getNodePath(placed->front()->getId(), [request, manager, event](std::string path, Error) {
                event->setName(path.c_str());
                request->notifyFinished();
                manager->onEvent(event);
            });
        },
        false);
}

}  // namespace corvane
