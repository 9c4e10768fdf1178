#include "request/public_link_request.h"

#include "cloud/cloud.h"
#include "corvane/error.h"
#include "corvane/handle.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "request/request_host.h"
#include "util/deployment.h"

namespace corvane {

namespace {

// The path word of a linkable type, null for the others; `withKey` tells whether "#" and a
// key follow the handle.
const char* linkPathWord(int32_t nodeType, bool& withKey) {
    withKey = true;
    switch (nodeType) {
        case FILE_NODE:
            return "/file/";
        case LINK_COPY_NODE:
            return "/folder/";
        case INBOX_NODE:
            return "/inbox/";
        case REGISTER_ROOT:
            withKey = false;
            return "/inbox/";
        case SHARED_DRIVE_ROOT:
            return "/drive/";
        default:
            return nullptr;
    }
}

}  // namespace

std::string buildPublicLinkText(const std::string& webAddress, int32_t nodeType, const std::string& handleText,
                                const ByteVector* nodeKey, const ByteVector* filesystemKey) {
    bool withKey = false;
    const char* word = linkPathWord(nodeType, withKey);
    if (word == nullptr) {
        return std::string();
    }
    std::string link = webAddress + word + handleText;
    if (withKey) {
        link += "#" + getBase64UrlText(nodeType == SHARED_DRIVE_ROOT ? filesystemKey : nodeKey);
    }
    return link;
}

// --- CreateLink ---

CreateLinkRequest::CreateLinkRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    CreateLinkMessageBuilder message(builder);
    if (actionData_) {
        message.add_node(actionData_->getNodeHandle());
        message.add_accessLevel(actionData_->getValue());
    }
    finishMessage(builder, message.Finish().o);
}

bool CreateLinkRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<CreateLinkResponse>(bytes);
    if (readError(response) != 0 || !actionData_) {
        return true;
    }
    // A success without a handle gives nothing to link to.
    const auto* handle = response->pubhandle();
    if (handle == nullptr || handle->size() == 0) {
        storeError(UNKNOWN_ERROR);
        return true;
    }
    actionData_->setText(getBase64UrlText(handle->data(), handle->size()).c_str());
    return true;
}

void CreateLinkRequest::applyResults(RequestHost* manager) {
    if (!actionData_ || actionData_->getErrorCode() != 0) {
        notifyFinished();
        return;
    }
    std::shared_ptr<NodeData> node = actionData_->getNode();
    if (!node) {
        actionData_->setError(Error(UNKNOWN_ERROR));
        notifyFinished();
        return;
    }
    const ByteVector* filesystemKey = nullptr;
    if (node->getType() == SHARED_DRIVE_ROOT && manager != nullptr && manager->getCloud() != nullptr) {
        filesystemKey = manager->getCloud()->getFilesystemNodeKey(node->getFilesystem());
    }
    const std::string link = buildPublicLinkText(getDeployment().webAddress, node->getType(),
                                                 actionData_->getTextString(), node->getKey(), filesystemKey);
    if (link.empty()) {
        actionData_->setError(Error(UNKNOWN_ERROR));
    } else {
        actionData_->setLink(link.c_str());
    }
    notifyFinished();
}

// --- DeleteLink ---

DeleteLinkRequest::DeleteLinkRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const ByteVector* handle = actionData_ ? actionData_->getAuthKey() : nullptr;
    const auto pubhandle = handle != nullptr ? builder.CreateVector(*handle)
                                             : builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
    DeleteLinkMessageBuilder message(builder);
    message.add_pubhandle(pubhandle);
    finishMessage(builder, message.Finish().o);
}

bool DeleteLinkRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<DeleteLinkResponse>(bytes);
    if (actionData_) {
        actionData_->setError(Error(response->error()));
    }
    return true;
}

}  // namespace corvane
