#include "request/link_session_request.h"

#include "cloud/cloud.h"
#include "corvane/error.h"
#include "corvane/handle.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_type.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_node_data.h"
#include "request/change_support.h"
#include "request/request_host.h"
#include "util/deployment.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr uint64_t kDriveLink = SHARED_DRIVE_ROOT;
constexpr uint64_t kInboxLink = INBOX_NODE;
constexpr uint64_t kRecordLink = RECORD_NODE;
constexpr uint8_t kFilesystemKeyScheme = 0;

const char* const kNewRecordPath = "/new-record/";
const char* const kRecordPath = "/record/";

ByteVector bytesOf(const flatbuffers::Vector<uint8_t>* bytes) {
    return bytes != nullptr ? ByteVector(bytes->begin(), bytes->end()) : ByteVector();
}

flatbuffers::Offset<flatbuffers::Vector<uint8_t>> vectorOf(flatbuffers::FlatBufferBuilder& builder,
                                                           const ByteVector* bytes) {
    return bytes != nullptr ? builder.CreateVector(*bytes)
                            : builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
}

std::shared_ptr<ByteVector> shared(CryptoBytes bytes) {
    return std::shared_ptr<ByteVector>(bytes.release());
}

}  // namespace

// --- LoginLink ---

LoginLinkRequest::LoginLinkRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const bool inbox = actionData_ && actionData_->getNumber() == kInboxLink;
    const auto auth = vectorOf(builder, actionData_ ? actionData_->getAuthKey() : nullptr);
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> shareKey, attributes;
    if (inbox) {
        shareKey = vectorOf(builder, actionData_->getUserKey());
        attributes = vectorOf(builder, actionData_->getAttributes());
    }
    LoginLinkMessageBuilder message(builder);
    message.add_auth(auth);
    if (inbox) {
        if (actionData_->getCrypto() != 0) {
            message.add_crypto(static_cast<uint8_t>(actionData_->getCrypto()));
        }
        message.add_shareKey(shareKey);
        message.add_attributes(attributes);
    }
    finishMessage(builder, message.Finish().o);
}

bool LoginLinkRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<LoginLinkResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    const uint64_t number = actionData_ ? actionData_->getNumber() : 0;
    // What the session and the root need must all be there; a response without it opens
    // nothing.
    const bool named = number != kInboxLink && number != kRecordLink ? true : response->target() != nullptr;
    const bool keyed =
        number != kDriveLink || (response->shareKey() != nullptr && response->filesystemKey() != nullptr);
    if (response->session() == nullptr || response->session()->size() == 0 || response->attributes() == nullptr ||
        !named || !keyed) {
        CLOG_ERROR("[req]{}: Response without the link session's fields", getName());
        error_ = UNKNOWN_ERROR;
        storeError(error_);
        return true;
    }
    session_ = bytesOf(response->session());
    crypto_ = response->crypto();
    shareKey_ = bytesOf(response->shareKey());
    attributes_ = bytesOf(response->attributes());
    target_ = response->target() != nullptr ? response->target()->str() : std::string();
    filesystemKey_ = bytesOf(response->filesystemKey());
    if (response->publicKey() != nullptr && actionData_) {
        actionData_->setPublicKey(new ByteVector(bytesOf(response->publicKey())));
    }
    return true;
}

void LoginLinkRequest::applyResults(RequestHost* manager) {
    if (error_ != 0 || !actionData_) {
        notifyFinished();
        return;
    }
    const ByteVector* linkAuth = actionData_->getLinkAuth();
    auto linkKey = std::make_shared<ByteVector>(linkAuth != nullptr ? *linkAuth : ByteVector());
    if (actionData_->getNumber() != kDriveLink) {
        openRoot(manager, linkKey);
        return;
    }
    CryptoManager* crypto = manager->getCryptoManager();
    if (crypto == nullptr) {
        change::setOwnerError(actionData_, UNKNOWN_ERROR);
        notifyFinished();
        return;
    }
    // A drive's root key lies under the drive's filesystem key, which lies under the link's key.
    auto request = change::self(this);
    auto sealedFilesystemKey = std::make_shared<ByteVector>(filesystemKey_);
    auto fail = [request]() {
        change::setOwnerError(request->actionData_, CRYPTOGRAPHIC_ERROR);
        request->notifyFinished();
    };
    crypto->decryptNodeKey(kFilesystemKeyScheme, sealedFilesystemKey.get(), linkKey.get(),
                           [request, manager, crypto, linkKey, sealedFilesystemKey, fail](CryptoBytes opened) {
                               auto filesystemKey = shared(std::move(opened));
                               if (!filesystemKey) {
                                   fail();
                                   return;
                               }
                               crypto->deriveNodeKey(
                                   request->crypto_, filesystemKey.get(), linkKey.get(),
                                   [request, manager, crypto, linkKey, filesystemKey, fail](CryptoBytes derivedBytes) {
                                       auto derived = shared(std::move(derivedBytes));
                                       if (!derived) {
                                           fail();
                                           return;
                                       }
                                       auto shareKey = std::make_shared<ByteVector>(request->shareKey_);
                                       crypto->decryptNodeKey(
                                           request->crypto_, shareKey.get(), derived.get(),
                                           [request, manager, linkKey, derived, shareKey, fail](CryptoBytes root) {
                                               auto rootKey = shared(std::move(root));
                                               if (!rootKey) {
                                                   fail();
                                                   return;
                                               }
                                               request->actionData_->setPublicKey(new ByteVector(*linkKey));
                                               request->actionData_->setLinkAuth(new ByteVector(*rootKey));
                                               request->openRoot(manager, rootKey);
                                           });
                                   });
                           });
}

void LoginLinkRequest::openRoot(RequestHost* manager, std::shared_ptr<ByteVector> rootKey) {
    Cloud* cloud = change::cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    auto node = std::make_shared<MutableNodeData>();
    node->setType(static_cast<int32_t>(actionData_->getNumber()));
    node->setKey(rootKey.get());
    auto request = change::self(this);
    cloud->decryptAttributes(crypto_, &attributes_, node, [request, manager, node](bool ok) {
        if (!ok) {
            change::setOwnerError(request->actionData_, CRYPTOGRAPHIC_ERROR);
            request->notifyFinished();
            return;
        }
        const uint64_t number = request->actionData_->getNumber();
        if (number == kInboxLink || number == kRecordLink) {
            request->actionData_->setName(request->target_.c_str());
        } else {
            request->actionData_->setName(node->getName());
        }
        request->startSession(manager);
    });
}

void LoginLinkRequest::startSession(RequestHost* manager) {
    auto request = change::self(this);
    manager->resetSession([request, manager]() {
        auto sessionText = std::make_shared<std::string>(getBase64UrlText(&request->session_));
        const auto& data = request->actionData_;
        manager->setLinkSession(
            sessionText->c_str(), data->getPublicKey(), data->getLinkAuth(), [request, sessionText]() {
                const auto& data = request->actionData_;
                if (data->getNumber() == kInboxLink) {
                    const std::string link = getDeployment().webAddress + kNewRecordPath + *sessionText + "#" +
                                             getBase64UrlText(data->getLinkAuth());
                    data->setSession(link.c_str());
                } else {
                    data->setSession(sessionText->c_str());
                }
                request->notifyFinished();
            });
    });
}

// --- LogoutLink ---

LogoutLinkRequest::LogoutLinkRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId)
    : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    LogoutLinkMessageBuilder message(builder);
    if (clientId != 0) {
        message.add_clientId(clientId);
    }
    const uint8_t discard = actionData_ ? static_cast<uint8_t>(actionData_->getOption() & 0xFF) : 0;
    if (discard != 0) {
        message.add_delete_(discard);
    }
    finishMessage(builder, message.Finish().o);
}

bool LogoutLinkRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<LogoutLinkResponse>(bytes);
    error_ = response->error();
    const bool discard = actionData_ && (actionData_->getOption() & 0xFF) != 0;
    if (error_ != 0 || discard) {
        storeError(discard ? 0 : error_);
        return true;
    }
    if (response->pubhandle() == nullptr || response->pubhandle()->size() == 0) {
        CLOG_ERROR("[req]{}: Response without the record's public handle", getName());
        error_ = UNKNOWN_ERROR;
        storeError(error_);
        return true;
    }
    read_ = true;
    if (actionData_) {
        const ByteVector handle = bytesOf(response->pubhandle());
        actionData_->setText(getBase64UrlText(&handle).c_str());
    }
    return true;
}

void LogoutLinkRequest::applyResults(RequestHost* manager) {
    if (read_ && actionData_) {
        const auto node = actionData_->getNode();
        if (node && node->getType() == RECORD_NODE) {
            const ByteVector* key = node->getKey();
            const std::string link = getDeployment().webAddress + kRecordPath + actionData_->getTextString() + "#" +
                                     (key != nullptr ? getBase64UrlText(key) : std::string());
            actionData_->setLink(link.c_str());
        } else {
            actionData_->setError(Error(UNKNOWN_ERROR));
        }
    }
    // Whatever the service said, the link session ends here.
    auto request = change::self(this);
    manager->logout([request]() { request->notifyFinished(); });
}

// --- RecordInfo ---

RecordInfoRequest::RecordInfoRequest(std::shared_ptr<MutableActionData> owner) : FlatbufferRequest(std::move(owner)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    const auto publicNode = vectorOf(builder, actionData_ ? actionData_->getPublicKey() : nullptr);
    RecordInfoMessageBuilder message(builder);
    message.add_publicNode(publicNode);
    finishMessage(builder, message.Finish().o);
}

bool RecordInfoRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<RecordInfoResponse>(bytes);
    error_ = readError(response);
    if (error_ != 0) {
        return true;
    }
    const auto* nodes = response->nodes();
    if (nodes == nullptr || response->target() == nullptr) {
        CLOG_ERROR("[req]{}: Response without the record's fields", getName());
        error_ = UNKNOWN_ERROR;
        storeError(error_);
        return true;
    }
    CLOG_DEBUG("Received {} nodes", nodes->size());
    nodes_ = getEncryptedNodes(nodes);
    if (!nodes_->empty() && nodes_->front()->getType() == RECORD_NODE) {
        target_ = response->target()->str();
    } else {
        // The rest is still applied (a list without a record only ends with the error).
        change::setOwnerError(actionData_, UNKNOWN_ERROR);
    }
    return true;
}

void RecordInfoRequest::applyResults(RequestHost* manager) {
    if (error_ != 0 || nodes_->empty() || !actionData_) {
        notifyFinished();
        return;
    }
    Cloud* cloud = change::cloudOf(manager, this);
    if (cloud == nullptr) {
        return;
    }
    actionData_->setName(target_.c_str());
    std::shared_ptr<EncryptedNodeData> record = nodes_->front();
    record->setKey(actionData_->getKey());
    auto rest = std::make_shared<NodeList>(nodes_->begin() + 1, nodes_->end());
    auto request = change::self(this);
    cloud->decryptAttributes(record->getCrypto(), record->getEncryptedAttributes(), record,
                             [request, cloud, record, rest](bool ok) {
                                 const auto& data = request->actionData_;
                                 if (!ok) {
                                     data->setError(Error(CRYPTOGRAPHIC_ERROR));
                                     request->notifyFinished();
                                     return;
                                 }
                                 data->setNode(record);
                                 if (rest->empty()) {
                                     request->notifyFinished();
                                     return;
                                 }
                                 const ByteVector* key = record->getKey();
                                 cloud->decryptPublicNodes(rest, key != nullptr ? *key : ByteVector(),
                                                           [request](Cloud::NodeListPointer files) {
                                                               const auto& data = request->actionData_;
                                                               if (files) {
                                                                   data->setNodes(files);
                                                               } else {
                                                                   data->setError(Error(UNKNOWN_ERROR));
                                                               }
                                                               request->notifyFinished();
                                                           });
                             });
}

}  // namespace corvane
