// The error codes the stand-in answers with, as the client reads them.
#pragma once

#include <cstdint>

namespace corvane::service {

constexpr int32_t kErrorNotFound = 1;
constexpr int32_t kErrorForbidden = 2;
constexpr int32_t kErrorSessionNotValid = 3;
constexpr int32_t kErrorWrongParameters = 5;
constexpr int32_t kErrorUnknown = 9;
constexpr int32_t kErrorLoopDetected = 17;

}  // namespace corvane::service
