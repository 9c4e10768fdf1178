#include "zip/tovo_zip.h"

#include <atomic>
#include <map>
#include <mutex>

#include "filesystem/libuv_filesystem.h"
#include "loop/libuv_loop.h"

namespace corvane {

namespace {

// Shared by every facade of the process: two API managers own two modules on two ZIP loops.
std::mutex registryMutex;
std::map<int32_t, TovoZip*>& registry() {
    static std::map<int32_t, TovoZip*> modules;
    return modules;
}
std::atomic<int32_t> moduleCounter{0};

}  // namespace

TovoZip::TovoZip(LibuvLoop* zipLoop, TaskManager* callbackLoop)
    : ZipModule(zipLoop, callbackLoop),
      moduleId_(++moduleCounter),
      fileModule_(std::make_unique<LibuvFilesystem>(zipLoop, zipLoop)) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[moduleId_] = this;
}

TovoZip::~TovoZip() {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry().erase(moduleId_);
    }
    fileModule_.reset();
}

TovoZip* TovoZip::findModule(int32_t moduleId) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = registry().find(moduleId);
    return it == registry().end() ? nullptr : it->second;
}

}  // namespace corvane
