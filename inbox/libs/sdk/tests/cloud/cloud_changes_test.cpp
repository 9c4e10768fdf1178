#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud_test_support.h"
#include "corvane/handle.h"
#include "sealed_node_fixture.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CachedTreeTest;
using test::CacheFile;
using test::CloudHarness;
using test::idsOf;
using test::makeNode;
using test::patternKey;
using Ids = std::vector<uint64_t>;

// Every step must leave RAM consistent: a node is held exactly when its parent's children
// list holds it.
#define EXPECT_RAM_CONSISTENT(harness) \
    EXPECT_EQ((harness).onLoop([&]() { return (harness).cloud->ramInconsistency(); }), std::string())

class CloudChangesTest : public CachedTreeTest {
protected:
    Cloud::NodePointer update(Cloud::NodePointer node, bool skipLookup = false) {
        return std::get<0>(h.call<Cloud::NodePointer>(
            [&, node, skipLookup](Cloud::MutableNodeCallback done) { h.cloud->updateNode(node, done, skipLookup); }));
    }

    void remove(uint64_t id) {
        h.call<>([&, id](Cloud::Callback done) { h.cloud->removeNode(id, done); });
    }

    int32_t count() {
        return h.onLoop([&]() { return h.cloud->getRamNodeCount(); });
    }

    // What the cache file holds, read through a connection of its own.
    std::shared_ptr<MutableNodeData> row(uint64_t id) {
        CacheFile cache(h.cacheFile());
        return cache.node(id);
    }

    // A received node that opens only through the master key (no child key).
    std::shared_ptr<EncryptedNodeData> received(uint64_t id, uint64_t parent, const char* name) {
        auto node = std::make_shared<EncryptedNodeData>();
        node->setId(id);
        node->setType(21);
        node->setParent(parent);
        const Bytes key = patternKey(static_cast<uint8_t>(id));
        const Bytes blob = test::gcmSeal(key, 32, test::attributesRecord(name));
        node->setEncryptedAttributes(blob.data(), blob.size());
        const Bytes wrapped = test::wrapKey(h.masterKey, key);
        node->setEncryptedNodeKey(wrapped.data(), wrapped.size());
        return node;
    }
};

TEST_F(CloudChangesTest, AddNodesKeepsInputOrderAndDropsNodesWithoutParent) {
    h.children(10);
    test::LogCapture log;
    auto input = std::make_shared<NodeList>(
        NodeList{received(100, 10, "first"), received(101, 999, "orphan"), received(102, 10, "third")});
    auto result = std::get<0>(
        h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) { h.cloud->addNodes(input, done, true); }));
    EXPECT_EQ(idsOf(result), (Ids{100, 102}));
    EXPECT_STREQ(result->front()->getOwnName(), "first");
    EXPECT_TRUE(log.contains("Addition of 3 nodes finished"));
    EXPECT_EQ(log.count("Removing unknown node from addNodes result"), 1u);
    EXPECT_TRUE(log.contains("Removing unknown node from addNodes result 101"));
    EXPECT_TRUE(log.contains("Parent node not found in addNode 999"));
    EXPECT_TRUE(inRam(100));
    EXPECT_TRUE(inRam(102));
    EXPECT_EQ(result->front()->getDepth(), 1);
    ASSERT_NE(row(102), nullptr);
    EXPECT_EQ(row(101), nullptr);
    EXPECT_RAM_CONSISTENT(h);
}

// An empty list is answered with an empty result at once instead of reading a first node.
TEST_F(CloudChangesTest, AddNodesOfEmptyListAnswersEmpty) {
    for (auto input : {std::make_shared<NodeList>(), Cloud::NodeListPointer()}) {
        auto result = std::get<0>(h.call<Cloud::NodeListPointer>(
            [&](Cloud::NodeListCallback done) { h.cloud->addNodes(input, done, false); }));
        ASSERT_NE(result, nullptr);
        EXPECT_TRUE(result->empty());
        auto opened = std::get<0>(h.call<Cloud::NodeListPointer>(
            [&](Cloud::NodeListCallback done) { h.cloud->decryptPublicNodes(input, patternKey(5), done); }));
        ASSERT_NE(opened, nullptr);
        EXPECT_TRUE(opened->empty());
    }
}

TEST_F(CloudChangesTest, AddNodeOfRootPlacesItWithoutParent) {
    auto root = std::make_shared<EncryptedNodeData>();
    root->setId(5);
    root->setType(1);
    const Bytes key = patternKey(5);
    const Bytes wrapped = test::wrapKey(h.masterKey, key);
    root->setEncryptedChildKey(wrapped.data(), wrapped.size());
    auto stored = std::get<0>(
        h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) { h.cloud->addNode(root, done, false); }));
    ASSERT_EQ(stored, root);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRoot(1); }), stored);
    ASSERT_NE(stored->getKey(), nullptr);
    EXPECT_EQ(*stored->getKey(), key);
    EXPECT_RAM_CONSISTENT(h);
}

TEST_F(CloudChangesTest, UpdateUnderParentWithoutLoadedChildrenWritesOnlyTheTable) {
    const int32_t before = count();
    auto node = makeNode(33, 21, 30, "new");
    EXPECT_EQ(update(node), node);
    EXPECT_FALSE(inRam(33));
    EXPECT_EQ(count(), before);
    ASSERT_NE(row(33), nullptr);
    EXPECT_EQ(row(33)->getParent(), 30u);
    // Listing the parent brings it in from the table.
    EXPECT_EQ(idsOf(h.children(30)), (Ids{31, 33}));
    EXPECT_RAM_CONSISTENT(h);
}

// The new version replaces the old object: same count, children flag and full flag carried over.
TEST_F(CloudChangesTest, UpdateReplacesHeldVersion) {
    h.children(10);
    h.children(11);
    auto old = h.nodeById(11);
    old->setFull(true);
    const int32_t before = count();
    test::LogCapture log;
    auto renamed = makeNode(11, 21, 10, "renamed");
    EXPECT_EQ(update(renamed), renamed);
    EXPECT_EQ(h.nodeById(11), renamed);
    EXPECT_TRUE(renamed->getChildrenLoaded());
    EXPECT_TRUE(renamed->isFull());
    EXPECT_EQ(renamed->getDepth(), 1);
    EXPECT_EQ(count(), before);
    EXPECT_TRUE(log.contains("[cloud] Updating node: 11 Type: 21"));
    EXPECT_TRUE(log.contains("[cloud] Node to update removed from children map: 11"));
    EXPECT_STREQ(row(11)->getOwnName(), "renamed");
    EXPECT_EQ(idsOf(h.children(11)), (Ids{12, 13}));
    EXPECT_RAM_CONSISTENT(h);
}

// Nodes of a secret enter RAM with any known parent and never reach the table.
TEST_F(CloudChangesTest, SecretNodesStayInRam) {
    const uint64_t secretFs = uint64_t{40} << 15;
    ASSERT_TRUE(std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
        h.cloud->addFilesystemUsingNodeKey(test::makeFilesystem(secretFs, 6, 0, nullptr, nullptr),
                                           std::make_unique<Bytes>(patternKey(40)), done);
    })));
    auto node = makeNode(42, 21, 40, "inside", secretFs);
    EXPECT_EQ(update(node), node);
    EXPECT_TRUE(inRam(42));
    EXPECT_EQ(row(42), nullptr);
    EXPECT_RAM_CONSISTENT(h);
}

TEST_F(CloudChangesTest, FilesystemRootsKeepTheirNameAndPlace) {
    auto secret = makeNode(60, 6, 0, "mine");
    update(secret);
    auto unnamed = makeNode(60, 6, 0, nullptr);
    update(unnamed);
    EXPECT_STREQ(unnamed->getName(), "mine");
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getSecretNode(60); }), unnamed);
    EXPECT_RAM_CONSISTENT(h);

    CloudHarness bare(false);
    bare.initialize(0);
    auto drive = makeNode(0x99, 8, 0, "drive");
    std::get<0>(bare.call<Cloud::NodePointer>(
        [&](Cloud::MutableNodeCallback done) { bare.cloud->updateNode(drive, done, true); }));
    EXPECT_EQ(bare.onLoop([&]() { return bare.cloud->getMainRoot(); }), drive);
    EXPECT_TRUE(bare.onLoop([&]() { return bare.cloud->getSharedDrives()->empty(); }));
}

TEST_F(CloudChangesTest, MoveNodeBetweenParents) {
    h.children(10);
    h.children(11);
    h.children(13);
    auto moved = std::get<0>(
        h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) { h.cloud->moveNode(12, 13, 7, done); }));
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->getParent(), 13u);
    EXPECT_EQ(moved->getParentText(), getHandleText(13));
    EXPECT_EQ(moved->getFilesystem(), 7u);
    EXPECT_EQ(moved->getDepth(), h.nodeById(13)->getDepth() + 1);
    EXPECT_EQ(idsOf(h.children(11)), (Ids{13}));
    EXPECT_EQ(idsOf(h.children(13)), (Ids{14, 12}));
    EXPECT_EQ(row(12)->getParent(), 13u);
    EXPECT_RAM_CONSISTENT(h);

    // Under a parent whose children are not loaded it leaves RAM.
    const int32_t before = count();
    h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) { h.cloud->moveNode(12, 31, 7, done); });
    EXPECT_FALSE(inRam(12));
    EXPECT_EQ(count(), before - 1);
    EXPECT_EQ(row(12)->getParent(), 31u);
    EXPECT_RAM_CONSISTENT(h);

    test::LogCapture log;
    auto root = std::get<0>(
        h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) { h.cloud->moveNode(10, 30, 0, done); }));
    EXPECT_EQ(root, nullptr);
    EXPECT_TRUE(log.contains("[cloud] Node not found in moveNode 10"));
}

TEST_F(CloudChangesTest, ChangeMetadataStoresACopy) {
    h.children(10);
    auto old = h.nodeById(16);
    const uint8_t metadata[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    auto changed = std::get<0>(h.call<Cloud::NodePointer>(
        [&](Cloud::MutableNodeCallback done) { h.cloud->changeNodeMetadata(16, metadata, sizeof(metadata), done); }));
    ASSERT_NE(changed, nullptr);
    EXPECT_NE(changed, old);
    EXPECT_EQ(changed->getMetadataCount(), 2);
    EXPECT_EQ(old->getMetadataCount(), 0);
    EXPECT_EQ(h.nodeById(16), changed);
    EXPECT_EQ(row(16)->getMetadataCount(), 2);
    EXPECT_RAM_CONSISTENT(h);

    test::LogCapture log;
    auto missing = std::get<0>(h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) {
        h.cloud->changeNodeMetadata(12345, metadata, sizeof(metadata), done);
    }));
    EXPECT_EQ(missing, nullptr);
    EXPECT_TRUE(log.contains("[cloud] Node not found in changeNodeMetadata 12345"));
}

// Children go before their parent, the last child first; rows and RAM entries go with them.
TEST_F(CloudChangesTest, RemoveDeletesSubtreeDepthFirst) {
    h.children(10);
    const int32_t before = count();
    test::LogCapture log;
    remove(11);
    std::vector<std::string> order;
    for (const std::string& line : log.lines()) {
        const auto at = line.find("[cloud] Removing node: ");
        if (at != std::string::npos) {
            std::string id = line.substr(at + 23);
            order.push_back(id.substr(0, id.find_first_not_of("0123456789")));
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"11", "13", "14", "12"}));
    EXPECT_TRUE(log.contains("Deleting 2 children"));
    for (uint64_t id : {11, 12, 13, 14}) {
        EXPECT_EQ(row(id), nullptr) << id;
        EXPECT_FALSE(inRam(id)) << id;
    }
    EXPECT_EQ(count(), before - 1);
    EXPECT_EQ(idsOf(h.children(10)), (Ids{16, 17, 90}));
    EXPECT_RAM_CONSISTENT(h);
}

TEST_F(CloudChangesTest, RemoveRefusesPlainRoots) {
    test::LogCapture log;
    remove(10);
    EXPECT_TRUE(log.contains("[cloud] Trying to delete a root node 10"));
    EXPECT_TRUE(inRam(10));
    EXPECT_NE(row(10), nullptr);
    remove(12345);
    EXPECT_TRUE(log.contains("[cloud] Node not found in removeNode 12345"));
}

// Parents that run in a circle end the removal with "Loop detected" instead of for ever.
TEST_F(CloudChangesTest, RemoveOfCyclicTreeEnds) {
    test::LogCapture log;
    remove(60);
    EXPECT_TRUE(log.contains("[cloud] Loop detected removing node 60"));
    EXPECT_EQ(row(60), nullptr);
    EXPECT_EQ(row(61), nullptr);
    remove(70);
    EXPECT_TRUE(log.contains("[cloud] Loop detected removing node 70"));
    EXPECT_EQ(row(70), nullptr);
    EXPECT_RAM_CONSISTENT(h);
}

// Without a cache a parent whose children are not loaded lists an empty list, not a missing one.
TEST(CloudWithoutCacheTest, ChildrenOfUnloadedParentAreAnEmptyList) {
    CloudHarness bare(false);
    bare.initialize();
    auto root = makeNode(1, 0, 0, nullptr);
    auto child = makeNode(2, 21, 1, "child");
    for (auto node : {root, child}) {
        auto stored = std::get<0>(bare.call<Cloud::NodePointer>(
            [&](Cloud::MutableNodeCallback done) { bare.cloud->updateNode(node, done, true); }));
        EXPECT_EQ(stored, node);
    }
    EXPECT_FALSE(bare.onLoop([&]() { return bare.cloud->isInRam(2); }));
    auto children = bare.children(1);
    ASSERT_NE(children, nullptr);
    EXPECT_TRUE(children->empty());
    EXPECT_RAM_CONSISTENT(bare);
}

}  // namespace
}  // namespace corvane
