#include "filesystem/libuv_filesystem.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "corvane/node_type.h"
#include "filesystem/file_signature.h"
#include "util/log.h"

namespace corvane {

namespace {

// The most one write request moves; longer writes continue where the last one stopped.
constexpr uint64_t kMaxRequestBytes = 1ull << 30;

// One libuv file request with everything its completion needs. It is freed by the completion
// that ends the operation; an operation of several steps reuses it after a cleanup.
struct FsRequest {
    uv_fs_t request{};
    LibuvFilesystem* module = nullptr;
    FilesystemModule::OpenCallback openCallback;
    FilesystemModule::ResultCallback resultCallback;
    FilesystemModule::ReadCallback readCallback;
    FilesystemModule::ScanCallback scanCallback;
    FilesystemModule::StatCallback statCallback;

    // Opens.
    std::string path;
    int flags = 0;
    uint64_t expectedSize = kUnknownFileSize;
    int descriptor = -1;
    bool openFailed = false;

    // Reads.
    std::vector<uint8_t>* buffer = nullptr;

    // Writes: the caller's bytes, not copied.
    const uint8_t* data = nullptr;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t written = 0;

    // Closes.
    bool removeAfter = false;
    // Released files: deleted once closed.
    LibuvFile* deleteAfter = nullptr;

    // Reads and writes: the file they belong to, told when they end.
    LibuvFile* file = nullptr;
};

FsRequest* newRequest(LibuvFilesystem* module) {
    auto* context = new FsRequest();
    context->module = module;
    context->request.data = context;
    return context;
}

FsRequest* contextOf(uv_fs_t* request) {
    return static_cast<FsRequest*>(request->data);
}

// Cleans the request up and frees its context.
void finish(FsRequest* context) {
    uv_fs_req_cleanup(&context->request);
    delete context;
}

// The same for a read or a write, whose file may be waiting for it to close.
void finishFileRequest(FsRequest* context) {
    LibuvFile* file = context->file;
    finish(context);
    if (file != nullptr) {
        file->requestEnded();
    }
}

// A request libuv refused to start never reaches its completion: run the completion with the error.
void start(FsRequest* context, int rc, uv_fs_cb completion) {
    if (rc < 0) {
        context->request.result = rc;
        completion(&context->request);
    }
}

int openFlags(int flags) {
    // Non-blocking: opening a FIFO must never wait for its other end. It changes nothing for
    // regular files, and anything else is refused once open.
    int mode = UV_FS_O_RDONLY;
    if (flags & kOpenWrite) {
        mode = UV_FS_O_CREAT | ((flags & kOpenRead) ? UV_FS_O_RDWR : UV_FS_O_WRONLY);
    }
    return mode | UV_FS_O_NONBLOCK;
}

void onOpenClosed(uv_fs_t* request);
void onOpenStat(uv_fs_t* request);
void onOpenTruncated(uv_fs_t* request);

// An open that fails after the descriptor exists closes it first, then reports null.
void failOpen(FsRequest* context) {
    uv_fs_req_cleanup(&context->request);
    int rc = uv_fs_close(context->module->getUvLoop(), &context->request, context->descriptor, &onOpenClosed);
    start(context, rc, &onOpenClosed);
}

void onOpenClosed(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    context->module->notifyOpen(nullptr, context->openCallback);
    finish(context);
}

void succeedOpen(FsRequest* context) {
    CLOG_DEBUG("[fs] File open OK");
    auto* file = new LibuvFile(context->module, context->descriptor, context->path, context->flags);
    context->module->notifyOpen(file, context->openCallback);
    finish(context);
}

void onOpen(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int>(request->result);
    if (result < 0) {
        CLOG_DEBUG("[fs] Error opening file: {} ({})", uv_strerror(result), result);
        context->module->notifyOpen(nullptr, context->openCallback);
        finish(context);
        return;
    }
    context->descriptor = result;
    uv_fs_req_cleanup(request);
    int rc = uv_fs_fstat(context->module->getUvLoop(), request, context->descriptor, &onOpenStat);
    start(context, rc, &onOpenStat);
}

void onOpenStat(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int>(request->result);
    if (result < 0) {
        CLOG_DEBUG("[fs] Error opening file: {} ({})", uv_strerror(result), result);
        failOpen(context);
        return;
    }
    if ((request->statbuf.st_mode & S_IFMT) != S_IFREG) {
        CLOG_DEBUG("[fs] Error opening file: {} ({})", "not a regular file", UV_EINVAL);
        failOpen(context);
        return;
    }
    // A file rewritten from the start must not keep the tail of a longer former version.
    if ((context->flags & kOpenWrite) && context->expectedSize != kUnknownFileSize &&
        request->statbuf.st_size > context->expectedSize) {
        uv_fs_req_cleanup(request);
        int rc = uv_fs_ftruncate(context->module->getUvLoop(), request, context->descriptor,
                                 static_cast<int64_t>(context->expectedSize), &onOpenTruncated);
        start(context, rc, &onOpenTruncated);
        return;
    }
    succeedOpen(context);
}

void onOpenTruncated(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int>(request->result);
    if (result < 0) {
        CLOG_DEBUG("[fs] Error opening file: {} ({})", uv_strerror(result), result);
        failOpen(context);
        return;
    }
    succeedOpen(context);
}

void onStat(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int>(request->result);
    if (result < 0) {
        CLOG_DEBUG("[fs] Error stat file: {} ({})", uv_strerror(result), result);
        context->module->notifyStat(FILE_NODE, 0, 0, false, context->statCallback);
    } else {
        CLOG_DEBUG("[fs] File stat OK");
        const uv_stat_t& stat = request->statbuf;
        const int type = (stat.st_mode & S_IFMT) == S_IFDIR ? FOLDER_NODE : FILE_NODE;
        const auto mtime = static_cast<uint64_t>(static_cast<int64_t>(stat.st_mtim.tv_sec));
        context->module->notifyStat(type, mtime, stat.st_size, true, context->statCallback);
    }
    finish(context);
}

// Completion of an operation whose result is only success: tolerated is an error that counts
// as success (0 for none).
template <int Tolerated>
void onResult(uv_fs_t* request, const char* failureLine, const char* successLine) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int>(request->result);
    if (result < 0) {
        CLOG_DEBUG(fmt::runtime(failureLine), uv_strerror(result), result);
    } else {
        CLOG_DEBUG(fmt::runtime(successLine));
    }
    context->module->notifyResult(result >= 0 || (Tolerated != 0 && result == Tolerated), context->resultCallback);
    finish(context);
}

void onRename(uv_fs_t* request) {
    onResult<0>(request, "[fs] Error moving/renaming file: {} ({})", "[fs] File moved/renamed OK");
}

void onCopy(uv_fs_t* request) {
    onResult<0>(request, "[fs] Error copying file: {} ({})", "[fs] File copied OK");
}

void onRemove(uv_fs_t* request) {
    onResult<0>(request, "[fs] Error removing file: {} ({})", "[fs] File removed OK");
}

void onMkdir(uv_fs_t* request) {
    onResult<UV_EEXIST>(request, "[fs] Error creating folder: {} ({})", "[fs] Folder created OK");
}

void onRmdir(uv_fs_t* request) {
    onResult<UV_ENOENT>(request, "[fs] Error removing folder: {} ({})", "[fs] Folder removed OK");
}

void onScan(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int>(request->result);
    std::vector<std::string>* names = nullptr;
    if (result < 0) {
        CLOG_DEBUG("[fs] Error scanning folder: {} ({})", uv_strerror(result), result);
    } else {
        CLOG_DEBUG("[fs] Folder scan OK");
        names = new std::vector<std::string>();
        uv_dirent_t entry;
        while (uv_fs_scandir_next(request, &entry) != UV_EOF) {
            names->emplace_back(entry.name);
        }
    }
    context->module->notifyScan(names, context->scanCallback);
    finish(context);
}

void onRead(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int64_t>(request->result);
    std::vector<uint8_t>* buffer = context->buffer;
    if (result < 0) {
        CLOG_DEBUG("[fs] Error reading file: {} ({})", uv_strerror(static_cast<int>(result)), result);
    } else {
        CLOG_DEBUG("[fs] File read OK ({} of {} bytes)", result, buffer->size());
    }
    if (result < 0 || static_cast<uint64_t>(result) != buffer->size()) {
        delete buffer;
        buffer = nullptr;
    }
    context->module->notifyRead(buffer, context->readCallback);
    finishFileRequest(context);
}

void startWrite(FsRequest* context);

void onWrite(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int64_t>(request->result);
    if (result < 0) {
        CLOG_DEBUG("[fs] Error writting file: {} ({})", uv_strerror(static_cast<int>(result)), result);
        context->module->notifyResult(false, context->resultCallback);
        finishFileRequest(context);
        return;
    }
    context->written += static_cast<uint64_t>(result);
    if (context->written == context->size) {
        CLOG_DEBUG("[fs] File write OK");
        context->module->notifyResult(true, context->resultCallback);
        finishFileRequest(context);
        return;
    }
    if (result == 0) {
        // No progress: reporting success would lose the rest of the bytes.
        CLOG_DEBUG("[fs] Error writting file: {} ({})", "nothing written", 0);
        context->module->notifyResult(false, context->resultCallback);
        finishFileRequest(context);
        return;
    }
    // A short write: carry on with the rest.
    uv_fs_req_cleanup(request);
    startWrite(context);
}

void startWrite(FsRequest* context) {
    const uint64_t length = std::min(context->size - context->written, kMaxRequestBytes);
    // libuv only reads the buffer.
    uv_buf_t buffer = uv_buf_init(const_cast<char*>(reinterpret_cast<const char*>(context->data + context->written)),
                                  static_cast<unsigned int>(length));
    int rc = uv_fs_write(context->module->getUvLoop(), &context->request, context->descriptor, &buffer, 1,
                         static_cast<int64_t>(context->offset + context->written), &onWrite);
    start(context, rc, &onWrite);
}

void onClose(uv_fs_t* request) {
    FsRequest* context = contextOf(request);
    const auto result = static_cast<int>(request->result);
    if (result < 0) {
        CLOG_DEBUG("[fs] Error closing file: {} ({})", uv_strerror(result), result);
    } else {
        CLOG_DEBUG("[fs] File close OK");
    }
    if (context->removeAfter) {
        // An aborted file that was written goes away; the removal's result is the abort's.
        context->module->remove(context->path, context->resultCallback);
    } else {
        context->module->notifyResult(result >= 0, context->resultCallback);
    }
    LibuvFile* released = context->deleteAfter;
    finish(context);
    delete released;
}

// One block hashed on the worker pool.
struct SumJob {
    uv_work_t work{};
    LibuvFilesystem* module = nullptr;
    std::shared_ptr<const std::vector<uint8_t>> block;
    FilesystemModule::SumCallback callback;
    std::vector<uint8_t> sum;
};

void onSumWork(uv_work_t* work) {
    auto* job = static_cast<SumJob*>(work->data);
    job->sum = FileSignature::blockSum(job->block->data(), job->block->size());
}

void onSumDone(uv_work_t* work, int status) {
    std::unique_ptr<SumJob> job(static_cast<SumJob*>(work->data));
    if (status != 0) {
        job->sum.clear();
    }
    // The block goes before the caller hears of it, so that the caller holds the only reference.
    job->block.reset();
    job->module->notifySum(std::move(job->sum), job->callback);
}

}  // namespace

LibuvFilesystem::LibuvFilesystem(LibuvLoop* workLoop, TaskManager* callbackLoop)
    : FilesystemModule(workLoop, callbackLoop), uvLoop_(workLoop->getUvLoop()) {
}

void LibuvFilesystem::openFile(std::string path, int flags, OpenCallback callback) {
    openFile(std::move(path), flags, kUnknownFileSize, std::move(callback));
}

void LibuvFilesystem::openFile(std::string path, int flags, uint64_t expectedSize, OpenCallback callback) {
    FsRequest* context = newRequest(this);
    context->openCallback = std::move(callback);
    context->path = std::move(path);
    context->flags = flags;
    context->expectedSize = expectedSize;
    int rc = uv_fs_open(uvLoop_, &context->request, context->path.c_str(), openFlags(flags), 0666, &onOpen);
    start(context, rc, &onOpen);
}

void LibuvFilesystem::statFile(std::string path, StatCallback callback) {
    FsRequest* context = newRequest(this);
    context->statCallback = std::move(callback);
    start(context, uv_fs_stat(uvLoop_, &context->request, path.c_str(), &onStat), &onStat);
}

void LibuvFilesystem::renameFile(std::string oldPath, std::string newPath, ResultCallback callback) {
    FsRequest* context = newRequest(this);
    context->resultCallback = std::move(callback);
    start(context, uv_fs_rename(uvLoop_, &context->request, oldPath.c_str(), newPath.c_str(), &onRename), &onRename);
}

void LibuvFilesystem::copyFile(std::string sourcePath, std::string targetPath, ResultCallback callback) {
    FsRequest* context = newRequest(this);
    context->resultCallback = std::move(callback);
    start(context,
          uv_fs_copyfile(uvLoop_, &context->request, sourcePath.c_str(), targetPath.c_str(), UV_FS_COPYFILE_EXCL,
                         &onCopy),
          &onCopy);
}

void LibuvFilesystem::removeFile(std::string path, ResultCallback callback) {
    FsRequest* context = newRequest(this);
    context->resultCallback = std::move(callback);
    start(context, uv_fs_unlink(uvLoop_, &context->request, path.c_str(), &onRemove), &onRemove);
}

void LibuvFilesystem::createFolder(std::string path, ResultCallback callback) {
    FsRequest* context = newRequest(this);
    context->resultCallback = std::move(callback);
    start(context, uv_fs_mkdir(uvLoop_, &context->request, path.c_str(), 0755, &onMkdir), &onMkdir);
}

void LibuvFilesystem::removeFolder(std::string path, ResultCallback callback) {
    FsRequest* context = newRequest(this);
    context->resultCallback = std::move(callback);
    start(context, uv_fs_rmdir(uvLoop_, &context->request, path.c_str(), &onRmdir), &onRmdir);
}

void LibuvFilesystem::scanFolder(std::string path, ScanCallback callback) {
    FsRequest* context = newRequest(this);
    context->scanCallback = std::move(callback);
    start(context, uv_fs_scandir(uvLoop_, &context->request, path.c_str(), 0, &onScan), &onScan);
}

void LibuvFilesystem::computeBlockSum(std::shared_ptr<const std::vector<uint8_t>> block, SumCallback callback) {
    if (!block) {
        notifySum({}, callback);
        return;
    }
    auto job = std::make_unique<SumJob>();
    job->work.data = job.get();
    job->module = this;
    job->block = std::move(block);
    job->callback = std::move(callback);
    if (uv_queue_work(uvLoop_, &job->work, &onSumWork, &onSumDone) != 0) {
        // No pool to run it on: hash it here rather than lose the block.
        onSumWork(&job->work);
        notifySum(std::move(job->sum), job->callback);
        return;
    }
    job.release();
}

LibuvFile::LibuvFile(LibuvFilesystem* module, int descriptor, std::string path, int flags)
    : File(module->getLoop()),
      uvLoop_(module->getUvLoop()),
      module_(module),
      descriptor_(descriptor),
      path_(std::move(path)),
      flags_(flags) {
}

void LibuvFile::readFile(uint64_t offset, uint64_t size, FilesystemModule::ReadCallback callback) {
    FsRequest* context = newRequest(module_);
    context->readCallback = std::move(callback);
    context->file = this;
    ++pending_;
    if (!open_ || size > std::numeric_limits<unsigned int>::max() ||
        offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        CLOG_DEBUG("[fs] Error reading file: {} ({})", open_ ? "request too large" : "file not open", UV_EINVAL);
        context->buffer = new std::vector<uint8_t>();
        context->request.result = UV_EINVAL;
        onRead(&context->request);
        return;
    }
    // Exactly the requested size, filled by one request.
    context->buffer = new std::vector<uint8_t>(size);
    uv_buf_t buffer = uv_buf_init(reinterpret_cast<char*>(context->buffer->data()), static_cast<unsigned int>(size));
    int rc = uv_fs_read(uvLoop_, &context->request, descriptor_, &buffer, 1, static_cast<int64_t>(offset), &onRead);
    start(context, rc, &onRead);
}

void LibuvFile::writeFile(uint64_t offset, const uint8_t* data, uint64_t size,
                          FilesystemModule::ResultCallback callback) {
    FsRequest* context = newRequest(module_);
    context->resultCallback = std::move(callback);
    context->descriptor = descriptor_;
    context->data = data;
    context->offset = offset;
    context->size = size;
    context->file = this;
    ++pending_;
    if (!open_ || (size > 0 && !data) || offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        context->request.result = UV_EINVAL;
        onWrite(&context->request);
        return;
    }
    startWrite(context);
}

void LibuvFile::closeFile(FilesystemModule::ResultCallback callback) {
    closeDescriptor(std::move(callback), false);
}

void LibuvFile::abortFile(FilesystemModule::ResultCallback callback) {
    closeDescriptor(std::move(callback), (flags_ & kOpenWrite) != 0);
}

void LibuvFile::releaseFile() {
    closeDescriptor(nullptr, false, true);
}

void LibuvFile::closeAndDeleteFile(bool abort, FilesystemModule::ResultCallback callback) {
    closeDescriptor(std::move(callback), abort && (flags_ & kOpenWrite) != 0, true);
}

void LibuvFile::closeDescriptor(FilesystemModule::ResultCallback callback, bool removeAfter, bool deleteAfter) {
    FsRequest* context = newRequest(module_);
    context->resultCallback = std::move(callback);
    context->deleteAfter = deleteAfter ? this : nullptr;
    if (!open_) {
        CLOG_DEBUG("[fs] Error closing file: {} ({})", "already closed", UV_EBADF);
        context->request.result = UV_EBADF;
        onClose(&context->request);
        return;
    }
    open_ = false;
    context->path = path_;
    context->removeAfter = removeAfter;
    auto close = [this, context]() {
        int rc = uv_fs_close(uvLoop_, &context->request, descriptor_, &onClose);
        start(context, rc, &onClose);
    };
    if (pending_ > 0) {
        deferredClose_ = close;
        return;
    }
    close();
}

void LibuvFile::requestEnded() {
    if (--pending_ == 0 && deferredClose_) {
        auto close = std::move(deferredClose_);
        deferredClose_ = nullptr;
        close();
    }
}

}  // namespace corvane
