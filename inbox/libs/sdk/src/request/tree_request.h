#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"
#include "request/node_tables.h"
#include "request/request.h"

namespace corvane {

// Loads nodes from the service in the shape the owner's data asks for: the whole tree when its
// flags are set (sent as the mode), the subtree below its parent handle (size levels deep, all
// of it for 0) when that is set, else the single node of its node handle. The whole tree fills
// the cache and raises ACCOUNT_READY; the others add what arrived and leave it in the owner.
class GetNodesRequest : public FlatbufferRequest<GetNodesMessage, GetNodesResponse> {
public:
    explicit GetNodesRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "GetNodes"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    // What was read; null before a response with nodes.
    std::shared_ptr<EncryptedNodeList> getNodes() const { return nodes_; }
    std::shared_ptr<FilesystemList> getFilesystems() const { return filesystems_; }
    uint64_t getAccountStatus() const { return accountStatus_; }
    const std::string& getLink() const { return link_; }

private:
    void applyPart(RequestHost* manager, bool subtree);
    void applyTree(RequestHost* manager);
    void finishTree(RequestHost* manager);
    void queueRewrites(RequestHost* manager) const;

    std::shared_ptr<EncryptedNodeList> nodes_;
    std::shared_ptr<FilesystemList> filesystems_;
    uint64_t accountStatus_ = 0;
    std::string link_;
};

}  // namespace corvane
