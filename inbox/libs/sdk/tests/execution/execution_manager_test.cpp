#include "execution/execution_manager.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/recording_listeners.h"

namespace corvane {
namespace {

// A local request whose local phase waits until the test finishes it.
class HeldRequest : public Request {
public:
    HeldRequest(std::string name, std::shared_ptr<MutableActionData> data, std::vector<std::string>* applied)
        : Request(std::move(data)), name_(std::move(name)), applied_(applied) {}
    void applyResults(RequestHost*) override { applied_->push_back(name_); }
    const char* getName() const override { return name_.c_str(); }

private:
    std::string name_;
    std::vector<std::string>* applied_;
};

class HeldNetworkRequest : public NetworkRequest {
public:
    HeldNetworkRequest(std::string name, std::vector<std::string>* applied)
        : NetworkRequest(nullptr), name_(std::move(name)), applied_(applied) {}
    void applyResults(RequestHost*) override { applied_->push_back(name_); }
    const char* getName() const override { return name_.c_str(); }
    std::string messageToString(const uint8_t*) override { return {}; }
    std::string responseToString(const uint8_t*) override { return {}; }
    const char* getMessageSchema() override { return ""; }
    const char* getResponseSchema() override { return ""; }
    bool verify(const uint8_t*, uint32_t) override { return true; }
    bool processFlatbuffer(const uint8_t*, uint32_t) override { return true; }

private:
    std::string name_;
    std::vector<std::string>* applied_;
};

using test::CountingRequestListener;

class ExecutionManagerTest : public ::testing::Test {
protected:
    ExecutionManagerTest() : executionManager(std::make_unique<ExecutionManager>(&manager)) {
        manager.executionManager = executionManager.get();
    }

    std::shared_ptr<MutableActionData> action(int32_t type) {
        auto data = std::make_shared<MutableActionData>(type);
        data->setSequenceId(++nextSequenceId);
        return data;
    }

    std::shared_ptr<HeldRequest> held(const std::string& name, std::shared_ptr<MutableActionData> data = nullptr) {
        return std::make_shared<HeldRequest>(name, std::move(data), &applied);
    }

    void destroyExecutionManager() {
        executionManager.reset();
        manager.executionManager = nullptr;
    }

    test::LogCapture log;
    test::FakeApiManager manager;
    std::unique_ptr<ExecutionManager> executionManager;
    std::vector<std::string> applied;
    CountingRequestListener requestListener;
    int32_t nextSequenceId = 0;
};

TEST_F(ExecutionManagerTest, WrongActionTypeIsDroppedSilently) {
    auto tooHigh = std::make_shared<MutableActionData>(ACTION_TYPE_COUNT);
    tooHigh->setSequenceId(5);
    auto negative = std::make_shared<MutableActionData>(-1);
    negative->setSequenceId(6);
    executionManager->enqueueAction(tooHigh);
    executionManager->enqueueAction(negative);
    manager.loop.runTasks();
    EXPECT_TRUE(log.contains("[exemngr][5]: Wrong action type: 106"));
    EXPECT_TRUE(log.contains("[exemngr][6]: Wrong action type: -1"));
    EXPECT_TRUE(manager.notifications.empty());
}

// The facade's shutdown waits for DESTROY: it must run through the local queue and finish.
TEST_F(ExecutionManagerTest, DestroyRunsEndToEnd) {
    auto destroy = action(DESTROY);
    executionManager->enqueueAction(destroy);
    manager.loop.runTasks();
    EXPECT_EQ(manager.notifications, (std::vector<std::string>{"start:1:0", "processed:1:0", "finish:1:0"}));
    EXPECT_EQ(manager.resetCount, 1);
    EXPECT_TRUE(manager.session.empty());
    EXPECT_TRUE(log.contains("[exemngr][1]Destroy: Local request start"));
    EXPECT_TRUE(log.contains("[exemngr][1]Destroy: Request running"));
    EXPECT_FALSE(log.contains("prematurely"));
}

TEST_F(ExecutionManagerTest, ActionsRunInAcceptanceOrderAndEachFinishes) {
    executionManager->enqueueAction(action(BALANCES_INFO));
    executionManager->enqueueAction(action(BALANCES_INFO));
    manager.loop.runTasks();
    EXPECT_EQ(manager.notifications, (std::vector<std::string>{"start:1:9", "processed:1:9", "finish:1:9", "start:2:9",
                                                               "processed:2:9", "finish:2:9"}));
}

TEST_F(ExecutionManagerTest, RefusedChecksFinishThroughTheNormalPath) {
    manager.session.clear();
    executionManager->enqueueAction(action(USER_INFO));
    manager.loop.runTasks();
    EXPECT_EQ(manager.notifications, (std::vector<std::string>{"start:1:2", "processed:1:2", "finish:1:2"}));
}

TEST_F(ExecutionManagerTest, LocalRequestsRunOneAtATime) {
    auto first = held("First");
    auto second = held("Second");
    executionManager->enqueueLocalRequest(first, &requestListener);
    executionManager->enqueueLocalRequest(second, &requestListener);
    EXPECT_EQ(applied, (std::vector<std::string>{"First"}));
    first->notifyFinished();
    EXPECT_EQ(applied, (std::vector<std::string>{"First", "Second"}));
    second->notifyFinished();
    EXPECT_EQ(requestListener.finishedCount, 2);
    EXPECT_FALSE(log.contains("prematurely"));
}

// Out of turn, the processed request itself leaves the API queue; the first keeps its place.
TEST_F(ExecutionManagerTest, ApiQueueMismatchRemovesTheProcessedRequest) {
    auto first = std::make_shared<HeldNetworkRequest>("First", &applied);
    auto second = std::make_shared<HeldNetworkRequest>("Second", &applied);
    executionManager->enqueueApiRequest(first, &requestListener);
    executionManager->enqueueApiRequest(second, &requestListener);
    second->notifyProcessed();
    EXPECT_TRUE(log.contains("[exemngr][0]Second: Request mismatch -> [0]First"));
    EXPECT_EQ(applied, (std::vector<std::string>{"Second"}));
    EXPECT_EQ(requestListener.processedCount, 1);

    first->notifyProcessed();
    EXPECT_FALSE(log.contains("[exemngr][0]First: Request mismatch"));
    auto stray = std::make_shared<HeldNetworkRequest>("Stray", &applied);
    stray->setListener(executionManager.get());
    stray->notifyProcessed();
    EXPECT_TRUE(log.contains("[exemngr][0]Stray: Unexpected callback"));

    second->notifyFinished();
    EXPECT_EQ(applied, (std::vector<std::string>{"Second", "First"}));
    first->notifyFinished();
    EXPECT_EQ(applied, (std::vector<std::string>{"Second", "First", "Stray"}));
    stray->notifyFinished();
    EXPECT_TRUE(log.contains("[exemngr][0]Stray: Request listener not found"));
}

TEST_F(ExecutionManagerTest, EarlyFinishIsAnErrorUnlessASessionEnds) {
    struct Case {
        int32_t runningType;
        bool errorLine;
    };
    for (const Case& c : {Case{LOGOUT, false}, Case{DESTROY, false}, Case{TEST, true}}) {
        SCOPED_TRACE(getActionTypeName(c.runningType));
        test::LogCapture caseLog;
        auto running = held("Running", action(c.runningType));
        auto waiting = held("Waiting");
        executionManager->enqueueLocalRequest(running, &requestListener);
        executionManager->enqueueLocalRequest(waiting, &requestListener);
        waiting->notifyFinished();
        EXPECT_EQ(caseLog.contains("[exemngr][0]Waiting: Processed request finished prematurely"), c.errorLine);
        running->notifyFinished();
        EXPECT_EQ(applied.back(), "Running") << "the early finisher must have left the queue";
        applied.clear();
    }
}

TEST_F(ExecutionManagerTest, LateOrForeignNotificationsAreDropped) {
    auto destroy = action(DESTROY);
    executionManager->enqueueAction(destroy);
    manager.loop.runTasks();
    size_t delivered = manager.notifications.size();

    executionManager->onActionFinish(destroy);
    EXPECT_TRUE(log.contains("[action][1]DESTROY: Action not found"));

    auto running = action(TEST);
    auto blocker = held("Blocker");
    executionManager->enqueueLocalRequest(blocker, nullptr);
    manager.session.clear();
    executionManager->enqueueAction(running);  // ends with 2, stays running until its finish runs
    auto sameIdOtherType = std::make_shared<MutableActionData>(LOGIN);
    sameIdOtherType->setSequenceId(running->getSequenceId());
    auto sameIdSameType = std::make_shared<MutableActionData>(TEST);
    sameIdSameType->setSequenceId(running->getSequenceId());
    executionManager->onActionProgress(sameIdOtherType);
    executionManager->onActionProgress(sameIdSameType);
    EXPECT_TRUE(log.contains("[action][2]LOGIN: Incorrect action type (TEST)"));
    EXPECT_TRUE(log.contains("[action][2]TEST: Wrong action pointer"));
    EXPECT_EQ(manager.notifications.size(), delivered);
    blocker->notifyFinished();
    manager.loop.runTasks();
}

TEST_F(ExecutionManagerTest, PersistentRequestKeepsItsEntries) {
    auto persistent = std::make_shared<HeldNetworkRequest>("Events", &applied);
    executionManager->addPersistentNetworkRequest(persistent, &requestListener);
    persistent->notifyProcessed();
    EXPECT_TRUE(log.contains("[exemngr][0]Events: Persistent request processed"));
    EXPECT_EQ(applied, (std::vector<std::string>{"Events"}));
    executionManager->finished(persistent);
    persistent->notifyProcessed();
    executionManager->finished(persistent);
    EXPECT_EQ(requestListener.finishedCount, 2);
    EXPECT_FALSE(log.contains("Request listener not found"));
}

// Queued local requests are failed while the processors that issued them still exist; a
// request that already finished must not keep the failing loop spinning.
TEST_F(ExecutionManagerTest, DestructionFailsQueuedRequestsBeforeDeletingProcessors) {
    auto blocker = held("Blocker");
    executionManager->enqueueLocalRequest(blocker, &requestListener);
    auto alreadyFinished = held("Finished");
    alreadyFinished->notifyFinished();
    executionManager->enqueueLocalRequest(alreadyFinished, &requestListener);
    auto destroy = action(DESTROY);
    executionManager->enqueueAction(destroy);
    manager.loop.runTasks();  // processed; its request waits behind the blocker

    destroyExecutionManager();
    EXPECT_EQ(destroy->getErrorCode(), FORBIDDEN);
    EXPECT_TRUE(log.contains("[action][1]DESTROY: Action finished with error 2 (Forbidden)"));
    EXPECT_EQ(applied, (std::vector<std::string>{"Blocker"}));

    // The blocker outlives the manager; its late end must not reach it.
    blocker->notifyFinished();
}

TEST_F(ExecutionManagerTest, ShutdownWithWorkInFlight) {
    auto network = std::make_shared<HeldNetworkRequest>("Network", &applied);
    executionManager->enqueueApiRequest(network, &requestListener);
    auto local = held("Local");
    executionManager->enqueueLocalRequest(local, &requestListener);
    executionManager->enqueueAction(action(GET_NODES));
    executionManager->enqueueAction(action(DESTROY));
    destroyExecutionManager();
    network->notifyProcessed();
    network->notifyFinished();
    local->notifyFinished();
    EXPECT_EQ(requestListener.finishedCount, 0);
}

}  // namespace
}  // namespace corvane
