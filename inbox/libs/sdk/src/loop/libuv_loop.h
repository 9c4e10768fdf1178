#pragma once

#include <mutex>
#include <vector>

#include <uv.h>

#include "loop/threaded_loop.h"

namespace corvane {

// The loop on libuv: tasks arrive through an async handle, sockets are libuv polls and
// timers are libuv timers.
class LibuvLoop : public ThreadedLoop {
public:
    LibuvLoop();
    // Stops the loop and waits for its thread when the owner has not joined it.
    ~LibuvLoop() override;

    void wakeUp() override;

    void addSocket(uint64_t socket, int events, SocketCallback callback) override;
    void removeSocket(uint64_t socket) override;
    TimerHandle addTimer(uint64_t milliseconds, TimerCallback callback) override;
    void removeTimer(TimerHandle timer) override;

    // The libuv loop that the loop thread runs; the same structure for the loop's whole life.
    uv_loop_t* getUvLoop() const { return uvLoop_; }

protected:
    void runOnce() override;
    bool init() override;
    void cleanup() override;

private:
    static void onWakeUp(uv_async_t* handle);
    static void onWakeUpClosed(uv_handle_t* handle);
    static void onPoll(uv_poll_t* handle, int status, int events);
    static void onTimer(uv_timer_t* handle);
    static void onIdle(uv_idle_t* handle);

    void startTimer(TimerContext* context, uint64_t milliseconds);

    uv_loop_t* uvLoop_;
    // Whether uvLoop_ is initialised; touched only by the thread that owns the loop.
    bool uvReady_ = false;

    std::mutex wakeUpMutex_;
    uv_async_t* wakeUp_ = nullptr;

    // 0 ms timers added while timers fire, started from the idle handle: libuv would run them
    // in the same pass, so a timer that keeps re-arming itself would starve everything else.
    uv_idle_t* idle_ = nullptr;
    std::vector<TimerHandle> deferredTimers_;
    int firingTimers_ = 0;
};

}  // namespace corvane
