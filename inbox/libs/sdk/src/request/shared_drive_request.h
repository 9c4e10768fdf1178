#pragma once

#include <cstdint>
#include <memory>

#include "new_shared_drive_message_generated.h"
#include "new_shared_drive_response_generated.h"
#include "request/node_tables.h"
#include "request/request.h"

namespace corvane {

class Cloud;

// Creates a shared drive from its wrapped key and a prepared root node; the answer's
// filesystem and root node go into the cloud cache and a NEW_NODES event follows the finish.
// The default constructor makes the owner-less form that applies a drive created elsewhere,
// pushed inside the events response.
class NewSharedDriveRequest : public FlatbufferRequest<NewSharedDriveMessage, NewSharedDriveResponse> {
public:
    NewSharedDriveRequest();
    // The drive key is the owner's private key; the root node takes the owner's name.
    NewSharedDriveRequest(std::shared_ptr<MutableActionData> owner, std::shared_ptr<EncryptedNodeData> root,
                          uint64_t clientId);

    const char* getName() const override { return "NewSharedDrive"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getClientId() const { return clientId_; }
    // Null until a response carrying them was read.
    std::shared_ptr<FilesystemData> getFilesystem() const { return filesystem_; }
    std::shared_ptr<EncryptedNodeData> getNode() const { return node_; }

private:
    void addRoot(RequestHost* manager, Cloud* cloud);

    int32_t error_ = 0;
    uint64_t clientId_ = 0;
    std::shared_ptr<FilesystemData> filesystem_;
    std::shared_ptr<EncryptedNodeData> node_;
};

}  // namespace corvane
