#include "request/shared_drive_request.h"

#include <string>
#include <vector>

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "corvane/mutable_event_data.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/log.h"

namespace corvane {

namespace {

// A drive filesystem of this scheme is wrapped under the account key, any other under the
// user key.
constexpr uint8_t kAccountKeyCrypto = 1;

}  // namespace

NewSharedDriveRequest::NewSharedDriveRequest() : FlatbufferRequest(nullptr) {
}

NewSharedDriveRequest::NewSharedDriveRequest(std::shared_ptr<MutableActionData> owner,
                                             std::shared_ptr<EncryptedNodeData> root, uint64_t clientId)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const ByteVector* driveKey = actionData_ ? actionData_->getPrivateKey() : nullptr;
    const auto driveKeyVector = driveKey != nullptr ? builder.CreateVector(*driveKey)
                                                    : builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
    flatbuffers::Offset<NodeMessage> node;
    if (root) {
        node = buildNodeMessage(builder, *root);
    }
    NewSharedDriveMessageBuilder message(builder);
    message.add_driveKey(driveKeyVector);
    if (!node.IsNull()) {
        message.add_node(node);
    }
    message.add_clientId(clientId);
    finishMessage(builder, message.Finish().o);
}

bool NewSharedDriveRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<NewSharedDriveResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    clientId_ = response->clientId();
    filesystem_ = getFilesystemData(response->filesystem());
    node_ = getEncryptedNode(response->node());
    return true;
}

void NewSharedDriveRequest::applyResults(RequestHost* manager) {
    if (error_ != 0) {
        notifyFinished();
        return;
    }
    if (!filesystem_ || !node_) {
        // Nothing to add: the answer lacks the drive it announces.
        CLOG_ERROR("[req]{}: Shared drive without filesystem or root node", getName());
        change::setOwnerError(actionData_, UNKNOWN_ERROR);
        notifyFinished();
        return;
    }
    Cloud* cloud = change::cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    const std::vector<uint8_t> key =
        filesystem_->getCrypto() == kAccountKeyCrypto ? manager->getAccountKey() : manager->getUserKey();
    auto request = change::self(this);
    cloud->addFilesystemWithKey(filesystem_, key, [request, manager, cloud](bool ok) {
        if (!ok) {
            CLOG_ERROR("Unexpected error decrypting filesystem");
            change::setOwnerError(request->actionData_, CRYPTOGRAPHIC_ERROR);
            request->notifyFinished();
            return;
        }
        request->addRoot(manager, cloud);
    });
}

void NewSharedDriveRequest::addRoot(RequestHost* manager, Cloud* cloud) {
    if (actionData_) {
        node_->setName(actionData_->getName());
    }
    auto request = change::self(this);
    cloud->addNode(
        node_,
        [request, manager, cloud](Cloud::NodePointer node) {
            if (!node) {
                CLOG_ERROR("Unexpected error decrypting nodes");
                change::setOwnerError(request->actionData_, CRYPTOGRAPHIC_ERROR);
                request->notifyFinished();
                return;
            }
            auto event = change::makeEvent(EVENT_NEW_NODES, request->clientId_, manager);
            event->setNode(node);
            if (request->actionData_) {
                request->actionData_->setNode(node);
            }
            cloud->getNodePath(node->getId(), [request, manager, event](std::string path, Error) {
                event->setName(path.c_str());
                request->notifyFinished();
                manager->onEvent(event);
            });
        },
        false);
}

}  // namespace corvane
