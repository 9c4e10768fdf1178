#include "filesystem/filesystem_module.h"

#include <algorithm>
#include <map>
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

void FilesystemModule::sumBlock(std::shared_ptr<const std::vector<uint8_t>> block, SumCallback callback) {
    execute([this, block = std::move(block), callback = std::move(callback)]() mutable {
        computeBlockSum(std::move(block), std::move(callback));
    });
}

void FilesystemModule::computeBlockSum(std::shared_ptr<const std::vector<uint8_t>> block, SumCallback callback) {
    notifySum(block ? FileSignature::blockSum(block->data(), block->size()) : std::vector<uint8_t>(), callback);
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
                file->closeAndDelete(false, [this, data, callback](bool) { notifyRead(data, callback); });
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
                file->closeAndDelete(false, [this, written, callback](bool) { notifyResult(written, callback); });
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

// Blocks a hash pass has read and not yet summed at most: enough to keep the worker pool busy,
// few enough that a pass holds only a few blocks in memory.
constexpr size_t kBlocksInFlight = 4;

uint64_t blockLength(uint64_t offset, uint64_t size) {
    return std::min(kHashBlockSize, size - offset);
}

// One read loop over chosen blocks of a file: a few blocks are read at once and summed on the
// worker pool, and their sums reach `add` in the order of the list. The loop owns the file until
// it has been closed; `done` runs after that, false when a read or a hash failed.
struct BlockSumPass {
    FilesystemModule* module = nullptr;
    File* file = nullptr;
    uint64_t size = 0;
    std::vector<uint64_t> blocks;
    std::function<void(uint64_t length, const std::vector<uint8_t>& sum)> add;
    std::function<void(bool ok)> done;
    size_t nextRead = 0;
    size_t nextAdd = 0;
    size_t inFlight = 0;
    bool failed = false;
    std::map<size_t, std::vector<uint8_t>> sums;
};

void readBlocks(const std::shared_ptr<BlockSumPass>& pass);

// Adds what arrived in order, then reads on, or ends the pass once nothing is in flight.
void settle(const std::shared_ptr<BlockSumPass>& pass) {
    for (auto next = pass->sums.begin(); !pass->failed && next != pass->sums.end() && next->first == pass->nextAdd;
         next = pass->sums.begin()) {
        if (next->second.empty()) {
            pass->failed = true;
            break;
        }
        pass->add(blockLength(pass->blocks[next->first] * kHashBlockSize, pass->size), next->second);
        ++pass->nextAdd;
        pass->sums.erase(next);
    }
    if (!pass->failed && pass->nextAdd < pass->blocks.size()) {
        readBlocks(pass);
        return;
    }
    if (pass->inFlight > 0) {
        // The file stays open until the reads and sums still running are back.
        return;
    }
    pass->file->close([pass](bool) {
        delete pass->file;
        pass->done(!pass->failed);
    });
}

void readBlocks(const std::shared_ptr<BlockSumPass>& pass) {
    while (pass->inFlight < kBlocksInFlight && pass->nextRead < pass->blocks.size()) {
        const size_t index = pass->nextRead++;
        const uint64_t offset = pass->blocks[index] * kHashBlockSize;
        ++pass->inFlight;
        pass->file->read(offset, blockLength(offset, pass->size), [pass, index](std::vector<uint8_t>* block) {
            if (!block) {
                --pass->inFlight;
                pass->failed = true;
                settle(pass);
                return;
            }
            pass->module->sumBlock(std::shared_ptr<const std::vector<uint8_t>>(block),
                                   [pass, index](std::vector<uint8_t> sum) {
                                       --pass->inFlight;
                                       pass->sums[index] = std::move(sum);
                                       settle(pass);
                                   });
        });
    }
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
        openReadAccess(path, [this, callback, mtime, size](File* file) {
            if (!file) {
                callback({}, {}, 0, 0, false);
                return;
            }
            auto signature = std::make_shared<FileSignature>();
            signature->initialize(size);
            auto pass = std::make_shared<BlockSumPass>();
            pass->module = this;
            pass->file = file;
            pass->size = size;
            for (uint64_t k = 0; k < fingerprintBlockCount(size); k++) {
                pass->blocks.push_back(k);
            }
            pass->add = [signature](uint64_t length, const std::vector<uint8_t>& sum) {
                signature->addBlockSum(length, sum);
            };
            pass->done = [signature, callback, size, mtime](bool ok) {
                const std::vector<uint8_t>* full = ok ? signature->getFullHash() : nullptr;
                const std::vector<uint8_t>* sparse = ok ? signature->getSparseHash() : nullptr;
                const bool sparseDue = fingerprintBlockCount(size) > 32;
                if (!full || (sparseDue && !sparse)) {
                    callback({}, {}, 0, 0, false);
                    return;
                }
                callback(*full, sparse ? *sparse : std::vector<uint8_t>(), size, mtime, true);
            };
            readBlocks(pass);
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
        openReadAccess(path, [this, callback, mtime, size](File* file) {
            if (!file) {
                callback({}, 0, 0, false);
                return;
            }
            auto hash = std::make_shared<SparseHash>();
            hash->initialize(size);
            auto pass = std::make_shared<BlockSumPass>();
            pass->module = this;
            pass->file = file;
            pass->size = size;
            pass->blocks = sparseHashSamples(fingerprintBlockCount(size));
            pass->add = [hash](uint64_t length, const std::vector<uint8_t>& sum) { hash->addBlockSum(length, sum); };
            pass->done = [hash, callback, size, mtime](bool ok) {
                const std::vector<uint8_t>* sparse = ok ? hash->getSparseHash() : nullptr;
                if (!sparse) {
                    callback({}, 0, 0, false);
                    return;
                }
                callback(*sparse, size, mtime, true);
            };
            readBlocks(pass);
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

void FilesystemModule::notifySum(std::vector<uint8_t> sum, const SumCallback& callback) {
    executeInLoop(callbackLoop_, [sum = std::move(sum), callback]() mutable {
        if (callback) {
            callback(std::move(sum));
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

void File::release() {
    execute([this]() {
        CLOG_DEBUG("[fs] Starting release");
        releaseFile();
    });
}

void File::releaseFile() {
    closeFile([this](bool) { delete this; });
}

void File::closeAndDelete(bool abort, FilesystemModule::ResultCallback callback) {
    execute([this, abort, callback]() {
        CLOG_DEBUG("[fs] Starting close");
        closeAndDeleteFile(abort, callback);
    });
}

void File::closeAndDeleteFile(bool abort, FilesystemModule::ResultCallback callback) {
    auto done = [this, callback](bool ok) {
        delete this;
        if (callback) {
            callback(ok);
        }
    };
    if (abort) {
        abortFile(done);
    } else {
        closeFile(done);
    }
}

void File::abort(FilesystemModule::ResultCallback callback) {
    execute([this, callback]() {
        CLOG_DEBUG("[fs] Starting abort");
        abortFile(callback);
    });
}

}  // namespace corvane
