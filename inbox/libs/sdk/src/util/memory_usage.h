#pragma once

#include <cstdint>

namespace corvane {

// The process's current resident set size in bytes; 0 when it cannot be read.
uint64_t getCurrentMemoryUsage();

// The process's peak resident set size in bytes; 0 when it cannot be read.
uint64_t getPeakMemoryUsage();

}  // namespace corvane
