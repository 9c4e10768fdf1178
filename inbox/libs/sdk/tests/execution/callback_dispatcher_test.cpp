#include "execution/callback_dispatcher.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
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
    EXPECT_EQ(calls, (std::vector<std::string>{"held", "held", "start:" + a, "processed:" + a, "finish:" + a,
                                               "released", "start:" + b, "processed:" + b, "finish:" + b, "released"}));
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
    EXPECT_EQ(own.calls,
              (std::vector<std::string>{"held", "finish:" + std::to_string(withListener->getId()), "released"}));
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

// An application whose task manager runs every task inside post (tests, hosts that call back
// in-line): a listener may call into the dispatcher during its delivery.
TEST(CallbackDispatcherTest, ListenerCallingBackDuringSynchronousDeliveryDoesNotHang) {
    class InlineTaskManager : public SynchronousTaskManager {
    public:
        void setReleased(bool released) override { releases.push_back(released); }
        std::vector<bool> releases;
    };
    class CallingBack : public ActionListener {
    public:
        std::function<void()> onStart;
        int starts = 0;
        void onActionStart(std::shared_ptr<ActionData>) override {
            if (++starts == 1) {
                onStart();
            }
        }
    };
    struct Case {
        const char* name;
        std::function<void(CallbackDispatcher&, const std::shared_ptr<ActionData>&, RecordingEventListener&)> call;
    };
    const std::vector<Case> cases = {
        {"shuts down",
         [](CallbackDispatcher& d, const std::shared_ptr<ActionData>&, RecordingEventListener&) { d.shutdown(); }},
        {"reports again", [](CallbackDispatcher& d, const std::shared_ptr<ActionData>& a,
                             RecordingEventListener&) { d.onActionStart(a); }},
        {"adds an event listener", [](CallbackDispatcher& d, const std::shared_ptr<ActionData>&,
                                      RecordingEventListener& e) { d.addEventListener(&e); }},
        {"creates an action with a listener", [](CallbackDispatcher& d, const std::shared_ptr<ActionData>&,
                                                 RecordingEventListener&) { d.createAction(TEST, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InlineTaskManager taskManager;
        RecordingEventListener eventListener;
        {
            CallbackDispatcher dispatcher(&taskManager);
            CallingBack listener;
            auto action = dispatcher.createAction(TEST, &listener);
            listener.onStart = [&] { c.call(dispatcher, action, eventListener); };
            // A hang cannot be undone: give it a generous bound and end the run on it.
            std::packaged_task<void()> delivery([&] { dispatcher.onActionStart(action); });
            std::future<void> delivered = delivery.get_future();
            std::thread sdkLoop(std::move(delivery));
            if (delivered.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
                std::fprintf(stderr, "Delivery hung: the listener %s\n", c.name);
                std::fflush(stderr);
                std::_Exit(1);
            }
            sdkLoop.join();
            EXPECT_GE(listener.starts, 1);
            dispatcher.shutdown();
        }
        // Held once, released once, whoever shut the dispatcher down.
        EXPECT_EQ(taskManager.releases, (std::vector<bool>{false, true}));
    }
}

// Shutting down from inside its own finish releases the listener there; the end of the
// delivery must not release it a second time.
TEST(CallbackDispatcherTest, ListenerShuttingDownInItsFinishIsReleasedOnce) {
    class ShutsDownOnFinish : public RecordingListener {
    public:
        void onActionFinish(std::shared_ptr<ActionData> action) override {
            RecordingListener::onActionFinish(action);
            dispatcher->shutdown();
        }
        CallbackDispatcher* dispatcher = nullptr;
    };
    ManualTaskManager taskManager;
    CallbackDispatcher dispatcher(&taskManager);
    ShutsDownOnFinish listener;
    listener.dispatcher = &dispatcher;
    auto action = dispatcher.createAction(TEST, &listener);
    dispatcher.onActionFinish(action);
    taskManager.runTasks();
    EXPECT_EQ(listener.snapshot(),
              (std::vector<std::string>{"held", "finish:" + std::to_string(action->getId()), "released"}));
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
