#include "action/action_processor.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "action/backup_action.h"
#include "action/utils_action.h"
#include "corvane/action_listener.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/recording_listeners.h"

namespace corvane {
namespace {

using RecordingListener = test::RecordingActionListener;

class ProcessorTest : public ::testing::Test {
protected:
    std::shared_ptr<MutableActionData> record(int32_t type = TEST) {
        auto data = std::make_shared<MutableActionData>(type);
        data->setSequenceId(7);
        return data;
    }

    test::LogCapture log;
    test::FakeApiManager manager;
    std::vector<std::string> calls;
    RecordingListener listener{&calls};
    TestAction processor{&manager, &manager.loop, &listener};
};

// Delivery happens on the main loop even when the caller already runs there: nothing
// reaches the listener before the loop runs its tasks.
TEST_F(ProcessorTest, NotificationsArePostedAndKeepTheirOrder) {
    auto data = record();
    manager.loop.post([&] {
        processor.notifyStart(data);
        processor.notifyProgress(data);
        processor.notifyError(data);
        processor.notifyProcessed(data);
        processor.notifyFinish(data);
        EXPECT_TRUE(calls.empty());
    });
    manager.loop.runTasks();
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "progress", "error", "processed", "finish"}));
    EXPECT_TRUE(data->isProcessed());
    EXPECT_TRUE(data->isFinished());
    EXPECT_TRUE(log.contains("[action][7]TEST: Action start"));
    EXPECT_TRUE(log.contains("[action][7]TEST: Action finished OK"));
}

TEST_F(ProcessorTest, FinishBeforeProcessedIsDropped) {
    auto data = record();
    processor.notifyFinish(data);
    processor.notifyProcessed(data);
    manager.loop.runTasks();
    EXPECT_EQ(calls, (std::vector<std::string>{"processed"}));
    EXPECT_FALSE(data->isFinished());
    EXPECT_TRUE(log.contains("[action][7]TEST: Action finished without being processed"));
}

TEST_F(ProcessorTest, SecondProcessedAndSecondFinishAreDropped) {
    auto data = record();
    processor.notifyProcessed(data);
    processor.notifyProcessed(data);
    processor.notifyFinish(data);
    processor.notifyFinish(data);
    manager.loop.runTasks();
    EXPECT_EQ(calls, (std::vector<std::string>{"processed", "finish"}));
    EXPECT_EQ(log.count("Action processed multiple times"), 1u);
    EXPECT_EQ(log.count("Action finished before completion"), 1u);
}

TEST_F(ProcessorTest, NothingButTheWarningsAfterFinish) {
    auto data = record();
    processor.notifyProcessed(data);
    processor.notifyFinish(data);
    processor.notifyStart(data);
    processor.notifyProgress(data);
    processor.notifyError(data);
    processor.notifyProcessed(data);
    manager.loop.runTasks();
    EXPECT_EQ(calls, (std::vector<std::string>{"processed", "finish"}));
    EXPECT_EQ(log.count("Action finished during startup"), 1u);
    EXPECT_EQ(log.count("Action finished during execution"), 2u);
    EXPECT_EQ(log.count("Action processed multiple times"), 1u);
}

TEST_F(ProcessorTest, FailedFinishLogsTheError) {
    auto data = record();
    data->setError(Error(16));
    processor.notifyFinish(data);
    EXPECT_TRUE(log.contains("[action][7]TEST: Action finished with error 16 (Cancelled)"));
}

// Without a loop the notifications run in-line, so a listener told "processed" looks at the
// record before the finish: the error must already be there.
TEST_F(ProcessorTest, EarlyEndStoresTheErrorBeforeProcessedIsTold) {
    struct ErrorAtProcessed : ActionListener {
        void onActionProcessed(std::shared_ptr<ActionData> action) override { seen = action->getErrorCode(); }
        int32_t seen = -1;
    };
    struct EndingAction : TestAction {
        using TestAction::endWithError;
        using TestAction::TestAction;
    };
    ErrorAtProcessed heard;
    EndingAction inlineProcessor(&manager, nullptr, &heard);
    auto data = record();
    inlineProcessor.endWithError(data, Error(FORBIDDEN));
    EXPECT_EQ(heard.seen, FORBIDDEN);
    EXPECT_TRUE(data->isFinished());
}

TEST_F(ProcessorTest, BackupExtraListenerHearsTheFinishFirst) {
    std::vector<std::string> order;
    RecordingListener main(&order, "main:");
    RecordingListener extra(&order, "extra:");
    BackupAction backup(&manager, &manager.loop, &main);
    TestAction test(&manager, &manager.loop, &main);

    auto backupData = record(BACKUP);
    backupData->setExtraListener(&extra);
    backup.notifyProcessed(backupData);
    backup.notifyFinish(backupData);
    auto testData = record(TEST);
    testData->setExtraListener(&extra);
    test.notifyProcessed(testData);
    test.notifyFinish(testData);
    manager.loop.runTasks();
    EXPECT_EQ(order, (std::vector<std::string>{"main:processed", "extra:finish", "main:finish", "main:processed",
                                               "main:finish"}));
}

TEST_F(ProcessorTest, WithoutListenerOnlyTheLogsRemain) {
    TestAction silent(&manager, &manager.loop, nullptr);
    auto data = record();
    EXPECT_TRUE(silent.start(data));
    silent.notifyProcessed(data);
    silent.notifyFinish(data);
    manager.loop.runTasks();
    EXPECT_TRUE(log.contains("Action start"));
    EXPECT_FALSE(data->isProcessed());
    EXPECT_FALSE(data->isFinished());
}

// The relays of a transfer face pass the sub-action's reports on as the action's own.
TEST_F(ProcessorTest, BackupRelaysProgressErrorAndFinish) {
    BackupAction backup(&manager, &manager.loop, &listener);
    auto data = record(BACKUP);
    ActionListener& face = backup;
    backup.notifyProcessed(data);
    face.onActionProgress(data);
    face.onActionError(data);
    face.onActionFinish(data);
    face.onActionStart(data);
    manager.loop.runTasks();
    EXPECT_EQ(calls, (std::vector<std::string>{"processed", "progress", "error", "finish"}));
}

}  // namespace
}  // namespace corvane
