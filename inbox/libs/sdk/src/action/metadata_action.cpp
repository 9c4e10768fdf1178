#include "action/metadata_action.h"

#include <cstring>
#include <string>
#include <vector>

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/error.h"
#include "corvane/node_data.h"
#include "database/mutable_node_data.h"
#include "database/mutable_transfer_data.h"
#include "filesystem/filesystem_module.h"
#include "metadata/metadata_manager.h"
#include "request/metadata_request.h"
#include "util/base64.h"

namespace corvane {

namespace {

// None (0), thumbnail (1) or preview (2).
bool isMetadataOption(int32_t option) {
    return option >= 0 && option <= 2;
}

// What sealing adds to a blob: the 12-byte nonce and the 16-byte tag.
constexpr uint64_t kSealOverhead = 28;

constexpr int32_t kStatusFinished = 4;

// The descriptor's entries have the node's metadata layout: kind, one unused byte, the
// handle (little-endian).
constexpr size_t kEntrySize = 10;
constexpr size_t kHandleAt = 2;

uint64_t readHandle(const uint8_t* bytes) {
    uint64_t handle = 0;
    for (size_t i = 0; i < sizeof(handle); ++i) {
        handle |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    }
    return handle;
}

}  // namespace

// --- UPLOAD_METADATA ---

bool UploadMetadataAction::validate(const ActionRecord& data) {
    return isSet(data->getName()) && data->getNodeHandle() != 0 && isMetadataOption(data->getOption());
}

void UploadMetadataAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud*, const std::shared_ptr<MutableNodeData>& node) {
        data->setKey(node->getKey());
        data->setCrypto(node->getCrypto());
        FilesystemModule* filesystem = manager_->getFilesystem();
        if (filesystem == nullptr) {
            endUnavailable(data);
            return;
        }
        filesystem->stat(data->getName(), [this, data](int, uint64_t, uint64_t size, bool ok) {
            if (!ok) {
                endWithError(data, Error(NOT_FOUND));
                return;
            }
            data->setSize(size + kSealOverhead);
            notifyProcessed(data);
            manager_->enqueueApiRequest(std::make_shared<TransferMetadataRequest>(data), this);
        });
    });
}

void UploadMetadataAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    // The record holds the transfer once the blob went: then this is the attach request.
    if (data->getErrorCode() != SUCCESS || data->getTransfer()) {
        notifyFinish(data);
        return;
    }
    MetadataManager* metadata = manager_->getMetadataManager();
    if (metadata == nullptr) {
        data->setError(Error(UNKNOWN_ERROR));
        notifyFinish(data);
        return;
    }
    metadata->processTransfer(data, this);
}

void UploadMetadataAction::onActionFinish(std::shared_ptr<ActionData> action) {
    ActionRecord data = asRecord(action);
    auto transfer = std::static_pointer_cast<MutableTransferData>(data->getTransfer());
    if (transfer) {
        transfer->setStatus(kStatusFinished);
    }
    const ByteVector* token = transfer ? transfer->getUploadToken() : nullptr;
    // A blob that did not arrive has nothing to attach: the node would point at nothing.
    if (data->getErrorCode() != SUCCESS || token == nullptr || token->empty()) {
        if (data->getErrorCode() == SUCCESS) {
            data->setError(Error(IO_ERROR));
        }
        notifyFinish(data);
        return;
    }
    data->setUserKey(new ByteVector(*token));
    manager_->enqueueApiRequest(std::make_shared<AddMetadataRequest>(data, manager_->getClientId()), this);
}

// --- DOWNLOAD_METADATA ---

bool DownloadMetadataAction::validate(const ActionRecord& data) {
    return isSet(data->getName()) && (data->getNodeHandle() != 0 || isSet(data->getText())) &&
           isMetadataOption(data->getOption());
}

void DownloadMetadataAction::process(const ActionRecord& data) {
    const uint8_t kind = static_cast<uint8_t>(data->getOption());
    if (const char* text = data->getText()) {
        std::vector<uint8_t> bytes(std::strlen(text));
        Base64 base64;
        bytes.resize(base64.decodeUrl(text, bytes.data(), bytes.size()));
        if (bytes.empty()) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        const size_t count = bytes[0];
        if (bytes.size() < kEntrySize * count + 3) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        const size_t schemeAt = 1 + kEntrySize * count;
        uint64_t handle = 0;
        bool found = false;
        for (size_t i = 0; i < count && !found; ++i) {
            const uint8_t* entry = bytes.data() + 1 + kEntrySize * i;
            if (entry[0] == kind) {
                handle = readHandle(entry + kHandleAt);
                found = true;
            }
        }
        if (!found) {
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        const ByteVector key(bytes.begin() + static_cast<std::ptrdiff_t>(schemeAt + 1), bytes.end());
        data->setParentHandle(handle);
        data->setCrypto(bytes[schemeAt]);
        data->setKey(&key);
        requestLink(data);
        return;
    }
    withCachedNode(data, data->getNodeHandle(),
                   [this, data, kind](Cloud*, const std::shared_ptr<MutableNodeData>& node) {
                       data->setNode(node);
                       if (!node->hasMetadata(kind)) {
                           endWithError(data, Error(NOT_FOUND));
                           return;
                       }
                       data->setParentHandle(node->getMetadata(kind));
                       data->setCrypto(node->getCrypto());
                       data->setKey(node->getKey());
                       requestLink(data);
                   });
}

void DownloadMetadataAction::requestLink(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<TransferMetadataRequest>(data), this);
}

void DownloadMetadataAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    if (data->getErrorCode() != SUCCESS) {
        notifyFinish(data);
        return;
    }
    MetadataManager* metadata = manager_->getMetadataManager();
    if (metadata == nullptr) {
        data->setError(Error(UNKNOWN_ERROR));
        notifyFinish(data);
        return;
    }
    metadata->processTransfer(data, this);
}

}  // namespace corvane
