// The HTTP server's task queue: one worker per connection being served, started on demand up
// to a bound, so that slow, idle or long-polling clients never hold up the others. Workers
// beyond the core ones end after an idle while.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane::service {

class WorkerPool : public httplib::TaskQueue {
public:
    WorkerPool(size_t core, size_t limit, std::chrono::milliseconds idleTime);
    ~WorkerPool() override;
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs the job on an idle worker, or on a new one while below the limit; at the limit it
    // waits for the next free worker.
    void enqueue(std::function<void()> job) override;
    // Runs what is queued, then ends and joins every worker.
    void shutdown() override;

    size_t workers() const;

private:
    void work();
    void joinRetired(std::unique_lock<std::mutex>& lock);

    const size_t core_;
    const size_t limit_;
    const std::chrono::milliseconds idleTime_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::map<std::thread::id, std::thread> threads_;
    std::vector<std::thread::id> retired_;  // ended by idleness, still to be joined
    size_t live_ = 0;
    size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace corvane::service
