#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "client/corvane.h"
#include "cloud/cloud_test_support.h"
#include "corvane/action_data.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "stand_in_service.h"
#include "support/facade_access.h"
#include "support/stand_in_deployment.h"
#include "support/test_task_manager.h"

namespace corvane {
namespace test {

// What an action left when it finished, copied on the application's thread.
struct ActionOutcome {
    bool finished = false;
    int32_t error = -1;
    std::string text;
    std::string session;
    std::string email;
};

// Waits for one action's finish and keeps what it carried.
class OutcomeListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        outcome_.finished = true;
        outcome_.error = action->getErrorCode();
        outcome_.text = action->getTextString();
        outcome_.session = action->getSession() != nullptr ? action->getSession() : "";
        outcome_.email = action->getEmail() != nullptr ? action->getEmail() : "";
        finished_.notify_all();
    }

    ActionOutcome wait(std::chrono::seconds timeout = std::chrono::seconds(120)) {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait_for(lock, timeout, [&] { return outcome_.finished; });
        return outcome_;
    }

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    ActionOutcome outcome_;
};

// A fresh stand-in per test, the deployment pointed at it and one facade on it.
class FacadeFixture : public LoopbackTransportTest {
protected:
    using Fill = std::function<void(MutableActionData&)>;

    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<StandInDeployment>(service_, StandInDeployment::Trust::PinOnly);
        Corvane::globalInit("CorvaneTest", 7);
        // The signed-in account's cache goes into a folder the test removes again.
        settings_.setDataPath(dataDir_.path());
        facade_ = std::make_unique<Corvane>(&taskManager_, &settings_);
    }

    void TearDown() override {
        facade_.reset();
        taskManager_.drain();
        Corvane::globalCleanup();
        deployment_.reset();
        service_.stop();
    }

    // Runs one action of the type on the facade and waits for its finish.
    ActionOutcome run(int32_t type, const Fill& fill) { return run(*facade_, type, fill); }
    ActionOutcome run(Corvane& facade, int32_t type, const Fill& fill) {
        OutcomeListener listener;
        FacadeAccess::submit(facade, type, &listener, fill);
        ActionOutcome outcome = listener.wait();
        // The dispatcher still touches the listener after its finish call returns.
        taskManager_.drain();
        return outcome;
    }

    // VERIFY_EMAIL, then CREATE_ACCOUNT with its registration id: the new user is signed in.
    ActionOutcome registerUser(const std::string& email, const std::string& password) {
        ActionOutcome verified = run(VERIFY_EMAIL, [&](MutableActionData& a) {
            a.setEmail(email.c_str());
            a.setName("Ada");
            a.setExtraText("Lovelace");
        });
        EXPECT_EQ(verified.error, 0);
        if (verified.error != 0) {
            return verified;
        }
        return run(CREATE_ACCOUNT, [&](MutableActionData& a) {
            a.setText(verified.text.c_str());
            a.setName("Ada");
            a.setExtraText("Lovelace");
            a.setEmail(email.c_str());
            a.setPassword(password.c_str());
            a.setOption(1234);
        });
    }

    service::StandInService service_;
    std::unique_ptr<StandInDeployment> deployment_;
    CloudTempDir dataDir_;
    CorvaneSettings settings_;
    TestTaskManager taskManager_;
    std::unique_ptr<Corvane> facade_;
};

}  // namespace test
}  // namespace corvane
