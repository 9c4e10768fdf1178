#pragma once

#include "corvane/task_manager.h"

namespace corvane {

// Base of every loop-bound component: its operations run on its work loop, or at once on
// the calling thread when it has none.
class Module {
public:
    explicit Module(TaskManager* workLoop) : workLoop_(workLoop) {}
    virtual ~Module() = default;

    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Posts the task to the work loop, or runs it before returning when there is none.
    void execute(const Task& task) { executeInLoop(workLoop_, task); }

    // The same with an explicit loop; used to hand completions to a result loop.
    static void executeInLoop(TaskManager* loop, const Task& task) { TaskManager::postOrRun(loop, task); }

    TaskManager* getLoop() const { return workLoop_; }

protected:
    TaskManager* workLoop_;
};

}  // namespace corvane
