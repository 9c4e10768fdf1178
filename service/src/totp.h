// Time-based one-time codes as authenticator applications make them (HMAC-SHA1 over the number
// of 30-second steps since 1970, six digits), and the Base32 text in which the secret is handed
// out in the set-up link.
#pragma once

#include <cstdint>
#include <string>

namespace corvane::service {

constexpr int64_t kTotpStepSeconds = 30;
// Steps accepted on either side of the current one, for clocks that drift a little.
constexpr int64_t kTotpSlack = 1;

// The code of one step.
int32_t totpCode(const std::string& secret, uint64_t step);

// True when the code is that of the step of `unixTime` or of one next to it.
bool totpAccepts(const std::string& secret, int32_t code, int64_t unixTime);

// RFC 4648 Base32 without '=' fill.
std::string base32(const std::string& bytes);

}  // namespace corvane::service
