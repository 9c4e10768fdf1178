#pragma once

#include <gtest/gtest.h>

#include "stand_in_service.h"
#include "util/deployment.h"

namespace corvane {
namespace test {

// Base of test suites that talk to the loopback stand-in over libcurl: loopback exchanges must
// not go to a proxy of the machine the tests run on, and libcurl is set up once per suite.
class LoopbackTransportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
};

// Points the process-wide deployment values at a stand-in while it lives and restores the
// previous values afterwards. Without the CA file, only the pin makes the stand-in's
// self-signed key acceptable.
class StandInDeployment {
public:
    enum class Trust { PinOnly, CaFile };

    StandInDeployment(const service::StandInService& service, Trust trust);
    ~StandInDeployment();

    StandInDeployment(const StandInDeployment&) = delete;
    StandInDeployment& operator=(const StandInDeployment&) = delete;

private:
    Deployment saved_;
};

}  // namespace test
}  // namespace corvane
