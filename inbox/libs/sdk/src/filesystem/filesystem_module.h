#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "corvane/task_manager.h"
#include "module/module.h"

namespace corvane {

class File;

// Open flags of FilesystemModule::openFile. Writing never truncates unless the caller names
// the size the file is to have (see openFile).
constexpr int kOpenRead = 1;
constexpr int kOpenWrite = 2;
constexpr int kOpenReadWrite = 3;

// The expected size of an open that does not name one.
constexpr uint64_t kUnknownFileSize = std::numeric_limits<uint64_t>::max();

// Fingerprint block: the unit of every read of the hash passes.
constexpr uint64_t kHashBlockSize = 1048576;

// All local file access of the SDK. Public operations may be called from any thread: they copy
// their arguments into a task for the work loop and return. The virtual operations run on the
// work loop only and report through the notify operations, which post each result to the
// callback loop (or, without one, call it at once on the work loop thread). So a callback never
// runs inside the call that asked for it, and every callback is called exactly once.
//
// An open file, a read buffer or a name list handed to a callback belongs to the receiver.
// Buffers given to writes are not copied: keep them alive until the result callback has run.
class FilesystemModule : public Module {
public:
    using ResultCallback = std::function<void(bool ok)>;
    using OpenCallback = std::function<void(File* file)>;
    using ReadCallback = std::function<void(std::vector<uint8_t>* data)>;
    using ScanCallback = std::function<void(std::vector<std::string>* names)>;
    // type is FOLDER_NODE for a folder and FILE_NODE for anything else; mtime in whole seconds.
    using StatCallback = std::function<void(int type, uint64_t mtime, uint64_t size, bool ok)>;
    // Absent hashes are empty.
    using HashCallback = std::function<void(std::vector<uint8_t> fullHash, std::vector<uint8_t> sparseHash,
                                            uint64_t size, uint64_t mtime, bool ok)>;
    using SparseCallback = std::function<void(std::vector<uint8_t> sparseHash, uint64_t size, uint64_t mtime, bool ok)>;
    // A block's strong sum (FileSignature::blockSum); empty when the hash failed.
    using SumCallback = std::function<void(std::vector<uint8_t> sum)>;

    FilesystemModule(TaskManager* workLoop, TaskManager* callbackLoop);
    ~FilesystemModule() override;

    // Disk operations, run on the work loop.
    virtual void openFile(std::string path, int flags, OpenCallback callback) = 0;
    // expectedSize is the size the file is to have once written; a file opened for writing
    // that is longer is cut to it, so no old tail survives a complete rewrite.
    // kUnknownFileSize leaves the length alone.
    virtual void openFile(std::string path, int flags, uint64_t expectedSize, OpenCallback callback) = 0;
    virtual void statFile(std::string path, StatCallback callback) = 0;
    virtual void renameFile(std::string oldPath, std::string newPath, ResultCallback callback) = 0;
    // Fails when the target exists.
    virtual void copyFile(std::string sourcePath, std::string targetPath, ResultCallback callback) = 0;
    virtual void removeFile(std::string path, ResultCallback callback) = 0;
    // An existing folder counts as created.
    virtual void createFolder(std::string path, ResultCallback callback) = 0;
    // A missing folder counts as removed.
    virtual void removeFolder(std::string path, ResultCallback callback) = 0;
    virtual void scanFolder(std::string path, ScanCallback callback) = 0;
    // Hashes the block off the work loop's thread where the implementation can (this default
    // hashes right there) and reports through notifySum.
    virtual void computeBlockSum(std::shared_ptr<const std::vector<uint8_t>> block, SumCallback callback);

    void stat(const std::string& path, StatCallback callback);
    void mkdir(const std::string& path, ResultCallback callback);
    void remove(const std::string& path, ResultCallback callback);
    void rename(const std::string& oldPath, const std::string& newPath, ResultCallback callback);
    void scandir(const std::string& path, ScanCallback callback);
    void openReadAccess(const std::string& path, OpenCallback callback);
    void openWriteAccess(const std::string& path, OpenCallback callback);
    void openWriteAccess(const std::string& path, uint64_t expectedSize, OpenCallback callback);
    void openReadWriteAccess(const std::string& path, uint64_t expectedSize, OpenCallback callback);

    // Creates every folder of the path in turn; reports the creation of the last one only.
    void recursiveMkdir(const std::string& path, ResultCallback callback);
    // The whole contents of a regular file; null for a missing path, a folder or any failure.
    void readFile(const std::string& path, ReadCallback callback);
    // Replaces the file with exactly these bytes; true once every byte is written.
    void writeFile(const std::string& path, const uint8_t* data, uint64_t size, ResultCallback callback);

    // The strong sum of one block of at most 1 MiB, computed away from the callback loop (on
    // libuv's worker pool for LibuvFilesystem), so that a transfer hashes several blocks at once
    // beside its reads, encryption and sending. The job shares the block, and only reads it,
    // until it has reported.
    void sumBlock(std::shared_ptr<const std::vector<uint8_t>> block, SumCallback callback);

    // Fingerprints: files up to 32 blocks get the full hash only, larger ones the sparse hash only.
    void hashFile(const std::string& path, HashCallback callback);
    // Every block through a FileSignature.
    void fullHashFile(const std::string& path, HashCallback callback);
    // The sampled blocks through a SparseHash.
    void sparseHashFile(const std::string& path, SparseCallback callback);

    // For implementations: hand a result to the callback loop.
    void notifyResult(bool ok, const ResultCallback& callback);
    void notifyRead(std::vector<uint8_t>* data, const ReadCallback& callback);
    void notifyScan(std::vector<std::string>* names, const ScanCallback& callback);
    void notifyOpen(File* file, const OpenCallback& callback);
    void notifyStat(int type, uint64_t mtime, uint64_t size, bool ok, const StatCallback& callback);
    void notifySum(std::vector<uint8_t> sum, const SumCallback& callback);

    TaskManager* getCallbackLoop() const { return callbackLoop_; }

private:
    void pRecursiveMkdir(const std::string& path, size_t position, const ResultCallback& callback);

    TaskManager* callbackLoop_;
};

// One open file of a FilesystemModule. Its operations post to the module's work loop, like the
// module's own. Deleting the object does not close the file: close or abort it first and delete
// it once that has been reported.
class File : public Module {
public:
    explicit File(TaskManager* workLoop);
    ~File() override = default;

    // Disk operations, run on the work loop.
    // Reports the bytes only when all size bytes were read.
    virtual void readFile(uint64_t offset, uint64_t size, FilesystemModule::ReadCallback callback) = 0;
    // Reports true only when all size bytes were written.
    virtual void writeFile(uint64_t offset, const uint8_t* data, uint64_t size,
                           FilesystemModule::ResultCallback callback) = 0;
    virtual void closeFile(FilesystemModule::ResultCallback callback) = 0;
    // Closes the file; a file opened for writing is removed as well.
    virtual void abortFile(FilesystemModule::ResultCallback callback) = 0;
    // Closes the file and deletes this object once closed; nobody hears of it. This default
    // deletes it when the close is reported.
    virtual void releaseFile();
    // Closes the file (`abort`: as abortFile), deletes this object once closed, then reports.
    // This default deletes it when the close is reported.
    virtual void closeAndDeleteFile(bool abort, FilesystemModule::ResultCallback callback);

    void read(uint64_t offset, uint64_t size, FilesystemModule::ReadCallback callback);
    void write(uint64_t offset, const uint8_t* data, uint64_t size, FilesystemModule::ResultCallback callback);
    void close(FilesystemModule::ResultCallback callback);
    void abort(FilesystemModule::ResultCallback callback);
    // For an owner that goes away: closes the file and deletes the object without a callback,
    // so that it goes even when the callback loop stops first.
    void release();
    // For an owner that is done with the file: closes it (`abort`: and removes a written file),
    // deletes the object, then reports. The object goes even when the callback loop stops
    // before the report, and the callback must not touch it.
    void closeAndDelete(bool abort, FilesystemModule::ResultCallback callback);
};

}  // namespace corvane
