#include "util/task_queue.h"

namespace corvane {

void TaskQueue::push(Task task) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
}

Task TaskQueue::pop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tasks_.empty()) {
        return Task();
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    return task;
}

}  // namespace corvane
