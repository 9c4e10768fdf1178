#include "crypto/argument_check.h"

#include "util/log.h"

namespace corvane {

bool checkArguments(std::initializer_list<ArgumentCheck> checks) {
    for (const ArgumentCheck& check : checks) {
        if (!check.met) {
            CORVANE_LOG(check.level, "{}", check.failure);
            return false;
        }
    }
    return true;
}

}  // namespace corvane
