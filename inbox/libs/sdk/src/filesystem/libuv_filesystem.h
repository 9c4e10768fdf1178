#pragma once

#include <functional>
#include <string>

#include <uv.h>

#include "filesystem/filesystem_module.h"
#include "loop/libuv_loop.h"

namespace corvane {

// The filesystem on libuv: each operation starts one asynchronous libuv file request on the
// work loop's uv loop; libuv runs it on its worker pool and its completion, on the work loop
// thread, posts the result to the callback loop. Paths go to the system unchanged.
//
// Opens never block: a FIFO, a device or anything else that is not a regular file is refused.
// Stop the work loop (which lets pending requests finish) before deleting the module, since
// every request holds the module pointer.
class LibuvFilesystem : public FilesystemModule {
public:
    LibuvFilesystem(LibuvLoop* workLoop, TaskManager* callbackLoop);

    void openFile(std::string path, int flags, OpenCallback callback) override;
    void openFile(std::string path, int flags, uint64_t expectedSize, OpenCallback callback) override;
    void statFile(std::string path, StatCallback callback) override;
    void renameFile(std::string oldPath, std::string newPath, ResultCallback callback) override;
    void copyFile(std::string sourcePath, std::string targetPath, ResultCallback callback) override;
    void removeFile(std::string path, ResultCallback callback) override;
    void createFolder(std::string path, ResultCallback callback) override;
    void removeFolder(std::string path, ResultCallback callback) override;
    void scanFolder(std::string path, ScanCallback callback) override;
    // On libuv's worker pool, beside the file requests.
    void computeBlockSum(std::shared_ptr<const std::vector<uint8_t>> block, SumCallback callback) override;

    uv_loop_t* getUvLoop() const { return uvLoop_; }

private:
    uv_loop_t* uvLoop_;
};

// An open file of a LibuvFilesystem, used on the module's work loop only.
class LibuvFile : public File {
public:
    LibuvFile(LibuvFilesystem* module, int descriptor, std::string path, int flags);
    // Does not close the descriptor.
    ~LibuvFile() override = default;

    void readFile(uint64_t offset, uint64_t size, FilesystemModule::ReadCallback callback) override;
    void writeFile(uint64_t offset, const uint8_t* data, uint64_t size,
                   FilesystemModule::ResultCallback callback) override;
    // A second close or abort reports false and leaves the descriptor alone: by then its
    // number may belong to another file.
    void closeFile(FilesystemModule::ResultCallback callback) override;
    void abortFile(FilesystemModule::ResultCallback callback) override;
    // Deletes this object on the work loop once the descriptor is closed.
    void releaseFile() override;
    void closeAndDeleteFile(bool abort, FilesystemModule::ResultCallback callback) override;

    // Called by each read or write of this file once it has ended.
    void requestEnded();

private:
    void closeDescriptor(FilesystemModule::ResultCallback callback, bool removeAfter, bool deleteAfter = false);

    uv_loop_t* uvLoop_;
    LibuvFilesystem* module_;
    int descriptor_;
    std::string path_;
    int flags_;
    bool open_ = true;
    // Reads and writes under way; a close waits for them (deferredClose_), so that the descriptor
    // is never closed under them and its number never taken by another file meanwhile.
    int pending_ = 0;
    std::function<void()> deferredClose_;
};

}  // namespace corvane
