#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/node_path.h"
#include "cloud_test_support.h"
#include "corvane/handle.h"

namespace corvane {
namespace {

using test::CachedTreeTest;

struct PrefixCase {
    const char* name;
    std::string path;
    PathRoot::Kind kind;
    uint64_t value;
    size_t offset;
};

class PathRootTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(PathRootTest, ReadsThePrefix) {
    const PrefixCase& c = GetParam();
    const PathRoot root = parsePathRoot(c.path);
    EXPECT_EQ(root.kind, c.kind);
    if (c.kind != PathRoot::NONE) {
        EXPECT_EQ(root.value, c.value);
        EXPECT_EQ(root.offset, c.offset);
    }
}

const uint64_t kHandle = 0x0000a1b2c3d4e5f6ULL;

INSTANTIATE_TEST_SUITE_P(
    Prefixes, PathRootTest,
    ::testing::Values(
        PrefixCase{"Empty", "", PathRoot::NONE, 0, 0}, PrefixCase{"NotAbsolute", "abc", PathRoot::NONE, 0, 0},
        PrefixCase{"Drive", "/", PathRoot::SLOT, 0, 1}, PrefixCase{"DriveName", "/a/b", PathRoot::SLOT, 0, 1},
        PrefixCase{"Backups", "//bak/x", PathRoot::SLOT, 1, 6}, PrefixCase{"Bin", "//bin/", PathRoot::SLOT, 2, 6},
        PrefixCase{"BinWithoutSlash", "//bin", PathRoot::NONE, 0, 0},
        PrefixCase{"Register", "//reg/", PathRoot::SLOT, 3, 6},
        PrefixCase{"SharedFolders", "//shd/", PathRoot::SLOT, 4, 6},
        PrefixCase{"Contacts", "//cnt/", PathRoot::SLOT, 7, 6}, PrefixCase{"Unknown", "//xyz/a", PathRoot::NONE, 0, 0},
        PrefixCase{"Secret", "//sec/" + getHandleText(kHandle) + "/a", PathRoot::SECRET, kHandle, 15},
        PrefixCase{"SecretNoSlash", "//sec/" + getHandleText(kHandle), PathRoot::SECRET, kHandle, 14},
        PrefixCase{"SecretEmptyHandle", "//sec//a", PathRoot::NONE, 0, 0},
        PrefixCase{"SharedDrive", "//shdd/" + getHandleText(kHandle) + "/", PathRoot::SHARED_DRIVE, kHandle, 16},
        PrefixCase{"SharedDriveEmptyHandle", "//shdd/", PathRoot::NONE, 0, 0}),
    [](const ::testing::TestParamInfo<PrefixCase>& info) { return std::string(info.param.name); });

TEST(RootPathTextTest, EveryKind) {
    EXPECT_EQ(rootPathText(0, "h"), "/");
    EXPECT_EQ(rootPathText(1, "h"), "//bak/");
    EXPECT_EQ(rootPathText(2, "h"), "//bin/");
    EXPECT_EQ(rootPathText(3, "h"), "//reg/");
    EXPECT_EQ(rootPathText(4, "h"), "//shd/");
    EXPECT_EQ(rootPathText(5, "h"), "/");
    EXPECT_EQ(rootPathText(6, "h"), "//sec/h/");
    EXPECT_EQ(rootPathText(7, "h"), "//cnt/");
    EXPECT_EQ(rootPathText(8, "h"), "//shdd/h/");
    EXPECT_EQ(rootPathText(21, "h"), "/");
}

class CloudPathTest : public CachedTreeTest {
protected:
    std::pair<uint64_t, std::string> resolve(const std::string& path) {
        auto [node, rest] = h.call<std::shared_ptr<NodeData>, std::string>(
            [&, path](Cloud::NodePathCallback done) { h.cloud->getNode(path, done); });
        return {node ? node->getId() : 0, rest};
    }

    uint64_t relative(uint64_t parent, const std::string& path) {
        auto node = std::get<0>(h.call<std::shared_ptr<NodeData>>(
            [&, parent, path](Cloud::NodeCallback done) { h.cloud->getNodeByPath(parent, path, done); }));
        return node ? node->getId() : 0;
    }

    std::pair<std::string, int32_t> pathOf(uint64_t id) {
        auto [path, error] =
            h.call<std::string, Error>([&, id](Cloud::PathCallback done) { h.cloud->getNodePath(id, done); });
        return {path, error.getCode()};
    }
};

TEST_F(CloudPathTest, AbsolutePaths) {
    using Result = std::pair<uint64_t, std::string>;
    EXPECT_EQ(resolve(""), Result(0, ""));
    EXPECT_EQ(resolve("abc"), Result(0, ""));
    EXPECT_EQ(resolve("//bin"), Result(0, ""));
    EXPECT_EQ(resolve("//xyz/a"), Result(0, ""));
    EXPECT_EQ(resolve("//bak/"), Result(0, ""));  // empty slot
    EXPECT_EQ(resolve("//sec//a"), Result(0, ""));
    EXPECT_EQ(resolve("//sec/" + getHandleText(10) + "/"), Result(0, ""));  // not an open secret
    EXPECT_EQ(resolve("/"), Result(10, ""));
    EXPECT_EQ(resolve("//bin/"), Result(30, ""));
    EXPECT_EQ(resolve("//bin//"), Result(30, ""));
    EXPECT_EQ(resolve("//bin/a/b/"), Result(32, ""));
    EXPECT_EQ(resolve("//cnt/"), Result(50, ""));
    EXPECT_EQ(resolve("/a/c/d"), Result(14, ""));
    EXPECT_EQ(resolve("/a/x/y"), Result(11, "x/y"));
    EXPECT_EQ(resolve("/zz/q"), Result(10, "zz/q"));
    EXPECT_EQ(resolve("/a//c"), Result(11, "/c"));
}

TEST_F(CloudPathTest, RelativePathsAllOrNothing) {
    EXPECT_EQ(relative(10, ""), 10u);
    EXPECT_EQ(relative(10, "a/"), 11u);
    EXPECT_EQ(relative(10, "a/c/d"), 14u);
    EXPECT_EQ(relative(10, "/a"), 0u);
    EXPECT_EQ(relative(10, "a/zz/d"), 0u);
}

TEST_F(CloudPathTest, NodePaths) {
    using Result = std::pair<std::string, int32_t>;
    EXPECT_EQ(pathOf(10), Result("/", SUCCESS));
    EXPECT_EQ(pathOf(30), Result("//bin/", SUCCESS));
    EXPECT_EQ(pathOf(32), Result("//bin/a/b", SUCCESS));
    EXPECT_EQ(pathOf(14), Result("/a/c/d", SUCCESS));
    EXPECT_EQ(pathOf(50), Result("//cnt/", SUCCESS));
    EXPECT_EQ(pathOf(12345), Result("", SUCCESS));
    EXPECT_EQ(pathOf(55), Result("", SUCCESS));
    // Parents in a circle end the walk with an error instead of running for ever.
    EXPECT_EQ(pathOf(60), Result("", LOOP_DETECTED));
    EXPECT_EQ(pathOf(70), Result("", LOOP_DETECTED));
}

// The handle text holds the six low bytes of the id, so the path leads back to the node.
TEST_F(CloudPathTest, SharedDrivePathRoundTrip) {
    auto [path, error] = pathOf(kDrive + 1);
    EXPECT_EQ(path, "//shdd/" + getHandleText(kDrive) + "/x");
    EXPECT_EQ(pathOf(kDrive).first, "//shdd/" + getHandleText(kDrive) + "/");
    EXPECT_EQ(resolve(path), std::make_pair(kDrive + 1, std::string()));
}

// A deep chain is walked one posted step per level, never on a growing stack.
TEST(CloudDeepPathTest, LongChains) {
    constexpr uint64_t kDepth = 3000;
    test::CloudHarness h;
    {
        test::CacheFile cache(h.cacheFile());
        cache.putAccount(test::CloudHarness::kAccountId, 1);
        cache.put(test::makeNode(1, 0, 0, nullptr));
        for (uint64_t id = 2; id <= kDepth; ++id) {
            cache.put(test::makeNode(id, 21, id - 1, "f"));
        }
    }
    h.initialize();
    ASSERT_TRUE(h.loadCache());
    auto [path, error] =
        h.call<std::string, Error>([&](Cloud::PathCallback done) { h.cloud->getNodePath(kDepth, done); });
    EXPECT_EQ(error.getCode(), SUCCESS);
    EXPECT_EQ(path.size(), 2 * (kDepth - 1));
    auto [completed, inside, none] =
        h.call<bool, bool, Error>([&](Cloud::DescendantCallback done) { h.cloud->isDescendant(1, kDepth, done); });
    EXPECT_TRUE(completed);
    EXPECT_TRUE(inside);
}

}  // namespace
}  // namespace corvane
