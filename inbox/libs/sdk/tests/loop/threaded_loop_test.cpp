#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "loop/libuv_loop.h"
#include "loop/loop_test_support.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::osThreadId;
using test::runOnLoop;

TEST(ThreadedLoopTest, PostsAreAcceptedOnlyWhileTheLoopRuns) {
    LibuvLoop loop;
    std::atomic<int> dropped{0};
    loop.post([&] { ++dropped; });
    EXPECT_FALSE(loop.isRunning());

    loop.start();
    EXPECT_TRUE(loop.isRunning());
    loop.start();  // already running: nothing happens
    int32_t ranOn = runOnLoop(loop, [] { return osThreadId(); });
    EXPECT_EQ(ranOn, loop.getThreadId());
    EXPECT_NE(ranOn, osThreadId());

    loop.stop();
    loop.stop();
    EXPECT_FALSE(loop.isRunning());
    loop.post([&] { ++dropped; });
    loop.join();
    EXPECT_EQ(dropped, 0);
}

TEST(ThreadedLoopTest, ThreadIdIsTheConstructorsUntilStartThenTheLoopThreads) {
    LibuvLoop loop;
    EXPECT_EQ(loop.getThreadId(), osThreadId());
    loop.start();
    int32_t loopThread = runOnLoop(loop, [] { return osThreadId(); });
    EXPECT_NE(loopThread, osThreadId());
    EXPECT_EQ(loop.getThreadId(), loopThread);
    loop.stop();
    loop.join();
    EXPECT_EQ(loop.getThreadId(), loopThread);
}

TEST(ThreadedLoopTest, TasksFromSeveralThreadsRunOnTheLoopThreadInEachPostersOrder) {
    constexpr int kPosters = 4;
    constexpr int kPerPoster = 2000;
    LibuvLoop loop;
    loop.start();
    int32_t loopThread = runOnLoop(loop, [] { return osThreadId(); });

    // Touched only by tasks, that is on the loop thread.
    std::vector<std::vector<int>> seen(kPosters);
    int foreignThreadRuns = 0;

    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&, p] {
            goSignal.wait();
            for (int i = 0; i < kPerPoster; ++i) {
                loop.post([&, p, i] {
                    seen[p].push_back(i);
                    if (osThreadId() != loopThread) {
                        ++foreignThreadRuns;
                    }
                });
            }
        });
    }
    go.set_value();
    for (auto& poster : posters) {
        poster.join();
    }
    runOnLoop(loop, [] {});
    loop.stop();
    loop.join();

    EXPECT_EQ(foreignThreadRuns, 0);
    std::vector<int> expected(kPerPoster);
    for (int i = 0; i < kPerPoster; ++i) {
        expected[i] = i;
    }
    for (int p = 0; p < kPosters; ++p) {
        EXPECT_EQ(seen[p], expected) << "poster " << p;
    }
}

TEST(ThreadedLoopTest, TasksQueuedBeforeStopStillRunAndLaterOnesAreDropped) {
    LibuvLoop loop;
    loop.start();
    std::promise<void> blocking;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    loop.post([&] {
        blocking.set_value();
        released.wait();
    });
    blocking.get_future().wait();

    int queuedRan = 0;
    int postedByQueuedTaskRan = 0;
    std::atomic<int> postedAfterStopRan{0};
    for (int i = 0; i < 100; ++i) {
        loop.post([&] { ++queuedRan; });
    }
    // Runs after the stop, so what it posts is dropped.
    loop.post([&] { loop.post([&] { ++postedByQueuedTaskRan; }); });
    loop.stop();
    loop.post([&] { ++postedAfterStopRan; });
    release.set_value();
    loop.join();

    EXPECT_EQ(queuedRan, 100);
    EXPECT_EQ(postedByQueuedTaskRan, 0);
    EXPECT_EQ(postedAfterStopRan, 0);
}

// Each cycle posts right after start and stops right away: the task must have run by the
// time join returns, and the timer and socket left armed must be released without firing.
TEST(ThreadedLoopTest, RepeatedCreateStartStopJoinDestroyCycles) {
    constexpr int kCycles = 200;
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    std::atomic<int> leftoverCallbacks{0};
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        auto loop = std::make_unique<LibuvLoop>();
        loop->start();
        std::promise<void> ran;
        LibuvLoop* raw = loop.get();
        loop->post([&, raw] {
            raw->addTimer(3600 * 1000, [&](TimerHandle) { ++leftoverCallbacks; });
            raw->addSocket(static_cast<uint64_t>(sockets[0]), kSocketReadable,
                           [&](uint64_t, int) { ++leftoverCallbacks; });
            ran.set_value();
        });
        loop->stop();
        loop->join();
        ASSERT_EQ(ran.get_future().wait_for(std::chrono::seconds(0)), std::future_status::ready) << "cycle " << cycle;
    }
    EXPECT_EQ(leftoverCallbacks, 0);
    ::close(sockets[0]);
    ::close(sockets[1]);
}

TEST(ThreadedLoopTest, OneLoopCanBeStartedAgainAfterJoin) {
    LibuvLoop loop;
    uv_loop_t* uvLoop = loop.getUvLoop();
    for (int round = 0; round < 50; ++round) {
        loop.start();
        int32_t thread = runOnLoop(loop, [] { return osThreadId(); });
        EXPECT_EQ(thread, loop.getThreadId());
        TimerHandle timer = runOnLoop(loop, [&] { return loop.addTimer(3600 * 1000, nullptr); });
        EXPECT_NE(timer, loop.getInvalidTimer());
        loop.stop();
        loop.join();
        EXPECT_FALSE(loop.isRunning());
    }
    EXPECT_EQ(loop.getUvLoop(), uvLoop);
}

// A loop that cannot start says so, stays stopped, leaves nothing to join, and can start
// later once threads can be made again.
TEST(ThreadedLoopTest, StartThatFailsReturnsTheErrorAndLeavesTheLoopStopped) {
    struct NoBackEnd : LibuvLoop {
        bool init() override { return false; }
    };
    struct ThreadsFail {
        ThreadsFail() {
            ThreadedLoop::setThreadStartHook(
                [] { return std::make_error_code(std::errc::resource_unavailable_try_again); });
        }
        ~ThreadsFail() { ThreadedLoop::setThreadStartHook(nullptr); }
    };
    test::LogCapture log;
    {
        SCOPED_TRACE("thread creation fails");
        LibuvLoop loop;
        {
            ThreadsFail failing;
            EXPECT_EQ(loop.start(), std::errc::resource_unavailable_try_again);
        }
        EXPECT_FALSE(loop.isRunning());
        std::atomic<int> ran{0};
        loop.post([&] { ++ran; });
        EXPECT_FALSE(loop.start());
        runOnLoop(loop, [&] { ++ran; });
        loop.stop();
        loop.join();
        EXPECT_EQ(ran, 1) << "a task posted to the dead loop ran";
    }
    {
        SCOPED_TRACE("back end cannot be set up");
        NoBackEnd loop;
        EXPECT_EQ(loop.start(), std::errc::resource_unavailable_try_again);
        EXPECT_FALSE(loop.isRunning());
        // Nothing left to join: deleting the loop must not wait for anything.
    }
    EXPECT_TRUE(log.contains("Unable to start threaded loop"));
}

TEST(ThreadedLoopTest, JoinWithoutThreadOrFromTheLoopThreadReturnsWithAnError) {
    test::LogCapture log;
    LibuvLoop loop;
    loop.join();
    loop.detach();
    EXPECT_EQ(log.count("no thread"), 2u);

    loop.start();
    runOnLoop(loop, [&] { loop.join(); });
    EXPECT_TRUE(log.contains("from its own thread"));
    EXPECT_TRUE(loop.isRunning());
    loop.stop();
    loop.join();
}

TEST(ThreadedLoopTest, DeletingALoopThatWasNotJoinedStopsAndJoinsIt) {
    auto loop = std::make_unique<LibuvLoop>();
    loop->start();
    std::atomic<bool> ran{false};
    loop->post([&] { ran = true; });
    loop.reset();
    EXPECT_TRUE(ran);
}

// A loop whose memory release is observable: the class's operator delete runs after every
// destructor, so the signal means the whole object is gone.
std::promise<void>* freedSignal = nullptr;

class ObservedLoop : public LibuvLoop {
public:
    explicit ObservedLoop(std::promise<void>* cleanedUp) : cleanedUp_(cleanedUp) {}

    static void operator delete(void* memory) {
        ::operator delete(memory);
        freedSignal->set_value();
    }

protected:
    void cleanup() override {
        LibuvLoop::cleanup();
        cleanedUp_->set_value();
    }

private:
    std::promise<void>* cleanedUp_;
};

enum class DetachWay { DetachAndStopFromLoopThread, StopThenDetachFromOwner, DetachAfterCleanup };

struct DetachCase {
    std::string name;
    DetachWay way;
};

// Failures and test listings show the case by its name rather than its bytes.
void PrintTo(const DetachCase& c, std::ostream* os) {
    *os << c.name;
}

class DetachTest : public testing::TestWithParam<DetachCase> {};

TEST_P(DetachTest, LoopDeletesItselfOnceItsThreadEnds) {
    test::LogCapture log;
    std::promise<void> freed;
    freedSignal = &freed;
    std::promise<void> cleanedUp;
    auto* loop = new ObservedLoop(&cleanedUp);
    loop->start();
    runOnLoop(*loop, [] {});

    switch (GetParam().way) {
        case DetachWay::DetachAndStopFromLoopThread:
            loop->post([loop] {
                loop->detach();
                loop->stop();
            });
            break;
        case DetachWay::StopThenDetachFromOwner:
            loop->stop();
            loop->detach();
            break;
        case DetachWay::DetachAfterCleanup:
            loop->stop();
            cleanedUp.get_future().wait();
            loop->detach();
            break;
    }
    freed.get_future().wait();
    freedSignal = nullptr;
    EXPECT_EQ(log.count("Self-deleting threaded loop"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Ways, DetachTest,
                         testing::Values(DetachCase{"DetachAndStopFromLoopThread",
                                                    DetachWay::DetachAndStopFromLoopThread},
                                         DetachCase{"StopThenDetachFromOwner", DetachWay::StopThenDetachFromOwner},
                                         DetachCase{"DetachAfterCleanup", DetachWay::DetachAfterCleanup}),
                         [](const testing::TestParamInfo<DetachCase>& info) { return info.param.name; });

}  // namespace
}  // namespace corvane
