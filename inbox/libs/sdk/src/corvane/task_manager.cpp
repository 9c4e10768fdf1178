#include "corvane/task_manager.h"

namespace corvane {

TaskManager::TaskManager(std::function<void()> wakeUpFunction) : wakeUpFunction_(std::move(wakeUpFunction)) {
}

void TaskManager::wakeUp() {
    if (wakeUpFunction_) {
        wakeUpFunction_();
    }
}

void TaskManager::runTasks() {
    while (Task task = queue_.pop()) {
        task();
    }
}

void TaskManager::post(Task task) {
    if (task) {
        queue_.push(std::move(task));
    }
    wakeUp();
}

void TaskManager::postOrRun(TaskManager* taskManager, const Task& task) {
    if (taskManager) {
        taskManager->post(task);
    } else if (task) {
        task();
    }
}

void SynchronousTaskManager::wakeUp() {
    runTasks();
}

}  // namespace corvane
