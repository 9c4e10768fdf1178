#pragma once

#include <cstdint>
#include <memory>

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "delete_node_message_generated.h"
#include "delete_node_response_generated.h"
#include "move_node_message_generated.h"
#include "move_node_response_generated.h"
#include "rename_node_message_generated.h"
#include "rename_node_response_generated.h"
#include "request/node_tables.h"
#include "request/request.h"
#include "rewrite_keys_message_generated.h"
#include "rewrite_keys_response_generated.h"

namespace corvane {

class MutableEventData;

// The requests that change the account's node tree on the service and then in the cloud
// cache, each raising one SDK event after it has finished. The default constructors make the
// owner-less form that applies a change pushed inside the events response: it builds no
// message and skips every step that would write into an owner.

class AddNodesRequest : public FlatbufferRequest<AddNodesMessage, AddNodesResponse> {
public:
    AddNodesRequest();
    // The nodes go under the owner's parent handle.
    AddNodesRequest(std::shared_ptr<MutableActionData> owner, std::shared_ptr<EncryptedNodeList> nodes,
                    uint64_t clientId);

    const char* getName() const override { return "AddNodes"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getClientId() const { return clientId_; }
    // Null until a response with a node list was read.
    std::shared_ptr<EncryptedNodeList> getNodes() const { return nodes_; }

private:
    int32_t error_ = 0;
    uint64_t clientId_ = 0;
    std::shared_ptr<EncryptedNodeList> nodes_;
};

class DeleteNodeRequest : public FlatbufferRequest<DeleteNodeMessage, DeleteNodeResponse> {
public:
    DeleteNodeRequest();
    // The owner's node handle, filesystem (number) and, when present, child key (user key).
    DeleteNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId);

    const char* getName() const override { return "DeleteNode"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getClientId() const { return clientId_; }
    uint64_t getNode() const { return node_; }

private:
    int32_t error_ = 0;
    uint64_t clientId_ = 0;
    uint64_t node_ = 0;
};

class MoveNodeRequest : public FlatbufferRequest<MoveNodeMessage, MoveNodeResponse> {
public:
    MoveNodeRequest();
    // The owner's node handle, parent handle, filesystem (number) and child key (user key).
    MoveNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId);

    const char* getName() const override { return "MoveNode"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getClientId() const { return clientId_; }
    uint64_t getNode() const { return node_; }
    uint64_t getParent() const { return parent_; }
    uint64_t getFilesystem() const { return filesystem_; }

private:
    int32_t error_ = 0;
    uint64_t clientId_ = 0;
    uint64_t node_ = 0;
    uint64_t parent_ = 0;
    uint64_t filesystem_ = 0;
};

class RenameNodeRequest : public FlatbufferRequest<RenameNodeMessage, RenameNodeResponse> {
public:
    RenameNodeRequest();
    // The owner's node handle, attributes when present, and option as the extra number.
    RenameNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId);
    // The same with the whole 64-bit extra number in place of the option.
    RenameNodeRequest(std::shared_ptr<MutableActionData> owner, uint64_t clientId, uint64_t extraNumber);

    const char* getName() const override { return "RenameNode"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getClientId() const { return clientId_; }
    uint64_t getNode() const { return node_; }
    // Null when the response carried none.
    const ByteVector* getAttributes() const { return attributes_.get(); }
    uint64_t getExtraNumber() const { return extraNumber_; }

private:
    void updateFound(RequestHost* manager, std::shared_ptr<MutableEventData> event,
                     std::shared_ptr<MutableNodeData> found);

    int32_t error_ = 0;
    uint64_t clientId_ = 0;
    uint64_t node_ = 0;
    std::shared_ptr<ByteVector> attributes_;
    uint64_t extraNumber_ = 0;
};

class RewriteKeysRequest : public FlatbufferRequest<RewriteKeysMessage, RewriteKeysResponse> {
public:
    RewriteKeysRequest();
    // The owner is empty when the API manager rewrites its queued nodes.
    RewriteKeysRequest(std::shared_ptr<MutableActionData> owner, std::shared_ptr<EncryptedNodeList> nodes,
                       uint64_t clientId);

    const char* getName() const override { return "RewriteKeys"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getClientId() const { return clientId_; }
    std::shared_ptr<EncryptedNodeList> getNodes() const { return nodes_; }

private:
    int32_t error_ = 0;
    uint64_t clientId_ = 0;
    std::shared_ptr<EncryptedNodeList> nodes_;
};

}  // namespace corvane
