// The API manager that builds and owns every module: construction and destruction, ids, the
// User-Agent, speed limits and a module loop that cannot start.
#include "client/sdk_api_manager.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "execution/callback_dispatcher.h"
#include "http/http_module.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "support/recording_listeners.h"
#include "support/run_on_loop.h"
#include "support/stand_in_deployment.h"

namespace corvane {
namespace {

// A stand-in on loopback with the deployment pointed at it, a running SDK main loop and a
// dispatcher that delivers on it; managers are made and destroyed the way the facade does (the
// main loop stops before its manager goes).
class SdkApiManagerTest : public test::LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::PinOnly);
        ASSERT_FALSE(mainLoop_.start());
    }

    void TearDown() override {
        mainLoop_.stop();
        mainLoop_.join();
        managers_.clear();
        service_.stop();
        deployment_.reset();
    }

    SdkApiManager* makeManager(const CorvaneSettings* settings = nullptr) {
        managers_.push_back(std::make_unique<SdkApiManager>(&dispatcher_, &mainLoop_, settings));
        return managers_.back().get();
    }

    template <typename Function>
    auto onMain(Function function) -> decltype(function()) {
        return test::runOnLoop(mainLoop_, std::move(function));
    }

    service::StandInService service_;
    std::unique_ptr<test::StandInDeployment> deployment_;
    LibuvLoop mainLoop_;
    CallbackDispatcher dispatcher_;
    std::vector<std::unique_ptr<SdkApiManager>> managers_;
};

TEST_F(SdkApiManagerTest, ConstructsAndDestroysRepeatedly) {
    for (int round = 0; round < 5; ++round) {
        SdkApiManager manager(&dispatcher_, &mainLoop_, nullptr);
        EXPECT_FALSE(manager.startError());
        EXPECT_NE(manager.getCloud(), nullptr);
        EXPECT_NE(manager.getExecutionManager(), nullptr);
        EXPECT_NE(manager.getHttpModule(), nullptr);
        EXPECT_EQ(manager.getLoop(), &mainLoop_);
        EXPECT_EQ(manager.getThreadId(), mainLoop_.getThreadId());
        EXPECT_EQ(manager.getAccountStatus(), 0u);
        EXPECT_TRUE(manager.getSession().empty());
    }
}

TEST_F(SdkApiManagerTest, TwoManagersHaveDistinctClientIdsAndShareTheSequenceCounter) {
    SdkApiManager* first = makeManager();
    SdkApiManager* second = makeManager();
    EXPECT_NE(first->getClientId(), second->getClientId());
    for (SdkApiManager* manager : {first, second}) {
        uint64_t id = manager->getClientId();
        EXPECT_EQ(id & 0xFF, 0u) << std::hex << id;
        EXPECT_EQ(id >> 56, 0u) << std::hex << id;
        EXPECT_NE(id, 0u);
    }

    test::RecordingActionListener listener(test::RecordingActionListener::Options{
        "", [](const ActionData& action) { return std::to_string(action.getSequenceId()); }, false, true, nullptr});
    std::vector<std::shared_ptr<MutableActionData>> actions;
    for (int i = 0; i < 4; ++i) {
        actions.push_back(dispatcher_.createAction(TEST, &listener));
    }
    // Alternating managers: the ids keep rising across both.
    onMain([&] {
        first->enqueueAction(actions[0]);
        second->enqueueAction(actions[1]);
        first->enqueueAction(actions[2]);
        second->enqueueAction(actions[3]);
    });
    listener.waitForFinishes(4);
    onMain([] {});
    for (size_t i = 1; i < actions.size(); ++i) {
        EXPECT_GT(actions[i]->getSequenceId(), actions[i - 1]->getSequenceId());
    }
    EXPECT_GT(actions[0]->getSequenceId(), 0);
}

TEST_F(SdkApiManagerTest, UserAgentNamesTheApplicationOnlyWhenGiven) {
    SdkApiManager* bare = makeManager();
    const std::string& text = bare->getUserAgent();
    const std::string prefix = "CorvaneSDK/2.1.0 (7438a6d2) Linux/";
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    const std::string suffix = " (x86)";
    ASSERT_GT(text.size(), prefix.size() + suffix.size());
    EXPECT_EQ(text.compare(text.size() - suffix.size(), suffix.size(), suffix), 0) << text;
    // major.minor.build in decimal.
    std::string version = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    int dots = 0;
    for (char c : version) {
        if (c == '.') {
            ++dots;
        } else {
            EXPECT_TRUE(c >= '0' && c <= '9') << version;
        }
    }
    EXPECT_EQ(dots, 2) << version;

    CorvaneSettings settings;
    settings.setUserAgent("Tembra/1.0.0.0");
    SdkApiManager* named = makeManager(&settings);
    EXPECT_EQ(named->getUserAgent(), "Tembra/1.0.0.0 " + text);
    EXPECT_EQ(named->getSettings().getUserAgent(), "Tembra/1.0.0.0");
}

TEST_F(SdkApiManagerTest, SpeedLimitsAreKilobytesPerSecondPerDirection) {
    SdkApiManager* manager = makeManager();
    manager->setTransferSpeedLimit(1, 500);
    EXPECT_EQ(manager->getHttpModule()->getDownloadSpeedLimit(), 500000u);
    EXPECT_EQ(manager->getTransferSpeedLimit(1), 500u);
    EXPECT_EQ(manager->getTransferSpeedLimit(0), 0u);

    manager->setTransferSpeedLimit(0, 7);
    EXPECT_EQ(manager->getHttpModule()->getUploadSpeedLimit(), 7000u);
    EXPECT_EQ(manager->getTransferSpeedLimit(0), 7u);

    manager->setTransferSpeedLimit(2, 900);
    EXPECT_EQ(manager->getTransferSpeedLimit(2), 0u);
    EXPECT_EQ(manager->getTransferSpeedLimit(1), 500u);
    EXPECT_EQ(manager->getTransferSpeedLimit(0), 7u);

    manager->setTransferSpeedLimit(1, 0);
    EXPECT_EQ(manager->getTransferSpeedLimit(1), 0u);
}

// Each of the five module loops in turn fails to start: the manager says so, ends requests with
// error 11 instead of posting them into a dead loop, and goes away without waiting.
TEST_F(SdkApiManagerTest, ModuleLoopThatCannotStartFailsRequestsAndStopsCleanly) {
    for (int failing = 1; failing <= 5; ++failing) {
        SCOPED_TRACE("failing start " + std::to_string(failing));
        std::atomic<int> starts{0};
        ThreadedLoop::setThreadStartHook([&starts, failing]() -> std::error_code {
            if (++starts == failing) {
                return std::make_error_code(std::errc::resource_unavailable_try_again);
            }
            return {};
        });
        auto manager = std::make_unique<SdkApiManager>(&dispatcher_, &mainLoop_, nullptr);
        ThreadedLoop::setThreadStartHook(nullptr);
        EXPECT_EQ(starts.load(), 5);
        EXPECT_EQ(manager->startError(), std::errc::resource_unavailable_try_again);

        test::RecordingActionListener listener;
        auto action = dispatcher_.createAction(TEST, &listener);
        onMain([&] { manager->enqueueAction(action); });
        listener.waitForFinishes(1);
        onMain([] {});
        EXPECT_EQ(listener.snapshot(), (std::vector<std::string>{"start", "processed", "finish"}));
        EXPECT_EQ(action->getErrorCode(), TEMPORARILY_UNAVAILABLE);
        onMain([&] { manager.reset(); });
    }
}

}  // namespace
}  // namespace corvane
