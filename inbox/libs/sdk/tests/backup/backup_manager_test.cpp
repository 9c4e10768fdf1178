#include "backup/backup_manager.h"

#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "cloud/cloud_test_support.h"
#include "support/fake_api_manager.h"

namespace corvane {
namespace {

using test::CacheFile;
using test::CloudHarness;

struct BackupsRootCase {
    std::string name;
    bool cacheHasBackupsRoot;
    bool cacheLoaded;
    bool initialized;
};

class BackupManagerInitializeTest : public ::testing::TestWithParam<BackupsRootCase> {
protected:
    static constexpr uint64_t kFilesystem = (uint64_t{10} << 15) | 3;
    static constexpr uint64_t kBackupsRootId = 12;

    void SetUp() override {
        const BackupsRootCase& c = GetParam();
        {
            CacheFile cache(h.cacheFile());
            cache.putAccount(CloudHarness::kAccountId, 6);
            const test::Bytes key = test::patternKey(9);
            cache.put(test::makeFilesystem(kFilesystem, 0, 0, &key, nullptr));
            cache.put(test::makeNode(10, 0, 0, nullptr, kFilesystem));
            if (c.cacheHasBackupsRoot) {
                cache.put(test::makeNode(kBackupsRootId, 1, 0, "Backups"));
            }
        }
        if (c.cacheLoaded) {
            h.initialize();
            ASSERT_TRUE(h.loadCache());
        }
        manager = std::make_unique<BackupManager>(h.cloud.get(), &h.mainLoop, &api);
    }

    void TearDown() override {
        h.onLoop([&]() { manager.reset(); });
    }

    // Through the harness, which fails when the completion runs inside the call or twice.
    void initialize() {
        h.call<>([&](std::function<void()> done) {
            manager->initialize([this, done]() {
                completionThread = std::this_thread::get_id();
                done();
            });
        });
    }

    CloudHarness h;
    test::FakeApiManager api;
    std::unique_ptr<BackupManager> manager;
    std::thread::id completionThread;
};

TEST_P(BackupManagerInitializeTest, KnowsTheBackupsRootUntilReset) {
    EXPECT_FALSE(h.onLoop([&]() { return manager->isInitialized(); }));
    initialize();
    EXPECT_EQ(completionThread, h.onLoop([]() { return std::this_thread::get_id(); }));
    EXPECT_EQ(h.onLoop([&]() { return manager->isInitialized(); }), GetParam().initialized);

    h.onLoop([&]() { manager->reset(); });
    EXPECT_FALSE(h.onLoop([&]() { return manager->isInitialized(); }));
    h.onLoop([&]() { manager->reset(); });
    EXPECT_FALSE(h.onLoop([&]() { return manager->isInitialized(); }));

    // Initialized again after the reset, as after a full reload.
    initialize();
    EXPECT_EQ(h.onLoop([&]() { return manager->isInitialized(); }), GetParam().initialized);
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupManagerInitializeTest,
                         ::testing::Values(BackupsRootCase{"WithBackupsRoot", true, true, true},
                                           BackupsRootCase{"WithoutBackupsRoot", false, true, false},
                                           BackupsRootCase{"CacheNotLoaded", true, false, false}),
                         [](const ::testing::TestParamInfo<BackupsRootCase>& info) { return info.param.name; });

}  // namespace
}  // namespace corvane
