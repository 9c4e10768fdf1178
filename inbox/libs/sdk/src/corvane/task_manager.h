#pragma once

#include <functional>

#include "corvane/shared_ownership.h"
#include "util/task_queue.h"

namespace corvane {

// A queue of tasks that one thread runs. post may be called from any thread; runTasks only
// by the thread that owns the task manager.
class TaskManager : public SharedOwnership {
public:
    TaskManager() = default;
    explicit TaskManager(std::function<void()> wakeUpFunction);
    ~TaskManager() override = default;

    TaskManager(const TaskManager&) = delete;
    TaskManager& operator=(const TaskManager&) = delete;

    // Makes the owning thread run the queued tasks; the base calls the wake-up function when
    // one is set.
    virtual void wakeUp();

    // Runs queued tasks until the queue is empty, tasks posted meanwhile included.
    virtual void runTasks();

    // Queues the task when it holds a callable, then wakes up in either case.
    virtual void post(Task task);

    // Posts the task to the task manager, or runs it at once when there is none.
    static void postOrRun(TaskManager* taskManager, const Task& task);

protected:
    TaskQueue queue_;

private:
    std::function<void()> wakeUpFunction_;
};

// Runs every posted task on the posting thread before post returns.
class SynchronousTaskManager : public TaskManager {
public:
    void wakeUp() override;
};

}  // namespace corvane
