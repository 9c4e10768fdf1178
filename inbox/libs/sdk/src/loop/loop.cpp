#include "loop/loop.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace corvane {

Loop::Loop() : threadId_(currentThreadId()) {
}

Loop::~Loop() = default;

void Loop::post(Task task) {
    if (stopped_) {
        return;
    }
    TaskManager::post(std::move(task));
}

int32_t Loop::getThreadId() const {
    return threadId_;
}

bool Loop::isRunning() const {
    return !stopped_;
}

int32_t Loop::currentThreadId() {
    return static_cast<int32_t>(::syscall(SYS_gettid));
}

}  // namespace corvane
