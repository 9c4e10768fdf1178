#include "worker_pool.h"

#include <system_error>
#include <utility>

namespace corvane::service {

WorkerPool::WorkerPool(size_t core, size_t limit, std::chrono::milliseconds idleTime)
    : core_(core), limit_(limit < 1 ? 1 : limit), idleTime_(idleTime) {
}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::enqueue(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    joinRetired(lock);
    jobs_.push_back(std::move(job));
    if (idle_ < jobs_.size() && live_ < limit_ && !stopping_) {
        try {
            std::thread thread([this] { work(); });
            const std::thread::id id = thread.get_id();
            threads_.emplace(id, std::move(thread));
            ++live_;
        } catch (const std::system_error&) {
            // No thread to be had now: the job waits for a worker that is already running.
        }
    }
    lock.unlock();
    wake_.notify_one();
}

void WorkerPool::shutdown() {
    std::map<std::thread::id, std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        threads.swap(threads_);
        retired_.clear();
    }
    wake_.notify_all();
    for (auto& entry : threads)
        entry.second.join();
}

size_t WorkerPool::workers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_;
}

void WorkerPool::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        ++idle_;
        const bool woken = wake_.wait_for(lock, idleTime_, [this] { return stopping_ || !jobs_.empty(); });
        --idle_;
        if (!jobs_.empty()) {
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // whatever the job holds goes before the lock is taken again
            lock.lock();
            continue;
        }
        if (stopping_) break;
        if (!woken && live_ > core_) {
            retired_.push_back(std::this_thread::get_id());
            break;
        }
    }
    --live_;
}

void WorkerPool::joinRetired(std::unique_lock<std::mutex>& lock) {
    if (retired_.empty()) return;
    std::vector<std::thread> done;
    for (const std::thread::id& id : retired_) {
        auto it = threads_.find(id);
        if (it == threads_.end()) continue;
        done.push_back(std::move(it->second));
        threads_.erase(it);
    }
    retired_.clear();
    // A retired worker has nothing left to do but return; its join is short.
    lock.unlock();
    for (auto& thread : done)
        thread.join();
    lock.lock();
}

}  // namespace corvane::service
