#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "add_metadata_message_generated.h"
#include "add_metadata_response_generated.h"
#include "request/request.h"
#include "transfer_metadata_message_generated.h"
#include "transfer_metadata_response_generated.h"

namespace corvane {

// The transfer link of one metadata blob. With the owner's parent handle set (the blob's
// handle) it asks for the download link and the blob's size; otherwise for an upload link
// for a blob of the owner's size. The link goes into the owner's text.
class TransferMetadataRequest : public FlatbufferRequest<TransferMetadataMessage, TransferMetadataResponse> {
public:
    explicit TransferMetadataRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "TransferMetadata"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

// Attaches an uploaded metadata blob (thumbnail, preview) to a node; the answer carries the
// node's new metadata entries, which go into the cloud cache, and an UPDATED_META event
// follows the finish. The default constructor makes the owner-less form that applies metadata
// added elsewhere, pushed inside the events response.
class AddMetadataRequest : public FlatbufferRequest<AddMetadataMessage, AddMetadataResponse> {
public:
    AddMetadataRequest();
    // The owner's node handle, upload token (user key) and metadata kind (option).
    AddMetadataRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId);

    const char* getName() const override { return "AddMetadata"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getClientId() const { return clientId_; }
    uint64_t getNode() const { return node_; }
    const std::vector<uint8_t>& getMetadata() const { return metadata_; }

private:
    int32_t error_ = 0;
    uint64_t clientId_ = 0;
    uint64_t node_ = 0;
    std::vector<uint8_t> metadata_;
};

}  // namespace corvane
