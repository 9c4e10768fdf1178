#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "corvane/task_manager.h"

namespace corvane {
namespace test {

// Stands in for the application's GUI task manager: a thread of its own that runs the queued
// tasks, in posting order, whenever it is woken. Also writes down how the SDK holds it.
class TestTaskManager : public TaskManager {
public:
    TestTaskManager();
    // Runs what is still queued, then ends the thread.
    ~TestTaskManager() override;

    TestTaskManager(const TestTaskManager&) = delete;
    TestTaskManager& operator=(const TestTaskManager&) = delete;

    void wakeUp() override;
    void setReleased(bool released) override;

    // The thread that runs the tasks.
    std::thread::id threadId() const { return thread_.get_id(); }
    bool onThread() const { return std::this_thread::get_id() == threadId(); }

    // Waits until every task posted before the call has run. Not from the task thread itself.
    void drain();

    // Whether some SDK object holds the task manager now, and how often one has let it go.
    bool held() const;
    int releases() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable woken_;
    bool wakeUpPending_ = false;
    bool stopping_ = false;
    int holds_ = 0;
    int releases_ = 0;
    std::thread thread_;
};

}  // namespace test
}  // namespace corvane
