#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace corvane {

using Task = std::function<void()>;

// A locked first-in-first-out list of tasks. The lock is held only while the list changes,
// never while a task runs: callers run a popped task after pop has returned.
class TaskQueue {
public:
    void push(Task task);

    // The first task, or an empty function object when the queue is empty.
    Task pop();

private:
    std::mutex mutex_;
    std::deque<Task> tasks_;
};

}  // namespace corvane
