#pragma once

#include <initializer_list>

#include "util/log.h"

namespace corvane {

// One argument check of a crypto operation and the line logged when it fails.
struct ArgumentCheck {
    bool met;
    const char* failure;
    log::Level level = log::Level::warn;
};

// Runs the checks in the order given and logs only the first that fails, so that the log
// names the argument at fault; true when all pass.
bool checkArguments(std::initializer_list<ArgumentCheck> checks);

}  // namespace corvane
