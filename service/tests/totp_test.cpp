#include "totp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::service::test {
namespace {

const std::string kRfcSecret = "12345678901234567890";

// The SHA-1 vectors of RFC 6238, cut to six digits.
TEST(Totp, CodesMatchThePublishedVectors) {
    struct Case {
        int64_t time;
        int32_t code;
    };
    const std::vector<Case> cases = {
        {59, 287082},       {1111111109, 81804},  {1111111111, 50471},
        {1234567890, 5924}, {2000000000, 279037}, {20000000000, 353130},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.time);
        EXPECT_EQ(totpCode(kRfcSecret, static_cast<uint64_t>(c.time / 30)), c.code);
        EXPECT_TRUE(totpAccepts(kRfcSecret, c.code, c.time));
    }
}

TEST(Totp, AcceptsOnlyTheCurrentStepAndOneEitherSide) {
    const int64_t now = 1111111111;
    const uint64_t step = static_cast<uint64_t>(now / 30);
    struct Case {
        const char* name;
        int32_t code;
        bool accepted;
    };
    const int32_t current = totpCode(kRfcSecret, step);
    const std::vector<Case> cases = {
        {"current step", current, true},
        {"previous step", totpCode(kRfcSecret, step - 1), true},
        {"next step", totpCode(kRfcSecret, step + 1), true},
        {"two steps back", totpCode(kRfcSecret, step - 2), false},
        {"two steps ahead", totpCode(kRfcSecret, step + 2), false},
        {"another code", (current + 1) % 1000000, false},
        {"no code", -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(totpAccepts(kRfcSecret, c.code, now), c.accepted);
    }
    EXPECT_FALSE(totpAccepts("", current, now)) << "a user without secret accepts nothing";
}

// RFC 4648's vectors, without the '=' fill.
TEST(Totp, Base32MatchesThePublishedVectors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"f", "MY"},
        {"fo", "MZXQ"},
        {"foo", "MZXW6"},
        {"foob", "MZXW6YQ"},
        {"fooba", "MZXW6YTB"},
        {"foobar", "MZXW6YTBOI"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(base32(bytes), text) << bytes;
}

}  // namespace
}  // namespace corvane::service::test
