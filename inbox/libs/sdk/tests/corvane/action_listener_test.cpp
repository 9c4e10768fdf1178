#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "corvane/action_listener.h"
#include "corvane/mutable_action_data.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

TEST(ActionListenerTest, BaseCallsOnlyTheFinishFunction) {
    int finishes = 0;
    std::shared_ptr<ActionData> seen;
    ActionListener listener([&](std::shared_ptr<ActionData> action) {
        ++finishes;
        seen = action;
    });
    auto action = std::make_shared<MutableActionData>(TEST);
    listener.onActionStart(action);
    listener.onActionProcessed(action);
    listener.onActionProgress(action);
    listener.onActionError(action);
    EXPECT_EQ(finishes, 0);
    listener.onActionFinish(action);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(seen, action);

    ActionListener silent;
    silent.onActionFinish(action);  // no function: nothing happens
}

TEST(BlockingActionListenerTest, WaitsForAFinishFromAnotherThread) {
    BlockingActionListener listener;
    listener.setReleased(false);
    auto action = std::make_shared<MutableActionData>(DESTROY);

    std::promise<void> waiting;
    std::future<std::shared_ptr<ActionData>> result = std::async(std::launch::async, [&] {
        waiting.set_value();
        return listener.waitForResult();
    });
    waiting.get_future().wait();
    listener.onActionProgress(action);  // progress does not end the wait
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);

    std::thread finisher([&] {
        listener.onActionFinish(action);
        listener.setReleased(true);
    });
    EXPECT_EQ(result.get(), action);
    finisher.join();
}

TEST(BlockingActionListenerTest, ResultIsHandedOverNotKept) {
    auto action = std::make_shared<MutableActionData>(DESTROY);
    BlockingActionListener listener;
    listener.onActionFinish(action);
    EXPECT_EQ(action.use_count(), 2);
    std::shared_ptr<ActionData> result = listener.waitForResult();
    EXPECT_EQ(result, action);
    EXPECT_EQ(action.use_count(), 2);  // the listener let go of its copy
}

TEST(BlockingActionListenerTest, NeverRegisteredIsDestroyedAtOnce) {
    test::LogCapture capture;
    { BlockingActionListener listener; }
    EXPECT_FALSE(capture.contains("Deleting BlockingActionListener still owned by the SDK"));
    EXPECT_TRUE(capture.contains("BlockingActionListener deleted"));
}

TEST(BlockingActionListenerTest, DestructorWaitsUntilTheSdkReleasesIt) {
    test::LogCapture capture;
    auto* listener = new BlockingActionListener();
    SharedOwnership* held = listener;  // how the SDK sees it
    held->setReleased(false);

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        delete listener;
        destroyed = true;
    });
    // The destructor logs before it starts waiting for the release.
    for (int i = 0; i < 5000 && !capture.contains("still owned by the SDK"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(capture.contains("Deleting BlockingActionListener still owned by the SDK"));
    EXPECT_FALSE(destroyed.load());
    EXPECT_FALSE(capture.contains("BlockingActionListener deleted"));

    held->setReleased(true);
    destroyer.join();
    EXPECT_TRUE(destroyed.load());
    EXPECT_TRUE(capture.contains("BlockingActionListener deleted"));
}

}  // namespace
}  // namespace corvane
