#include "util/memory_usage.h"

#include <cstdio>
#include <cstring>

namespace corvane {

namespace {

// Reads one "Name:   123 kB" line of /proc/self/status, in bytes.
uint64_t readStatusKilobytes(const char* name) {
    FILE* file = std::fopen("/proc/self/status", "r");
    if (file == nullptr) {
        return 0;
    }
    size_t nameLength = std::strlen(name);
    char line[256];
    uint64_t bytes = 0;
    while (std::fgets(line, sizeof(line), file) != nullptr) {
        if (std::strncmp(line, name, nameLength) == 0 && line[nameLength] == ':') {
            unsigned long long kilobytes = 0;
            if (std::sscanf(line + nameLength + 1, "%llu", &kilobytes) == 1) {
                bytes = static_cast<uint64_t>(kilobytes) * 1024;
            }
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

}  // namespace

uint64_t getCurrentMemoryUsage() {
    return readStatusKilobytes("VmRSS");
}

uint64_t getPeakMemoryUsage() {
    return readStatusKilobytes("VmHWM");
}

}  // namespace corvane
