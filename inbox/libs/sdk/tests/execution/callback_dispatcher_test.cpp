#include "execution/callback_dispatcher.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_event_data.h"
#include "support/recording_listeners.h"

namespace corvane {
namespace {

// A task manager with its own thread, as the application's GUI thread would be.
class ThreadTaskManager : public TaskManager {
public:
    ThreadTaskManager() : thread_([this] { loop(); }) {}
    ~ThreadTaskManager() override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stopping_ = true;
        }
        condition_.notify_one();
        thread_.join();
    }
    void wakeUp() override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            pending_ = true;
        }
        condition_.notify_one();
    }
    std::thread::id id() const { return thread_.get_id(); }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            condition_.wait(lock, [this] { return pending_ || stopping_; });
            bool stop = stopping_;
            pending_ = false;
            lock.unlock();
            runTasks();
            lock.lock();
            if (stop) {
                return;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable condition_;
    bool pending_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

class ManualTaskManager : public TaskManager {
public:
    void setReleased(bool released) override { releases.push_back(released); }
    std::vector<bool> releases;
};

// Records what it hears as "<kind>:<action id>", on which thread, and how the SDK holds it.
class RecordingListener : public test::RecordingActionListener {
public:
    RecordingListener() : RecordingActionListener(Options{"", &RecordingActionListener::id, true, false}) {}
};

using test::RecordingEventListener;

TEST(CallbackDispatcherTest, DeliversOnTheTaskManagersThreadInPostingOrder) {
    ThreadTaskManager taskManager;
    RecordingListener listener;
    {
        CallbackDispatcher dispatcher(&taskManager);
        auto first = dispatcher.createAction(LOGIN, &listener);
        auto second = dispatcher.createAction(TEST, &listener);
        EXPECT_EQ(second->getId(), first->getId() + 1);
        for (const auto& action : {first, second}) {
            dispatcher.onActionStart(action);
            dispatcher.onActionProcessed(action);
            dispatcher.onActionFinish(action);
        }
        listener.waitForFinishes(2);
        dispatcher.shutdown();
    }
    std::vector<std::string> calls = listener.snapshot();
    ASSERT_EQ(calls.size(), 10u);
    std::string a = std::to_string(std::stoi(calls[2].substr(6)));
    std::string b = std::to_string(std::stoi(a) + 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"held", "held", "start:" + a, "processed:" + a, "finish:" + a, "released",
                                               "start:" + b, "processed:" + b, "finish:" + b, "released"}));
    for (size_t i = 2; i < calls.size(); ++i) {
        EXPECT_EQ(listener.threads[i], taskManager.id()) << calls[i];
    }
}

TEST(CallbackDispatcherTest, RegistrationEndsWithItsActionAndGlobalsHearEverything) {
    ManualTaskManager taskManager;
    CallbackDispatcher dispatcher(&taskManager);
    RecordingListener own;
    RecordingListener global;
    dispatcher.addGlobalActionListener(&global);
    auto withListener = dispatcher.createAction(TEST, &own);
    auto without = dispatcher.createAction(TEST, nullptr);
    dispatcher.onActionFinish(withListener);
    dispatcher.onActionProgress(withListener);
    dispatcher.onActionStart(without);
    EXPECT_EQ(own.calls, (std::vector<std::string>{"held"}));
    taskManager.runTasks();
    EXPECT_EQ(own.calls, (std::vector<std::string>{"held", "finish:" + std::to_string(withListener->getId()), "released"}));
    EXPECT_EQ(global.calls, (std::vector<std::string>{"held", "finish:" + std::to_string(withListener->getId()),
                                                      "start:" + std::to_string(without->getId())}));
    dispatcher.shutdown();
    EXPECT_EQ(global.calls.back(), "released");
    EXPECT_EQ(taskManager.releases, (std::vector<bool>{false, true}));
}

TEST(CallbackDispatcherTest, EventListenersAreHeldUntilRemoved) {
    CallbackDispatcher dispatcher;
    RecordingEventListener listener;
    RecordingEventListener stranger;
    dispatcher.addEventListener(&listener);
    dispatcher.addEventListener(&listener);
    dispatcher.onEvent(std::make_shared<MutableEventData>(EVENT_LOGOUT));
    EXPECT_EQ(listener.events, 1);
    dispatcher.removeEventListener(&stranger);
    EXPECT_TRUE(stranger.releases.empty());
    dispatcher.removeEventListener(&listener);
    dispatcher.onEvent(std::make_shared<MutableEventData>(EVENT_LOGOUT));
    EXPECT_EQ(listener.events, 1);
    EXPECT_EQ(listener.releases, (std::vector<bool>{false, false, true}));
}

TEST(CallbackDispatcherTest, AfterShutdownDeliveryIsSynchronousOnTheReportingThread) {
    ManualTaskManager taskManager;
    CallbackDispatcher dispatcher(&taskManager);
    RecordingListener early;
    auto earlyAction = dispatcher.createAction(TEST, &early);
    dispatcher.shutdown();
    EXPECT_EQ(early.calls, (std::vector<std::string>{"held", "released"}));

    BlockingActionListener blocking;
    auto last = dispatcher.createAction(DESTROY, &blocking);
    std::thread sdkLoop([&] { dispatcher.onActionFinish(last); });
    EXPECT_EQ(blocking.waitForResult(), last);
    sdkLoop.join();
    dispatcher.onActionFinish(earlyAction);
    taskManager.runTasks();
    EXPECT_EQ(early.calls.size(), 2u);
}

// A delivery task may still sit in the application's queue when the facade deletes the
// dispatcher; running it later must not touch the dead dispatcher or a released listener.
TEST(CallbackDispatcherTest, StaleDeliveryAfterDeletionDoesNothing) {
    ManualTaskManager taskManager;
    RecordingListener listener;
    auto dispatcher = std::make_unique<CallbackDispatcher>(&taskManager);
    auto action = dispatcher->createAction(TEST, &listener);
    dispatcher->onActionFinish(action);
    dispatcher->onEvent(std::make_shared<MutableEventData>(EVENT_LOGOUT));
    dispatcher->shutdown();
    dispatcher.reset();
    taskManager.runTasks();
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"held", "released"}));
}

}  // namespace
}  // namespace corvane
