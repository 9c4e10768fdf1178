// corvane-service: runs the loopback stand-in of the service until SIGINT or SIGTERM.
// Prints its address, its public-key pin and its certificate file, one per line.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "raw_bytes.h"
#include "stand_in_service.h"

namespace {

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s [--port N] [--data DIR]\n", program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    std::string dataDirectory;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            const auto value = corvane::service::parseLength(argv[++i]);
            if (!value || *value > 65535) return usage(argv[0]);
            port = static_cast<uint16_t>(*value);
        } else if (std::strcmp(argv[i], "--data") == 0 && hasValue) {
            dataDirectory = argv[++i];
        } else {
            return usage(argv[0]);
        }
    }

    // Blocked before any thread starts, so every thread inherits the mask and sigwait alone
    // receives the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    corvane::service::StandInService service;
    if (!dataDirectory.empty()) service.setDataDirectory(dataDirectory);
    if (!service.start(port)) {
        std::fprintf(stderr, "corvane-service: cannot start on port %u\n", static_cast<unsigned>(port));
        return 1;
    }
    std::printf("%s\n%s\n%s\n", service.baseUrl().c_str(), service.pin().c_str(), service.certificatePath().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    service.stop();
    return 0;
}
