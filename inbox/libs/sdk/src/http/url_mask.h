#pragma once

#include <string>
#include <string_view>

namespace corvane {

// What log lines show in place of a secret.
constexpr std::string_view kSecretMask = "********";

// The text with every URL secret replaced by kSecretMask: the values of the session ("s")
// and link token ("link") query parameters, and the user information before a host. Log
// lines pass every URL, and every text that may quote one, through it.
std::string maskUrlSecrets(std::string_view text);

}  // namespace corvane
