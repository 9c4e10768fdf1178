#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include "loop/loop.h"
#include "support/run_on_loop.h"

namespace corvane {
namespace test {

// The kernel's id of the calling thread, asked directly rather than through the loop.
inline int32_t osThreadId() {
    return static_cast<int32_t>(::syscall(SYS_gettid));
}

}  // namespace test
}  // namespace corvane
