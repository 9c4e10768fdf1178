#include "support/stand_in_deployment.h"

#include <cstdlib>

#include "http/curl_http.h"

namespace corvane {
namespace test {

void LoopbackTransportTest::SetUpTestSuite() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
    CurlHttp::initialize();
}

void LoopbackTransportTest::TearDownTestSuite() {
    CurlHttp::cleanup();
}

StandInDeployment::StandInDeployment(const service::StandInService& service, Trust trust) : saved_(getDeployment()) {
    Deployment deployment = saved_;
    deployment.apiBaseUrl = service.apiUrl();
    deployment.apiPin = service.pin();
    deployment.caFile = trust == Trust::CaFile ? service.certificatePath() : std::string();
    setDeployment(deployment);
}

StandInDeployment::~StandInDeployment() {
    setDeployment(saved_);
}

}  // namespace test
}  // namespace corvane
