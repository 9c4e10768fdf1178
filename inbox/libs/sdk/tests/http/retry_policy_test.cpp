#include "http/retry_policy.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(RetryPolicyTest, DelayGrowsFrom128MsWithAQuarterOfJitterUpToAMinute) {
    struct Case {
        int32_t retries;
        int randomValue;
        uint32_t expected;
    };
    const std::vector<Case> cases = {
        {1, 0, 128},       {1, 32767, 160}, {2, 0, 256},          {2, 32767, 320},
        {3, 0, 512},       {3, 32767, 640}, {3, 16384, 512 + 64}, {9, 0, 32768},
        {9, 32767, 40960}, {10, 0, 60000},  {10, 32767, 60000},   {25, 12345, 60000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(retryDelayMs(c.retries, c.randomValue), c.expected)
            << "retries " << c.retries << " random " << c.randomValue;
    }
}

TEST(RetryPolicyTest, OnlyBadRequestForbiddenAndNotFoundAreFinal) {
    struct Case {
        const char* name;
        int32_t status, retries, maxRetries;
        AttemptOutcome expected;
    };
    const std::vector<Case> cases = {
        {"ok", 200, 0, 0, AttemptOutcome::Success},
        {"cancelled", -1, 0, 0, AttemptOutcome::Cancelled},
        {"bad request", 400, 1, 0, AttemptOutcome::Fatal},
        {"invalid session", 403, 1, 0, AttemptOutcome::Fatal},
        {"not found", 404, 1, 0, AttemptOutcome::Fatal},
        {"fatal beats the limit", 403, 5, 2, AttemptOutcome::Fatal},
        {"no answer", 0, 1, 0, AttemptOutcome::Retry},
        {"unavailable", 503, 1, 0, AttemptOutcome::Retry},
        {"other client error", 401, 1, 0, AttemptOutcome::Retry},
        {"no limit", 500, 1000, 0, AttemptOutcome::Retry},
        {"below the limit", 500, 1, 2, AttemptOutcome::Retry},
        {"at the limit", 0, 2, 2, AttemptOutcome::GiveUp},
        {"past the limit", 502, 3, 2, AttemptOutcome::GiveUp},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decideAfterAttempt(c.status, c.retries, c.maxRetries), c.expected) << c.name;
    }
    EXPECT_STREQ(fatalStatusText(400), "Bad request");
    EXPECT_STREQ(fatalStatusText(403), "Invalid session");
    EXPECT_STREQ(fatalStatusText(404), "Not found");
    EXPECT_EQ(fatalStatusText(500), nullptr);
}

}  // namespace
}  // namespace corvane
