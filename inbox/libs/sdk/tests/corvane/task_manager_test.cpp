#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/task_manager.h"

namespace corvane {
namespace {

TEST(TaskManagerTest, TaskPostedByARunningTaskRunsInTheSameCall) {
    TaskManager manager;
    std::vector<int> order;
    manager.post([&] {
        order.push_back(1);
        manager.post([&] { order.push_back(3); });
        order.push_back(2);
    });
    manager.runTasks();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(TaskManagerTest, EmptyTaskQueuesNothingButStillWakesUp) {
    int wakeUps = 0;
    TaskManager manager([&] { ++wakeUps; });
    manager.post(Task());
    EXPECT_EQ(wakeUps, 1);
    int ran = 0;
    manager.post([&] { ++ran; });
    manager.runTasks();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(wakeUps, 2);
}

TEST(TaskManagerTest, SynchronousManagerRunsBeforePostReturns) {
    SynchronousTaskManager manager;
    std::vector<int> order;
    manager.post([&] { order.push_back(1); });
    order.push_back(2);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(TaskManagerTest, PostOrRunWithoutManagerRunsAtOnce) {
    bool ran = false;
    TaskManager::postOrRun(nullptr, [&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(TaskManagerTest, PostsFromManyThreadsAllRunOnceInPerThreadOrder) {
    TaskManager manager;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1000;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                manager.post([&seen, t, i] { seen[t].push_back(i); });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    manager.runTasks();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i) {
            EXPECT_EQ(seen[t][i], i);
        }
    }
}

TEST(TaskQueueTest, PopOnEmptyQueueGivesEmptyTask) {
    TaskQueue queue;
    EXPECT_FALSE(queue.pop());
}

struct NameCase {
    int32_t value;
    const char* name;
};

TEST(NameTablesTest, ErrorMessages) {
    const NameCase cases[] = {
        {0, "Success"},     {9, "Unknown error"}, {19, "There is a problem with your invoicing information"},
        {21, "Incomplete"}, {22, "INVALID"},      {-1, "INVALID"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(Error(c.value).getMessage(), c.name) << c.value;
    }
}

TEST(NameTablesTest, ActionTypeNames) {
    const NameCase cases[] = {{0, "TEST"},      {8, "LOGIN"},   {87, "DESTROY"}, {105, "MANAGE_MEETINGS"},
                              {106, "INVALID"}, {-1, "INVALID"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(getActionTypeName(c.value), c.name) << c.value;
    }
}

TEST(NameTablesTest, EventTypeNames) {
    const NameCase cases[] = {{0, "NEW_NODES"}, {6, "LOGOUT"}, {10, "ACCOUNT_INFO"}, {11, "INVALID"}, {-1, "INVALID"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(getEventTypeName(c.value), c.name) << c.value;
    }
}

}  // namespace
}  // namespace corvane
