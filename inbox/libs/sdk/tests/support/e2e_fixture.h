#pragma once

#include <functional>
#include <future>
#include <memory>

#include <gtest/gtest.h>

#include "execution/callback_dispatcher.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "support/e2e_api_manager.h"
#include "support/stand_in_deployment.h"

namespace corvane {
namespace test {

// A stand-in on loopback, the deployment pointed at it (pin only), a running SDK main loop and
// an API manager on it.
class EndToEndTest : public LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<StandInDeployment>(service_, StandInDeployment::Trust::PinOnly);
        mainLoop_.start();
        manager_ = std::make_unique<E2eApiManager>(&dispatcher_, &mainLoop_);
    }

    void TearDown() override {
        // As the SDK does: the main loop stops before the modules go.
        mainLoop_.stop();
        mainLoop_.join();
        manager_.reset();
        service_.stop();
        deployment_.reset();
    }

    // Runs the task on the main loop and waits until it has run.
    void onMain(const std::function<void()>& task) {
        std::promise<void> done;
        mainLoop_.post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }

    service::StandInService service_;
    std::unique_ptr<StandInDeployment> deployment_;
    LibuvLoop mainLoop_;
    // Delivers on the reporting thread (the main loop).
    CallbackDispatcher dispatcher_;
    std::unique_ptr<E2eApiManager> manager_;
};

}  // namespace test
}  // namespace corvane
