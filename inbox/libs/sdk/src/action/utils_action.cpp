#include "action/utils_action.h"

#include "api/api_manager.h"
#include "request/destroy_request.h"
#include "request/utils_request.h"

namespace corvane {

bool LogEventAction::validate(const ActionRecord& data) {
    return data->getOption() >= 4000 && data->getOption() <= 8999;
}

bool TestProxyAction::validate(const ActionRecord& data) {
    return isSet(data->getText()) || data->getOption() != 0;
}

bool SetProxyAction::validate(const ActionRecord& data) {
    return isSet(data->getText()) || data->getOption() != 0;
}

bool CrashReportAction::validate(const ActionRecord& data) {
    return isSet(data->getName());
}

bool UpdateAction::validate(const ActionRecord& data) {
    bool common = isSet(data->getName()) && data->getOption() != 0 && isSet(data->getText());
    switch (data->getNumber()) {
        case 1:
            return common && isSet(data->getLink()) && data->getUserPrivateKey() != nullptr;
        case 2:
            return common && isSet(data->getSession());
        case 3:
        case 4:
            return common && isSet(data->getLink()) && isSet(data->getEmail()) && isSet(data->getSession());
        default:
            return false;
    }
}

// Without an API manager there is nothing to send through; the action still ends cleanly.
void TestAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    if (manager_ == nullptr) {
        notifyFinish(data);
        return;
    }
    manager_->enqueueApiRequest(std::make_shared<TestRequest>(data), this);
}

// The facade's shutdown waits for this action, so every path must finish it.
void DestroyAction::process(const ActionRecord& data) {
    notifyProcessed(data);
    manager_->enqueueLocalRequest(std::make_shared<DestroyRequest>(data), this);
}

}  // namespace corvane
