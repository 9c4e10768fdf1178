#include "execution/execution_manager.h"

#include <algorithm>

#include "api/api_manager.h"
#include "corvane/action_types.h"
#include "request/request.h"
#include "util/log.h"

namespace corvane {

ExecutionManager::ExecutionManager(ApiManager* manager) : manager_(manager) {
    processors_.reserve(ACTION_TYPE_COUNT);
    for (int32_t type = 0; type < ACTION_TYPE_COUNT; ++type) {
        processors_.emplace_back(directory_.createProcessor(uint32_t(type), manager_, manager_->getLoop(),
                                                            static_cast<ActionListener*>(this)));
    }
}

ExecutionManager::~ExecutionManager() {
    CLOG_DEBUG("Deleting execution manager");
    closing_ = true;
    // The failed requests report their end to the issuing processors, so those must still
    // exist: fail the queue first, then delete the processors.
    cancelLocalRequests();
    // Requests that outlive this object (held by the channel or by a continuation) must not
    // report to it any more.
    for (const auto& entry : requestListeners_) {
        entry.first->setListener(nullptr);
    }
    if (runningLocalRequest_) {
        runningLocalRequest_->setListener(nullptr);
    }
    processors_.clear();
}

bool ExecutionManager::removeFrom(std::deque<std::shared_ptr<Request>>& queue,
                                  const std::shared_ptr<Request>& request) {
    auto entry = std::find(queue.begin(), queue.end(), request);
    if (entry == queue.end()) {
        return false;
    }
    queue.erase(entry);
    return true;
}

ActionProcessor* ExecutionManager::processorOf(int32_t type) const {
    if (type < 0 || type >= int32_t(processors_.size())) {
        return nullptr;
    }
    return processors_[size_t(type)].get();
}

void ExecutionManager::enqueueAction(std::shared_ptr<MutableActionData> action) {
    if (processorOf(action->getType()) == nullptr) {
        CLOG_ERROR("[exemngr][{}]: Wrong action type: {}", action->getSequenceId(), action->getType());
        return;
    }
    runningActions_[action->getSequenceId()] = action;
    pendingActions_.push_back(std::move(action));
    runManagedTasks();
}

void ExecutionManager::enqueueApiRequest(std::shared_ptr<Request> request, RequestListener* listener) {
    CLOG_INFO("[exemngr][{}]{}: API request start", request->getActionId(), request->getName());
    apiQueue_.push_back(request);
    request->setListener(this);
    requestListeners_[request] = listener;
}

void ExecutionManager::enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener) {
    CLOG_INFO("[exemngr][{}]{}: Local request start", request->getActionId(), request->getName());
    localQueue_.push_back(request);
    request->setListener(this);
    requestListeners_[request] = listener;
    runManagedTasks();
}

void ExecutionManager::addPersistentNetworkRequest(std::shared_ptr<Request> request, RequestListener* listener) {
    CLOG_INFO("[exemngr][{}]{}: Persistent request added", request->getActionId(), request->getName());
    persistentRequests_.insert(request);
    request->setListener(this);
    requestListeners_[request] = listener;
}

void ExecutionManager::cancelLocalRequests() {
    while (!localQueue_.empty()) {
        std::shared_ptr<Request> request = localQueue_.front();
        // A request that already finished cannot be failed again and would never leave the
        // queue through finished; take it out here.
        if (!request->isFinished()) {
            request->onError(Error(FORBIDDEN));
        }
        if (!localQueue_.empty() && localQueue_.front() == request) {
            localQueue_.pop_front();
            requestListeners_.erase(request);
        }
    }
}

bool ExecutionManager::isActionValid(const std::shared_ptr<ActionData>& action) {
    auto entry = runningActions_.find(action->getSequenceId());
    if (entry == runningActions_.end()) {
        CLOG_WARN("[action][{}]{}: Action not found", action->getSequenceId(), action->getTypeName());
        return false;
    }
    if (entry->second->getType() != action->getType()) {
        CLOG_ERROR("[action][{}]{}: Incorrect action type ({})", action->getSequenceId(), action->getTypeName(),
                   entry->second->getTypeName());
        return false;
    }
    if (entry->second != action) {
        CLOG_ERROR("[action][{}]{}: Wrong action pointer", action->getSequenceId(), action->getTypeName());
        return false;
    }
    return true;
}

void ExecutionManager::runManagedTasks() {
    if (closing_) {
        return;
    }
    if (!runningLocalRequest_ && !localQueue_.empty()) {
        runningLocalRequest_ = localQueue_.front();
        localQueue_.pop_front();
        CLOG_INFO("[exemngr][{}]{}: Request running", runningLocalRequest_->getActionId(),
                  runningLocalRequest_->getName());
        // Hold it: applyResults may finish it at once, which clears the running slot.
        std::shared_ptr<Request> request = runningLocalRequest_;
        request->applyResults(manager_);
    }
    while (!pendingActions_.empty()) {
        currentAction_ = pendingActions_.front();
        pendingActions_.pop_front();
        std::shared_ptr<MutableActionData> action = currentAction_;
        ActionProcessor* processor = processorOf(action->getType());
        if (processor->start(action) && processor->checkSession(action) && processor->checkAccess(action)) {
            processor->process(action);
        }
    }
}

void ExecutionManager::updated(std::shared_ptr<Request> request) {
    CLOG_DEBUG("[exemngr][{}]{}: API request update", request->getActionId(), request->getName());
    auto entry = requestListeners_.find(request);
    if (entry != requestListeners_.end() && entry->second != nullptr) {
        entry->second->updated(request);
    }
}

void ExecutionManager::processed(std::shared_ptr<Request> request) {
    CLOG_INFO("[exemngr][{}]{}: API request processed", request->getActionId(), request->getName());
    auto entry = requestListeners_.find(request);
    if (entry != requestListeners_.end() && entry->second != nullptr) {
        entry->second->processed(request);
    }
    if (persistentRequests_.count(request) > 0) {
        CLOG_INFO("[exemngr][{}]{}: Persistent request processed", request->getActionId(), request->getName());
    } else {
        auto position = std::find(apiQueue_.begin(), apiQueue_.end(), request);
        if (position == apiQueue_.end()) {
            CLOG_WARN("[exemngr][{}]{}: Unexpected callback", request->getActionId(), request->getName());
        } else {
            if (position != apiQueue_.begin()) {
                const std::shared_ptr<Request>& first = apiQueue_.front();
                CLOG_WARN("[exemngr][{}]{}: Request mismatch -> [{}]{}", request->getActionId(), request->getName(),
                          first->getActionId(), first->getName());
            }
            // Taking the first one instead would hand this request's place to every later one.
            apiQueue_.erase(position);
        }
    }
    localQueue_.push_back(request);
    runManagedTasks();
}

bool ExecutionManager::isSessionEndingActionRunning() const {
    if (!runningLocalRequest_) {
        return false;
    }
    std::shared_ptr<MutableActionData> action = runningLocalRequest_->getActionData();
    if (!action) {
        return false;
    }
    switch (action->getType()) {
        case LOGOUT:
        case LOGIN:
        case LOGIN_LINK:
        case JOIN_LINK:
        case REVOKE_ACCOUNT_ACCESS:
        case LOGOUT_LINK:
        case DELETE_ACCOUNT:
        case DESTROY:
            return true;
        default:
            return false;
    }
}

void ExecutionManager::finished(std::shared_ptr<Request> request) {
    CLOG_INFO("[exemngr][{}]{}: API request finished", request->getActionId(), request->getName());
    if (runningLocalRequest_ == request) {
        runningLocalRequest_.reset();
    } else if (removeFrom(localQueue_, request)) {
        // A request may end anywhere in a queue (the channel ends one without a message in the
        // middle of a batch); left there, it would shift every later request's turn.
        if (!isSessionEndingActionRunning()) {
            CLOG_ERROR("[exemngr][{}]{}: Processed request finished prematurely", request->getActionId(),
                       request->getName());
        }
    } else if (removeFrom(apiQueue_, request)) {
        if (!isSessionEndingActionRunning()) {
            CLOG_ERROR("[exemngr][{}]{}: Network request finished prematurely", request->getActionId(),
                       request->getName());
        }
    } else if (persistentRequests_.count(request) > 0) {
        if (!isSessionEndingActionRunning()) {
            CLOG_ERROR("[exemngr][{}]{}: Persistent request finished prematurely", request->getActionId(),
                       request->getName());
        }
    } else {
        CLOG_ERROR("[exemngr][{}]{}: Request unexpectedly finished", request->getActionId(), request->getName());
    }

    auto entry = requestListeners_.find(request);
    if (entry == requestListeners_.end()) {
        CLOG_ERROR("[exemngr][{}]{}: Request listener not found", request->getActionId(), request->getName());
    } else {
        RequestListener* listener = entry->second;
        if (persistentRequests_.count(request) == 0) {
            requestListeners_.erase(entry);
        }
        if (listener != nullptr) {
            listener->finished(request);
        }
    }
    runManagedTasks();
}

void ExecutionManager::onActionStart(std::shared_ptr<ActionData> action) {
    if (isActionValid(action)) {
        manager_->onActionStart(action);
    }
}

void ExecutionManager::onActionProcessed(std::shared_ptr<ActionData> action) {
    if (!isActionValid(action)) {
        return;
    }
    manager_->onActionProcessed(action);
    runManagedTasks();
}

void ExecutionManager::onActionProgress(std::shared_ptr<ActionData> action) {
    if (isActionValid(action)) {
        manager_->onActionProgress(action);
    }
}

void ExecutionManager::onActionError(std::shared_ptr<ActionData> action) {
    if (isActionValid(action)) {
        manager_->onActionError(action);
    }
}

void ExecutionManager::onActionFinish(std::shared_ptr<ActionData> action) {
    if (!isActionValid(action)) {
        return;
    }
    runningActions_.erase(action->getSequenceId());
    manager_->onActionFinish(action);
}

}  // namespace corvane
