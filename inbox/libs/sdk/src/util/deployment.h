#pragma once

#include <string>

namespace corvane {

// Where the service lives. The compiled defaults are the production values; the environment
// (read once, on first use) or a test can point the SDK at another service, such as the
// loopback stand-in, without code edits.
struct Deployment {
    std::string apiBaseUrl;  // the batch endpoint (CORVANE_API_URL)
    std::string apiPin;      // public-key pin of the batch endpoint, "sha256//..." (CORVANE_API_PIN)
    std::string webAddress;  // scheme and host of the web pages used in links, no trailing slash (CORVANE_WEB_URL)
    std::string caFile;      // extra CA certificates for unpinned exchanges, empty for none (CORVANE_CA_FILE)
};

extern const char* const kDefaultApiBaseUrl;
extern const char* const kDefaultApiPin;
extern const char* const kDefaultWebAddress;

// A copy of the process-wide deployment values. Safe from any thread.
Deployment getDeployment();

// Replaces the process-wide deployment values (tests and start-up only).
void setDeployment(const Deployment& deployment);

}  // namespace corvane
