#include "request/metadata_request.h"

#include <string>

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "corvane/mutable_event_data.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/log.h"

namespace corvane {

TransferMetadataRequest::TransferMetadataRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    TransferMetadataMessageBuilder message(builder);
    if (actionData_) {
        // A handle names an existing blob; the size matters only for a new one.
        if (actionData_->getParentHandle() != 0) {
            message.add_metadata(actionData_->getParentHandle());
        } else {
            message.add_size(actionData_->getSize());
        }
    }
    finishMessage(builder, message.Finish().o);
}

bool TransferMetadataRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<TransferMetadataResponse>(bytes);
    if (readError(response) != 0 || !actionData_) {
        return true;
    }
    actionData_->setText(response->link() != nullptr ? response->link()->c_str() : "");
    // An upload keeps the size it asked for.
    if (actionData_->getParentHandle() != 0) {
        actionData_->setSize(response->size());
    }
    return true;
}

AddMetadataRequest::AddMetadataRequest() : FlatbufferRequest(nullptr) {
}

AddMetadataRequest::AddMetadataRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    // The service needs the token; an absent one travels empty.
    const ByteVector* token = actionData_ ? actionData_->getUserKey() : nullptr;
    const auto tokenVector =
        token != nullptr ? builder.CreateVector(*token) : builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
    AddMetadataMessageBuilder message(builder);
    message.add_clientId(clientId);
    if (actionData_) {
        message.add_node(actionData_->getNodeHandle());
        message.add_type(static_cast<uint8_t>(actionData_->getOption()));
    }
    message.add_token(tokenVector);
    finishMessage(builder, message.Finish().o);
}

bool AddMetadataRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<AddMetadataResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    clientId_ = response->clientId();
    node_ = response->node();
    if (const auto* metadata = response->metadata()) {
        metadata_.assign(metadata->begin(), metadata->end());
    }
    return true;
}

void AddMetadataRequest::applyResults(RequestHost* manager) {
    if (error_ != 0) {
        notifyFinished();
        return;
    }
    Cloud* cloud = change::cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    auto request = change::self(this);
    auto event = change::makeEvent(EVENT_UPDATED_META, clientId_, manager);
    event->setHandle(node_);
    const uint64_t handle = node_;
    cloud->getNodePath(handle, [request, manager, cloud, event, handle](std::string path, Error) {
        event->setName(path.c_str());
        cloud->changeNodeMetadata(handle, request->metadata_.data(), request->metadata_.size(),
                                  [request, manager, event, handle](Cloud::NodePointer node) {
                                      if (!node) {
                                          CLOG_DEBUG("Unknown node during metadata update {}", handle);
                                          change::setOwnerError(request->actionData_, UNKNOWN_ERROR);
                                          request->notifyFinished();
                                          return;
                                      }
                                      event->setNode(node);
                                      if (request->actionData_) {
                                          request->actionData_->setNode(node);
                                      }
                                      request->notifyFinished();
                                      manager->onEvent(event);
                                  });
    });
}

}  // namespace corvane
