#include "action/action_processor.h"

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "request/request.h"
#include "util/log.h"

namespace corvane {

namespace {
constexpr int32_t kReadOnlyAccessLevel = 1;
}  // namespace

ActionProcessor::ActionProcessor(ApiManager* manager, TaskManager* loop, ActionListener* listener)
    : manager_(manager), listener_(listener), loop_(loop) {
}

ActionProcessor::~ActionProcessor() = default;

bool ActionProcessor::start(const ActionRecord& data) {
    notifyStart(data);
    if (validate(data)) {
        return true;
    }
    endWithError(data, Error(WRONG_PARAMETERS));
    return false;
}

bool ActionProcessor::checkSession(const ActionRecord& data) {
    if (!needsSession(data) || !manager_->getSession().empty()) {
        return true;
    }
    endWithError(data, Error(FORBIDDEN));
    return false;
}

bool ActionProcessor::checkAccess(const ActionRecord& data) {
    if (!needsWriteAccess(data) || manager_->getAccessLevel() != kReadOnlyAccessLevel) {
        return true;
    }
    endWithError(data, Error(FORBIDDEN));
    return false;
}

void ActionProcessor::endWithError(const ActionRecord& data, Error error) {
    // Stored first: a listener told in-line looks at the record during notifyProcessed.
    data->setError(error);
    notifyProcessed(data);
    notifyFinish(data);
}

void ActionProcessor::endUnavailable(const ActionRecord& data) {
    CLOG_WARN("[action][{}]{}: Operation not available yet", data->getSequenceId(), data->getTypeName());
    endWithError(data, Error(UNKNOWN_ERROR));
}

void ActionProcessor::withCachedNode(const ActionRecord& data, uint64_t handle,
                                     std::function<void(Cloud*, const std::shared_ptr<MutableNodeData>&)> then) {
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        endUnavailable(data);
        return;
    }
    cloud->getNodeById(handle, [this, cloud, data, then = std::move(then)](Cloud::NodePointer node) {
        if (!node) {
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        then(cloud, node);
    });
}

// The tasks hold the listener and the record, not the processor: they run later on the
// main loop and need nothing else.
void ActionProcessor::post(Task task) {
    TaskManager::postOrRun(loop_, task);
}

void ActionProcessor::notifyUnlessFinished(ActionRecord data, const char* stage,
                                           void (ActionListener::*handler)(std::shared_ptr<ActionData>)) {
    if (listener_ == nullptr) {
        return;
    }
    post([listener = listener_, data, stage, handler]() {
        if (data->isFinished()) {
            CLOG_WARN("[action][{}]{}: Action finished during {}", data->getSequenceId(), data->getTypeName(), stage);
            return;
        }
        (listener->*handler)(data);
    });
}

void ActionProcessor::notifyStart(ActionRecord data) {
    CLOG_INFO("[action][{}]{}: Action start", data->getSequenceId(), data->getTypeName());
    notifyUnlessFinished(std::move(data), "startup", &ActionListener::onActionStart);
}

void ActionProcessor::notifyProcessed(ActionRecord data) {
    if (listener_ == nullptr) {
        return;
    }
    post([listener = listener_, data]() {
        if (data->isProcessed()) {
            CLOG_WARN("[action][{}]{}: Action processed multiple times", data->getSequenceId(), data->getTypeName());
            return;
        }
        data->setProcessed();
        listener->onActionProcessed(data);
    });
}

void ActionProcessor::notifyProgress(ActionRecord data) {
    notifyUnlessFinished(std::move(data), "execution", &ActionListener::onActionProgress);
}

void ActionProcessor::notifyError(ActionRecord data) {
    notifyUnlessFinished(std::move(data), "execution", &ActionListener::onActionError);
}

void ActionProcessor::notifyFinish(ActionRecord data) {
    if (data->getErrorCode() == SUCCESS) {
        CLOG_INFO("[action][{}]{}: Action finished OK", data->getSequenceId(), data->getTypeName());
    } else {
        CLOG_DEBUG("[action][{}]{}: Action finished with error {} ({})", data->getSequenceId(), data->getTypeName(),
                   data->getErrorCode(), data->getErrorMessage());
    }
    if (listener_ == nullptr) {
        return;
    }
    post([listener = listener_, data]() {
        if (data->isFinished()) {
            CLOG_WARN("[action][{}]{}: Action finished before completion", data->getSequenceId(), data->getTypeName());
            return;
        }
        if (!data->isProcessed()) {
            CLOG_WARN("[action][{}]{}: Action finished without being processed", data->getSequenceId(),
                      data->getTypeName());
            return;
        }
        data->setFinished();
        if (data->getType() == BACKUP && data->getExtraListener() != nullptr) {
            data->getExtraListener()->onActionFinish(data);
        }
        listener->onActionFinish(data);
    });
}

void RequestActionProcessor::finished(std::shared_ptr<Request> request) {
    if (ActionRecord data = request->getActionData()) {
        notifyFinish(std::move(data));
    }
}

}  // namespace corvane
