#include "request/transfer_request.h"

#include <string>

#include "cloud/cloud.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr uint8_t kUploadVersion = 1;

ByteVector* copyOf(const flatbuffers::Vector<uint8_t>* bytes) {
    return bytes != nullptr ? new ByteVector(bytes->begin(), bytes->end()) : new ByteVector();
}

}  // namespace

// --- Download ---

DownloadRequest::DownloadRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const bool isPublic = actionData_ && actionData_->getOption() != 0;
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> publicNode;
    if (isPublic) {
        const ByteVector* handle = actionData_->getPublicKey();
        publicNode = handle != nullptr ? builder.CreateVector(*handle)
                                       : builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
    }
    flatbuffers::Offset<flatbuffers::String> session;
    if (actionData_ && actionData_->getSession() != nullptr) {
        session = builder.CreateString(actionData_->getSession());
    }
    DownloadMessageBuilder message(builder);
    if (isPublic) {
        message.add_publicNode(publicNode);
    } else if (actionData_) {
        message.add_privateNode(actionData_->getNodeHandle());
    }
    if (!session.IsNull()) {
        message.add_session(session);
    }
    finishMessage(builder, message.Finish().o);
}

bool DownloadRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<DownloadResponse>(bytes);
    if (readError(response) != 0 || !actionData_) {
        return true;
    }
    if (response->link() != nullptr) {
        actionData_->setText(response->link()->c_str());
    }
    if (response->target() != nullptr) {
        actionData_->setName(response->target()->c_str());
    }
    if (response->metadata() != nullptr) {
        actionData_->setMetadata(copyOf(response->metadata()));
    }
    if (response->publicKey() != nullptr) {
        actionData_->setPublicKey(copyOf(response->publicKey()));
    }
    actionData_->setSize(response->size());
    actionData_->setCrypto(response->crypto());
    actionData_->setOption(static_cast<int32_t>(response->type()));
    actionData_->setAttributes(copyOf(response->attributes()));
    actionData_->setAccountHandle(response->account());
    return true;
}

// --- Upload ---

UploadRequest::UploadRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    UploadMessageBuilder message(builder);
    if (actionData_) {
        message.add_parent(actionData_->getParentHandle());
        message.add_size(actionData_->getSize());
    }
    // The version is the one field the builder would leave out at its default otherwise.
    builder.ForceDefaults(true);
    message.add_version(kUploadVersion);
    builder.ForceDefaults(false);
    finishMessage(builder, message.Finish().o);
}

bool UploadRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<UploadResponse>(bytes);
    if (readError(response) != 0 || !actionData_) {
        return true;
    }
    actionData_->setText(response->link() != nullptr ? response->link()->c_str() : "");
    return true;
}

// --- GetNodeByFingerprint ---

GetNodeByFingerprintRequest::GetNodeByFingerprintRequest(std::shared_ptr<MutableActionData> owner)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const ByteVector* fingerprint = actionData_ ? actionData_->getMetadata() : nullptr;
    const auto fingerprintVector = fingerprint != nullptr
                                       ? builder.CreateVector(*fingerprint)
                                       : builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
    GetNodeByFingerprintMessageBuilder message(builder);
    message.add_fingerprint(fingerprintVector);
    if (actionData_) {
        message.add_size(actionData_->getSize());
    }
    finishMessage(builder, message.Finish().o);
}

bool GetNodeByFingerprintRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<GetNodeByFingerprintResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    const auto* nodes = response->nodes();
    CLOG_DEBUG("Received {} nodes", nodes != nullptr ? nodes->size() : 0);
    if (nodes != nullptr) {
        nodes_ = getEncryptedNodes(nodes);
    }
    if (nodes_->empty() || !nodes_->front()->isRoot()) {
        change::setOwnerError(actionData_, UNKNOWN_ERROR);
    }
    return true;
}

void GetNodeByFingerprintRequest::applyResults(RequestHost* manager) {
    if (error_ != 0 || nodes_->empty()) {
        notifyFinished();
        return;
    }
    Cloud* cloud = change::cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    auto request = change::self(this);
    cloud->addNodes(
        std::make_shared<NodeList>(nodes_->begin(), nodes_->end()),
        [request](Cloud::NodeListPointer added) {
            if (added && !added->empty()) {
                if (request->actionData_) {
                    request->actionData_->setNode(added->back());
                }
            } else {
                CLOG_ERROR("Unexpected error decrypting nodes");
                change::setOwnerError(request->actionData_, CRYPTOGRAPHIC_ERROR);
            }
            request->notifyFinished();
        },
        false);
}

}  // namespace corvane
