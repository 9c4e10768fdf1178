#include "loop/libuv_loop.h"

#include <algorithm>

#include "util/log.h"

namespace corvane {

namespace {

template <typename Handle>
void freeOnClose(uv_handle_t* handle) {
    delete reinterpret_cast<Handle*>(handle);
}

uv_handle_t* asHandle(void* handle) {
    return static_cast<uv_handle_t*>(handle);
}

}  // namespace

LibuvLoop::LibuvLoop() : uvLoop_(new uv_loop_t()) {
}

LibuvLoop::~LibuvLoop() {
    shutDown();
    delete uvLoop_;
}

void LibuvLoop::wakeUp() {
    std::lock_guard<std::mutex> lock(wakeUpMutex_);
    if (wakeUp_) {
        uv_async_send(wakeUp_);
    }
}

void LibuvLoop::onWakeUp(uv_async_t* handle) {
    auto* self = static_cast<LibuvLoop*>(handle->data);
    self->runTasks();
    if (self->stopped_) {
        std::lock_guard<std::mutex> lock(self->wakeUpMutex_);
        if (self->wakeUp_ == handle) {
            self->wakeUp_ = nullptr;
            uv_close(asHandle(handle), &LibuvLoop::onWakeUpClosed);
        }
    }
}

void LibuvLoop::onWakeUpClosed(uv_handle_t* handle) {
    uv_loop_t* uvLoop = handle->loop;
    delete reinterpret_cast<uv_async_t*>(handle);
    uv_stop(uvLoop);
}

bool LibuvLoop::init() {
    ThreadedLoop::init();
    int rc = uv_loop_init(uvLoop_);
    if (rc != 0) {
        CLOG_ERROR("Unable to initialize libuv loop: {}", uv_strerror(rc));
        return false;
    }
    auto* wakeUp = new uv_async_t();
    rc = uv_async_init(uvLoop_, wakeUp, &LibuvLoop::onWakeUp);
    if (rc != 0) {
        CLOG_ERROR("Unable to initialize libuv wake-up handle: {}", uv_strerror(rc));
        delete wakeUp;
        uv_loop_close(uvLoop_);
        return false;
    }
    wakeUp->data = this;
    idle_ = new uv_idle_t();
    uv_idle_init(uvLoop_, idle_);
    idle_->data = this;
    {
        std::lock_guard<std::mutex> lock(wakeUpMutex_);
        wakeUp_ = wakeUp;
    }
    uvReady_ = true;
    return true;
}

void LibuvLoop::runOnce() {
    uv_run(uvLoop_, UV_RUN_DEFAULT);
}

void LibuvLoop::cleanup() {
    // Sockets and timers go first: a libuv run with a live poll or timer would wait for it.
    ThreadedLoop::cleanup();
    uv_close(asHandle(idle_), &freeOnClose<uv_idle_t>);
    idle_ = nullptr;
    deferredTimers_.clear();
    uv_walk(
        uvLoop_,
        [](uv_handle_t* handle, void*) {
            if (!uv_is_closing(handle)) {
                CLOG_WARN("Closing a libuv handle of type {} left on a stopped loop",
                          uv_handle_type_name(uv_handle_get_type(handle)));
                uv_close(handle, nullptr);
            }
        },
        nullptr);
    // Lets the close callbacks run so that every handle is freed before the loop closes.
    uv_run(uvLoop_, UV_RUN_DEFAULT);
    int rc = uv_loop_close(uvLoop_);
    if (rc != 0) {
        CLOG_ERROR("Unable to close libuv loop: {}", uv_strerror(rc));
    }
    uvReady_ = false;
}

void LibuvLoop::addSocket(uint64_t socket, int events, SocketCallback callback) {
    if (!uvReady_) {
        CLOG_ERROR("Unable to watch socket {}: the loop does not run", socket);
        return;
    }
    std::unique_ptr<SocketContext>& entry = sockets_[socket];
    if (!entry) {
        entry = std::make_unique<SocketContext>(socket, this);
    }
    SocketContext* context = entry.get();
    if (callback) {
        context->callback = std::move(callback);
    }
    auto* poll = static_cast<uv_poll_t*>(context->pollHandle);
    if (!poll) {
        poll = new uv_poll_t();
        int rc = uv_poll_init_socket(uvLoop_, poll, static_cast<uv_os_sock_t>(socket));
        if (rc != 0) {
            CLOG_ERROR("Unable to watch socket {}: {}", socket, uv_strerror(rc));
            delete poll;
            sockets_.erase(socket);
            return;
        }
        poll->data = context;
        context->pollHandle = poll;
    }
    int rc = uv_poll_start(poll, events & (UV_READABLE | UV_WRITABLE), &LibuvLoop::onPoll);
    if (rc != 0) {
        CLOG_ERROR("Unable to poll socket {}: {}", socket, uv_strerror(rc));
    }
}

void LibuvLoop::removeSocket(uint64_t socket) {
    auto it = sockets_.find(socket);
    if (it == sockets_.end()) {
        return;
    }
    if (auto* poll = static_cast<uv_poll_t*>(it->second->pollHandle)) {
        // Stopping first releases the descriptor at once, so the same socket can be added
        // again before the close callback has run.
        uv_poll_stop(poll);
        poll->data = nullptr;
        uv_close(asHandle(poll), &freeOnClose<uv_poll_t>);
    }
    sockets_.erase(it);
}

void LibuvLoop::onPoll(uv_poll_t* handle, int status, int events) {
    auto* context = static_cast<SocketContext*>(handle->data);
    if (!context) {
        return;
    }
    // A copy: the callback may replace the stored one or remove the socket while it runs.
    SocketCallback callback = context->callback;
    if (callback) {
        callback(context->socket, events);
    }
}

TimerHandle LibuvLoop::addTimer(uint64_t milliseconds, TimerCallback callback) {
    if (!uvReady_) {
        CLOG_ERROR("Unable to add timer: the loop does not run");
        return getInvalidTimer();
    }
    TimerHandle handle(++lastTimerNumber_);
    auto context = std::make_unique<TimerContext>(this, handle, std::move(callback));
    auto* timer = new uv_timer_t();
    uv_timer_init(uvLoop_, timer);
    timer->data = context.get();
    context->backendTimer = timer;
    TimerContext* started = context.get();
    timers_.emplace(handle, std::move(context));
    if (milliseconds == 0 && firingTimers_ > 0) {
        deferredTimers_.push_back(handle);
        uv_idle_start(idle_, &LibuvLoop::onIdle);
    } else {
        startTimer(started, milliseconds);
    }
    return handle;
}

void LibuvLoop::startTimer(TimerContext* context, uint64_t milliseconds) {
    // libuv counts from the time it cached when the loop last woke up; a timer armed after a
    // long callback would otherwise fire early by the time that callback took.
    uv_update_time(uvLoop_);
    uv_timer_start(static_cast<uv_timer_t*>(context->backendTimer), &LibuvLoop::onTimer, milliseconds, 0);
}

void LibuvLoop::onIdle(uv_idle_t* handle) {
    auto* self = static_cast<LibuvLoop*>(handle->data);
    uv_idle_stop(handle);
    std::vector<TimerHandle> deferred;
    deferred.swap(self->deferredTimers_);
    for (TimerHandle timer : deferred) {
        auto it = self->timers_.find(timer);
        if (it != self->timers_.end()) {
            self->startTimer(it->second.get(), 0);
        }
    }
}

void LibuvLoop::removeTimer(TimerHandle timer) {
    auto it = timers_.find(timer);
    if (it == timers_.end()) {
        return;
    }
    if (auto* uvTimer = static_cast<uv_timer_t*>(it->second->backendTimer)) {
        uv_timer_stop(uvTimer);
        uv_close(asHandle(uvTimer), &freeOnClose<uv_timer_t>);
    }
    deferredTimers_.erase(std::remove(deferredTimers_.begin(), deferredTimers_.end(), timer), deferredTimers_.end());
    timers_.erase(it);
}

void LibuvLoop::onTimer(uv_timer_t* handle) {
    // The libuv timer is closed whenever its record goes, so the record is still alive here.
    auto* context = static_cast<TimerContext*>(handle->data);
    auto* self = static_cast<LibuvLoop*>(context->loop);
    auto it = self->timers_.find(context->handle());
    if (it == self->timers_.end()) {
        return;
    }
    // The record leaves the set before the callback runs, so the callback may add timers,
    // or remove its own handle, without touching the record it runs from.
    std::unique_ptr<TimerContext> fired = std::move(it->second);
    self->timers_.erase(it);
    fired->backendTimer = nullptr;
    uv_close(asHandle(handle), &freeOnClose<uv_timer_t>);
    ++self->firingTimers_;
    if (fired->callback) {
        fired->callback(fired->handle());
    }
    --self->firingTimers_;
}

}  // namespace corvane
