// The error codes the stand-in answers with, as the client reads them.
#pragma once

#include <cstdint>

namespace corvane::service {

constexpr int32_t kErrorNotFound = 1;
constexpr int32_t kErrorForbidden = 2;  // also: the account is blocked
constexpr int32_t kErrorSessionNotValid = 3;
constexpr int32_t kErrorWrongParameters = 5;  // also: credentials or a two-factor code refused
constexpr int32_t kErrorAlreadyExists = 7;
constexpr int32_t kErrorUnknown = 9;
constexpr int32_t kErrorQuotaExceeded = 13;
constexpr int32_t kErrorTwoFactorNeeded = 16;  // "Cancelled": the sign-in needs a two-factor code
constexpr int32_t kErrorLoopDetected = 17;
constexpr int32_t kErrorInvoicing = 19;   // the sign-in still succeeds
constexpr int32_t kErrorIncomplete = 21;  // an upload token that names no complete upload

}  // namespace corvane::service
