#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "filesystem/libuv_filesystem.h"
#include "loop/libuv_loop.h"

namespace corvane {
namespace test {

// A private folder under the system's temporary folder, removed with everything in it.
class FsTempDir {
public:
    FsTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-fs-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        path_ = made ? made : "";
    }
    ~FsTempDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                         ignored);
            std::filesystem::remove_all(path_, ignored);
        }
    }
    FsTempDir(const FsTempDir&) = delete;
    FsTempDir& operator=(const FsTempDir&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> patternBytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; i++) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
    }
    return bytes;
}

// A filesystem module on a real filesystem loop whose results arrive on a real main loop.
// Each helper issues one public operation and waits for its callback, recording whether the
// callback ran on the main loop thread.
class FsHarness {
public:
    FsHarness() {
        fsLoop_.start();
        mainLoop_.start();
        std::promise<std::thread::id> id;
        mainLoop_.post([&]() { id.set_value(std::this_thread::get_id()); });
        mainThread_ = id.get_future().get();
        fs_ = std::make_unique<LibuvFilesystem>(&fsLoop_, &mainLoop_);
    }
    ~FsHarness() {
        fsLoop_.stop();
        fsLoop_.join();
        mainLoop_.stop();
        mainLoop_.join();
    }

    LibuvFilesystem& fs() { return *fs_; }
    LibuvLoop& mainLoop() { return mainLoop_; }
    LibuvLoop& fsLoop() { return fsLoop_; }

    // False once some callback ran off the main loop thread.
    bool allOnMainLoop() const { return !offMainLoop_; }

    // Waits for the callback handed to start and returns its value.
    template <class T, class Start>
    T wait(Start start) {
        auto promise = std::make_shared<std::promise<T>>();
        auto future = promise->get_future();
        start([this, promise](T value) {
            note();
            promise->set_value(std::move(value));
        });
        return future.get();
    }

    bool result(const std::function<void(FilesystemModule::ResultCallback)>& start) { return wait<bool>(start); }
    File* open(const std::function<void(FilesystemModule::OpenCallback)>& start) { return wait<File*>(start); }

    std::unique_ptr<std::vector<uint8_t>> read(const std::function<void(FilesystemModule::ReadCallback)>& start) {
        return std::unique_ptr<std::vector<uint8_t>>(wait<std::vector<uint8_t>*>(start));
    }

    struct Stat {
        int type = 0;
        uint64_t mtime = 0;
        uint64_t size = 0;
        bool ok = false;
    };
    Stat stat(const std::string& path) {
        auto promise = std::make_shared<std::promise<Stat>>();
        auto future = promise->get_future();
        fs_->stat(path, [this, promise](int type, uint64_t mtime, uint64_t size, bool ok) {
            note();
            promise->set_value(Stat{type, mtime, size, ok});
        });
        return future.get();
    }

    struct Hashes {
        std::vector<uint8_t> full;
        std::vector<uint8_t> sparse;
        uint64_t size = 0;
        uint64_t mtime = 0;
        bool ok = false;
    };
    Hashes hash(const std::string& path) {
        auto promise = std::make_shared<std::promise<Hashes>>();
        auto future = promise->get_future();
        fs_->hashFile(path, [this, promise](std::vector<uint8_t> full, std::vector<uint8_t> sparse, uint64_t size,
                                            uint64_t mtime, bool ok) {
            note();
            promise->set_value(Hashes{std::move(full), std::move(sparse), size, mtime, ok});
        });
        return future.get();
    }

    // Closes the file, deletes it and returns the close's result.
    bool close(File* file) {
        bool ok = result([file](FilesystemModule::ResultCallback done) { file->close(done); });
        delete file;
        return ok;
    }

private:
    void note() {
        if (std::this_thread::get_id() != mainThread_) {
            offMainLoop_ = true;
        }
    }

    LibuvLoop fsLoop_;
    LibuvLoop mainLoop_;
    std::thread::id mainThread_;
    std::atomic<bool> offMainLoop_{false};
    std::unique_ptr<LibuvFilesystem> fs_;
};

}  // namespace test
}  // namespace corvane
