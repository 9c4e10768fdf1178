#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "create_link_message_generated.h"
#include "create_link_response_generated.h"
#include "delete_link_message_generated.h"
#include "delete_link_response_generated.h"
#include "request/request.h"

namespace corvane {

class NodeData;

// The public link text of a node: web address, the path word of the node's type, the handle
// text and, where the type has one, "#" and the key text. Empty for a type without a link form.
// The filesystem key stands in for the node key of a shared-drive root.
std::string buildPublicLinkText(const std::string& webAddress, int32_t nodeType, const std::string& handleText,
                                const std::vector<uint8_t>* nodeKey, const std::vector<uint8_t>* filesystemKey);

// Publishes the owner's node handle under a public handle, with the owner's value as access
// level. Reading leaves the handle text in the owner's text; applying builds the link from the
// owner's node into the owner's link.
class CreateLinkRequest : public FlatbufferRequest<CreateLinkMessage, CreateLinkResponse> {
public:
    explicit CreateLinkRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "CreateLink"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;
};

// Withdraws the public handle held in the owner's authentication bytes; the response's code,
// success included, replaces the owner's error.
class DeleteLinkRequest : public FlatbufferRequest<DeleteLinkMessage, DeleteLinkResponse> {
public:
    explicit DeleteLinkRequest(std::shared_ptr<MutableActionData> owner);

    const char* getName() const override { return "DeleteLink"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
};

}  // namespace corvane
