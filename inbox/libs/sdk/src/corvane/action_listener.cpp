#include "corvane/action_listener.h"

#include <utility>

#include "util/log.h"

namespace corvane {

ActionListener::ActionListener(ActionFunction finish) : finish_(std::move(finish)) {
}

ActionListener::~ActionListener() = default;

void ActionListener::onActionStart(std::shared_ptr<ActionData> action) {
    if (start_) {
        start_(action);
    }
}

void ActionListener::onActionProcessed(std::shared_ptr<ActionData> action) {
}

void ActionListener::onActionProgress(std::shared_ptr<ActionData> action) {
    if (progress_) {
        progress_(action);
    }
}

void ActionListener::onActionError(std::shared_ptr<ActionData> action) {
    if (error_) {
        error_(action);
    }
}

void ActionListener::onActionFinish(std::shared_ptr<ActionData> action) {
    if (finish_) {
        finish_(action);
    }
}

BlockingActionListener::~BlockingActionListener() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!released_) {
        CLOG_DEBUG("Deleting BlockingActionListener still owned by the SDK");
    }
    // The SDK may still be about to call us; it lets go with setReleased(true).
    condition_.wait(lock, [this] { return released_; });
    CLOG_DEBUG("BlockingActionListener deleted");
}

// Signals with the mutex held: once the destructor sees the release it destroys the condition
// variable, so nothing of this object may be touched after the mutex is let go.
void BlockingActionListener::setReleased(bool released) {
    std::lock_guard<std::mutex> guard(mutex_);
    released_ = released;
    condition_.notify_all();
}

void BlockingActionListener::onActionProgress(std::shared_ptr<ActionData> action) {
}

void BlockingActionListener::onActionFinish(std::shared_ptr<ActionData> action) {
    std::lock_guard<std::mutex> guard(mutex_);
    result_ = std::move(action);
    condition_.notify_all();
}

std::shared_ptr<ActionData> BlockingActionListener::waitForResult() {
    std::unique_lock<std::mutex> lock(mutex_);
    condition_.wait(lock, [this] { return result_ != nullptr; });
    return std::move(result_);
}

}  // namespace corvane
