#pragma once

#include "corvane/task_manager.h"
#include "module/module.h"

namespace corvane {

// The asynchronous ZIP writer: its work runs on the work loop (the ZIP loop), its results are
// posted to the callback loop (null: called at once on the work loop).
class ZipModule : public Module {
public:
    ZipModule(TaskManager* workLoop, TaskManager* callbackLoop);
    ~ZipModule() override;

    TaskManager* getCallbackLoop() const { return callbackLoop_; }

protected:
    TaskManager* callbackLoop_;
};

}  // namespace corvane
