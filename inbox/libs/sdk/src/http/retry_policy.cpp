#include "http/retry_policy.h"

#include <algorithm>

namespace corvane {

AttemptOutcome decideAfterAttempt(int32_t status, int32_t retries, int32_t maxRetries) {
    if (status == 200) {
        return AttemptOutcome::Success;
    }
    if (status == -1) {
        return AttemptOutcome::Cancelled;
    }
    if (fatalStatusText(status)) {
        return AttemptOutcome::Fatal;
    }
    if (maxRetries != 0 && retries >= maxRetries) {
        return AttemptOutcome::GiveUp;
    }
    return AttemptOutcome::Retry;
}

const char* fatalStatusText(int32_t status) {
    switch (status) {
        case 400:
            return "Bad request";
        case 403:
            return "Invalid session";
        case 404:
            return "Not found";
        default:
            return nullptr;
    }
}

uint32_t retryDelayMs(int32_t retries, int randomValue) {
    int32_t shift = std::min(std::max(retries, 0), 20);
    uint64_t base = uint64_t(64) << shift;
    double fraction = std::min(std::max(randomValue, 0), 32767) / 32767.0;
    uint64_t delay = base + static_cast<uint64_t>(fraction * base * 0.25);
    return static_cast<uint32_t>(std::min<uint64_t>(delay, kMaxRetryDelayMs));
}

}  // namespace corvane
