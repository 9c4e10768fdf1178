#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace corvane::service {
namespace {

using namespace std::chrono_literals;

// Jobs that hold their worker until released, counting how many have started.
class Gate {
public:
    std::function<void()> job() {
        return [this] {
            std::unique_lock<std::mutex> lock(mutex_);
            ++started_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        };
    }
    bool waitStarted(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return started_ >= count; });
    }
    int started() {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int started_ = 0;
    bool open_ = false;
};

TEST(WorkerPool, GrowsSoThatEveryHeldJobRunsAtOnce) {
    WorkerPool pool(2, 64, 60s);
    Gate gate;
    for (int i = 0; i < 40; ++i)
        pool.enqueue(gate.job());
    EXPECT_TRUE(gate.waitStarted(40)) << gate.started() << " of 40 started";
    EXPECT_EQ(pool.workers(), 40u);
    gate.open();
    pool.shutdown();
    EXPECT_EQ(pool.workers(), 0u);
}

TEST(WorkerPool, AtTheLimitAJobWaitsForAFreeWorkerAndQueuedJobsRunBeforeShutdownEnds) {
    WorkerPool pool(1, 3, 60s);
    Gate gate;
    for (int i = 0; i < 3; ++i)
        pool.enqueue(gate.job());
    ASSERT_TRUE(gate.waitStarted(3));
    std::atomic<int> later{0};
    for (int i = 0; i < 5; ++i)
        pool.enqueue([&later] { ++later; });
    EXPECT_EQ(pool.workers(), 3u);
    EXPECT_EQ(later.load(), 0);
    gate.open();
    pool.shutdown();
    EXPECT_EQ(later.load(), 5);
}

}  // namespace
}  // namespace corvane::service
