#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "qt_task_manager.h"

namespace {

struct Ran {
    int poster;
    int index;
    bool onGuiThread;
};

// Runs the GUI thread's event loop until done() holds (or a generous guard ends a hung run).
template <typename Done>
bool spinUntil(Done done) {
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(30000);
    while (!done() && guard.isActive()) {
        loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 50);
    }
    return done();
}

TEST(QtTaskManager, TasksFromSeveralThreadsRunOnTheGuiThreadInPostingOrder) {
    QtTaskManager manager;
    constexpr int kPosters = 4;
    constexpr int kTasks = 200;
    std::vector<Ran> ran;  // touched only on the GUI thread
    QThread* gui = QThread::currentThread();

    std::vector<std::thread> posters;
    for (int poster = 0; poster < kPosters; ++poster) {
        posters.emplace_back([&, poster] {
            for (int index = 0; index < kTasks; ++index) {
                manager.post([&, poster, index] { ran.push_back({poster, index, QThread::currentThread() == gui}); });
            }
        });
    }
    for (auto& thread : posters) {
        thread.join();
    }
    // Nothing runs until the GUI thread's event loop gets its turn.
    EXPECT_TRUE(ran.empty());

    ASSERT_TRUE(spinUntil([&] { return ran.size() == kPosters * kTasks; }));
    std::vector<int> next(kPosters, 0);
    for (const Ran& task : ran) {
        EXPECT_TRUE(task.onGuiThread);
        EXPECT_EQ(task.index, next[task.poster]) << "poster " << task.poster;
        next[task.poster] = task.index + 1;
    }
}

TEST(QtTaskManager, TasksInterleavedAcrossThreadsKeepTheGlobalPostingOrder) {
    // Posts alternate between two threads under a hand-off, so the global order is known.
    QtTaskManager manager;
    std::vector<int> ran;
    std::mutex mutex;
    std::condition_variable turnChanged;
    int turn = 0;
    constexpr int kTotal = 100;
    auto poster = [&](int parity) {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            turnChanged.wait(lock, [&] { return turn >= kTotal || turn % 2 == parity; });
            if (turn >= kTotal) {
                return;
            }
            int value = turn;
            manager.post([&ran, value] { ran.push_back(value); });
            ++turn;
            turnChanged.notify_all();
        }
    };
    std::thread even(poster, 0);
    std::thread odd(poster, 1);
    even.join();
    odd.join();

    ASSERT_TRUE(spinUntil([&] { return ran.size() == kTotal; }));
    for (int i = 0; i < kTotal; ++i) {
        EXPECT_EQ(ran[i], i);
    }
}

TEST(QtTaskManager, PostOnTheGuiThreadRunsBeforePostReturns) {
    QtTaskManager manager;
    std::vector<std::string> ran;
    manager.post([&] {
        ran.push_back("outer");
        manager.post([&] { ran.push_back("inner"); });
        ran.push_back("after inner post");
    });
    EXPECT_EQ(ran, (std::vector<std::string>{"outer", "inner", "after inner post"}));
}

TEST(QtTaskManager, TasksStillQueuedAtDestructionNeverRun) {
    auto manager = std::make_unique<QtTaskManager>();
    auto ran = std::make_shared<std::atomic<int>>(0);
    auto owned = std::make_shared<int>(7);
    std::weak_ptr<int> watch = owned;
    std::thread poster([&] {
        for (int i = 0; i < 10; ++i) {
            manager->post([ran, owned] { ++*ran; });
        }
    });
    poster.join();
    owned.reset();
    manager.reset();
    // The queued slot calls die with the object; the queued tasks (and what they hold) are
    // destroyed unrun.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(*ran, 0);
    EXPECT_TRUE(watch.expired());
}

}  // namespace
