// A stand-in with two accounts set up through its fixture operations: the first with a cloud
// drive root, a folder, a file, a contacts root with one contact, and two sessions; the
// second with its own root and session. Keys and attributes are random bytes made here.
#pragma once

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <string>
#include <vector>

#include "account_directory.h"
#include "api_session.h"
#include "stand_in_service.h"

#include "add_metadata_message_generated.h"
#include "add_metadata_response_generated.h"
#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "delete_node_message_generated.h"
#include "delete_node_response_generated.h"
#include "get_events_message_generated.h"
#include "get_events_response_generated.h"
#include "get_status_message_generated.h"
#include "get_status_response_generated.h"
#include "move_node_message_generated.h"
#include "move_node_response_generated.h"
#include "rename_node_message_generated.h"
#include "rename_node_response_generated.h"
#include "rewrite_keys_message_generated.h"
#include "rewrite_keys_response_generated.h"

namespace corvane::service::test {

inline std::string randomBytes(size_t size) {
    std::string bytes(size, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(size));
    return bytes;
}

inline flatbuffers::Offset<flatbuffers::Vector<uint8_t>> bytesOf(flatbuffers::FlatBufferBuilder& builder,
                                                                 const std::string& bytes) {
    return builder.CreateVector(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

inline std::string stringOf(const flatbuffers::Vector<uint8_t>* vector) {
    return vector ? std::string(reinterpret_cast<const char*>(vector->data()), vector->size())
                  : std::string("<absent>");
}

// One node of an AddNodes message: handle is the client's own (0: none), parent 0 means the
// message's parent.
struct NewNode {
    uint64_t handle = 0;
    uint64_t parent = 0;
    int8_t type = 21;
    std::string attributes = randomBytes(48);
    std::string nodekey = randomBytes(32);
    bool uploadToken = false;  // carry `token` in place of the handle
    std::string token{};       // an empty token stands for a zero-byte file
    uint64_t size = 0;
    std::string fingerprint{};  // sent when not empty
};

inline std::string addNodesMessage(uint64_t clientId, uint64_t parent, const std::vector<NewNode>& nodes) {
    auto builder = messageBuilder();
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    for (const auto& node : nodes) {
        const auto token = node.uploadToken ? bytesOf(builder, node.token) : 0;
        const auto nodekey = bytesOf(builder, node.nodekey);
        const auto childkey = bytesOf(builder, "");
        const auto attributes = bytesOf(builder, node.attributes);
        const auto fingerprint = node.fingerprint.empty() ? 0 : bytesOf(builder, node.fingerprint);
        NodeMessageBuilder table(builder);
        if (!node.fingerprint.empty()) table.add_fingerprint(fingerprint);
        if (node.uploadToken)
            table.add_token(token);
        else
            table.add_handle(node.handle);
        table.add_parent(node.parent);
        table.add_type(node.type);
        table.add_size(node.size);
        table.add_nodekey(nodekey);
        table.add_childkey(childkey);
        table.add_attributes(attributes);
        tables.push_back(table.Finish());
    }
    const auto vector = builder.CreateVector(tables);
    FinishSizePrefixedAddNodesMessageBuffer(builder, CreateAddNodesMessage(builder, clientId, parent, vector));
    return sizePrefixedMessage(builder);
}

inline std::string renameNodeMessage(uint64_t clientId, uint64_t node, const std::string& attributes,
                                     uint64_t extraNumber = 0) {
    auto builder = messageBuilder();
    const auto bytes = bytesOf(builder, attributes);
    FinishSizePrefixedRenameNodeMessageBuffer(builder,
                                              CreateRenameNodeMessage(builder, clientId, node, bytes, extraNumber));
    return sizePrefixedMessage(builder);
}

inline std::string deleteNodeMessage(uint64_t clientId, uint64_t node) {
    auto builder = messageBuilder();
    FinishSizePrefixedDeleteNodeMessageBuffer(builder, CreateDeleteNodeMessage(builder, clientId, node));
    return sizePrefixedMessage(builder);
}

inline std::string moveNodeMessage(uint64_t clientId, uint64_t node, uint64_t parent, const std::string& childkey) {
    auto builder = messageBuilder();
    const auto key = bytesOf(builder, childkey);
    FinishSizePrefixedMoveNodeMessageBuffer(builder, CreateMoveNodeMessage(builder, clientId, node, parent, 0, key));
    return sizePrefixedMessage(builder);
}

struct Rekey {
    uint64_t handle;
    std::string nodekey = randomBytes(32);
    std::string childkey = randomBytes(16);
};

inline std::string rewriteKeysMessage(uint64_t clientId, const std::vector<Rekey>& nodes) {
    auto builder = messageBuilder();
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    for (const auto& node : nodes) {
        const auto nodekey = bytesOf(builder, node.nodekey);
        const auto childkey = bytesOf(builder, node.childkey);
        NodeMessageBuilder table(builder);
        table.add_handle(node.handle);
        table.add_crypto(2);
        table.add_nodekey(nodekey);
        table.add_childkey(childkey);
        tables.push_back(table.Finish());
    }
    const auto vector = builder.CreateVector(tables);
    FinishSizePrefixedRewriteKeysMessageBuffer(builder, CreateRewriteKeysMessage(builder, clientId, vector));
    return sizePrefixedMessage(builder);
}

inline std::string addMetadataMessage(uint64_t clientId, uint64_t node, uint8_t type) {
    auto builder = messageBuilder();
    const auto token = bytesOf(builder, randomBytes(36));
    FinishSizePrefixedAddMetadataMessageBuffer(builder, CreateAddMetadataMessage(builder, clientId, node, token, type));
    return sizePrefixedMessage(builder);
}

inline std::string statusMessage() {
    auto builder = messageBuilder();
    FinishSizePrefixedGetStatusMessageBuffer(builder, CreateGetStatusMessage(builder, 0, 1));
    return sizePrefixedMessage(builder);
}

inline std::string eventsMessage(uint64_t accountStatus) {
    auto builder = messageBuilder();
    FinishSizePrefixedGetEventsMessageBuffer(builder, CreateGetEventsMessage(builder, accountStatus, 5));
    return sizePrefixedMessage(builder);
}

// The error of any answer these tests get; -1 when it fails its verifier.
inline int32_t errorOf(const Response& response) {
    const std::string id = response.identifier();
    if (id == "ADNR")
        return response.as<AddNodesResponse>("ADNR") ? response.as<AddNodesResponse>("ADNR")->error() : -1;
    if (id == "RENR")
        return response.as<RenameNodeResponse>("RENR") ? response.as<RenameNodeResponse>("RENR")->error() : -1;
    if (id == "DENR")
        return response.as<DeleteNodeResponse>("DENR") ? response.as<DeleteNodeResponse>("DENR")->error() : -1;
    if (id == "MONR")
        return response.as<MoveNodeResponse>("MONR") ? response.as<MoveNodeResponse>("MONR")->error() : -1;
    if (id == "REKR")
        return response.as<RewriteKeysResponse>("REKR") ? response.as<RewriteKeysResponse>("REKR")->error() : -1;
    if (id == "ADMR")
        return response.as<AddMetadataResponse>("ADMR") ? response.as<AddMetadataResponse>("ADMR")->error() : -1;
    if (id == "GESR")
        return response.as<GetStatusResponse>("GESR") ? response.as<GetStatusResponse>("GESR")->error() : -1;
    if (id == "GEER")
        return response.as<GetEventsResponse>("GEER") ? response.as<GetEventsResponse>("GEER")->error() : -1;
    return -1;
}

class AccountFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_ALL); }

    void SetUp() override {
        ASSERT_TRUE(service_.start());
        AccountDirectory& accounts = service_.accounts();
        user_ = accounts.createUser("ada@example.test");
        account_ = accounts.createAccount(user_);
        ASSERT_NE(account_, 0u);
        root_ = addRoot(account_, 0);
        contactsRoot_ = addRoot(account_, 7);
        folder_ = addNode(root_, 21);
        file_ = addNode(folder_, 20);
        contact_ = addNode(contactsRoot_, 46);
        sessionA_ = accounts.createSession(user_, account_);
        sessionB_ = accounts.createSession(user_, account_);
        ASSERT_FALSE(sessionA_.empty());
        ASSERT_FALSE(sessionB_.empty());

        otherUser_ = accounts.createUser("bo@example.test");
        otherAccount_ = accounts.createAccount(otherUser_);
        otherRoot_ = addRoot(otherAccount_, 0);
        otherSession_ = accounts.createSession(otherUser_, otherAccount_);
        ASSERT_FALSE(otherSession_.empty());
    }

    uint64_t addRoot(uint64_t account, int8_t type) {
        NodeRecord root;
        root.type = type;
        root.nodekey = randomBytes(32);
        root.childkey = std::string();
        root.attributes = randomBytes(48);
        FilesystemRecord filesystem;
        filesystem.type = type;
        filesystem.nodekey = randomBytes(32);
        filesystem.filesystemKey = randomBytes(32);
        const uint64_t handle = service_.accounts().addRoot(account, root, filesystem);
        EXPECT_NE(handle, 0u);
        return handle;
    }

    uint64_t addNode(uint64_t parent, int8_t type) {
        NodeRecord node;
        node.parent = parent;
        node.type = type;
        node.nodekey = randomBytes(32);
        node.childkey = std::string();
        node.attributes = randomBytes(48);
        const uint64_t handle = service_.accounts().addNode(account_, node);
        EXPECT_NE(handle, 0u);
        return handle;
    }

    BatchReply batch(const std::string& session, const std::vector<std::string>& messages) {
        return sendBatch(service_, session, messages);
    }

    // One message alone in a batch of the session; an empty response when the batch failed.
    Response ask(const std::string& session, const std::string& message) {
        BatchReply reply = batch(session, {message});
        return reply.responses.size() == 1 ? reply.responses[0] : Response();
    }

    uint64_t status() { return service_.accounts().accountStatus(account_); }

    StandInService service_;
    uint64_t user_ = 0, account_ = 0, root_ = 0, contactsRoot_ = 0, folder_ = 0, file_ = 0, contact_ = 0;
    uint64_t otherUser_ = 0, otherAccount_ = 0, otherRoot_ = 0;
    std::string sessionA_, sessionB_, otherSession_;
};

}  // namespace corvane::service::test
