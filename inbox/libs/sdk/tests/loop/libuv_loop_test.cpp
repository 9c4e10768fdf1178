#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "loop/libuv_loop.h"
#include "loop/loop_test_support.h"

namespace corvane {
namespace {

using test::runOnLoop;

class LibuvLoopTest : public testing::Test {
protected:
    void SetUp() override { loop_.start(); }

    void TearDown() override {
        loop_.stop();
        loop_.join();
    }

    LibuvLoop loop_;
};

// Timers of one case, driven from the loop thread. A sentinel timer due well after the
// timer under test ends each case, so a second firing or a late one would be counted.
struct TimerCase {
    std::string name;
    uint64_t delay;
    bool removeBeforeFiring;
    bool addFromTimerCallback;
    int expectedFirings;
};

// Failures and test listings show the case by its name rather than its bytes.
void PrintTo(const TimerCase& c, std::ostream* os) {
    *os << c.name;
}

struct TimerOutcome {
    int firings = 0;
    bool handleMatched = true;
};

class TimerTest : public LibuvLoopTest, public testing::WithParamInterface<TimerCase> {};

TEST_P(TimerTest, OneShotTimerFiresAsAsked) {
    const TimerCase c = GetParam();
    constexpr uint64_t kSentinelMargin = 30;
    std::promise<TimerOutcome> done;
    TimerOutcome outcome;
    TimerHandle handle = nullptr;

    // Runs on the loop thread only.
    auto arm = [&] {
        handle = loop_.addTimer(c.delay, [&](TimerHandle fired) {
            ++outcome.firings;
            outcome.handleMatched = outcome.handleMatched && fired == handle;
            // The record is already dropped: removing its own handle here is harmless.
            loop_.removeTimer(fired);
        });
        EXPECT_NE(handle, loop_.getInvalidTimer());
        if (c.removeBeforeFiring) {
            loop_.removeTimer(handle);
        }
        loop_.addTimer(c.delay + kSentinelMargin, [&](TimerHandle) {
            // A fired handle is no longer the loop's: removing it changes nothing.
            if (outcome.firings > 0) {
                loop_.removeTimer(handle);
            }
            done.set_value(outcome);
        });
    };
    if (c.addFromTimerCallback) {
        loop_.post([&] { loop_.addTimer(0, [&](TimerHandle) { arm(); }); });
    } else {
        loop_.post(arm);
    }
    TimerOutcome result = done.get_future().get();
    EXPECT_EQ(result.firings, c.expectedFirings);
    EXPECT_TRUE(result.handleMatched);
}

INSTANTIATE_TEST_SUITE_P(Cases, TimerTest,
                         testing::Values(TimerCase{"ZeroMs", 0, false, false, 1},
                                         TimerCase{"FiveMs", 5, false, false, 1},
                                         TimerCase{"ZeroMsRemovedBeforeFiring", 0, true, false, 0},
                                         TimerCase{"FiveMsRemovedBeforeFiring", 5, true, false, 0},
                                         TimerCase{"ZeroMsAddedFromTimerCallback", 0, false, true, 1},
                                         TimerCase{"FiveMsAddedFromTimerCallback", 5, false, true, 1},
                                         TimerCase{"RemovedInsideTheTimerCallbackThatAddedIt", 0, true, true, 0}),
                         [](const testing::TestParamInfo<TimerCase>& info) { return info.param.name; });

// libuv 1.44 runs a 0 ms timer started by a timer callback in the same pass, so a timer
// that keeps re-arming itself would never let the loop reach its tasks.
TEST_F(LibuvLoopTest, ZeroMsTimerThatKeepsReArmingLeavesRoomForTasks) {
    constexpr int kFiringsBeforeTheTask = 3;
    bool keepGoing = true;  // loop thread only
    int firings = 0;
    std::promise<void> chainRuns;
    std::function<void(TimerHandle)> rearm = [&](TimerHandle) {
        if (++firings == kFiringsBeforeTheTask) {
            chainRuns.set_value();
        }
        if (keepGoing) {
            loop_.addTimer(0, rearm);
        }
    };
    loop_.post([&] { loop_.addTimer(0, rearm); });
    chainRuns.get_future().wait();
    // Posted while the chain runs: it gets its turn only if the chain yields.
    int seen = runOnLoop(loop_, [&] {
        keepGoing = false;
        return firings;
    });
    EXPECT_GE(seen, kFiringsBeforeTheTask);
}

// A handle kept after its timer fired or was removed must not reach a later timer, even one
// whose record took over the freed memory: removing it leaves every live timer alone.
TEST_F(LibuvLoopTest, StaleTimerHandleLeavesLaterTimersAlone) {
    constexpr int kLater = 64;
    for (bool fired : {true, false}) {
        SCOPED_TRACE(fired ? "fired" : "removed");
        std::promise<void> done;
        auto firings = std::make_shared<int>(0);
        auto clashes = std::make_shared<int>(0);
        auto stale = std::make_shared<TimerHandle>();
        // Runs once the stale handle's record is gone.
        auto addLaterAndRemoveStale = [this, &done, firings, clashes, stale] {
            for (int i = 0; i < kLater; ++i) {
                TimerHandle later = loop_.addTimer(1, [&done, firings](TimerHandle) {
                    if (++*firings == kLater) {
                        done.set_value();
                    }
                });
                *clashes += later == *stale;
            }
            loop_.removeTimer(*stale);
        };
        runOnLoop(loop_, [&] {
            if (fired) {
                *stale = loop_.addTimer(
                    0, [this, addLaterAndRemoveStale](TimerHandle) { loop_.post(addLaterAndRemoveStale); });
            } else {
                *stale = loop_.addTimer(60000, nullptr);
                loop_.removeTimer(*stale);
                addLaterAndRemoveStale();
            }
        });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready)
            << "a later timer was cancelled through the stale handle";
        EXPECT_EQ(runOnLoop(loop_, [clashes] { return *clashes; }), 0);
    }
}

TEST_F(LibuvLoopTest, TimerCallbackCanRemoveAnotherDueTimer) {
    std::promise<int> done;
    int otherFired = 0;
    runOnLoop(loop_, [&] {
        auto other = std::make_shared<TimerHandle>();
        loop_.addTimer(1, [&, other](TimerHandle) { loop_.removeTimer(*other); });
        *other = loop_.addTimer(1, [&](TimerHandle) { ++otherFired; });
        loop_.addTimer(30, [&](TimerHandle) { done.set_value(otherFired); });
    });
    EXPECT_EQ(done.get_future().get(), 0);
}

// libuv counts a timer from the time it cached when the loop last woke up; a timer armed at
// the end of a long stretch of work must still wait its whole delay from the moment it is
// armed. The loop's clock counts whole milliseconds and may be the kernel's coarse clock,
// hence two of slack.
TEST_F(LibuvLoopTest, TimerArmedLateInABusyTurnWaitsItsWholeDelay) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kBusy = std::chrono::milliseconds(200);
    constexpr auto kDelay = std::chrono::milliseconds(100);
    std::promise<double> firedAfterMs;
    loop_.post([&] {
        const Clock::time_point busyUntil = Clock::now() + kBusy;
        while (Clock::now() < busyUntil) {
        }
        const Clock::time_point armed = Clock::now();
        loop_.addTimer(kDelay.count(), [&firedAfterMs, armed](TimerHandle) {
            firedAfterMs.set_value(std::chrono::duration<double, std::milli>(Clock::now() - armed).count());
        });
    });
    EXPECT_GE(firedAfterMs.get_future().get(), double(kDelay.count() - 2));
}

class SocketTest : public LibuvLoopTest {
protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
        LibuvLoopTest::SetUp();
    }

    void TearDown() override {
        runOnLoop(loop_, [this] { loop_.removeSocket(watched()); });
        LibuvLoopTest::TearDown();
        ::close(fds_[0]);
        ::close(fds_[1]);
    }

    uint64_t watched() const { return static_cast<uint64_t>(fds_[0]); }

    void sendByte(char byte) { ASSERT_EQ(::write(fds_[1], &byte, 1), 1); }

    char readByte() {
        char byte = 0;
        EXPECT_EQ(::read(fds_[0], &byte, 1), 1);
        return byte;
    }

    int fds_[2] = {-1, -1};
};

TEST_F(SocketTest, ReadableSocketIsReported) {
    std::promise<std::pair<int, char>> reported;
    runOnLoop(loop_, [&] {
        loop_.addSocket(watched(), kSocketReadable, [&](uint64_t socket, int events) {
            EXPECT_EQ(socket, watched());
            char byte = readByte();
            loop_.removeSocket(socket);
            reported.set_value({events, byte});
        });
    });
    sendByte('x');
    auto [events, byte] = reported.get_future().get();
    EXPECT_EQ(events, kSocketReadable);
    EXPECT_EQ(byte, 'x');
}

TEST_F(SocketTest, AddingASocketAgainChangesItsEventsAndKeepsItsCallback) {
    std::promise<int> reported;
    runOnLoop(loop_, [&] {
        loop_.addSocket(watched(), kSocketReadable, [&](uint64_t socket, int events) {
            loop_.removeSocket(socket);
            reported.set_value(events);
        });
        // No data is ever sent: only the writable watch can report.
        loop_.addSocket(watched(), kSocketWritable, nullptr);
    });
    EXPECT_EQ(reported.get_future().get(), kSocketWritable);
}

// libcurl removes a socket and adds it again from inside that socket's own callback.
TEST_F(SocketTest, SocketRemovedAndAddedAgainInsideItsCallbackKeepsReporting) {
    std::promise<char> first;
    std::promise<char> second;
    int firstCallbackRuns = 0;  // loop thread only
    runOnLoop(loop_, [&] {
        // The captured buffer lives in the callback being replaced: it must stay valid
        // while the callback runs.
        auto buffer = std::make_shared<std::vector<char>>(64, 'a');
        loop_.addSocket(watched(), kSocketReadable, [&, buffer](uint64_t socket, int) {
            ++firstCallbackRuns;
            char byte = readByte();
            loop_.removeSocket(socket);
            loop_.addSocket(socket, kSocketReadable, [&](uint64_t, int events) {
                EXPECT_EQ(events, kSocketReadable);
                second.set_value(readByte());
            });
            (*buffer)[0] = byte;
            first.set_value((*buffer)[0]);
        });
    });
    sendByte('1');
    EXPECT_EQ(first.get_future().get(), '1');
    sendByte('2');
    EXPECT_EQ(second.get_future().get(), '2');
    EXPECT_EQ(runOnLoop(loop_, [&] { return firstCallbackRuns; }), 1);
}

}  // namespace
}  // namespace corvane
