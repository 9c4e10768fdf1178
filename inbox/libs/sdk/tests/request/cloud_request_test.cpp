#include "request/cloud_request.h"

#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CachedTreeTest;
using test::patternKey;

constexpr uint64_t kOwnClientId = 0x1122334455667788ULL;

using test::FinishWaiter;
using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

Bytes bytesOf(const flatbuffers::Vector<uint8_t>* vector) {
    return vector ? Bytes(vector->begin(), vector->end()) : Bytes();
}

std::shared_ptr<EncryptedNodeData> encryptedNode(uint64_t id, const Bytes& nodeKey, const Bytes& childKey,
                                                 uint8_t crypto, uint64_t filesystem) {
    auto node = std::make_shared<EncryptedNodeData>();
    node->setId(id);
    node->setParent(10);
    node->setType(21);
    node->setCrypto(crypto);
    node->setFilesystem(filesystem);
    node->setEncryptedNodeKey(nodeKey.data(), nodeKey.size());
    node->setEncryptedChildKey(childKey.data(), childKey.size());
    const Bytes attributes{9, 9, 9};
    node->setEncryptedAttributes(attributes.data(), attributes.size());
    return node;
}

TEST(CloudRequestMessageTest, AddNodesCarriesClientIdParentAndNodeTables) {
    auto owner = std::make_shared<MutableActionData>(TEST);
    owner->setParentHandle(0xABCDEF);
    auto nodes = std::make_shared<EncryptedNodeList>(
        EncryptedNodeList{encryptedNode(100, {1, 2}, {3}, 2, 5), encryptedNode(101, {4}, {5, 6}, 2, 5)});
    AddNodesRequest request(owner, nodes, kOwnClientId);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<AddNodesMessage>(request, keep, "ADNM");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->clientId(), kOwnClientId);
    EXPECT_EQ(message->parent(), 0xABCDEFu);
    ASSERT_NE(message->nodes(), nullptr);
    ASSERT_EQ(message->nodes()->size(), 2u);
    EXPECT_EQ(message->nodes()->Get(0)->handle(), 100u);
    EXPECT_EQ(bytesOf(message->nodes()->Get(0)->nodekey()), (Bytes{1, 2}));
    EXPECT_EQ(message->nodes()->Get(1)->handle(), 101u);
    EXPECT_EQ(bytesOf(message->nodes()->Get(1)->childkey()), (Bytes{5, 6}));
}

TEST(CloudRequestMessageTest, ClientIdZeroIsLeftOut) {
    auto owner = std::make_shared<MutableActionData>(TEST);
    owner->setNodeHandle(7);
    DeleteNodeRequest request(owner, 0);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<DeleteNodeMessage>(request, keep, "DENM");
    ASSERT_NE(message, nullptr);
    EXPECT_FALSE(hasField(message, DeleteNodeMessage::VT_CLIENTID));
    EXPECT_EQ(message->node(), 7u);
}

TEST(CloudRequestMessageTest, DeleteNodeCarriesTheChildKeyOnlyWhenPresent) {
    for (bool withKey : {false, true}) {
        SCOPED_TRACE(withKey);
        auto owner = std::make_shared<MutableActionData>(TEST);
        owner->setNodeHandle(0x55);
        owner->setNumber(0x77);
        if (withKey) {
            owner->setUserKey(new ByteVector{8, 9});
        }
        DeleteNodeRequest request(owner, kOwnClientId);
        EXPECT_EQ(request.getNode(), 0x55u);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<DeleteNodeMessage>(request, keep, "DENM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->clientId(), kOwnClientId);
        EXPECT_EQ(message->node(), 0x55u);
        EXPECT_EQ(message->filesystem(), 0x77u);
        EXPECT_EQ(hasField(message, DeleteNodeMessage::VT_CHILDKEY), withKey);
        EXPECT_EQ(bytesOf(message->childkey()), withKey ? (Bytes{8, 9}) : Bytes());
    }
}

TEST(CloudRequestMessageTest, MoveNodeAlwaysCarriesTheChildKey) {
    for (bool withKey : {false, true}) {
        SCOPED_TRACE(withKey);
        auto owner = std::make_shared<MutableActionData>(TEST);
        owner->setNodeHandle(0x55);
        owner->setParentHandle(0x66);
        owner->setNumber(0x77);
        if (withKey) {
            owner->setUserKey(new ByteVector{8, 9});
        }
        MoveNodeRequest request(owner, kOwnClientId);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<MoveNodeMessage>(request, keep, "MONM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->clientId(), kOwnClientId);
        EXPECT_EQ(message->node(), 0x55u);
        EXPECT_EQ(message->parent(), 0x66u);
        EXPECT_EQ(message->filesystem(), 0x77u);
        // An absent key travels empty rather than crashing the build.
        EXPECT_TRUE(hasField(message, MoveNodeMessage::VT_CHILDKEY));
        EXPECT_EQ(bytesOf(message->childkey()), withKey ? (Bytes{8, 9}) : Bytes());
    }
}

TEST(CloudRequestMessageTest, RenameNodeSignExtendsTheOptionAndCopiesTheAttributes) {
    struct Case {
        int32_t option;
        uint64_t extraNumber;
    };
    for (const Case& c : {Case{-1, ~uint64_t{0}}, Case{0, 0}, Case{5, 5}, Case{INT32_MIN, 0xFFFFFFFF80000000ULL}}) {
        SCOPED_TRACE(c.option);
        auto owner = std::make_shared<MutableActionData>(TEST);
        owner->setNodeHandle(0x42);
        owner->setOption(c.option);
        owner->setAttributes(new ByteVector{1, 2, 3});
        RenameNodeRequest request(owner, kOwnClientId);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<RenameNodeMessage>(request, keep, "RENM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->node(), 0x42u);
        EXPECT_EQ(message->extraNumber(), c.extraNumber);
        EXPECT_EQ(bytesOf(message->attributes()), (Bytes{1, 2, 3}));
    }
}

// Whole 64-bit extra numbers (contact handles, drive ids) travel unchanged.
TEST(CloudRequestMessageTest, RenameNodeCarriesAWholeExtraNumberGivenApart) {
    for (uint64_t extraNumber : std::vector<uint64_t>{uint64_t{1} << 31, 0x123456789aULL, ~uint64_t{0}, 0}) {
        SCOPED_TRACE(extraNumber);
        auto owner = std::make_shared<MutableActionData>(TEST);
        owner->setNodeHandle(0x42);
        owner->setOption(static_cast<int32_t>(extraNumber));
        RenameNodeRequest request(owner, kOwnClientId, extraNumber);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<RenameNodeMessage>(request, keep, "RENM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->extraNumber(), extraNumber);
    }
}

TEST(CloudRequestMessageTest, RewriteKeysSendsReducedNodeTables) {
    auto nodes = std::make_shared<EncryptedNodeList>(
        EncryptedNodeList{encryptedNode(100, {1, 2}, {3}, 2, 5), encryptedNode(101, {4}, {5, 6}, 3, 6)});
    RewriteKeysRequest request(nullptr, nodes, kOwnClientId);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<RewriteKeysMessage>(request, keep, "REKM");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->clientId(), kOwnClientId);
    ASSERT_EQ(message->nodes()->size(), 2u);
    const auto* second = message->nodes()->Get(1);
    EXPECT_EQ(second->handle(), 101u);
    EXPECT_EQ(second->crypto(), 3);
    EXPECT_EQ(second->filesystem(), 6u);
    EXPECT_EQ(bytesOf(second->nodekey()), (Bytes{4}));
    EXPECT_EQ(bytesOf(second->childkey()), (Bytes{5, 6}));
    // Nothing beyond the keys and their places travels.
    EXPECT_FALSE(hasField(second, NodeMessage::VT_ATTRIBUTES));
    EXPECT_FALSE(hasField(second, NodeMessage::VT_PARENT));
    EXPECT_FALSE(hasField(second, NodeMessage::VT_TYPE));
}

TEST(CloudRequestMessageTest, DefaultConstructedRequestsBuildNoMessage) {
    std::vector<std::shared_ptr<NetworkRequest>> requests{
        std::make_shared<AddNodesRequest>(), std::make_shared<DeleteNodeRequest>(), std::make_shared<MoveNodeRequest>(),
        std::make_shared<RenameNodeRequest>(), std::make_shared<RewriteKeysRequest>()};
    for (const auto& request : requests) {
        SCOPED_TRACE(request->getName());
        EXPECT_EQ(request->takeMessage(), nullptr);
        EXPECT_EQ(request->getActionData(), nullptr);
    }
}

// The node requests applied to a cached tree on real loops, with a fake API manager that
// holds the model and records events, rewrite queue and backup calls.
class CloudRequestApplyTest : public CachedTreeTest {
protected:
    void SetUp() override {
        CachedTreeTest::SetUp();
        manager.cloud = h.cloud.get();
        manager.clientId = kOwnClientId;
        manager.email = "owner@example.com";
    }

    // Reads the response into the request and applies it on the main loop; true when it
    // finished.
    bool run(const std::shared_ptr<NetworkRequest>& request, const ResponseBuffer& response) {
        EXPECT_TRUE(request->verify(response.data(), response.size()));
        EXPECT_TRUE(request->processFlatbuffer(response.data(), response.size()));
        FinishWaiter waiter;
        request->setListener(&waiter);
        h.mainLoop.post([&]() { request->applyResults(&manager); });
        const bool finished = waiter.wait();
        // Events follow the finish on the same loop turn; let it end before reading them.
        h.onLoop([]() {});
        request->setListener(nullptr);
        return finished;
    }

    // A folder under the cloud drive root sealed as the service delivers it: attributes
    // under its own key, the key wrapped under the master key.
    flatbuffers::Offset<NodeMessage> sealedFolder(flatbuffers::FlatBufferBuilder& builder, uint64_t id,
                                                  const char* name, uint8_t crypto = 0) {
        const Bytes key = patternKey(static_cast<uint8_t>(id));
        const auto attributes = builder.CreateVector(test::gcmSeal(key, 32, test::attributesRecord(name)));
        const auto nodeKey = builder.CreateVector(test::wrapKey(h.masterKey, key));
        NodeMessageBuilder node(builder);
        node.add_handle(id);
        node.add_parent(10);
        node.add_type(21);
        node.add_crypto(crypto);
        node.add_nodekey(nodeKey);
        node.add_attributes(attributes);
        return node.Finish();
    }

    ResponseBuffer addNodesResponse(uint64_t clientId, std::vector<std::pair<uint64_t, const char*>> nodes,
                                    uint8_t crypto = 0) {
        return ResponseBuffer("ADNR", [&](flatbuffers::FlatBufferBuilder& b) {
            std::vector<flatbuffers::Offset<NodeMessage>> tables;
            for (const auto& node : nodes) {
                tables.push_back(sealedFolder(b, node.first, node.second, crypto));
            }
            const auto vector = b.CreateVector(tables);
            return CreateAddNodesResponse(b, 0, clientId, vector);
        });
    }

    // Adds folder 100 "first" through an owner-less request.
    void addFirst() {
        auto request = std::make_shared<AddNodesRequest>();
        ASSERT_TRUE(run(request, addNodesResponse(0, {{100, "first"}})));
        manager.events.clear();
    }

    std::shared_ptr<EventData> onlyEvent() {
        EXPECT_EQ(manager.events.size(), 1u);
        return manager.events.empty() ? nullptr : manager.events.front();
    }

    test::FakeApiManager manager;
};

TEST_F(CloudRequestApplyTest, AddNodesPlacesTheNodesAndRaisesNewNodesAfterFinishing) {
    auto owner = std::make_shared<MutableActionData>(TEST);
    auto request = std::make_shared<AddNodesRequest>(owner, std::make_shared<EncryptedNodeList>(), kOwnClientId);
    ASSERT_TRUE(run(request, addNodesResponse(kOwnClientId, {{100, "first"}, {101, "lost"}, {102, "third"}})));
    // 101's parent is 10 too: every node of the answer is placed.
    auto event = onlyEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->getType(), EVENT_NEW_NODES);
    EXPECT_FALSE(event->isExternal());
    EXPECT_EQ(event->getClientId(), kOwnClientId);
    EXPECT_EQ(test::idsOf(event->getNodes()), (std::vector<uint64_t>{100, 101, 102}));
    ASSERT_NE(event->getNode(), nullptr);
    EXPECT_EQ(event->getNode()->getId(), 100u);
    EXPECT_STREQ(event->getName(), "/first");
    ASSERT_NE(owner->getNode(), nullptr);
    EXPECT_EQ(owner->getNode()->getId(), 100u);
    EXPECT_EQ(owner->getErrorCode(), 0);
    auto cached = h.nodeById(102);
    ASSERT_NE(cached, nullptr);
    EXPECT_STREQ(cached->getOwnName(), "third");
    EXPECT_TRUE(manager.rewriteQueue.empty());
}

TEST_F(CloudRequestApplyTest, AddNodesFlagsTheEventExternalUnlessTheOwnClientIdCameBack) {
    struct Case {
        const char* name;
        uint64_t echoed;
        bool external;
    };
    const std::vector<Case> cases{
        {"own id", kOwnClientId, false}, {"no id", 0, true}, {"another client", kOwnClientId + 1, true}};
    uint64_t id = 200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        auto request = std::make_shared<AddNodesRequest>();
        ASSERT_TRUE(run(request, addNodesResponse(c.echoed, {{id++, "x"}})));
        auto event = onlyEvent();
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->isExternal(), c.external);
        EXPECT_EQ(event->getClientId(), c.echoed);
    }
}

TEST_F(CloudRequestApplyTest, AddNodesQueuesOldSchemeKeysOnlyOutsideLinkSessions) {
    for (bool linkSession : {false, true}) {
        SCOPED_TRACE(linkSession);
        manager.rewriteQueue.clear();
        manager.email = linkSession ? "" : "owner@example.com";
        const uint64_t id = linkSession ? 301 : 300;
        auto request = std::make_shared<AddNodesRequest>();
        ASSERT_TRUE(run(request, addNodesResponse(0, {{id, "old"}}, 1)));
        EXPECT_EQ(manager.rewriteQueue, linkSession ? std::vector<uint64_t>{} : std::vector<uint64_t>{id});
    }
}

TEST_F(CloudRequestApplyTest, AddNodesWithNothingPlacedFailsWithError9AndNoEvent) {
    struct Case {
        const char* name;
        std::function<flatbuffers::Offset<AddNodesResponse>(flatbuffers::FlatBufferBuilder&)> build;
    };
    const std::vector<Case> cases{
        {"empty list",
         [](flatbuffers::FlatBufferBuilder& b) {
             return CreateAddNodesResponse(b, 0, 0, b.CreateVector(std::vector<flatbuffers::Offset<NodeMessage>>{}));
         }},
        {"parent unknown",
         [](flatbuffers::FlatBufferBuilder& b) {
             std::vector<flatbuffers::Offset<NodeMessage>> tables{CreateNodeMessage(b, 400, 0, 0, 999, 21)};
             return CreateAddNodesResponse(b, 0, 0, b.CreateVector(tables));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        test::LogCapture log;
        auto owner = std::make_shared<MutableActionData>(TEST);
        auto request = std::make_shared<AddNodesRequest>(owner, nullptr, kOwnClientId);
        ASSERT_TRUE(run(request, ResponseBuffer("ADNR", c.build)));
        EXPECT_EQ(owner->getErrorCode(), UNKNOWN_ERROR);
        EXPECT_TRUE(manager.events.empty());
        EXPECT_TRUE(log.contains("Unknown nodes during addition"));
    }
    EXPECT_EQ(h.nodeById(400), nullptr);
}

// Every class: an error answer reaches the owner, leaves the cache as it was and raises
// nothing.
TEST_F(CloudRequestApplyTest, ErrorAnswersReachTheOwnerAndChangeNothing) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<NetworkRequest>(std::shared_ptr<MutableActionData>)> make;
        const char* identifier;
        std::function<flatbuffers::uoffset_t(flatbuffers::FlatBufferBuilder&)> build;
    };
    const std::vector<Case> cases{
        {"AddNodes", [](auto o) { return std::make_shared<AddNodesRequest>(o, nullptr, kOwnClientId); }, "ADNR",
         [](auto& b) { return CreateAddNodesResponse(b, 2).o; }},
        {"DeleteNode", [](auto o) { return std::make_shared<DeleteNodeRequest>(o, kOwnClientId); }, "DENR",
         [](auto& b) { return CreateDeleteNodeResponse(b, 2, kOwnClientId, 12).o; }},
        {"MoveNode", [](auto o) { return std::make_shared<MoveNodeRequest>(o, kOwnClientId); }, "MONR",
         [](auto& b) { return CreateMoveNodeResponse(b, 2, kOwnClientId, 12, 13).o; }},
        {"RenameNode", [](auto o) { return std::make_shared<RenameNodeRequest>(o, kOwnClientId); }, "RENR",
         [](auto& b) { return CreateRenameNodeResponse(b, 2, kOwnClientId, 12).o; }},
        {"RewriteKeys", [](auto o) { return std::make_shared<RewriteKeysRequest>(o, nullptr, kOwnClientId); }, "REKR",
         [](auto& b) { return CreateRewriteKeysResponse(b, 2).o; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(TEST);
        owner->setNodeHandle(12);
        auto request = c.make(owner);
        ASSERT_TRUE(
            run(request, ResponseBuffer(c.identifier, [&](auto& b) { return flatbuffers::Offset<void>(c.build(b)); })));
        EXPECT_EQ(owner->getErrorCode(), 2);
        EXPECT_TRUE(manager.events.empty());
        auto node = h.nodeById(12);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->getParent(), 11u);
        EXPECT_STREQ(node->getOwnName(), "b");
    }
}

TEST_F(CloudRequestApplyTest, DeleteNodeRemovesOnSuccessAndOnNotFound) {
    struct Case {
        const char* name;
        int32_t error;
        uint64_t node;
        bool external;
    };
    for (const Case& c : {Case{"success", 0, 12, false}, Case{"not found", 1, 14, true}}) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        auto owner = std::make_shared<MutableActionData>(TEST);
        owner->setNodeHandle(c.node);
        auto request = std::make_shared<DeleteNodeRequest>(owner, kOwnClientId);
        // The not-found answer names no node: the owner's handle is used.
        ASSERT_TRUE(run(request, ResponseBuffer("DENR", [&](auto& b) {
                            return c.error == 0 ? CreateDeleteNodeResponse(b, 0, kOwnClientId, c.node)
                                                : CreateDeleteNodeResponse(b, c.error);
                        })));
        auto event = onlyEvent();
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->getType(), EVENT_DELETED_NODE);
        EXPECT_EQ(event->getHandle(), c.node);
        EXPECT_EQ(event->isExternal(), c.external);
        ASSERT_NE(event->getNode(), nullptr);
        EXPECT_EQ(event->getNode()->getId(), c.node);
        EXPECT_EQ(h.nodeById(c.node), nullptr);
    }
    EXPECT_STREQ(h.nodeById(11)->getOwnName(), "a");
}

TEST_F(CloudRequestApplyTest, DeleteNodeOfASharedDriveRootDeletesTheDrive) {
    auto request = std::make_shared<DeleteNodeRequest>();
    ASSERT_TRUE(run(request, ResponseBuffer("DENR", [&](auto& b) {
                        return CreateDeleteNodeResponse(b, 0, 0, CachedTreeTest::kDrive);
                    })));
    auto event = onlyEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(event->isExternal());
    EXPECT_EQ(h.nodeById(CachedTreeTest::kDrive), nullptr);
    EXPECT_EQ(h.nodeById(CachedTreeTest::kDrive + 1), nullptr);
}

// A secret is closed, not removed: its filesystem goes with it.
TEST_F(CloudRequestApplyTest, DeleteNodeOfASecretRootClosesTheSecret) {
    constexpr uint64_t kSecret = 600;
    constexpr uint64_t kSecretFs = kSecret << 15;
    ASSERT_TRUE(std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
        h.cloud->addFilesystemUsingNodeKey(test::makeFilesystem(kSecretFs, 6, 0, nullptr, nullptr),
                                           std::make_unique<Bytes>(patternKey(5)), done);
    })));
    auto secret = test::makeNode(kSecret, 6, 0, "secret", kSecretFs);
    h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) { h.cloud->updateNode(secret, done, true); });
    ASSERT_EQ(h.onLoop([&]() { return h.cloud->getSecrets()->size(); }), 1u);

    auto request = std::make_shared<DeleteNodeRequest>();
    ASSERT_TRUE(
        run(request, ResponseBuffer("DENR", [&](auto& b) { return CreateDeleteNodeResponse(b, 0, 0, kSecret); })));
    ASSERT_EQ(manager.events.size(), 1u);
    EXPECT_EQ(manager.events.front()->getHandle(), kSecret);
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->getSecrets()->empty(); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystemType(kSecretFs); }), -1);
    EXPECT_FALSE(inRam(kSecret));
}

TEST_F(CloudRequestApplyTest, ChangesOfUnknownNodesFailWithError9AndNoEvent) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<NetworkRequest>(std::shared_ptr<MutableActionData>)> make;
        const char* identifier;
        std::function<flatbuffers::uoffset_t(flatbuffers::FlatBufferBuilder&)> build;
        const char* line;
    };
    const std::vector<Case> cases{
        {"DeleteNode", [](auto o) { return std::make_shared<DeleteNodeRequest>(o, kOwnClientId); }, "DENR",
         [](auto& b) { return CreateDeleteNodeResponse(b, 0, 0, 5000).o; }, "Unknown node during deletion 5000"},
        {"MoveNode", [](auto o) { return std::make_shared<MoveNodeRequest>(o, kOwnClientId); }, "MONR",
         [](auto& b) { return CreateMoveNodeResponse(b, 0, 0, 5000, 13).o; }, "Unknown node during move 5000"},
        {"MoveNode to an unknown parent", [](auto o) { return std::make_shared<MoveNodeRequest>(o, kOwnClientId); },
         "MONR", [](auto& b) { return CreateMoveNodeResponse(b, 0, 0, 12, 5000).o; }, "Node moved to unknown parent"},
        {"RenameNode", [](auto o) { return std::make_shared<RenameNodeRequest>(o, kOwnClientId); }, "RENR",
         [](auto& b) { return CreateRenameNodeResponse(b, 0, 0, 5000).o; }, "Unknown node during update 5000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        auto owner = std::make_shared<MutableActionData>(TEST);
        auto request = c.make(owner);
        ASSERT_TRUE(
            run(request, ResponseBuffer(c.identifier, [&](auto& b) { return flatbuffers::Offset<void>(c.build(b)); })));
        EXPECT_EQ(owner->getErrorCode(), UNKNOWN_ERROR);
        EXPECT_TRUE(manager.events.empty());
        EXPECT_TRUE(log.contains(c.line));
    }
}

TEST_F(CloudRequestApplyTest, MoveNodeLeavesTheFormerParentAndTheMovedNodeInTheOwner) {
    auto owner = std::make_shared<MutableActionData>(TEST);
    owner->setNode(h.nodeById(12));
    auto request = std::make_shared<MoveNodeRequest>(owner, kOwnClientId);
    ASSERT_TRUE(run(
        request, ResponseBuffer("MONR", [&](auto& b) { return CreateMoveNodeResponse(b, 0, kOwnClientId, 12, 13); })));
    auto event = onlyEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->getType(), EVENT_MOVED_NODE);
    EXPECT_STREQ(event->getName(), "/a/b");
    ASSERT_NE(event->getOldNode(), nullptr);
    EXPECT_EQ(event->getOldNode()->getParent(), 11u);
    ASSERT_NE(event->getNode(), nullptr);
    EXPECT_EQ(event->getNode()->getParent(), 13u);
    EXPECT_EQ(owner->getParentHandle(), 11u);
    ASSERT_NE(owner->getNode(), nullptr);
    EXPECT_EQ(owner->getNode()->getParent(), 13u);
    EXPECT_EQ(h.nodeById(12)->getParent(), 13u);
}

TEST_F(CloudRequestApplyTest, RenameNodeDecryptsTheNewAttributesIntoTheCache) {
    addFirst();
    auto owner = std::make_shared<MutableActionData>(TEST);
    auto request = std::make_shared<RenameNodeRequest>(owner, kOwnClientId);
    const Bytes sealed = test::gcmSeal(patternKey(100), 32, test::attributesRecord("renamed"));
    ASSERT_TRUE(run(request, ResponseBuffer("RENR", [&](auto& b) {
                        return CreateRenameNodeResponse(b, 0, kOwnClientId, 100, b.CreateVector(sealed), 0, 77);
                    })));
    auto event = onlyEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->getType(), EVENT_UPDATED_NODE);
    EXPECT_STREQ(event->getName(), "/first");
    EXPECT_STREQ(event->getOldName(), "renamed");
    EXPECT_STREQ(event->getOldNode()->getOwnName(), "first");
    ASSERT_NE(owner->getNode(), nullptr);
    EXPECT_STREQ(owner->getNode()->getOwnName(), "renamed");
    auto cached = h.nodeById(100);
    EXPECT_STREQ(cached->getOwnName(), "renamed");
    EXPECT_EQ(cached->getExtraNumber(), 77u);
    // Made through an action: backups are never touched.
    EXPECT_TRUE(manager.backupCalls.empty());
}

// A shared drive's extra number is its own; any other node takes the answered one.
TEST_F(CloudRequestApplyTest, RenameNodeOfASharedDriveRootKeepsItsExtraNumber) {
    addFirst();
    auto drive = std::make_shared<MutableNodeData>(*h.nodeById(CachedTreeTest::kDrive));
    const Bytes driveKey = patternKey(77);
    drive->setKey(&driveKey);
    drive->setExtraNumber(5);
    h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) { h.cloud->updateNode(drive, done, false); });
    struct Case {
        const char* name;
        uint64_t id;
        Bytes key;
        uint64_t extraNumber;
    };
    const std::vector<Case> cases{{"shared drive root", CachedTreeTest::kDrive, driveKey, 5},
                                  {"folder", 100, patternKey(100), 99}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        auto request = std::make_shared<RenameNodeRequest>();
        const Bytes sealed = test::gcmSeal(c.key, 32, test::attributesRecord("named"));
        ASSERT_TRUE(run(request, ResponseBuffer("RENR", [&](auto& b) {
                            return CreateRenameNodeResponse(b, 0, 0, c.id, b.CreateVector(sealed), 0, 99);
                        })));
        ASSERT_EQ(manager.events.size(), 1u);
        auto cached = h.nodeById(c.id);
        EXPECT_STREQ(cached->getOwnName(), "named");
        EXPECT_EQ(cached->getExtraNumber(), c.extraNumber);
    }
}

TEST_F(CloudRequestApplyTest, RenameNodeWithUnreadableAttributesFailsWithError4) {
    addFirst();
    auto owner = std::make_shared<MutableActionData>(TEST);
    auto request = std::make_shared<RenameNodeRequest>(owner, kOwnClientId);
    const Bytes sealed = test::gcmSeal(patternKey(99), 32, test::attributesRecord("wrong key"));
    ASSERT_TRUE(run(request, ResponseBuffer("RENR", [&](auto& b) {
                        return CreateRenameNodeResponse(b, 0, kOwnClientId, 100, b.CreateVector(sealed));
                    })));
    EXPECT_EQ(owner->getErrorCode(), CRYPTOGRAPHIC_ERROR);
    EXPECT_TRUE(manager.events.empty());
    EXPECT_STREQ(h.nodeById(100)->getOwnName(), "first");
}

TEST_F(CloudRequestApplyTest, ExternalRenameOfABackupOfThisDeviceReachesTheBackups) {
    struct Case {
        const char* name;
        bool deviceBackup;
        bool active;
        std::vector<std::string> calls;
        const char* line;
    };
    const std::vector<Case> cases{
        {"active backup, same local path", true, true, {"modify:100"}, "Updating active backup"},
        {"blocked backup", true, false, {}, "External change in blocked backup"},
        {"another device's backup", false, true, {}, nullptr},
    };
    addFirst();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        manager.backupCalls.clear();
        manager.deviceBackups = c.deviceBackup ? std::set<uint64_t>{100} : std::set<uint64_t>{};
        manager.activeBackups = c.active ? std::set<uint64_t>{100} : std::set<uint64_t>{};
        test::LogCapture log;
        auto request = std::make_shared<RenameNodeRequest>();
        const Bytes sealed = test::gcmSeal(patternKey(100), 32, test::attributesRecord("first"));
        ASSERT_TRUE(run(request, ResponseBuffer("RENR", [&](auto& b) {
                            return CreateRenameNodeResponse(b, 0, 0, 100, b.CreateVector(sealed));
                        })));
        EXPECT_EQ(manager.backupCalls, c.calls);
        if (c.line != nullptr) {
            EXPECT_TRUE(log.contains(c.line));
        }
        auto event = onlyEvent();
        ASSERT_NE(event, nullptr);
        EXPECT_TRUE(event->isExternal());
    }
}

TEST_F(CloudRequestApplyTest, OwnerlessNotFoundDeletionNamesNoNodeAndChangesNothing) {
    auto request = std::make_shared<DeleteNodeRequest>();
    ASSERT_TRUE(run(request, ResponseBuffer("DENR", [](auto& b) { return CreateDeleteNodeResponse(b, 1); })));
    EXPECT_TRUE(manager.events.empty());
    EXPECT_NE(h.nodeById(12), nullptr);
}

TEST_F(CloudRequestApplyTest, RewriteKeysReplacesTheKeysAndUnqueuesThePlacedNodes) {
    addFirst();
    auto request = std::make_shared<RewriteKeysRequest>(nullptr, nullptr, kOwnClientId);
    ASSERT_TRUE(run(request, ResponseBuffer("REKR", [&](auto& b) {
                        std::vector<flatbuffers::Offset<NodeMessage>> tables{sealedFolder(b, 100, "rekeyed")};
                        return CreateRewriteKeysResponse(b, 0, kOwnClientId, b.CreateVector(tables));
                    })));
    EXPECT_EQ(manager.unqueued, std::vector<uint64_t>{100});
    auto event = onlyEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->getType(), EVENT_UPDATED_KEYS);
    EXPECT_FALSE(event->isExternal());
    EXPECT_STREQ(event->getName(), "/rekeyed");
    EXPECT_STREQ(h.nodeById(100)->getOwnName(), "rekeyed");
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// A response that leaves out what it must carry ends with 9, and the cache stays as it was.
TEST_F(CloudRequestApplyTest, AbsentResponseFieldsEndWith9AndLeaveTheCache) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<NetworkRequest>(std::shared_ptr<MutableActionData>)> make;
        const char* identifier;
        std::function<flatbuffers::uoffset_t(flatbuffers::FlatBufferBuilder&)> build;
    };
    const std::vector<Case> cases{
        {"RenameNode without attributes", [](auto o) { return std::make_shared<RenameNodeRequest>(o, kOwnClientId); },
         "RENR", [](auto& b) { return CreateRenameNodeResponse(b, 0, kOwnClientId, 12, 0, 0, 4).o; }},
        {"DeleteNode without node", [](auto o) { return std::make_shared<DeleteNodeRequest>(o, kOwnClientId); }, "DENR",
         [](auto& b) { return CreateDeleteNodeResponse(b, 0, kOwnClientId, 0).o; }},
        {"MoveNode without parent", [](auto o) { return std::make_shared<MoveNodeRequest>(o, kOwnClientId); }, "MONR",
         [](auto& b) { return CreateMoveNodeResponse(b, 0, kOwnClientId, 12, 0, uint64_t{10} << 15).o; }},
        {"AddNodes without nodes", [](auto o) { return std::make_shared<AddNodesRequest>(o, nullptr, kOwnClientId); },
         "ADNR", [](auto& b) { return CreateAddNodesResponse(b, 0, kOwnClientId).o; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        auto owner = std::make_shared<MutableActionData>(TEST);
        owner->setNodeHandle(12);
        owner->setParentHandle(13);
        auto request = c.make(owner);
        ASSERT_TRUE(
            run(request, ResponseBuffer(c.identifier, [&](auto& b) { return flatbuffers::Offset<void>(c.build(b)); })));
        EXPECT_EQ(owner->getErrorCode(), UNKNOWN_ERROR);
        EXPECT_TRUE(manager.events.empty());
        auto cached = h.nodeById(12);
        ASSERT_NE(cached, nullptr);
        EXPECT_EQ(cached->getParent(), 11u);
        EXPECT_STREQ(cached->getOwnName(), "b");
        EXPECT_EQ(cached->getExtraNumber(), 0u);
    }
}

}  // namespace
}  // namespace corvane
