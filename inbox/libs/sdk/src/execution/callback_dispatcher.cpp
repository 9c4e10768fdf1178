#include "execution/callback_dispatcher.h"

#include "corvane/event_data.h"

namespace corvane {

namespace {
// Shared by every dispatcher of the process; the first action gets 1.
std::atomic<int32_t> actionIdCounter{0};
}  // namespace

CallbackDispatcher::CallbackDispatcher(TaskManager* taskManager)
    : registry_(std::make_shared<Registry>()), taskManager_(taskManager), ownsTaskManager_(taskManager == nullptr) {
    if (ownsTaskManager_) {
        taskManager_ = new SynchronousTaskManager();
    } else {
        taskManager_->setReleased(false);
    }
}

CallbackDispatcher::~CallbackDispatcher() {
    if (ownsTaskManager_) {
        delete taskManager_;
    } else {
        taskManager_->setReleased(true);
    }
}

std::shared_ptr<MutableActionData> CallbackDispatcher::createAction(int32_t type, ActionListener* listener) {
    auto action = std::make_shared<MutableActionData>(type);
    action->setId(++actionIdCounter);
    if (listener != nullptr) {
        setActionListener(action, listener);
    }
    return action;
}

void CallbackDispatcher::setActionListener(const std::shared_ptr<ActionData>& action, ActionListener* listener) {
    if (listener == nullptr) {
        return;
    }
    listener->setReleased(false);
    std::lock_guard<std::recursive_mutex> guard(registry_->lock);
    registry_->actionListeners[action->getId()] = listener;
}

void CallbackDispatcher::addEventListener(EventListener* listener) {
    if (listener == nullptr) {
        return;
    }
    listener->setReleased(false);
    std::lock_guard<std::recursive_mutex> guard(registry_->lock);
    registry_->eventListeners.insert(listener);
}

void CallbackDispatcher::removeEventListener(EventListener* listener) {
    if (listener == nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(registry_->lock);
    if (registry_->eventListeners.erase(listener) > 0) {
        listener->setReleased(true);
    }
}

void CallbackDispatcher::addGlobalActionListener(ActionListener* listener) {
    if (listener == nullptr) {
        return;
    }
    listener->setReleased(false);
    std::lock_guard<std::recursive_mutex> guard(registry_->lock);
    registry_->globalActionListeners.insert(listener);
}

void CallbackDispatcher::removeGlobalActionListener(ActionListener* listener) {
    if (listener == nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(registry_->lock);
    if (registry_->globalActionListeners.erase(listener) > 0) {
        listener->setReleased(true);
    }
}

void CallbackDispatcher::shutdown() {
    TaskManager* released = nullptr;
    {
        std::lock_guard<std::mutex> guard(taskManagerLock_);
        if (!ownsTaskManager_) {
            // A post still under way (perhaps the very one whose listener shuts down) lets the
            // application's task manager go when it is done with it.
            if (postsInFlight_ == 0) {
                released = taskManager_;
            } else {
                pendingRelease_ = taskManager_;
            }
            taskManager_ = new SynchronousTaskManager();
            ownsTaskManager_ = true;
        }
    }
    if (released != nullptr) {
        released->setReleased(true);
    }
    std::lock_guard<std::recursive_mutex> guard(registry_->lock);
    ++registry_->shutdowns;
    for (ActionListener* listener : registry_->globalActionListeners) {
        listener->setReleased(true);
    }
    for (auto& entry : registry_->actionListeners) {
        entry.second->setReleased(true);
    }
    for (EventListener* listener : registry_->eventListeners) {
        listener->setReleased(true);
    }
    registry_->globalActionListeners.clear();
    registry_->actionListeners.clear();
    registry_->eventListeners.clear();
}

void CallbackDispatcher::post(Task task) {
    std::unique_lock<std::mutex> guard(taskManagerLock_);
    TaskManager* taskManager = taskManager_;
    if (ownsTaskManager_) {
        // Our own synchronous manager is never replaced while the dispatcher lives.
        guard.unlock();
        taskManager->post(std::move(task));
        return;
    }
    // Never post under the lock: a synchronous task manager runs the listener inside post,
    // and the listener may shut the dispatcher down or report again on this thread.
    ++postsInFlight_;
    guard.unlock();
    taskManager->post(std::move(task));
    guard.lock();
    TaskManager* released = nullptr;
    if (--postsInFlight_ == 0 && pendingRelease_ != nullptr) {
        released = pendingRelease_;
        pendingRelease_ = nullptr;
    }
    guard.unlock();
    if (released != nullptr) {
        released->setReleased(true);
    }
}

void CallbackDispatcher::deliver(Registry& registry, Notification notification,
                                 const std::shared_ptr<ActionData>& action) {
    auto call = [&](ActionListener* listener) {
        switch (notification) {
            case Notification::START:
                listener->onActionStart(action);
                break;
            case Notification::PROCESSED:
                listener->onActionProcessed(action);
                break;
            case Notification::PROGRESS:
                listener->onActionProgress(action);
                break;
            case Notification::FAILURE:
                listener->onActionError(action);
                break;
            case Notification::FINISH:
                listener->onActionFinish(action);
                break;
        }
    };

    std::lock_guard<std::recursive_mutex> guard(registry.lock);
    auto entry = registry.actionListeners.find(action->getId());
    if (entry != registry.actionListeners.end()) {
        ActionListener* listener = entry->second;
        const uint64_t shutdowns = registry.shutdowns;
        call(listener);
        // A listener that shut the dispatcher down from inside the call was released there; a
        // second release could reach an object its owner has already destroyed.
        if (notification == Notification::FINISH && registry.shutdowns == shutdowns) {
            listener->setReleased(true);
            // The listener may have registered again for this id meanwhile; erase only the
            // registration that just ended.
            entry = registry.actionListeners.find(action->getId());
            if (entry != registry.actionListeners.end() && entry->second == listener) {
                registry.actionListeners.erase(entry);
            }
        }
    }
    // A listener may add or remove global listeners from inside the call; walk a copy.
    std::set<ActionListener*> globals = registry.globalActionListeners;
    for (ActionListener* listener : globals) {
        if (registry.globalActionListeners.count(listener) > 0) {
            call(listener);
        }
    }
}

void CallbackDispatcher::postAction(Notification notification, std::shared_ptr<ActionData> action) {
    post([registry = registry_, notification, action = std::move(action)]() {
        deliver(*registry, notification, action);
    });
}

void CallbackDispatcher::onActionStart(std::shared_ptr<ActionData> action) {
    postAction(Notification::START, std::move(action));
}

void CallbackDispatcher::onActionProcessed(std::shared_ptr<ActionData> action) {
    postAction(Notification::PROCESSED, std::move(action));
}

void CallbackDispatcher::onActionProgress(std::shared_ptr<ActionData> action) {
    postAction(Notification::PROGRESS, std::move(action));
}

void CallbackDispatcher::onActionError(std::shared_ptr<ActionData> action) {
    postAction(Notification::FAILURE, std::move(action));
}

void CallbackDispatcher::onActionFinish(std::shared_ptr<ActionData> action) {
    postAction(Notification::FINISH, std::move(action));
}

void CallbackDispatcher::onEvent(std::shared_ptr<EventData> event) {
    post([registry = registry_, event = std::move(event)]() {
        std::lock_guard<std::recursive_mutex> guard(registry->lock);
        std::set<EventListener*> listeners = registry->eventListeners;
        for (EventListener* listener : listeners) {
            if (registry->eventListeners.count(listener) > 0) {
                listener->onEvent(event);
            }
        }
    });
}

}  // namespace corvane
