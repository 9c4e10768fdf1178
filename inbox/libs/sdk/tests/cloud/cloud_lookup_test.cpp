#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud_test_support.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CachedTreeTest;
using test::idsOf;
using Ids = std::vector<uint64_t>;

class CloudLookupTest : public CachedTreeTest {
protected:
    std::shared_ptr<NodeData> byName(uint64_t parent, const std::string& name) {
        return std::get<0>(h.call<std::shared_ptr<NodeData>>(
            [&, parent, name](Cloud::NodeCallback done) { h.cloud->getNodeByName(parent, name, done); }));
    }

    std::tuple<bool, bool, Error> descendant(uint64_t ancestor, uint64_t node) {
        return h.call<bool, bool, Error>(
            [&, ancestor, node](Cloud::DescendantCallback done) { h.cloud->isDescendant(ancestor, node, done); });
    }

    std::tuple<Cloud::NodeListPointer, Error> subtree(uint64_t id, Cloud::NodeListPointer accumulator = nullptr) {
        return h.call<Cloud::NodeListPointer, Error>(
            [&, id, accumulator](Cloud::SubtreeCallback done) { h.cloud->getSubtree(id, accumulator, done); });
    }
};

TEST_F(CloudLookupTest, NodeByIdFromRamThenTable) {
    test::LogCapture log;
    EXPECT_EQ(h.nodeById(0), nullptr);
    EXPECT_FALSE(log.contains("[cloud] Node"));

    auto root = h.nodeById(10);
    EXPECT_EQ(root, h.onLoop([&]() { return h.cloud->getMainRoot(); }));
    EXPECT_TRUE(log.contains("[cloud] Node found in RAM: 10"));

    auto child = h.nodeById(13);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->getParent(), 11u);
    EXPECT_TRUE(log.contains("[cloud] Node found in database: 13"));
    EXPECT_FALSE(inRam(13));

    EXPECT_EQ(h.nodeById(12345), nullptr);
    EXPECT_TRUE(log.contains("[cloud] Node not found: 12345"));
}

// Children enter RAM only under a parent held there; once loaded they come from RAM.
TEST_F(CloudLookupTest, ChildrenFromTableThenFromRam) {
    test::LogCapture log;
    EXPECT_EQ(idsOf(h.children(10)), (Ids{11, 16, 17, 90}));
    EXPECT_TRUE(log.contains("4 child nodes from database: 10"));
    EXPECT_TRUE(inRam(11));
    EXPECT_TRUE(inRam(90));
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->hasChildrenLoaded(10); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRamNodeCount(); }), 9);

    auto again = h.children(10, 1);
    EXPECT_EQ(idsOf(again), (Ids{11, 90, 17, 16}));  // containers first, natural names
    EXPECT_TRUE(log.contains("4 child nodes from RAM: 10"));
    EXPECT_EQ(log.count("child nodes from database: 10"), 1u);

    // 31 is only in the table: its children are handed out and not kept.
    EXPECT_EQ(idsOf(h.children(31)), (Ids{32}));
    EXPECT_FALSE(inRam(32));
    EXPECT_EQ(idsOf(h.children(31)), (Ids{32}));
    EXPECT_EQ(log.count("child nodes from database: 31"), 2u);

    EXPECT_EQ(h.children(999), nullptr);
    EXPECT_TRUE(log.contains("Node not found getting child nodes of 999"));
    auto none = h.children(14);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->empty());
}

TEST_F(CloudLookupTest, FilteredChildrenStillEnterRam) {
    test::LogCapture log;
    auto files = std::get<0>(
        h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) { h.cloud->getChildFiles(10, done, 0); }));
    EXPECT_EQ(idsOf(files), (Ids{16}));
    EXPECT_TRUE(inRam(11));
    auto folders = std::get<0>(
        h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) { h.cloud->getChildFolders(10, done, -1); }));
    EXPECT_EQ(idsOf(folders), (Ids{17, 90, 11}));  // "Unknown folder name", "hashes", "a" descending
    EXPECT_TRUE(log.contains("3 child nodes from RAM: 10"));
}

// Nodes of a secret filesystem live in RAM only: their parent never reads the table.
TEST_F(CloudLookupTest, SecretFilesystemListedFromRam) {
    const bool added = std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
        h.cloud->addFilesystemUsingNodeKey(test::makeFilesystem(uint64_t{40} << 15, 6, 0, nullptr, nullptr),
                                           std::make_unique<Bytes>(test::patternKey(3)), done);
    }));
    ASSERT_TRUE(added);
    test::LogCapture log;
    auto list = h.children(40);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->empty());
    EXPECT_TRUE(log.contains("0 child nodes from RAM: 40"));
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->hasChildrenLoaded(40); }));
}

TEST_F(CloudLookupTest, NodeByNameIsExactAndFirstInChildrenOrder) {
    auto a = byName(10, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getId(), 11u);
    EXPECT_EQ(byName(10, "A"), nullptr);
    EXPECT_EQ(byName(10, ""), nullptr);
    EXPECT_EQ(byName(999, "a"), nullptr);
    auto unnamed = byName(10, "Unknown folder name");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->getId(), 17u);
}

TEST_F(CloudLookupTest, IdenticalAndSimilarNodes) {
    test::LogCapture log;
    auto all = std::get<0>(h.call<Cloud::NodeListPointer>(
        [&](Cloud::NodeListCallback done) { h.cloud->getNodesByFullHash(kFullHash, done); }));
    EXPECT_EQ(idsOf(all), (Ids{80, 81, 82}));
    EXPECT_FALSE(inRam(80));

    auto identical = [&](uint64_t size) {
        return std::get<0>(h.call<std::shared_ptr<NodeData>>(
            [&, size](Cloud::NodeCallback done) { h.cloud->getIdenticalNode(kFullHash, size, done); }));
    };
    // Equal creation times: the later row wins; another size never does.
    ASSERT_NE(identical(100), nullptr);
    EXPECT_EQ(identical(100)->getId(), 81u);
    EXPECT_EQ(identical(200)->getId(), 82u);
    EXPECT_EQ(identical(300), nullptr);
    EXPECT_TRUE(log.contains("Identical node not found"));

    auto similar = [&](uint64_t size, uint64_t modificationTime) {
        return std::get<0>(h.call<std::shared_ptr<NodeData>>([&, size, modificationTime](Cloud::NodeCallback done) {
            h.cloud->getSimilarNode(kSparseHash, size, modificationTime, done);
        }));
    };
    ASSERT_NE(similar(100, 7), nullptr);
    EXPECT_EQ(similar(100, 7)->getId(), 80u);
    EXPECT_EQ(similar(100, 9), nullptr);
    EXPECT_TRUE(log.contains("Similar node not found"));
}

struct DescendantCase {
    const char* name;
    uint64_t ancestor;
    uint64_t node;
    bool completed;
    bool inside;
    int32_t error;
};

class DescendantTest : public CachedTreeTest, public ::testing::WithParamInterface<DescendantCase> {};

TEST_P(DescendantTest, WalksUpBounded) {
    const DescendantCase& c = GetParam();
    auto [completed, inside, error] = h.call<bool, bool, Error>(
        [&](Cloud::DescendantCallback done) { h.cloud->isDescendant(c.ancestor, c.node, done); });
    EXPECT_EQ(completed, c.completed);
    EXPECT_EQ(inside, c.inside);
    EXPECT_EQ(error.getCode(), c.error);
}

INSTANTIATE_TEST_SUITE_P(Cases, DescendantTest,
                         ::testing::Values(DescendantCase{"Itself", 10, 10, true, true, SUCCESS},
                                           DescendantCase{"ZeroIsOutside", 10, 0, true, false, SUCCESS},
                                           DescendantCase{"DeepInsideThroughTable", 10, 14, true, true, SUCCESS},
                                           DescendantCase{"OtherRoot", 30, 14, true, false, SUCCESS},
                                           DescendantCase{"MissingParent", 10, 55, false, false, SUCCESS},
                                           DescendantCase{"ParentsInACircle", 10, 60, false, false, LOOP_DETECTED},
                                           DescendantCase{"OwnParent", 10, 70, false, false, LOOP_DETECTED}),
                         [](const ::testing::TestParamInfo<DescendantCase>& info) {
                             return std::string(info.param.name);
                         });

// Children blocks in order, then the subtrees of their containers, the last container first.
TEST_F(CloudLookupTest, SubtreeOrder) {
    auto [list, error] = subtree(10);
    EXPECT_EQ(error.getCode(), SUCCESS);
    EXPECT_EQ(idsOf(list), (Ids{11, 16, 17, 90, 80, 81, 82, 12, 13, 14}));

    auto accumulator = std::make_shared<NodeList>(NodeList{h.nodeById(30)});
    auto [unchanged, none] = subtree(14, accumulator);
    EXPECT_EQ(unchanged, accumulator);
    EXPECT_EQ(idsOf(unchanged), (Ids{30}));
    EXPECT_EQ(none.getCode(), SUCCESS);
}

// Bad service data must not make the walk run for ever.
TEST_F(CloudLookupTest, SubtreeStopsAtALoop) {
    test::LogCapture log;
    for (uint64_t start : {60u, 70u}) {
        auto [list, error] = subtree(start);
        EXPECT_EQ(error.getCode(), LOOP_DETECTED) << start;
        ASSERT_NE(list, nullptr);
    }
    EXPECT_TRUE(log.contains("Loop detected"));
}

TEST_F(CloudLookupTest, RootGetters) {
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRoot(7); })->getId(), 50u);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRoot(2); })->getId(), 30u);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRoot(1); }), nullptr);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRoot(5); }), nullptr);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRoot(-1); }), nullptr);
    auto roots = h.onLoop([&]() { return h.cloud->getRoots(); });
    ASSERT_EQ(roots->size(), 5u);
    EXPECT_EQ((*roots)[4]->getId(), 40u);
    EXPECT_EQ((*roots)[3], nullptr);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getSharedDrive(kDrive); })->getId(), kDrive);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getSecretKey(10); }), nullptr);
}

}  // namespace
}  // namespace corvane
