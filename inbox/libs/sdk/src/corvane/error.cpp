#include "corvane/error.h"

#include <iterator>

namespace corvane {
namespace {

const char* const kErrorMessages[] = {
    "Success",
    "Not found",
    "Forbidden",
    "Session not valid",
    "Cryptographic error",
    "Wrong parameters",
    "Expired",
    "Already exists",
    "Server is busy",
    "Unknown error",
    "Too fast requests",
    "Temporarily unavailable",
    "Too many attempts",
    "Quota exceeded",
    "Taken down",
    "Range not satisfiable",
    "Cancelled",
    "Loop detected",
    "I/O error",
    "There is a problem with your invoicing information",
    "Invalid coupon",
    "Incomplete",
};

}  // namespace

const char* Error::getMessage(int32_t code) {
    if (code < 0 || code >= static_cast<int32_t>(std::size(kErrorMessages))) {
        return "INVALID";
    }
    return kErrorMessages[code];
}

}  // namespace corvane
