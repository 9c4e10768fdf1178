#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "corvane/action_listener.h"
#include "corvane/event_listener.h"
#include "corvane/mutable_action_data.h"
#include "corvane/task_manager.h"

namespace corvane {

// A listener of both actions and events.
class MultiListener : public ActionListener, public EventListener {};

// The one place where SDK results cross to the application: it creates the action records,
// keeps the listener registries and posts every notification and event to the application's
// task manager. After shutdown it delivers synchronously on the reporting thread.
class CallbackDispatcher : public MultiListener {
public:
    // Without a task manager it delivers synchronously from the start.
    explicit CallbackDispatcher(TaskManager* taskManager = nullptr);
    ~CallbackDispatcher() override;

    CallbackDispatcher(const CallbackDispatcher&) = delete;
    CallbackDispatcher& operator=(const CallbackDispatcher&) = delete;

    // A new record of the type with the next process-wide id; registers the listener when
    // one is given.
    std::shared_ptr<MutableActionData> createAction(int32_t type, ActionListener* listener);
    void setActionListener(const std::shared_ptr<ActionData>& action, ActionListener* listener);
    void addEventListener(EventListener* listener);
    void removeEventListener(EventListener* listener);
    void addGlobalActionListener(ActionListener* listener);
    void removeGlobalActionListener(ActionListener* listener);

    // Releases every listener and switches to synchronous delivery.
    void shutdown();

    void onActionStart(std::shared_ptr<ActionData> action) override;
    void onActionProcessed(std::shared_ptr<ActionData> action) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override;
    void onActionError(std::shared_ptr<ActionData> action) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override;
    void onEvent(std::shared_ptr<EventData> event) override;

private:
    // The registries live apart from the dispatcher and are shared with every posted task:
    // a task still queued in the application's task manager when the dispatcher is deleted
    // then finds empty registries instead of a dead object.
    struct Registry {
        std::recursive_mutex lock;
        std::set<EventListener*> eventListeners;
        std::map<int32_t, ActionListener*> actionListeners;
        std::set<ActionListener*> globalActionListeners;
        // How many times shutdown released everything; a delivery compares it around a call.
        uint64_t shutdowns = 0;
    };

    enum class Notification { START, PROCESSED, PROGRESS, FAILURE, FINISH };

    static void deliver(Registry& registry, Notification notification, const std::shared_ptr<ActionData>& action);
    void postAction(Notification notification, std::shared_ptr<ActionData> action);
    void post(Task task);

    std::shared_ptr<Registry> registry_;
    // Guards the task manager pointer and the count of posts under way, so that shutdown
    // never lets the application's task manager go while a post still uses it. Never held
    // while a task is posted.
    std::mutex taskManagerLock_;
    TaskManager* taskManager_;
    bool ownsTaskManager_;
    int postsInFlight_ = 0;
    // The application's task manager replaced by shutdown while posts were under way; the
    // last of them releases it.
    TaskManager* pendingRelease_ = nullptr;
};

}  // namespace corvane
