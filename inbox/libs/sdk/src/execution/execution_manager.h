#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "action/action_directory.h"
#include "action/action_processor.h"
#include "corvane/action_listener.h"
#include "corvane/mutable_action_data.h"
#include "request/request_listener.h"

namespace corvane {

class ApiManager;

// The scheduler of one API manager: one processor per action type, the actions waiting for
// their checks, the requests in their network phase and those waiting for their local phase
// (applied one at a time). It also sits on the notification path and drops every action
// notification whose action is not the one it is running. Used only on the SDK main loop.
class ExecutionManager : public RequestListener, public ActionListener {
public:
    explicit ExecutionManager(ApiManager* manager);
    ~ExecutionManager() override;

    ExecutionManager(const ExecutionManager&) = delete;
    ExecutionManager& operator=(const ExecutionManager&) = delete;

    void enqueueAction(std::shared_ptr<MutableActionData> action);
    void enqueueApiRequest(std::shared_ptr<Request> request, RequestListener* listener);
    void enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener);
    void addPersistentNetworkRequest(std::shared_ptr<Request> request, RequestListener* listener);
    // Fails every request waiting for its local phase with error 2.
    void cancelLocalRequests();
    bool isActionValid(const std::shared_ptr<ActionData>& action);
    void runManagedTasks();

    void updated(std::shared_ptr<Request> request) override;
    void processed(std::shared_ptr<Request> request) override;
    void finished(std::shared_ptr<Request> request) override;

    void onActionStart(std::shared_ptr<ActionData> action) override;
    void onActionProcessed(std::shared_ptr<ActionData> action) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override;
    void onActionError(std::shared_ptr<ActionData> action) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override;

private:
    bool isSessionEndingActionRunning() const;
    ActionProcessor* processorOf(int32_t type) const;
    // Takes the request out wherever it stands; false when it is not there.
    static bool removeFrom(std::deque<std::shared_ptr<Request>>& queue, const std::shared_ptr<Request>& request);

    ApiManager* manager_;
    std::shared_ptr<Request> runningLocalRequest_;
    std::set<std::shared_ptr<Request>> persistentRequests_;
    std::deque<std::shared_ptr<Request>> apiQueue_;
    std::deque<std::shared_ptr<Request>> localQueue_;
    std::map<std::shared_ptr<Request>, RequestListener*> requestListeners_;
    std::shared_ptr<MutableActionData> currentAction_;
    ActionProcessorDirectory directory_;
    std::vector<std::unique_ptr<ActionProcessor>> processors_;
    std::map<int32_t, std::shared_ptr<ActionData>> runningActions_;
    std::deque<std::shared_ptr<MutableActionData>> pendingActions_;
    // Set by the destructor: nothing new may start while the last requests are failed.
    bool closing_ = false;
};

}  // namespace corvane
