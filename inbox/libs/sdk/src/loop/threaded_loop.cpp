#include "loop/threaded_loop.h"

#include <system_error>

#include "util/log.h"

namespace corvane {

namespace {

std::mutex threadStartHookMutex;
ThreadedLoop::ThreadStartHook threadStartHook;

std::error_code startFailure() {
    return std::make_error_code(std::errc::resource_unavailable_try_again);
}

}  // namespace

ThreadedLoop::ThreadedLoop() = default;

ThreadedLoop::~ThreadedLoop() = default;

void ThreadedLoop::setThreadStartHook(ThreadStartHook hook) {
    std::lock_guard<std::mutex> guard(threadStartHookMutex);
    threadStartHook = std::move(hook);
}

std::error_code ThreadedLoop::start() {
    std::unique_lock<std::mutex> lock(handshakeMutex_);
    if (!stopped_) {
        return {};
    }
    if (thread_.joinable()) {
        // Replacing a thread that was never joined would end the process.
        CLOG_ERROR("Unable to start threaded loop: the previous thread was not joined");
        return std::make_error_code(std::errc::device_or_resource_busy);
    }
    threadStarted_ = false;
    threadFinished_ = false;
    selfDeleting_ = false;
    // Only a post racing with the previous stop can have left a task: it belongs to no run.
    while (queue_.pop()) {
    }
    ThreadStartHook hook;
    {
        std::lock_guard<std::mutex> guard(threadStartHookMutex);
        hook = threadStartHook;
    }
    if (std::error_code hookResult = hook ? hook() : std::error_code()) {
        CLOG_ERROR("Unable to start threaded loop: {}", hookResult.message());
        return hookResult;
    }
    try {
        thread_ = std::thread(&ThreadedLoop::loop, this);
    } catch (const std::system_error& e) {
        CLOG_ERROR("Unable to start threaded loop: {}", e.what());
        return e.code();
    }
    // Waiting for the thread's own signal rather than for the stopped flag: a task of the new
    // loop may already have stopped it again.
    handshakeCondition_.wait(lock, [this] { return threadStarted_; });
    if (!threadReady_) {
        // The thread could not set up its back end and ends at once: the owner gets a loop
        // with nothing to join, as after a failed thread creation.
        std::thread failed = std::move(thread_);
        lock.unlock();
        failed.join();
        return startFailure();
    }
    return {};
}

void ThreadedLoop::stop() {
    if (!stopped_.exchange(true)) {
        wakeUp();
    }
}

void ThreadedLoop::join() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(handshakeMutex_);
        if (!thread_.joinable()) {
            CLOG_ERROR("Unable to join threaded loop: no thread");
            return;
        }
        if (thread_.get_id() == std::this_thread::get_id()) {
            CLOG_ERROR("Unable to join threaded loop from its own thread");
            return;
        }
        thread = std::move(thread_);
    }
    try {
        thread.join();
    } catch (const std::system_error& e) {
        CLOG_ERROR("Unable to join threaded loop: {}", e.what());
    }
}

void ThreadedLoop::detach() {
    bool finished = false;
    {
        std::lock_guard<std::mutex> lock(handshakeMutex_);
        if (!thread_.joinable()) {
            CLOG_ERROR("Unable to detach threaded loop: no thread");
            return;
        }
        selfDeleting_ = true;
        thread_.detach();
        finished = threadFinished_;
    }
    // The thread already passed its last look at the flag: nobody else will delete the loop.
    if (finished) {
        CLOG_DEBUG("Self-deleting threaded loop");
        delete this;
    }
}

void ThreadedLoop::shutDown() {
    stop();
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(handshakeMutex_);
        if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
            return;
        }
        thread = std::move(thread_);
    }
    CLOG_WARN("Joining a threaded loop that is being deleted");
    thread.join();
}

void ThreadedLoop::loop() {
    bool ready = init();
    {
        std::lock_guard<std::mutex> lock(handshakeMutex_);
        if (ready) {
            stopped_ = false;
        }
        threadReady_ = ready;
        threadStarted_ = true;
        handshakeCondition_.notify_all();
    }
    if (ready) {
        // At least one round even when a stop came first: it runs the tasks queued before
        // the stop and lets the back end close its handles.
        do {
            runOnce();
        } while (!stopped_);
        cleanup();
    }
    bool selfDeleting = false;
    {
        std::lock_guard<std::mutex> lock(handshakeMutex_);
        threadFinished_ = true;
        selfDeleting = selfDeleting_;
    }
    if (selfDeleting) {
        CLOG_DEBUG("Self-deleting threaded loop");
        delete this;
    }
}

bool ThreadedLoop::init() {
    threadId_ = currentThreadId();
    return true;
}

void ThreadedLoop::cleanup() {
    // A post that saw the loop running may have queued its task after the last round.
    runTasks();
    while (!sockets_.empty()) {
        removeSocket(sockets_.begin()->first);
    }
    while (!timers_.empty()) {
        removeTimer(timers_.begin()->first);
    }
}

}  // namespace corvane
