#include "transfer/transfer_manager.h"

#include <memory>

#include <gtest/gtest.h>

#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/manager_modules.h"
#include "transfer/streaming_manager.h"

namespace corvane {

// Reaches the recheck timer, which only queued transfers arm in the SDK's own use.
class TransferManagerTestPeer {
public:
    static void armRecheck(TransferManager& manager, int32_t direction) { manager.armRecheckTimer(direction); }
    static TimerHandle recheckTimer(const TransferManager& manager) { return manager.recheckTimer_; }
};

namespace {

using test::FakeApiManager;
using test::ManagerModules;

TEST(TransferManagerTest, BuiltAndDeletedOverRealModulesRepeatedly) {
    for (int round = 0; round < 3; ++round) {
        ManagerModules modules;
        auto transfers =
            std::make_unique<TransferManager>(modules.http.get(), modules.cryptoManager.get(), modules.database.get(),
                                              modules.filesystem.get(), &modules.apiManager);
        auto streaming =
            std::make_unique<StreamingManager>(modules.http.get(), modules.cryptoManager.get(), modules.database.get(),
                                               modules.filesystem.get(), &modules.apiManager);
        modules.onLoop([&]() { transfers->reset(); });
        EXPECT_EQ(TransferManagerTestPeer::recheckTimer(*transfers), TimerHandle());
        transfers.reset();
        streaming.reset();
    }
}

// A manual main loop, whose timers fire only when the test says so.
class TransferRecheckTest : public ::testing::Test {
protected:
    TransferRecheckTest() : manager(std::make_unique<TransferManager>(nullptr, nullptr, nullptr, nullptr, &api)) {}

    FakeApiManager api;
    std::unique_ptr<TransferManager> manager;
};

TEST_F(TransferRecheckTest, OneTenSecondTimerServesBothDirections) {
    TransferManagerTestPeer::armRecheck(*manager, 0);
    TransferManagerTestPeer::armRecheck(*manager, 0);
    TransferManagerTestPeer::armRecheck(*manager, 1);
    ASSERT_EQ(api.loop.timerCount(), 1u);
    EXPECT_EQ(api.loop.delays.begin()->second, 10000u);
    EXPECT_EQ(TransferManagerTestPeer::recheckTimer(*manager), api.loop.delays.begin()->first);

    // Once fired, the slot is free for the next recheck.
    api.loop.fireTimers();
    EXPECT_EQ(TransferManagerTestPeer::recheckTimer(*manager), TimerHandle());
    TransferManagerTestPeer::armRecheck(*manager, 1);
    EXPECT_EQ(api.loop.timerCount(), 1u);
}

TEST_F(TransferRecheckTest, ResetRemovesThePendingRecheck) {
    test::LogCapture log;
    TransferManagerTestPeer::armRecheck(*manager, 0);
    manager->reset();
    EXPECT_TRUE(log.contains("[trman] Resetting transfer manager"));
    EXPECT_EQ(api.loop.timerCount(), 0u);
    EXPECT_EQ(TransferManagerTestPeer::recheckTimer(*manager), TimerHandle());
    api.loop.fireTimers();

    // A later recheck arms a new timer.
    TransferManagerTestPeer::armRecheck(*manager, 1);
    EXPECT_EQ(api.loop.timerCount(), 1u);
    manager->reset();
    manager->reset();
    EXPECT_EQ(api.loop.timerCount(), 0u);
}

TEST_F(TransferRecheckTest, DeletionRemovesThePendingRecheck) {
    TransferManagerTestPeer::armRecheck(*manager, 1);
    manager.reset();
    // The timer's callback points at the deleted manager: it must be gone from the loop.
    EXPECT_EQ(api.loop.timerCount(), 0u);
}

// On the libuv main loop: reset takes the armed timer out of the loop itself.
TEST(TransferManagerLoopTest, ResetRemovesTheTimerFromTheLibuvLoop) {
    ManagerModules modules;
    auto manager =
        std::make_unique<TransferManager>(modules.http.get(), modules.cryptoManager.get(), modules.database.get(),
                                          modules.filesystem.get(), &modules.apiManager);
    EXPECT_EQ(modules.onLoop([&]() {
        TransferManagerTestPeer::armRecheck(*manager, 0);
        return modules.mainLoop.timerCount();
    }),
              1u);
    EXPECT_EQ(modules.onLoop([&]() {
        manager->reset();
        return modules.mainLoop.timerCount();
    }),
              0u);
    // Deleted with a timer armed: nothing is left on the loop to call into it.
    modules.onLoop([&]() { TransferManagerTestPeer::armRecheck(*manager, 1); });
    modules.onLoop([&]() { manager.reset(); });
    EXPECT_EQ(modules.onLoop([&]() { return modules.mainLoop.timerCount(); }), 0u);
}

}  // namespace
}  // namespace corvane
