#pragma once

#include <cstdint>

namespace corvane {

// What the HTTP module does after an attempt ended with a status.
enum class AttemptOutcome {
    Success,    // 200
    Cancelled,  // -1
    Fatal,      // 400, 403, 404: never retried
    GiveUp,     // the retry limit is reached
    Retry,
};

constexpr uint32_t kMaxRetryDelayMs = 60000;

// retries counts the failed attempts including the one that just ended; 0 maxRetries means
// no limit.
AttemptOutcome decideAfterAttempt(int32_t status, int32_t retries, int32_t maxRetries);

// The log text of a fatal status, e.g. "Bad request"; null for other statuses.
const char* fatalStatusText(int32_t status);

// Exponential back-off with up to 25 % jitter: 64 ms << min(retries, 20), plus
// randomValue / 32767 of a quarter of that, at most kMaxRetryDelayMs. randomValue is a
// rand() result (0 to 32767).
uint32_t retryDelayMs(int32_t retries, int randomValue);

}  // namespace corvane
