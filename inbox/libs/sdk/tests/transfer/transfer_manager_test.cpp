#include "transfer/transfer_manager.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "database/mutable_transfer_data.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/manager_modules.h"
#include "transfer/streaming_manager.h"
#include "transfer/transfer_action_processor.h"

namespace corvane {

// Reaches the recheck timer, which only queued transfers arm in the SDK's own use.
class TransferManagerTestPeer {
public:
    static void armRecheck(TransferManager& manager, int32_t direction) { manager.armRecheckTimer(direction); }
    static TimerHandle recheckTimer(const TransferManager& manager) { return manager.recheckTimer_; }
    static TransferActionQueue& queue(TransferManager& manager) { return manager.queue_; }
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

// An action that made two transfers and whose own request then failed before either started.
class TwoFileAction : public TransferActionProcessor {
public:
    TwoFileAction(TransferManager* manager, std::shared_ptr<MutableActionData> data, int32_t firstStatus,
                  int32_t secondStatus, bool* deleted)
        : TransferActionProcessor(manager, std::move(data), nullptr), deleted_(deleted) {
        for (int32_t status : {firstStatus, secondStatus}) {
            auto transfer = std::make_shared<MutableTransferData>();
            transfer->setType(0);
            transfer->setTag(actionData_->getSequenceId());
            transfer->setStatus(status);
            transfer->setLastFailureTime(std::time(nullptr));
            transfer->setOwner(this);
            ++pendingFiles_;
            transfers_.add(transfer);
            made.push_back(transfer);
        }
    }
    ~TwoFileAction() override { *deleted_ = true; }

    void failRequest() {
        actionData_->setError(Error(NOT_FOUND));
        finish();
        notifyStopped();
    }
    void cancel() override {
        TransferActionProcessor::cancel();
        notifyStopped();
    }
    int32_t getPendingAsyncRequests() const override { return pendingFiles_; }

    std::vector<std::shared_ptr<MutableTransferData>> made;

private:
    bool* deleted_;
};

class FinishCount : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        ++finishes;
        error = action->getErrorCode();
    }
    int finishes = 0;
    int32_t error = -1;
};

TEST_F(TransferRecheckTest, AnEarlyFinishCancelsTheTransfersThatHaveNotStarted) {
    struct Case {
        const char* name;
        int32_t first;
        int32_t second;
    };
    const std::vector<Case> cases{
        {"ready and ready", TransferActionProcessor::kReady, TransferActionProcessor::kReady},
        {"ready and retrying", TransferActionProcessor::kReady, TransferActionProcessor::kRetrying},
        {"waiting and retrying", TransferActionProcessor::kWaiting, TransferActionProcessor::kRetrying},
    };
    int32_t sequence = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = std::make_shared<MutableActionData>(UPLOAD);
        data->setSequenceId(++sequence);
        FinishCount listener;
        data->setTransferListener(&listener);
        bool deleted = false;
        auto* action = new TwoFileAction(manager.get(), data, c.first, c.second, &deleted);
        const std::vector<std::shared_ptr<MutableTransferData>> made = action->made;
        TransferManagerTestPeer::queue(*manager).addAction(action);

        action->failRequest();
        EXPECT_EQ(listener.finishes, 1);
        EXPECT_EQ(listener.error, NOT_FOUND) << "the request's own code is the outcome";
        for (const auto& transfer : made) {
            EXPECT_EQ(transfer->getStatus(), TransferActionProcessor::kFinished);
            EXPECT_EQ(transfer->getError().getCode(), CANCELLED);
            EXPECT_EQ(transfer->getOwner(), nullptr);
        }
        // Nothing of the action is left to start or to recheck for.
        bool pending = true;
        EXPECT_EQ(TransferManagerTestPeer::queue(*manager).getNextTransfer(0, pending), nullptr);
        EXPECT_FALSE(pending);
        EXPECT_EQ(api.loop.timerCount(), 0u);
        // It stopped, so a clear deletes it at once.
        EXPECT_FALSE(deleted);
        manager->clearFinished(0);
        EXPECT_TRUE(deleted);
    }
}

TEST_F(TransferRecheckTest, RetryingUploadsArmOneRecheckThatGoesWithThem) {
    auto data = std::make_shared<MutableActionData>(UPLOAD);
    data->setSequenceId(3);
    bool deleted = false;
    auto* action = new TwoFileAction(manager.get(), data, TransferActionProcessor::kRetrying,
                                     TransferActionProcessor::kRetrying, &deleted);
    TransferManagerTestPeer::queue(*manager).addAction(action);

    manager->checkPendingTransfers(0);
    ASSERT_EQ(api.loop.timerCount(), 1u);
    EXPECT_EQ(api.loop.delays.begin()->second, 10000u);
    manager->checkPendingTransfers(0);
    // Downloads have nothing, but the uploads still wait for the one timer.
    manager->checkPendingTransfers(1);
    EXPECT_EQ(api.loop.timerCount(), 1u);

    // Cancelled, they leave nothing to recheck for.
    manager->cancelAction(3);
    EXPECT_EQ(api.loop.timerCount(), 0u);
    EXPECT_FALSE(manager->hasRecheckTimer());
    manager->clearFinished(0);
    EXPECT_TRUE(deleted);
}

// A single-file backup has no destination folder or key of its own: it is refused, not
// uploaded as a plain file to the wrong place.
TEST_F(TransferRecheckTest, ASingleFileBackupIsRefusedWithAClearError) {
    test::LogCapture log;
    auto data = std::make_shared<MutableActionData>(BACKUP);
    data->setSequenceId(7);
    data->setOption(20);
    data->setName("/tmp/notes.txt");
    FinishCount listener;
    manager->processTransferAction(data, &listener);
    EXPECT_EQ(listener.finishes, 1);
    EXPECT_EQ(listener.error, UNKNOWN_ERROR);
    EXPECT_TRUE(log.contains("[trman] Single-file backups are not supported"));
    EXPECT_EQ(manager->getActions(0, 5)->size(), 0u);
    EXPECT_EQ(manager->getActions(1, 5)->size(), 0u);
}

}  // namespace
}  // namespace corvane
