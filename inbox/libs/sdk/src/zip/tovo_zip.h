#pragma once

#include <cstdint>
#include <memory>

#include "zip/zip_module.h"

namespace corvane {

class LibuvFilesystem;
class LibuvLoop;

// The ZIP writer. The archive layer's file hooks receive only a file name, so the module's id
// travels inside that name and a process-wide registry maps it back to the module.
class TovoZip : public ZipModule {
public:
    // Builds its own file module, whose work and callback loop are both the ZIP loop, and
    // enters the registry.
    TovoZip(LibuvLoop* zipLoop, TaskManager* callbackLoop);
    // Leaves the registry and deletes its file module; the ZIP loop must have been stopped.
    ~TovoZip() override;

    int32_t getModuleId() const { return moduleId_; }
    LibuvFilesystem* getFileModule() const { return fileModule_.get(); }

    // The module registered under the id, or null. Any thread.
    static TovoZip* findModule(int32_t moduleId);

private:
    int32_t moduleId_;
    std::unique_ptr<LibuvFilesystem> fileModule_;
};

}  // namespace corvane
