#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "loop/loop.h"

namespace corvane {

// A loop that runs on a thread of its own. Its owner starts it, stops it and joins it (or
// detaches it) before deleting it or starting it again.
class ThreadedLoop : public Loop {
public:
    ThreadedLoop();
    ~ThreadedLoop() override;

    // Returns once the loop runs, so a task posted afterwards is never dropped. Does nothing
    // when the loop already runs. A failure is logged, leaves the loop stopped with no thread
    // to join, and is returned: std::errc::resource_unavailable_try_again when the thread
    // cannot be created or the back end cannot be set up on it.
    std::error_code start() override;
    // Tasks queued before the stop still run; later posts are dropped.
    void stop() override;
    // Waits for the loop thread to end. Logs and returns when there is no thread or when
    // called on the loop thread itself.
    void join() override;

    // Lets the thread run to its end; the loop then deletes itself. The caller must not touch
    // the loop afterwards.
    virtual void detach();

    // Test seam: while set, every start asks it before creating its thread, and a non-empty
    // result stands for a thread that could not be created. Null restores the normal start.
    using ThreadStartHook = std::function<std::error_code()>;
    static void setThreadStartHook(ThreadStartHook hook);

protected:
    // The thread body.
    virtual void loop();
    // One round of the back end's event processing.
    virtual void runOnce() = 0;
    // Runs on the loop thread before the loop counts as running; false leaves it stopped.
    virtual bool init();
    // Runs on the loop thread after the last round: drops the sockets and timers still held.
    virtual void cleanup();

    // For destructors: stops the loop and waits for a thread that the owner left running,
    // which would otherwise outlive the members it uses.
    void shutDown();

private:
    std::thread thread_;
    std::mutex handshakeMutex_;
    std::condition_variable handshakeCondition_;
    bool threadStarted_ = false;
    // Whether the thread's back end came up; read by start after the handshake.
    bool threadReady_ = false;
    bool threadFinished_ = false;
    bool selfDeleting_ = false;
};

}  // namespace corvane
