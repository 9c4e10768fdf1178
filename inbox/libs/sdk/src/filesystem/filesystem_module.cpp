#include "filesystem/filesystem_module.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "corvane/node_type.h"
#include "filesystem/file_signature.h"
#include "filesystem/sparse_hash.h"
#include "util/log.h"

namespace corvane {

FilesystemModule::FilesystemModule(TaskManager* workLoop, TaskManager* callbackLoop)
    : Module(workLoop), callbackLoop_(callbackLoop) {
}

FilesystemModule::~FilesystemModule() {
    CLOG_DEBUG("Deleting FilesystemModule");
}

void FilesystemModule::stat(const std::string& path, StatCallback callback) {
    execute([this, path, callback]() {
        CLOG_DEBUG("[fs] Starting stat");
        statFile(path, callback);
    });
}

void FilesystemModule::mkdir(const std::string& path, ResultCallback callback) {
    execute([this, path, callback]() {
        CLOG_DEBUG("[fs] Starting mkdir");
        createFolder(path, callback);
    });
}

void FilesystemModule::remove(const std::string& path, ResultCallback callback) {
    execute([this, path, callback]() {
        CLOG_DEBUG("[fs] Starting remove");
        removeFile(path, callback);
    });
}

void FilesystemModule::rename(const std::string& oldPath, const std::string& newPath, ResultCallback callback) {
    execute([this, oldPath, newPath, callback]() {
        CLOG_DEBUG("[fs] Starting rename");
        renameFile(oldPath, newPath, callback);
    });
}

void FilesystemModule::scandir(const std::string& path, ScanCallback callback) {
    execute([this, path, callback]() {
        CLOG_DEBUG("[fs] Starting scandir");
        scanFolder(path, callback);
    });
}

void FilesystemModule::openReadAccess(const std::string& path, OpenCallback callback) {
    execute([this, path, callback]() {
        CLOG_DEBUG("[fs] Starting open");
        openFile(path, kOpenRead, callback);
    });
}

void FilesystemModule::openWriteAccess(const std::string& path, OpenCallback callback) {
    execute([this, path, callback]() {
        CLOG_DEBUG("[fs] Starting open");
        openFile(path, kOpenWrite, callback);
    });
}

void FilesystemModule::openWriteAccess(const std::string& path, uint64_t expectedSize, OpenCallback callback) {
    execute([this, path, expectedSize, callback]() {
        CLOG_DEBUG("[fs] Starting open");
        openFile(path, kOpenWrite, expectedSize, callback);
    });
}

void FilesystemModule::openReadWriteAccess(const std::string& path, uint64_t expectedSize, OpenCallback callback) {
    execute([this, path, expectedSize, callback]() {
        CLOG_DEBUG("[fs] Starting open");
        openFile(path, kOpenReadWrite, expectedSize, callback);
    });
}

void FilesystemModule::recursiveMkdir(const std::string& path, ResultCallback callback) {
    execute([this, path, callback]() {
        CLOG_DEBUG("[fs] Starting recursive mkdir for {}", path);
        pRecursiveMkdir(path, 0, callback);
    });
}

void FilesystemModule::pRecursiveMkdir(const std::string& path, size_t position, const ResultCallback& callback) {
    if (position >= path.size()) {
        notifyResult(false, callback);
        return;
    }
    // A separator at the position itself is skipped, so a leading '/' never gives an empty prefix.
    size_t end = position + 1 < path.size() ? path.find('/', position + 1) : std::string::npos;
    if (end == std::string::npos) {
        end = path.size();
    }
    std::string prefix = path.substr(0, end);
    CLOG_DEBUG("Creating folder: {}", prefix);
    createFolder(prefix, [this, path, end, callback](bool ok) {
        // Only the last component's result counts.
        if (end == path.size()) {
            notifyResult(ok, callback);
            return;
        }
        execute([this, path, end, callback]() { pRecursiveMkdir(path, end, callback); });
    });
}

void FilesystemModule::readFile(const std::string& path, ReadCallback callback) {
    CLOG_DEBUG("[fs] Starting readFile for {}", path);
    stat(path, [this, path, callback](int type, uint64_t, uint64_t size, bool ok) {
        if (!ok || type != FILE_NODE) {
            notifyRead(nullptr, callback);
            return;
        }
        openReadAccess(path, [this, size, callback](File* file) {
            if (!file) {
                notifyRead(nullptr, callback);
                return;
            }
            file->read(0, size, [this, file, callback](std::vector<uint8_t>* data) {
                file->close([this, file, data, callback](bool) {
                    delete file;
                    notifyRead(data, callback);
                });
            });
        });
    });
}

void FilesystemModule::writeFile(const std::string& path, const uint8_t* data, uint64_t size, ResultCallback callback) {
    CLOG_DEBUG("[fs] Starting writeFile for {}", path);
    // Opening never truncates: the removal is what empties an existing file.
    remove(path, [this, path, data, size, callback](bool) {
        openWriteAccess(path, size, [this, data, size, callback](File* file) {
            if (!file) {
                notifyResult(false, callback);
                return;
            }
            file->write(0, data, size, [this, file, callback](bool written) {
                file->close([this, file, written, callback](bool) {
                    delete file;
                    notifyResult(written, callback);
                });
            });
        });
    });
}

void FilesystemModule::hashFile(const std::string& path, HashCallback callback) {
    stat(path, [this, path, callback](int, uint64_t mtime, uint64_t size, bool ok) {
        if (!ok) {
            callback({}, {}, 0, 0, false);
        } else if (size == 0) {
            callback({}, {}, 0, mtime, true);
        } else if (fingerprintBlockCount(size) > 32) {
            sparseHashFile(path, [callback](std::vector<uint8_t> sparse, uint64_t size, uint64_t mtime, bool ok) {
                callback({}, std::move(sparse), size, mtime, ok);
            });
        } else {
            fullHashFile(path, callback);
        }
    });
}

namespace {

// One read loop over a file: only one read is outstanding at a time, and the loop owns the
// file until it has been closed.
struct FullHashPass {
    FilesystemModule::HashCallback callback;
    File* file = nullptr;
    FileSignature signature;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t mtime = 0;
};

struct SparseHashPass {
    FilesystemModule::SparseCallback callback;
    File* file = nullptr;
    SparseHash hash;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t mtime = 0;
};

uint64_t blockLength(uint64_t offset, uint64_t size) {
    return std::min(kHashBlockSize, size - offset);
}

void readNextFullBlock(const std::shared_ptr<FullHashPass>& pass) {
    pass->file->read(pass->offset, blockLength(pass->offset, pass->size), [pass](std::vector<uint8_t>* block) {
        if (!block) {
            pass->file->close([pass](bool) {
                delete pass->file;
                pass->callback({}, {}, 0, 0, false);
            });
            return;
        }
        pass->offset += block->size();
        pass->signature.addData(*block);
        delete block;
        if (pass->offset < pass->size) {
            readNextFullBlock(pass);
            return;
        }
        pass->file->close([pass](bool) {
            delete pass->file;
            const std::vector<uint8_t>* full = pass->signature.getFullHash();
            const std::vector<uint8_t>* sparse = pass->signature.getSparseHash();
            const bool sparseDue = fingerprintBlockCount(pass->size) > 32;
            if (!full || (sparseDue && !sparse)) {
                pass->callback({}, {}, 0, 0, false);
                return;
            }
            pass->callback(*full, sparse ? *sparse : std::vector<uint8_t>(), pass->size, pass->mtime, true);
        });
    });
}

void readNextSampledBlock(const std::shared_ptr<SparseHashPass>& pass) {
    pass->file->read(pass->offset, blockLength(pass->offset, pass->size), [pass](std::vector<uint8_t>* block) {
        if (!block) {
            pass->file->close([pass](bool) {
                delete pass->file;
                pass->callback({}, 0, 0, false);
            });
            return;
        }
        uint64_t next = pass->hash.addData(*block);
        delete block;
        if (next != pass->size) {
            pass->offset = next;
            readNextSampledBlock(pass);
            return;
        }
        pass->file->close([pass](bool) {
            delete pass->file;
            const std::vector<uint8_t>* sparse = pass->hash.getSparseHash();
            if (!sparse) {
                pass->callback({}, 0, 0, false);
                return;
            }
            pass->callback(*sparse, pass->size, pass->mtime, true);
        });
    });
}

}  // namespace

void FilesystemModule::fullHashFile(const std::string& path, HashCallback callback) {
    stat(path, [this, path, callback](int, uint64_t mtime, uint64_t size, bool ok) {
        if (!ok) {
            callback({}, {}, 0, 0, false);
            return;
        }
        if (size == 0) {
            callback({}, {}, 0, mtime, true);
            return;
        }
        openReadAccess(path, [callback, mtime, size](File* file) {
            if (!file) {
                callback({}, {}, 0, 0, false);
                return;
            }
            auto pass = std::make_shared<FullHashPass>();
            pass->callback = callback;
            pass->file = file;
            pass->size = size;
            pass->mtime = mtime;
            pass->signature.initialize(size);
            readNextFullBlock(pass);
        });
    });
}

void FilesystemModule::sparseHashFile(const std::string& path, SparseCallback callback) {
    stat(path, [this, path, callback](int, uint64_t mtime, uint64_t size, bool ok) {
        if (!ok) {
            callback({}, 0, 0, false);
            return;
        }
        if (fingerprintBlockCount(size) <= 32) {
            callback({}, size, mtime, true);
            return;
        }
        openReadAccess(path, [callback, mtime, size](File* file) {
            if (!file) {
                callback({}, 0, 0, false);
                return;
            }
            auto pass = std::make_shared<SparseHashPass>();
            pass->callback = callback;
            pass->file = file;
            pass->size = size;
            pass->mtime = mtime;
            pass->hash.initialize(size);
            readNextSampledBlock(pass);
        });
    });
}

void FilesystemModule::notifyResult(bool ok, const ResultCallback& callback) {
    executeInLoop(callbackLoop_, [ok, callback]() {
        if (callback) {
            callback(ok);
        }
    });
}

void FilesystemModule::notifyRead(std::vector<uint8_t>* data, const ReadCallback& callback) {
    executeInLoop(callbackLoop_, [data, callback]() {
        if (callback) {
            callback(data);
        } else {
            delete data;
        }
    });
}

void FilesystemModule::notifyScan(std::vector<std::string>* names, const ScanCallback& callback) {
    executeInLoop(callbackLoop_, [names, callback]() {
        if (callback) {
            callback(names);
        } else {
            delete names;
        }
    });
}

void FilesystemModule::notifyOpen(File* file, const OpenCallback& callback) {
    executeInLoop(callbackLoop_, [file, callback]() {
        if (callback) {
            callback(file);
        }
    });
}

void FilesystemModule::notifyStat(int type, uint64_t mtime, uint64_t size, bool ok, const StatCallback& callback) {
    executeInLoop(callbackLoop_, [type, mtime, size, ok, callback]() {
        CLOG_DEBUG("Stat finished. Type: {}  mtime: {}  size: {}  result: {}", type, mtime, size, ok);
        if (callback) {
            callback(type, mtime, size, ok);
        }
    });
}

File::File(TaskManager* workLoop) : Module(workLoop) {
}

void File::read(uint64_t offset, uint64_t size, FilesystemModule::ReadCallback callback) {
    execute([this, offset, size, callback]() {
        CLOG_DEBUG("[fs] Starting read of size {} at offset {}", size, offset);
        readFile(offset, size, callback);
    });
}

void File::write(uint64_t offset, const uint8_t* data, uint64_t size, FilesystemModule::ResultCallback callback) {
    execute([this, offset, data, size, callback]() {
        CLOG_DEBUG("[fs] Starting write of size {} at offset {}", size, offset);
        writeFile(offset, data, size, callback);
    });
}

void File::close(FilesystemModule::ResultCallback callback) {
    execute([this, callback]() {
        CLOG_DEBUG("[fs] Starting close");
        closeFile(callback);
    });
}

void File::abort(FilesystemModule::ResultCallback callback) {
    execute([this, callback]() {
        CLOG_DEBUG("[fs] Starting abort");
        abortFile(callback);
    });
}

}  // namespace corvane
