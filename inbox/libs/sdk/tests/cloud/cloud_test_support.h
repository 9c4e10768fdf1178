#pragma once

// Helpers of the cloud tests: the cloud model on real loops (SDK main, database and crypto
// loops), a synchronous writer and reader of the cache file, and key wrapping done with
// OpenSSL directly.

#include <openssl/evp.h>

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/cloud.h"
#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "database/database.h"
#include "database/sqlite_database.h"
#include "loop/libuv_loop.h"
#include "support/run_on_loop.h"

namespace corvane {
namespace test {

using Bytes = std::vector<uint8_t>;

// A private folder under the system's temporary folder, removed with everything in it.
class CloudTempDir {
public:
    CloudTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-cloud-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        path_ = made ? made : "";
    }
    ~CloudTempDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    CloudTempDir(const CloudTempDir&) = delete;
    CloudTempDir& operator=(const CloudTempDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline Bytes patternKey(uint8_t seed, size_t size = 32) {
    Bytes key(size);
    for (size_t i = 0; i < size; ++i) {
        key[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return key;
}

// RFC 3394 key wrap of a 32-byte key under a 32-byte key (40 bytes out).
inline Bytes wrapKey(const Bytes& kek, const Bytes& key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    Bytes out(key.size() + 8);
    int length = 0;
    int total = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_256_wrap(), nullptr, kek.data(), nullptr), 1);
    EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &length, key.data(), static_cast<int>(key.size())), 1);
    total = length;
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx, out.data() + total, &length), 1);
    total += length;
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(total));
    return out;
}

inline std::shared_ptr<MutableNodeData> makeNode(uint64_t id, int32_t type, uint64_t parent, const char* name,
                                                 uint64_t filesystem = 0) {
    auto node = std::make_shared<MutableNodeData>();
    node->setId(id);
    node->setType(type);
    node->setParent(parent);
    node->setName(name);
    node->setFilesystem(filesystem);
    return node;
}

inline std::shared_ptr<FilesystemData> makeFilesystem(uint64_t id, int32_t type, uint8_t crypto, const Bytes* nodeKey,
                                                      const Bytes* filesystemKey) {
    auto filesystem = std::make_shared<FilesystemData>();
    filesystem->setId(id);
    filesystem->setType(type);
    filesystem->setCrypto(crypto);
    if (nodeKey) {
        filesystem->setNodeKey(std::make_unique<Bytes>(*nodeKey));
    }
    if (filesystemKey) {
        filesystem->setFilesystemKey(std::make_unique<Bytes>(*filesystemKey));
    }
    return filesystem;
}

// The cache file opened without loops: every operation completes before it returns. Used to
// write a cache before the model opens it and to read what the model wrote.
class CacheFile {
public:
    explicit CacheFile(const std::string& path) : db_(nullptr, nullptr) {
        bool opened = false;
        db_.open(path,
                 {std::make_shared<FilesystemData>(), std::make_shared<MutableNodeData>(),
                  std::make_shared<MutableUserInfoData>(), std::make_shared<MutableAccountInfoData>()},
                 [&](bool ok) { opened = ok; });
        EXPECT_TRUE(opened) << path;
        filesystems_ = typed<FilesystemData>();
        nodes_ = typed<MutableNodeData>();
        accounts_ = typed<MutableAccountInfoData>();
        // One transaction for everything written: a commit per row would make seeding slow.
        db_.beginTransaction(nullptr);
    }

    ~CacheFile() { db_.commitTransaction(nullptr); }

    CacheFile(const CacheFile&) = delete;
    CacheFile& operator=(const CacheFile&) = delete;

    void put(std::shared_ptr<const FilesystemData> row) { insert(*filesystems_, std::move(row)); }
    void put(std::shared_ptr<const MutableNodeData> row) { insert(*nodes_, std::move(row)); }
    void putAccount(uint64_t id, uint64_t status) {
        auto account = std::make_shared<MutableAccountInfoData>();
        account->setId(id);
        account->setStatus(status);
        insert(*accounts_, std::shared_ptr<const MutableAccountInfoData>(account));
    }

    std::shared_ptr<FilesystemData> filesystem(uint64_t id) { return read(*filesystems_, id); }
    std::shared_ptr<MutableNodeData> node(uint64_t id) { return read(*nodes_, id); }
    std::shared_ptr<MutableAccountInfoData> account(uint64_t id) { return read(*accounts_, id); }

private:
    template <class T>
    std::unique_ptr<Database<T>> typed() {
        DatabaseImpl* handle = nullptr;
        T prototype;
        db_.table(prototype, [&](DatabaseImpl* table) { handle = table; });
        EXPECT_NE(handle, nullptr);
        handle->setRecordFactory([]() { return std::make_shared<T>(); });
        return std::make_unique<Database<T>>(nullptr, handle);
    }

    template <class T>
    void insert(Database<T>& table, std::shared_ptr<const std::decay_t<T>> row) {
        bool written = false;
        table.insert(std::move(row), [&](bool ok) { written = ok; });
        EXPECT_TRUE(written);
    }

    template <class T>
    std::shared_ptr<T> read(Database<T>& table, uint64_t id) {
        std::shared_ptr<T> found;
        table.get(std::to_string(id), [&](std::shared_ptr<T> row, bool) { found = std::move(row); });
        return found;
    }

    SQLiteDatabase db_;
    std::unique_ptr<Database<FilesystemData>> filesystems_;
    std::unique_ptr<Database<MutableNodeData>> nodes_;
    std::unique_ptr<Database<MutableAccountInfoData>> accounts_;
};

// The cloud model as the SDK builds it: completions of the database and crypto modules arrive
// on the SDK main loop, where every Cloud call is made.
class CloudHarness {
public:
    static constexpr uint64_t kAccountId = 77;
    static constexpr const char* kHandle = "abcdefghijk";

    // withDatabase false: a model without a cache module. dataPath empty: the temporary folder.
    explicit CloudHarness(bool withDatabase = true, std::string dataPath = std::string())
        : masterKey(patternKey(1)), accountKey(patternKey(2)), fingerprintKey(patternKey(3)) {
        mainLoop.start();
        databaseLoop.start();
        cryptoLoop.start();
        crypto = std::make_unique<CryptoppCrypto>(&cryptoLoop, &mainLoop);
        cryptoManager = std::make_unique<CryptoManager>(crypto.get());
        if (withDatabase) {
            database = std::make_unique<SQLiteDatabase>(&databaseLoop, &mainLoop);
        }
        cloud = std::make_unique<Cloud>(cryptoManager.get(), database.get(), &mainLoop,
                                        dataPath.empty() ? dir.path() : dataPath);
    }

    ~CloudHarness() {
        mainLoop.stop();
        databaseLoop.stop();
        cryptoLoop.stop();
        mainLoop.join();
        databaseLoop.join();
        cryptoLoop.join();
        cloud.reset();
    }

    std::string cacheFile() const { return Cloud::cachePath(dir.path(), kHandle); }

    // Runs start on the SDK main loop with a completion to hand to the model, and returns what
    // the completion received. Fails when the completion ran inside the call or never came.
    template <typename... Args, typename Start>
    std::tuple<std::decay_t<Args>...> call(Start start) {
        using Result = std::tuple<std::decay_t<Args>...>;
        auto promise = std::make_shared<std::promise<Result>>();
        auto future = promise->get_future();
        auto calls = std::make_shared<int>(0);
        mainLoop.post([promise, calls, start]() mutable {
            auto returned = std::make_shared<bool>(false);
            std::function<void(Args...)> done = [promise, calls, returned](Args... args) {
                EXPECT_TRUE(*returned) << "the completion ran inside the call";
                if (++*calls == 1) {
                    promise->set_value(Result(args...));
                } else {
                    ADD_FAILURE() << "the completion ran twice";
                }
            };
            start(done);
            *returned = true;
        });
        if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return Result();
        }
        return future.get();
    }

    // Runs a synchronous getter on the SDK main loop.
    template <typename Function>
    auto onLoop(Function function) -> decltype(function()) {
        return runOnLoop(mainLoop, std::move(function));
    }

    void initialize(uint64_t accountId = kAccountId) {
        call<>([&, accountId](Cloud::Callback done) {
            cloud->initialize(masterKey, fingerprintKey, Bytes(), accountKey, kHandle, accountId, 0, done);
        });
    }

    bool loadCache() {
        return std::get<0>(call<bool>([&](Cloud::BoolCallback done) { cloud->loadCache(done); }));
    }

    Cloud::NodePointer nodeById(uint64_t id) {
        return std::get<0>(
            call<Cloud::NodePointer>([&, id](Cloud::MutableNodeCallback done) { cloud->getNodeById(id, done); }));
    }

    Cloud::NodeListPointer children(uint64_t parent, int32_t order = 0) {
        return std::get<0>(call<Cloud::NodeListPointer>(
            [&, parent, order](Cloud::NodeListCallback done) { cloud->getChildren(parent, done, order); }));
    }

    CloudTempDir dir;
    Bytes masterKey;
    Bytes accountKey;
    Bytes fingerprintKey;
    LibuvLoop mainLoop;
    LibuvLoop databaseLoop;
    LibuvLoop cryptoLoop;
    std::unique_ptr<CryptoppCrypto> crypto;
    std::unique_ptr<CryptoManager> cryptoManager;
    std::unique_ptr<SQLiteDatabase> database;
    std::unique_ptr<Cloud> cloud;
};

// The ids of a list, in order; "null" for a missing list.
inline std::vector<uint64_t> idsOf(const Cloud::NodeListPointer& list) {
    std::vector<uint64_t> ids;
    if (list) {
        for (const auto& node : *list) {
            ids.push_back(node->getId());
        }
    }
    return ids;
}

}  // namespace test
}  // namespace corvane

namespace corvane {
namespace test {

// A cached tree, loaded into a model on real loops:
//   10 cloud drive root (filesystem 10 << 15)
//     11 folder "a"      12 file "b", 13 folder "c" (14 file "d")
//     16 file "a", 17 unnamed folder, 90 folder "hashes" (80, 81, 82 files with hashes)
//   30 recycle bin root: 31 folder "a": 32 file "b"
//   40 shared folders root in a secret filesystem (40 << 15): 41 file "hidden" in the table
//   50 contacts root
//   kDrive shared drive root: kDrive + 1 folder "x"
//   55 folder whose parent 999 is missing; 60 and 61 each other's parents; 70 its own parent
class CachedTreeTest : public ::testing::Test {
protected:
    static constexpr uint64_t kDrive = 0x123456789aULL;
    const Bytes kFullHash{1, 2, 3};
    const Bytes kSparseHash{4, 5};

    void SetUp() override {
        {
            CacheFile cache(h.cacheFile());
            cache.putAccount(CloudHarness::kAccountId, 1);
            const Bytes key = patternKey(9);
            cache.put(makeFilesystem(uint64_t{10} << 15, 0, 0, &key, nullptr));
            cache.put(makeNode(10, 0, 0, nullptr, uint64_t{10} << 15));
            cache.put(makeNode(11, 21, 10, "a"));
            cache.put(makeNode(12, 20, 11, "b"));
            cache.put(makeNode(13, 21, 11, "c"));
            cache.put(makeNode(14, 20, 13, "d"));
            cache.put(makeNode(16, 20, 10, "a"));
            cache.put(makeNode(17, 21, 10, nullptr));
            cache.put(makeNode(90, 21, 10, "hashes"));
            hashed(80, 100, 5, 7);
            hashed(81, 100, 5, 8);
            hashed(82, 200, 9, 7);
            for (const auto& row : hashedRows_) {
                cache.put(row);
            }
            cache.put(makeNode(30, 2, 0, nullptr));
            cache.put(makeNode(31, 21, 30, "a"));
            cache.put(makeNode(32, 20, 31, "b"));
            cache.put(makeNode(40, 4, 0, nullptr, uint64_t{40} << 15));
            cache.put(makeNode(41, 20, 40, "hidden", uint64_t{40} << 15));
            cache.put(makeNode(50, 7, 0, nullptr));
            cache.put(makeNode(kDrive, 8, 0, "drive"));
            cache.put(makeNode(kDrive + 1, 21, kDrive, "x"));
            cache.put(makeNode(55, 21, 999, "lost"));
            cache.put(makeNode(60, 21, 61, "ring a"));
            cache.put(makeNode(61, 21, 60, "ring b"));
            cache.put(makeNode(70, 21, 70, "self"));
        }
        h.initialize();
        ASSERT_TRUE(h.loadCache());
    }

    void hashed(uint64_t id, uint64_t size, int64_t creationTime, int64_t modificationTime) {
        auto node = makeNode(id, 20, 90, "h");
        node->setFullHash(&kFullHash);
        node->setSparseHash(&kSparseHash);
        node->setSize(size);
        node->setCreationTime(creationTime);
        node->setModificationTime(modificationTime);
        hashedRows_.push_back(node);
    }

    bool inRam(uint64_t id) {
        return h.onLoop([&]() { return h.cloud->isInRam(id); });
    }

    CloudHarness h;
    std::vector<std::shared_ptr<MutableNodeData>> hashedRows_;
};

}  // namespace test
}  // namespace corvane
