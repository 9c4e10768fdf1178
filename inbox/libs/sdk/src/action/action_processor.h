#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "corvane/task_manager.h"
#include "request/request_listener.h"

namespace corvane {

class ApiManager;
class Cloud;
class MutableNodeData;

using ActionRecord = std::shared_ptr<MutableActionData>;

// Base of the 106 action classes. A processor serves every action of its type and keeps no
// state of one run: that lives in the action's record, its requests and the closures of the
// run. Notifications may be sent from any thread; they are always posted to the SDK main
// loop, where the record's processed and finished flags are tested and set, so an action is
// reported processed at most once, finished at most once and never finished unprocessed.
class ActionProcessor {
public:
    ActionProcessor(ApiManager* manager, TaskManager* loop, ActionListener* listener);

    ActionProcessor(const ActionProcessor&) = delete;
    ActionProcessor& operator=(const ActionProcessor&) = delete;

    // The three checks, run in this order on the SDK main loop; false means the action has
    // already been ended with its error.
    virtual bool start(const ActionRecord& data);
    virtual bool checkSession(const ActionRecord& data);
    virtual bool checkAccess(const ActionRecord& data);
    // The action's work; every path ends with notifyProcessed and then notifyFinish.
    virtual void process(const ActionRecord& data) = 0;
    virtual int32_t getType() const = 0;
    virtual const char* getName() const = 0;
    virtual ~ActionProcessor();
    virtual bool validate(const ActionRecord& data) = 0;
    virtual bool needsSession(const ActionRecord& data) = 0;
    virtual bool needsWriteAccess(const ActionRecord& data) = 0;

    void notifyStart(ActionRecord data);
    void notifyProcessed(ActionRecord data);
    void notifyProgress(ActionRecord data);
    void notifyError(ActionRecord data);
    void notifyFinish(ActionRecord data);

protected:
    // Ends the action with the error: processed first, then finished.
    void endWithError(const ActionRecord& data, Error error);

    // Ends an action whose operation has no body in this build, so that nothing waits on it.
    void endUnavailable(const ActionRecord& data);

    // Hands the cached node of the handle on with the account's cloud model; ends the action
    // with 1 when the node is not cached, and as unavailable when there is no cloud model.
    void withCachedNode(const ActionRecord& data, uint64_t handle,
                        std::function<void(Cloud*, const std::shared_ptr<MutableNodeData>&)> then);

    // The record of a relayed notification; every record is created mutable.
    static ActionRecord asRecord(const std::shared_ptr<ActionData>& data) {
        return std::static_pointer_cast<MutableActionData>(data);
    }

    ApiManager* manager_;
    ActionListener* listener_;
    TaskManager* loop_;

private:
    void post(Task task);
    // Start, progress and error reports are dropped once the action has finished; the stage
    // names the moment in the warning.
    void notifyUnlessFinished(ActionRecord data, const char* stage,
                              void (ActionListener::*handler)(std::shared_ptr<ActionData>));
};

// Faces of the action classes beside the processor base.

// Hears of the requests it sends; the shared handler ends the action with whatever the
// request left in the record.
class RequestActionProcessor : public ActionProcessor, public RequestListener {
public:
    using ActionProcessor::ActionProcessor;
    void finished(std::shared_ptr<Request> request) override;
};

// Also hears of a transfer or sub-action it started; each class relays what it needs.
class RelayingRequestActionProcessor : public RequestActionProcessor, public ActionListener {
public:
    using RequestActionProcessor::RequestActionProcessor;
};

// Hears only of a sub-action it started.
class RelayingActionProcessor : public ActionProcessor, public ActionListener {
public:
    using ActionProcessor::ActionProcessor;
};

enum class Need { NO, YES, BY_RECORD };

// The parts that differ only by type: the type number and name, the fixed session and
// write-access answers (BY_RECORD: the class answers per record) and a body that is not
// available yet.
template <int32_t kType, Need kSession, Need kWrite, class Faces = RequestActionProcessor>
class TypedAction : public Faces {
    static_assert(kType >= 0 && kType < ACTION_TYPE_COUNT, "action type out of range");

public:
    using Faces::Faces;

    void process(const ActionRecord& data) override { this->endUnavailable(data); }
    int32_t getType() const override { return kType; }
    const char* getName() const override { return getActionTypeName(kType); }
    bool needsSession(const ActionRecord& data) override { return kSession == Need::YES; }
    bool needsWriteAccess(const ActionRecord& data) override { return kWrite == Need::YES; }
};

// Parameter checks shared by the families: a text is set when present, non-empty when it
// also has at least one character.
inline bool isSet(const char* text) {
    return text != nullptr;
}
inline bool isNonEmpty(const char* text) {
    return text != nullptr && text[0] != '\0';
}

}  // namespace corvane
