#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "action/account_action.h"
#include "cloud/cloud.h"
#include "request/cloud_request.h"
#include "request/session_request.h"
#include "support/fake_api_manager.h"
#include "support/recording_listeners.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

class SessionActionTest : public ::testing::Test {
protected:
    std::shared_ptr<MutableActionData> record(int32_t type) {
        auto data = std::make_shared<MutableActionData>(type);
        data->setSequenceId(3);
        data->setValue(-1);
        return data;
    }

    test::FakeApiManager manager;
    std::vector<std::string> calls;
    test::RecordingActionListener listener{&calls};
};

TEST_F(SessionActionTest, CurrentEmailAnswersLocallyOrWithNotFound) {
    for (const std::string email : {"ada@example.test", ""}) {
        SCOPED_TRACE(email);
        calls.clear();
        manager.email = email;
        CurrentEmailAction processor(&manager, &manager.loop, &listener);
        auto data = record(CURRENT_EMAIL);
        processor.process(data);
        manager.loop.runTasks();
        EXPECT_EQ(calls, (std::vector<std::string>{"processed", "finish"}));
        EXPECT_EQ(data->getErrorCode(), email.empty() ? NOT_FOUND : 0);
        EXPECT_EQ(std::string(data->getEmail() != nullptr ? data->getEmail() : ""), email);
        EXPECT_TRUE(manager.requests.empty());
    }
}

// The saved-session and recovery ways need no derivation: the request goes out at once.
TEST_F(SessionActionTest, SessionAndRecoveryWaysSendTheLoginAtOnce) {
    LoginAction processor(&manager, &manager.loop, &listener);
    auto bySession = record(LOGIN);
    bySession->setSession(std::string(44, 'a').c_str());
    auto byRecovery = record(LOGIN);
    byRecovery->setEmail("ada@example.test");
    byRecovery->setPassword("recovery key");
    byRecovery->setText("recovery-id");
    byRecovery->setOption(7);
    for (const auto& data : {bySession, byRecovery}) {
        EXPECT_TRUE(processor.validate(data));
        processor.process(data);
    }
    manager.loop.runTasks();
    ASSERT_EQ(manager.requests.size(), 2u);
    std::unique_ptr<ByteArray> keep;
    const auto* first = test::messageOf<LoginMessage>(static_cast<NetworkRequest&>(*manager.requests[0]), keep, "LOIM");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->session(), nullptr);
    EXPECT_EQ(first->session()->str(), "a");
    std::unique_ptr<ByteArray> keepSecond;
    const auto* second =
        test::messageOf<LoginMessage>(static_cast<NetworkRequest&>(*manager.requests[1]), keepSecond, "LOIM");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->recoveryId()->str(), "recovery-id");
    EXPECT_EQ(second->pin(), 7);
    EXPECT_EQ(calls, (std::vector<std::string>{"processed", "processed"}));
}

// The contacts root's request comes back to the sign-in handler with a carrier of its own:
// it finishes nothing and starts nothing.
TEST_F(SessionActionTest, TheContactsRootRequestEndsNothing) {
    LoginAction processor(&manager, &manager.loop, &listener);
    auto carrier = std::make_shared<MutableActionData>(LOGIN);
    // So that a finish sent for it would be delivered and seen.
    carrier->setProcessed();
    processor.finished(std::make_shared<AddNodesRequest>(carrier, std::make_shared<Cloud::EncryptedNodeList>(), 0));
    manager.loop.runTasks();
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(manager.requests.empty());
    EXPECT_FALSE(carrier->isFinished());
}

TEST_F(SessionActionTest, ASignInThatIsNotTheFirstFinishesWithoutARoot) {
    LoginAction processor(&manager, &manager.loop, &listener);
    for (int32_t version : {1, 0}) {
        SCOPED_TRACE(version);
        calls.clear();
        auto data = record(LOGIN);
        data->setValue(version);
        // Any error ends the sign-in, with or without a session installed.
        data->setError(Error(version == 0 ? INVOICING_INFO_ERROR : SUCCESS));
        data->setProcessed();
        processor.finished(std::make_shared<LoginRequest>(data));
        manager.loop.runTasks();
        EXPECT_EQ(calls, std::vector<std::string>{"finish"});
        EXPECT_TRUE(manager.requests.empty());
    }
}

}  // namespace
}  // namespace corvane
