#pragma once

#include <cstdint>
#include <memory>

#include "download_message_generated.h"
#include "download_response_generated.h"
#include "get_node_by_fingerprint_message_generated.h"
#include "get_node_by_fingerprint_response_generated.h"
#include "request/node_tables.h"
#include "request/request.h"
#include "upload_message_generated.h"
#include "upload_response_generated.h"

namespace corvane {

// The download link of a node (private handle, or the public handle of a link when the owner's
// option is not 0) with what is needed to fetch and decrypt it. The answer goes into the
// owner: text = link, size, crypto, option = node type, attributes, account handle, and where
// present name, metadata and public key.
class DownloadRequest : public FlatbufferRequest<DownloadMessage, DownloadResponse> {
public:
    explicit DownloadRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "Download"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// An upload link for a new file of the owner's size under its parent handle; the link goes
// into the owner's text.
class UploadRequest : public FlatbufferRequest<UploadMessage, UploadResponse> {
public:
    explicit UploadRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "Upload"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// Whether the service holds a node with the fingerprint in the owner's metadata. The answer is
// the node with the nodes above it, root first; they go into the cloud cache and the found
// node (the last) becomes the owner's node.
class GetNodeByFingerprintRequest
    : public FlatbufferRequest<GetNodeByFingerprintMessage, GetNodeByFingerprintResponse> {
public:
    explicit GetNodeByFingerprintRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "GetNodeByFingerprint"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    // Empty until a response was read.
    std::shared_ptr<EncryptedNodeList> getNodes() const { return nodes_; }

private:
    int32_t error_ = 0;
    std::shared_ptr<EncryptedNodeList> nodes_ = std::make_shared<EncryptedNodeList>();
};

}  // namespace corvane
