#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud_test_support.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::CloudHarness;
using test::makeNode;

// Synthetic trees in RAM, built through updateNode on a model without a cache.
class CloudPurgeTest : public ::testing::Test {
protected:
    static constexpr uint64_t kSecretFs = uint64_t{6} << 15;

    void SetUp() override { h.initialize(); }

    // Stores the nodes in order; each container gets its children loaded so that what
    // follows under it enters RAM.
    void grow(const std::vector<Cloud::NodePointer>& nodes) {
        auto done = std::make_shared<std::promise<void>>();
        auto future = done->get_future();
        auto left = std::make_shared<size_t>(nodes.size());
        h.mainLoop.post([this, nodes, done, left]() {
            for (const auto& node : nodes) {
                h.cloud->updateNode(
                    node,
                    [done, left](Cloud::NodePointer stored) {
                        if (stored && !stored->isFile()) {
                            stored->setChildrenLoaded(true);
                        }
                        if (--*left == 0) {
                            done->set_value();
                        }
                    },
                    true);
            }
        });
        future.wait();
    }

    void files(uint64_t parent, uint64_t firstId, size_t count) {
        std::vector<Cloud::NodePointer> list;
        for (size_t i = 0; i < count; ++i) {
            list.push_back(makeNode(firstId + i, 20, parent, "f"));
        }
        grow(list);
    }

    int32_t count() {
        return h.onLoop([&]() { return h.cloud->getRamNodeCount(); });
    }
    bool loaded(uint64_t id) {
        return h.onLoop([&]() { return h.cloud->hasChildrenLoaded(id); });
    }
    bool inRam(uint64_t id) {
        return h.onLoop([&]() { return h.cloud->isInRam(id); });
    }
    void purge() {
        h.onLoop([&]() { h.cloud->purgeNodes(); });
    }

    CloudHarness h{false};
};

// root 1; folders 100..109 with 18748 files each (ids from (f + 1) * 1000000); a subfolder 200
// of folder 109 with one file at depth 3; a secret chain 6 -> 7 -> 8 -> 9 (file, depth 3).
TEST_F(CloudPurgeTest, EvictsSiblingGroupsDeepestFirstBelowTheBand) {
    ASSERT_TRUE(std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
        h.cloud->addFilesystemUsingNodeKey(test::makeFilesystem(kSecretFs, 6, 0, nullptr, nullptr),
                                           std::make_unique<test::Bytes>(test::patternKey(6)), done);
    })));
    grow({makeNode(1, 0, 0, nullptr)});
    std::vector<Cloud::NodePointer> folders;
    for (uint64_t f = 100; f < 110; ++f) {
        folders.push_back(makeNode(f, 21, 1, "folder"));
    }
    grow(folders);
    grow({makeNode(200, 21, 109, "sub")});
    grow({makeNode(900000000, 20, 200, "deep")});
    grow({makeNode(6, 6, 0, "secret", kSecretFs)});
    grow({makeNode(7, 21, 6, "s", kSecretFs)});
    grow({makeNode(8, 21, 7, "s", kSecretFs)});
    grow({makeNode(9, 20, 8, "s", kSecretFs)});
    for (uint64_t f = 0; f < 10; ++f) {
        files(100 + f, (f + 1) * 1000000, 18748);
    }
    const size_t extra = static_cast<size_t>(187500 - count());
    files(100, 1000000 + 18748, extra);
    ASSERT_EQ(count(), 187500);

    test::LogCapture log;
    purge();
    EXPECT_EQ(count(), 187500);
    EXPECT_FALSE(log.contains("Purging"));

    files(100, 1500000, 1);
    purge();
    EXPECT_TRUE(log.contains("Purging exceeding nodes from RAM: 187501 0 37501"));
    // The deep file's group, then folder 109's (it holds 200), then folders 100, 101, ... in
    // the order of their files' ids, until the count is 37500 below the threshold.
    std::vector<int32_t> groups = {1, 18749, static_cast<int32_t>(18748 + extra + 1)};
    while (groups.size() < 12) {
        groups.push_back(18748);
    }
    int32_t excess = 37501;
    int32_t expected = 187501;
    size_t evicted = 0;
    while (excess > -37500) {
        excess -= groups[evicted];
        expected -= groups[evicted];
        ++evicted;
    }
    const size_t plainFolders = evicted - 2;
    EXPECT_EQ(count(), expected);
    EXPECT_LE(count(), 112500);
    EXPECT_TRUE(log.contains("Remaining nodes in RAM: " + std::to_string(count())));
    EXPECT_FALSE(inRam(200));
    EXPECT_FALSE(inRam(900000000));
    EXPECT_FALSE(loaded(109));
    for (uint64_t f = 100; f < 109; ++f) {
        EXPECT_TRUE(inRam(f));
        EXPECT_EQ(loaded(f), f >= 100 + plainFolders) << f;
    }
    // A secret is never a candidate, however deep.
    EXPECT_TRUE(inRam(9));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getPurgeAllowance(); }), 0);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->ramInconsistency(); }), std::string());
}

// When the deepest leaf is a root nothing can go: the allowance grows by one step each time,
// raising the level of the next purge.
TEST_F(CloudPurgeTest, AllowanceGrowsWhenOnlyRootsAreLeft) {
    auto roots = [&](uint64_t first, size_t n) {
        std::vector<Cloud::NodePointer> list;
        for (size_t i = 0; i < n; ++i) {
            list.push_back(makeNode(first + i, 21, 0, "link"));
        }
        grow(list);
    };
    roots(1, 187501);
    test::LogCapture log;
    purge();
    EXPECT_TRUE(log.contains("Unable to purge exceeding nodes. Allowing 37500 extra nodes."));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getPurgeAllowance(); }), 37500);
    EXPECT_EQ(count(), 187501);

    purge();
    EXPECT_EQ(log.count("Purging exceeding nodes"), 1u);
    roots(1000000, 37500);
    purge();
    EXPECT_TRUE(log.contains("Purging exceeding nodes from RAM: 225001 37500 37501"));
    EXPECT_TRUE(log.contains("Unable to purge exceeding nodes. Allowing 75000 extra nodes."));

    // reset puts the allowance back.
    h.call<>([&](Cloud::Callback done) { h.cloud->reset(done); });
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getPurgeAllowance(); }), 0);
}

}  // namespace
}  // namespace corvane
