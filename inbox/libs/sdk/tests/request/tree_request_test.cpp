#include "request/tree_request.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "support/fake_api_manager.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CachedTreeTest;
using test::hasField;
using test::messageOf;
using test::patternKey;
using test::ResponseBuffer;

using NodeTables = std::vector<flatbuffers::Offset<NodeMessage>>;

// A node sealed as the service delivers it: attributes under the node's own key (from its id),
// that key wrapped under `kek`.
flatbuffers::Offset<NodeMessage> sealedNode(flatbuffers::FlatBufferBuilder& b, uint64_t id, uint64_t parent,
                                            int8_t type, const char* name, const Bytes& kek, uint8_t crypto = 0) {
    const Bytes key = patternKey(static_cast<uint8_t>(id));
    const auto attributes = b.CreateVector(test::gcmSeal(key, 32, test::attributesRecord(name)));
    const auto nodeKey = b.CreateVector(test::wrapKey(kek, key));
    NodeMessageBuilder node(b);
    node.add_handle(id);
    node.add_parent(parent);
    node.add_type(type);
    node.add_crypto(crypto);
    node.add_nodekey(nodeKey);
    node.add_attributes(attributes);
    return node.Finish();
}

// A response of the tree request; `nodes` null leaves the vector out.
ResponseBuffer treeResponse(const std::function<NodeTables(flatbuffers::FlatBufferBuilder&)>& nodes,
                            uint64_t status = 0, const char* link = nullptr) {
    return ResponseBuffer("GENR", [&](flatbuffers::FlatBufferBuilder& b) {
        flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<NodeMessage>>> vector;
        if (nodes) {
            vector = b.CreateVector(nodes(b));
        }
        const auto text = link != nullptr ? b.CreateString(link) : flatbuffers::Offset<flatbuffers::String>();
        GetNodesResponseBuilder response(b);
        if (nodes) {
            response.add_nodes(vector);
        }
        response.add_accountStatus(status);
        if (link != nullptr) {
            response.add_link(text);
        }
        return response.Finish();
    });
}

struct Shape {
    const char* name;
    int32_t flags;
    uint64_t parent;
    uint64_t size;
    uint64_t node;
};

// Whole tree, subtree and single node, as the owner's fields choose them.
const std::vector<Shape> kShapes = {
    {"whole tree", 1, 0, 0, 0},
    {"subtree", 0, 11, 1, 0},
    {"single node", 0, 0, 0, 13},
};

std::shared_ptr<MutableActionData> ownerOf(const Shape& shape) {
    auto owner = std::make_shared<MutableActionData>(GET_NODES);
    owner->setFlags(shape.flags);
    owner->setParentHandle(shape.parent);
    owner->setSize(shape.size);
    owner->setNodeHandle(shape.node);
    return owner;
}

TEST(GetNodesMessageTest, CarriesOnlyTheFieldsOfTheShapeAsked) {
    struct Case {
        const char* name;
        Shape shape;
        uint32_t mode;
        uint64_t parent;
        bool levelsPresent;
        uint32_t levels;
        uint64_t node;
    };
    const std::vector<Case> cases = {
        {"flags win over a parent", {"", 3, 7, 2, 9}, 3, 0, false, 0, 0},
        {"a parent without a size", {"", 0, 7, 0, 9}, 0, 7, false, 0, 0},
        {"a parent with two levels", {"", 0, 7, 2, 9}, 0, 7, true, 2, 0},
        {"only the low 32 bits of the size", {"", 0, 7, (uint64_t{1} << 32) + 3, 0}, 0, 7, true, 3, 0},
        {"a node alone", {"", 0, 0, 5, 9}, 0, 0, false, 0, 9},
        {"nothing: the whole tree", {"", 0, 0, 0, 0}, 0, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GetNodesRequest request(ownerOf(c.shape));
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<GetNodesMessage>(request, keep, "GENM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->api(), 5);
        EXPECT_EQ(message->mode(), c.mode);
        EXPECT_EQ(hasField(message, GetNodesMessage::VT_MODE), c.mode != 0);
        EXPECT_EQ(message->parent(), c.parent);
        EXPECT_EQ(hasField(message, GetNodesMessage::VT_PARENT), c.parent != 0);
        EXPECT_EQ(hasField(message, GetNodesMessage::VT_LEVELS), c.levelsPresent);
        EXPECT_EQ(message->levels(), c.levels);
        EXPECT_EQ(message->node(), c.node);
        EXPECT_EQ(hasField(message, GetNodesMessage::VT_NODE), c.node != 0);
    }
}

class GetNodesRequestTest : public CachedTreeTest {
protected:
    void SetUp() override {
        CachedTreeTest::SetUp();
        manager.cloud = h.cloud.get();
        manager.email = "owner@example.com";
        manager.hookLoop = &h.mainLoop;
    }

    // Reads and applies the response; false when the request did not take it or never finished.
    bool answer(const std::shared_ptr<GetNodesRequest>& request, const ResponseBuffer& response) {
        return test::readAndApply(h.mainLoop, &manager, request, response);
    }

    // Whether the cache holds a node with the id (in RAM or in its database).
    bool cached(uint64_t id) {
        auto found =
            h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) { h.cloud->getNodeById(id, done); });
        return std::get<0>(found) != nullptr;
    }

    test::FakeApiManager manager;
};

// A response that says nothing to place ends with 9 and leaves the cache and the account state
// as they were, whatever the shape.
TEST_F(GetNodesRequestTest, AbsentOrEmptyNodeListEndsWith9AndTouchesNothing) {
    for (const Shape& shape : kShapes) {
        for (const bool absent : {true, false}) {
            SCOPED_TRACE(std::string(shape.name) + (absent ? ", no node vector" : ", empty node vector"));
            manager.hostCalls.clear();
            auto owner = ownerOf(shape);
            auto request = std::make_shared<GetNodesRequest>(owner);
            const ResponseBuffer response =
                absent ? treeResponse(nullptr, 5, "https://x/events/t")
                       : treeResponse([](flatbuffers::FlatBufferBuilder&) { return NodeTables(); }, 5);
            ASSERT_TRUE(answer(request, response));
            EXPECT_EQ(owner->getErrorCode(), UNKNOWN_ERROR);
            EXPECT_EQ(owner->getNode(), nullptr);
            EXPECT_TRUE(manager.hostCalls.empty()) << manager.hostCalls.front();
            EXPECT_TRUE(cached(11));
            EXPECT_EQ(h.onLoop([&] { return h.cloud->getCloudState(); }), 1u);
        }
    }
}

TEST_F(GetNodesRequestTest, ServiceErrorIsKeptAndNothingIsApplied) {
    auto owner = ownerOf(kShapes[0]);
    auto request = std::make_shared<GetNodesRequest>(owner);
    const ResponseBuffer response("GENR",
                                  [](flatbuffers::FlatBufferBuilder& b) { return CreateGetNodesResponse(b, 2); });
    ASSERT_TRUE(answer(request, response));
    EXPECT_EQ(owner->getErrorCode(), 2);
    EXPECT_TRUE(manager.hostCalls.empty());
}

TEST_F(GetNodesRequestTest, SubtreeLeavesTheParentAsNodeAndItsDescendantsInOrder) {
    auto owner = ownerOf(kShapes[1]);
    auto request = std::make_shared<GetNodesRequest>(owner);
    const ResponseBuffer response = treeResponse([&](flatbuffers::FlatBufferBuilder& b) {
        return NodeTables{
            sealedNode(b, 11, 10, 21, "a", h.masterKey), sealedNode(b, 201, 11, 44, "record", h.masterKey, 1),
            sealedNode(b, 202, 11, 21, "old folder", h.masterKey, 1), sealedNode(b, 203, 11, 21, "new", h.masterKey)};
    });
    ASSERT_TRUE(answer(request, response));
    EXPECT_EQ(owner->getErrorCode(), 0);
    ASSERT_TRUE(owner->getNode());
    EXPECT_EQ(owner->getNode()->getId(), 11u);
    std::vector<uint64_t> rest;
    for (const auto& node : *owner->getNodes()) {
        rest.push_back(node->getId());
    }
    // Only a record of the old scheme is queued for the key rewrite, not a folder of it.
    EXPECT_EQ(manager.rewriteQueue, (std::vector<uint64_t>{201}));
    EXPECT_EQ(rest.front(), 201u);
    EXPECT_EQ(rest.back(), 203u);
    EXPECT_TRUE(cached(203));
}

TEST_F(GetNodesRequestTest, NodesTheCacheCannotPlaceEndWith4) {
    auto owner = ownerOf(kShapes[2]);
    auto request = std::make_shared<GetNodesRequest>(owner);
    const ResponseBuffer response = treeResponse([&](flatbuffers::FlatBufferBuilder& b) {
        return NodeTables{sealedNode(b, 300, 999, 21, "orphan", h.masterKey)};
    });
    ASSERT_TRUE(answer(request, response));
    EXPECT_EQ(owner->getErrorCode(), CRYPTOGRAPHIC_ERROR);
    EXPECT_FALSE(cached(300));
}

// A cloud without a cache: the whole tree is what fills it.
class WholeTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.initialize();
        manager.cloud = h.cloud.get();
        manager.email = "owner@example.com";
        manager.hookLoop = &h.mainLoop;
    }

    test::CloudHarness h;
    test::FakeApiManager manager;
};

TEST_F(WholeTreeTest, FillsTheCacheThenRaisesAccountReadyBeforeFinishingWithACopyOfTheMainRoot) {
    auto owner = ownerOf(kShapes[0]);
    auto request = std::make_shared<GetNodesRequest>(owner);
    const ResponseBuffer response = treeResponse(
        [&](flatbuffers::FlatBufferBuilder& b) {
            return NodeTables{sealedNode(b, 10, 0, 0, "", h.masterKey), sealedNode(b, 11, 10, 21, "a", h.masterKey)};
        },
        42, "https://x/events/token");
    std::vector<std::string> atFinish;
    ASSERT_TRUE(test::readAndApply(h.mainLoop, &manager, request, response, [&] { atFinish = manager.hostCalls; }));
    EXPECT_EQ(owner->getErrorCode(), 0);
    ASSERT_FALSE(atFinish.empty());
    EXPECT_EQ(atFinish.front(), "begin");
    EXPECT_NE(std::find(atFinish.begin(), atFinish.end(), "status:42:https://x/events/token"), atFinish.end());
    EXPECT_EQ(atFinish.back(), "event:" + std::to_string(EVENT_ACCOUNT_READY));
    ASSERT_TRUE(owner->getNode());
    EXPECT_EQ(owner->getNode()->getId(), 10u);
    // Not the cache's own record: a change there leaves the caller's copy alone.
    auto root = h.onLoop([&] { return h.cloud->getMainRoot(); });
    ASSERT_TRUE(root);
    EXPECT_NE(owner->getNode().get(), root.get());
    h.onLoop([&] { root->setExtraNumber(7); });
    EXPECT_EQ(owner->getNode()->getExtraNumber(), 0u);
}

TEST_F(WholeTreeTest, TreeWithoutAMainRootEndsWith1AndRaisesNoAccountReady) {
    auto owner = ownerOf(kShapes[0]);
    auto request = std::make_shared<GetNodesRequest>(owner);
    // A recycle bin and its folder, but no cloud drive root.
    const ResponseBuffer response = treeResponse(
        [&](flatbuffers::FlatBufferBuilder& b) {
            return NodeTables{sealedNode(b, 30, 0, 2, "", h.masterKey), sealedNode(b, 31, 30, 21, "a", h.masterKey)};
        },
        3);
    ASSERT_TRUE(test::readAndApply(h.mainLoop, &manager, request, response));
    EXPECT_EQ(owner->getErrorCode(), NOT_FOUND);
    EXPECT_EQ(owner->getNode(), nullptr);
    for (const auto& call : manager.hostCalls) {
        EXPECT_NE(call, "event:" + std::to_string(EVENT_ACCOUNT_READY));
    }
}

}  // namespace
}  // namespace corvane
