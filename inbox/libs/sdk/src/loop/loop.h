#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <system_error>

#include "corvane/task_manager.h"

namespace corvane {

class Loop;
class TimerContext;

// A timer handle designates one TimerContext record of its loop by a number the loop never
// gives out twice, so a handle kept after its timer fired or was removed names nothing (an
// address could name a later timer that reuses the memory). The loop's invalid timer
// (getInvalidTimer, also the default and null) means "no timer".
class TimerHandle {
public:
    constexpr TimerHandle() = default;
    constexpr TimerHandle(std::nullptr_t) {}
    explicit constexpr TimerHandle(uint64_t number) : number_(number) {}

    constexpr uint64_t number() const { return number_; }

    friend constexpr bool operator==(TimerHandle a, TimerHandle b) { return a.number_ == b.number_; }
    friend constexpr bool operator!=(TimerHandle a, TimerHandle b) { return a.number_ != b.number_; }
    friend constexpr bool operator<(TimerHandle a, TimerHandle b) { return a.number_ < b.number_; }

private:
    uint64_t number_ = 0;
};

using TimerCallback = std::function<void(TimerHandle)>;

// Readiness flags of a watched socket.
constexpr int kSocketReadable = 1;
constexpr int kSocketWritable = 2;

// Called with the socket and the events that occurred (kSocketReadable, kSocketWritable).
using SocketCallback = std::function<void(uint64_t socket, int events)>;

// One one-shot timer of a loop.
class TimerContext {
public:
    TimerContext(Loop* loop, TimerHandle handle, TimerCallback callback)
        : loop(loop), callback(std::move(callback)), handle_(handle) {}

    TimerContext(const TimerContext&) = delete;
    TimerContext& operator=(const TimerContext&) = delete;

    TimerHandle handle() const { return handle_; }

    Loop* loop;
    // The back end's timer; null once it has been handed to the back end for closing.
    void* backendTimer = nullptr;
    TimerCallback callback;

private:
    TimerHandle handle_;
};

// One watched socket of a loop.
class SocketContext {
public:
    SocketContext(uint64_t socket, Loop* loop) : socket(socket), loop(loop) {}

    SocketContext(const SocketContext&) = delete;
    SocketContext& operator=(const SocketContext&) = delete;

    uint64_t socket;
    Loop* loop;
    // The back end's poll handle; null until the socket is first polled.
    void* pollHandle = nullptr;
    SocketCallback callback;
};

// A task manager whose tasks, socket callbacks and timer callbacks run on one thread.
// post, wakeUp and stop may be called from any thread; everything else belongs to the loop
// thread.
class Loop : public TaskManager {
public:
    Loop();
    ~Loop() override;

    void wakeUp() override = 0;

    // Queues the task while the loop runs; before start and after stop the task is dropped.
    void post(Task task) override;

    // Empty once the loop runs; otherwise why it could not start (it then stays stopped and
    // drops every post, so its owner must not go on as if it ran).
    virtual std::error_code start() = 0;
    virtual void stop() = 0;
    virtual void join() = 0;

    // Watches the socket for events & 3. A second call for the same socket changes the events,
    // and the callback when one is given.
    virtual void addSocket(uint64_t socket, int events, SocketCallback callback) = 0;
    // Stops watching the socket; a socket that is not watched is ignored.
    virtual void removeSocket(uint64_t socket) = 0;

    // A one-shot timer; the loop drops its record itself once the callback has run.
    virtual TimerHandle addTimer(uint64_t milliseconds, TimerCallback callback) = 0;
    // Stops a timer that has not fired; a handle that has fired or was removed is ignored.
    virtual void removeTimer(TimerHandle timer) = 0;

    // The loop thread's id once started; the constructing thread's id before.
    virtual int32_t getThreadId() const;
    virtual bool isRunning() const;

    TimerHandle getInvalidTimer() const { return TimerHandle(); }

protected:
    // The operating system's id of the calling thread.
    static int32_t currentThreadId();

    std::atomic<bool> stopped_{true};
    std::map<uint64_t, std::unique_ptr<SocketContext>> sockets_;
    std::map<TimerHandle, std::unique_ptr<TimerContext>> timers_;
    // The number of the last timer handle given out; loop thread only.
    uint64_t lastTimerNumber_ = 0;
    std::atomic<int32_t> threadId_;
};

}  // namespace corvane
