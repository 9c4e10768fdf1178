#include "support/test_task_manager.h"

#include <future>

namespace corvane {
namespace test {

TestTaskManager::TestTaskManager() : thread_([this] { run(); }) {
}

TestTaskManager::~TestTaskManager() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    woken_.notify_one();
    thread_.join();
}

void TestTaskManager::wakeUp() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        wakeUpPending_ = true;
    }
    woken_.notify_one();
}

void TestTaskManager::setReleased(bool released) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (released) {
        --holds_;
        ++releases_;
    } else {
        ++holds_;
    }
}

bool TestTaskManager::held() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return holds_ > 0;
}

int TestTaskManager::releases() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return releases_;
}

void TestTaskManager::drain() {
    // Tasks run in posting order, so a marker posted now runs after everything before it.
    std::promise<void> reached;
    post([&reached] { reached.set_value(); });
    reached.get_future().wait();
}

void TestTaskManager::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        woken_.wait(lock, [this] { return wakeUpPending_ || stopping_; });
        const bool last = stopping_;
        wakeUpPending_ = false;
        lock.unlock();
        runTasks();
        lock.lock();
        if (last && !wakeUpPending_) {
            return;
        }
    }
}

}  // namespace test
}  // namespace corvane
