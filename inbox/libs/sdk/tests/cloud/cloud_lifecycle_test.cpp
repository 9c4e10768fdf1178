#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud_test_support.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::CacheFile;
using test::CloudHarness;
using test::makeFilesystem;
using test::makeNode;

struct PathCase {
    const char* name;
    std::string dataPath;
    std::string handle;
    std::string expected;
};

class CachePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(CachePathTest, NameAndFolder) {
    EXPECT_EQ(Cloud::cachePath(GetParam().dataPath, GetParam().handle), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CachePathTest,
    ::testing::Values(PathCase{"ShortHandleWhole", "", "abc", "cloud-v31-abc"},
                      PathCase{"LongHandleFirstEight", "", "abcdefghijkl", "cloud-v31-abcdefgh"},
                      PathCase{"FolderGetsSlash", "/data", "abcdefgh", "/data/cloud-v31-abcdefgh"},
                      PathCase{"FolderEndingInSlash", "/data/", "abcdefgh", "/data/cloud-v31-abcdefgh"},
                      PathCase{"FolderEndingInBackslash", "C:\\data\\", "abcdefgh", "C:\\data\\cloud-v31-abcdefgh"}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

TEST(CloudLifecycleTest, WithoutDatabaseModuleTheModelWorksFromRam) {
    CloudHarness h(false);
    h.initialize();
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->isCacheAvailable(); }));
    EXPECT_FALSE(h.loadCache());
    h.call<>([&](Cloud::Callback done) { h.cloud->endTransaction(5, done); });
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), 5u);
    EXPECT_EQ(h.nodeById(12), nullptr);
    EXPECT_FALSE(std::filesystem::exists(h.cacheFile()));
}

TEST(CloudLifecycleTest, OpenFailureLeavesAWorkingCachelessModel) {
    test::LogCapture log;
    CloudHarness h(true, "/nonexistent-corvane-folder/sub");
    h.initialize();
    EXPECT_TRUE(log.contains("[cloud] Error opening database."));
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->isCacheAvailable(); }));
    EXPECT_FALSE(h.loadCache());
    EXPECT_EQ(h.nodeById(12), nullptr);
    auto list = std::get<0>(h.call<Cloud::NodeListPointer>([&](Cloud::NodeListCallback done) {
        h.cloud->getNodesByFullHash({1, 2, 3}, done);
    }));
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->empty());
    h.call<>([&](Cloud::Callback done) { h.cloud->endTransaction(3, done); });
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), 3u);
    h.call<>([&](Cloud::Callback done) { h.cloud->truncate(done); });
    h.call<>([&](Cloud::Callback done) { h.cloud->reset(done); });
}

// The cache holds clear keys: only the user may read it, also when an older file was wider.
TEST(CloudLifecycleTest, CacheFileIsReadableByTheUserAlone) {
    for (bool existing : {false, true}) {
        CloudHarness h;
        if (existing) {
            { CacheFile seed(h.cacheFile()); }
            ASSERT_EQ(::chmod(h.cacheFile().c_str(), 0644), 0);
        }
        h.initialize();
        struct stat info {};
        ASSERT_EQ(::stat(h.cacheFile().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << existing;
    }
}

TEST(CloudLifecycleTest, NoAccountRowMeansNoCache) {
    CloudHarness h;
    {
        CacheFile seed(h.cacheFile());
        seed.putAccount(CloudHarness::kAccountId + 1, 4);
        seed.put(makeNode(10, 0, 0, nullptr));
    }
    h.initialize();
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->isCacheAvailable(); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), 0u);
    EXPECT_FALSE(h.loadCache());
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRamNodeCount(); }), 0);
}

// A cache with two filesystems and roots of every kind, loaded once.
class LoadedCloudTest : public ::testing::Test {
protected:
    static constexpr uint64_t kState = 6;
    static constexpr uint64_t kFilesystem = (uint64_t{10} << 15) | 3;
    static constexpr uint64_t kSecretFilesystem = uint64_t{60} << 15;

    void seed(uint64_t accountId) {
        CacheFile cache(h.cacheFile());
        cache.putAccount(accountId, kState);
        const test::Bytes key = test::patternKey(9);
        cache.put(makeFilesystem(kFilesystem, 0, 0, &key, nullptr));
        cache.put(makeFilesystem(kSecretFilesystem, 6, 0, &key, nullptr));
        cache.put(makeNode(10, 0, 0, nullptr, kFilesystem));
        cache.put(makeNode(20, 5, 0, "plain"));
        cache.put(makeNode(30, 2, 0, nullptr));
        cache.put(makeNode(40, 20, 0, "orphan file"));
        cache.put(makeNode(50, 7, 0, nullptr));
        cache.put(makeNode(60, 6, 0, "secret", kSecretFilesystem));
        cache.put(makeNode(70, 8, 0, "drive"));
        cache.put(makeNode(11, 21, 10, "child folder", kFilesystem));
    }

    void load(uint64_t accountId = CloudHarness::kAccountId) {
        seed(accountId);
        h.initialize(accountId);
        ASSERT_TRUE(h.onLoop([&]() { return h.cloud->isCacheAvailable(); }));
        ASSERT_TRUE(h.loadCache());
    }

    uint64_t rootId(int32_t index) {
        auto root = h.onLoop([&]() { return h.cloud->getRoot(index); });
        return root ? root->getId() : 0;
    }

    CloudHarness h;
};

TEST_F(LoadedCloudTest, LoadPlacesRootsAndFilesystems) {
    test::LogCapture log;
    load();
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), kState);
    // Rows come in id order: the type-5 root (20) is read after the drive root (10).
    EXPECT_EQ(rootId(0), 20u);
    EXPECT_EQ(rootId(2), 30u);
    EXPECT_EQ(rootId(7), 50u);
    EXPECT_EQ(rootId(1), 0u);
    EXPECT_EQ(rootId(5), 0u);
    EXPECT_EQ(rootId(-1), 0u);
    auto drives = h.onLoop([&]() { return h.cloud->getSharedDrives(); });
    ASSERT_EQ(drives->size(), 1u);
    EXPECT_EQ(drives->front()->getId(), 70u);
    EXPECT_TRUE(log.contains("Non root node without parent id"));
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->isInRam(40); }));
    // Only roots are loaded; a cached secret is closed again.
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->isInRam(11); }));
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->isInRam(60); }));
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->getSecrets()->empty(); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystemType(kSecretFilesystem); }), -1);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRamNodeCount(); }), 5);
    auto filesystem = h.onLoop([&]() { return h.cloud->getFilesystem(kFilesystem); });
    ASSERT_NE(filesystem, nullptr);
    EXPECT_EQ(filesystem->getRootId(), 10u);
    EXPECT_EQ(filesystem->getIndex(), 3);
    ASSERT_NE(filesystem->getNodeKey(), nullptr);
    EXPECT_EQ(*filesystem->getNodeKey(), test::patternKey(9));
    // Once per initialisation.
    EXPECT_FALSE(h.loadCache());
}

TEST_F(LoadedCloudTest, SharedDriveOfAnAccountWithoutIdTakesTheMainSlot) {
    load(0);
    EXPECT_EQ(rootId(0), 70u);
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->getSharedDrives()->empty(); }));
}

struct ClearCase {
    const char* name;
    void (Cloud::*operation)(Cloud::Callback);
    bool fileKept;
    bool stateKept;
    bool tablesKept;
};

class ClearStateTest : public LoadedCloudTest, public ::testing::WithParamInterface<ClearCase> {};

// reset, remove and truncate clear RAM alike and differ in the account record and the file.
// After reset and remove the tables are gone until the next initialize: every later call
// works as without a cache instead of touching a dropped table.
TEST_P(ClearStateTest, LeavesTheStateOfItsKind) {
    const ClearCase& c = GetParam();
    load();
    h.call<>([&](Cloud::Callback done) { (h.cloud.get()->*c.operation)(done); });

    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getRamNodeCount(); }), 0);
    EXPECT_EQ(rootId(0), 0u);
    EXPECT_EQ(rootId(2), 0u);
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->getSharedDrives()->empty(); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystem(kFilesystem); }), nullptr);
    EXPECT_FALSE(h.onLoop([&]() { return h.cloud->isCacheAvailable(); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), c.stateKept ? kState : 0u);
    EXPECT_EQ(std::filesystem::exists(h.cacheFile()), c.fileKept);

    // The table is empty after truncate and gone after reset or remove: either way nothing is found.
    EXPECT_EQ(h.nodeById(11), nullptr);
    EXPECT_EQ(h.children(10), nullptr);
    auto hashed = std::get<0>(h.call<Cloud::NodeListPointer>(
        [&](Cloud::NodeListCallback done) { h.cloud->getNodesBySparseHash({1}, done); }));
    ASSERT_NE(hashed, nullptr);
    EXPECT_TRUE(hashed->empty());
    h.onLoop([&]() { h.cloud->beginTransaction(); });
    h.call<>([&](Cloud::Callback done) { h.cloud->endTransaction(9, done); });
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), 9u);
    h.call<>([&](Cloud::Callback done) { h.cloud->truncate(done); });
    EXPECT_FALSE(h.loadCache());
    const test::Bytes key = test::patternKey(4);
    auto added = std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
        h.cloud->addFilesystemUsingNodeKey(makeFilesystem(uint64_t{90} << 15, 8, 0, nullptr, nullptr),
                                           std::make_unique<test::Bytes>(key), done);
    }));
    EXPECT_TRUE(added);

    if (c.tablesKept) {
        // The account row was written by endTransaction; the node table was emptied.
        CacheFile cache(h.cacheFile());
        ASSERT_NE(cache.account(CloudHarness::kAccountId), nullptr);
        EXPECT_EQ(cache.account(CloudHarness::kAccountId)->getStatus(), 9u);
        EXPECT_EQ(cache.node(10), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, ClearStateTest,
                         ::testing::Values(ClearCase{"Reset", &Cloud::reset, true, false, false},
                                           ClearCase{"Remove", &Cloud::remove, false, false, false},
                                           ClearCase{"Truncate", &Cloud::truncate, true, true, true}),
                         [](const ::testing::TestParamInfo<ClearCase>& info) { return std::string(info.param.name); });

TEST_F(LoadedCloudTest, ResetThenInitializeOpensTheCacheAgain) {
    load();
    h.call<>([&](Cloud::Callback done) { h.cloud->endTransaction(8, done); });
    h.call<>([&](Cloud::Callback done) { h.cloud->reset(done); });
    h.initialize();
    EXPECT_TRUE(h.onLoop([&]() { return h.cloud->isCacheAvailable(); }));
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), 8u);
    EXPECT_TRUE(h.loadCache());
    EXPECT_EQ(rootId(0), 20u);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// A lookup issued right after reset or remove, before the database loop has closed the file,
// must not be queued behind the close on a table that no longer exists.
TEST_F(LoadedCloudTest, LookupRightAfterCloseFindsNoTable) {
    load();
    for (auto operation : {&Cloud::reset, &Cloud::remove}) {
        auto node = std::get<0>(h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) {
            (h.cloud.get()->*operation)(nullptr);
            h.cloud->getNodeById(11, done);
        }));
        EXPECT_EQ(node, nullptr);
        h.initialize();
    }
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// Children are searched by parent: the cache gets an index on that column, and only that one.
TEST(CloudCacheIndexTest, ParentColumnIndexed) {
    CloudHarness h;
    h.initialize();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(h.cacheFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::vector<std::string> indexes;
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT tbl_name, sql FROM sqlite_master WHERE type = 'index' AND sql NOT NULL",
                                 -1, &statement, nullptr),
              SQLITE_OK);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        indexes.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) + ": " +
                          reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    EXPECT_EQ(indexes, (std::vector<std::string>{"nodes: CREATE INDEX nodes_parent ON nodes (parent)"}));
}

}  // namespace
}  // namespace corvane
