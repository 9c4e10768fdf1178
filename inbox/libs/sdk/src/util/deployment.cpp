#include "util/deployment.h"

#include <cstdlib>
#include <mutex>

namespace corvane {

const char* const kDefaultApiBaseUrl = "https://api.corvane.com/api";
const char* const kDefaultApiPin = "sha256//Tq7vLm2XcR9sNw4KpZ1hYd6FbJ3gUe8oAi5rMx0tQn2=";
const char* const kDefaultWebAddress = "https://corvane.com";

namespace {

std::string fromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string(fallback);
}

std::mutex& deploymentMutex() {
    static std::mutex mutex;
    return mutex;
}

Deployment& current() {
    static Deployment deployment{
        fromEnvironment("CORVANE_API_URL", kDefaultApiBaseUrl),
        fromEnvironment("CORVANE_API_PIN", kDefaultApiPin),
        fromEnvironment("CORVANE_WEB_URL", kDefaultWebAddress),
        fromEnvironment("CORVANE_CA_FILE", ""),
    };
    return deployment;
}

}  // namespace

Deployment getDeployment() {
    std::lock_guard<std::mutex> lock(deploymentMutex());
    return current();
}

void setDeployment(const Deployment& deployment) {
    std::lock_guard<std::mutex> lock(deploymentMutex());
    current() = deployment;
}

}  // namespace corvane
