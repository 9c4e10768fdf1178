#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "corvane/action_data.h"
#include "corvane/shared_ownership.h"

namespace corvane {

using ActionFunction = std::function<void(std::shared_ptr<ActionData>)>;

// Listener of one action: start first, finish last, processed at most once and before the
// finish, progress and error any number of times in between. The base operations call the
// matching function object when one is set; the application overrides what it needs.
class ActionListener : public SharedOwnership {
public:
    ActionListener() = default;
    explicit ActionListener(ActionFunction finish);
    ~ActionListener() override;

    virtual void onActionStart(std::shared_ptr<ActionData> action);
    virtual void onActionProcessed(std::shared_ptr<ActionData> action);
    virtual void onActionProgress(std::shared_ptr<ActionData> action);
    virtual void onActionError(std::shared_ptr<ActionData> action);
    virtual void onActionFinish(std::shared_ptr<ActionData> action);

private:
    ActionFunction start_;
    ActionFunction progress_;
    ActionFunction finish_;
    ActionFunction error_;
};

// Lets a thread wait for an action's end. The SDK marks it held while it may still call it;
// the destructor waits until the SDK has let it go.
class BlockingActionListener : public ActionListener {
public:
    BlockingActionListener() = default;
    ~BlockingActionListener() override;

    void setReleased(bool released) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override;

    // Waits until the action has finished and hands its record over; the listener keeps no
    // copy.
    std::shared_ptr<ActionData> waitForResult();

private:
    std::shared_ptr<ActionData> result_;
    bool released_ = true;
    std::condition_variable condition_;
    std::mutex mutex_;
};

}  // namespace corvane
