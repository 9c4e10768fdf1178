// Children listing of a parent that is not held in RAM, read from a cache table of 1,000,000
// nodes (the whole table is scanned unless the parent column is indexed), sorting 10,000
// names in natural order, and applying 100,000 received nodes (decrypted, checked and
// inserted in one transaction) with the peak memory it takes.

#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/blake2.h>
#include <cryptopp/filters.h>
#include <cryptopp/gcm.h>
#include <cryptopp/osrng.h>
#include <flatbuffers/flatbuffers.h>
#include <openssl/evp.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cloud/cloud.h"
#include "cloud/encrypted_node_data.h"
#include "cloud/node_order.h"
#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "database/database.h"
#include "database/sqlite_database.h"
#include "loop/libuv_loop.h"
#include "node_attributes_generated.h"

namespace {

using corvane::Cloud;

constexpr uint64_t kNodes = 1000000;
constexpr uint64_t kChildren = 100;
// The listed parent: a folder under the root whose children are never loaded into RAM.
constexpr uint64_t kParent = 2;
constexpr uint64_t kAccount = 7;
const char* const kHandle = "benchmrk";

std::shared_ptr<corvane::MutableNodeData> makeNode(uint64_t id, int32_t type, uint64_t parent) {
    auto node = std::make_shared<corvane::MutableNodeData>();
    node->setId(id);
    node->setType(type);
    node->setParent(parent);
    node->setName(("node " + std::to_string(id)).c_str());
    node->setSize(id);
    return node;
}

// Builds the cache once per process: a root, the parent with its 100 children, and the rest
// of the nodes spread over 10,000 other folders.
class CacheFixture {
public:
    CacheFixture() {
        char pattern[] = "/tmp/corvane-cloud-bench-XXXXXX";
        dir_ = mkdtemp(pattern);
        path_ = Cloud::cachePath(dir_, kHandle);
        corvane::SQLiteDatabase db(nullptr, nullptr);
        db.open(path_,
                {std::make_shared<corvane::FilesystemData>(), std::make_shared<corvane::MutableNodeData>(),
                 std::make_shared<corvane::MutableUserInfoData>(), std::make_shared<corvane::MutableAccountInfoData>()},
                nullptr);
        auto nodes = table<corvane::MutableNodeData>(db);
        auto accounts = table<corvane::MutableAccountInfoData>(db);
        db.beginTransaction(nullptr);
        auto account = std::make_shared<corvane::MutableAccountInfoData>();
        account->setId(kAccount);
        account->setStatus(1);
        accounts->insert(account, nullptr);
        nodes->insert(makeNode(1, 0, 0), nullptr);
        nodes->insert(makeNode(kParent, 21, 1), nullptr);
        // Children of the listed parent are spread through the table, not stored together.
        const uint64_t stride = (kNodes - 3) / kChildren;
        for (uint64_t id = 3; id <= kNodes; ++id) {
            const bool child = (id - 3) % stride == 0 && (id - 3) / stride < kChildren;
            nodes->insert(makeNode(id, child ? 20 : (id % 7 == 0 ? 21 : 20), child ? kParent : 10 + id % 10000),
                          nullptr);
        }
        db.commitTransaction(nullptr);
    }

    ~CacheFixture() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    const std::string& dir() const { return dir_; }

    // Adds or drops an index on the parent column, straight through SQLite.
    void setParentIndex(bool indexed) {
        sqlite3* db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        sqlite3_exec(
            db,
            indexed ? "CREATE INDEX IF NOT EXISTS nodes_parent ON nodes(parent)" : "DROP INDEX IF EXISTS nodes_parent",
            nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }

private:
    template <class T>
    static std::unique_ptr<corvane::Database<T>> table(corvane::SQLiteDatabase& db) {
        corvane::DatabaseImpl* handle = nullptr;
        T prototype;
        db.table(prototype, [&](corvane::DatabaseImpl* found) { handle = found; });
        handle->setRecordFactory([]() { return std::make_shared<T>(); });
        return std::make_unique<corvane::Database<T>>(nullptr, handle);
    }

    std::string dir_;
    std::string path_;
};

CacheFixture& cache() {
    static CacheFixture fixture;
    return fixture;
}

// range(0): 1 with the index on the parent column, 0 without it.
void BM_ChildrenOfUncachedParent(benchmark::State& state) {
    corvane::LibuvLoop mainLoop;
    corvane::LibuvLoop databaseLoop;
    corvane::LibuvLoop cryptoLoop;
    mainLoop.start();
    databaseLoop.start();
    cryptoLoop.start();
    {
        corvane::CryptoppCrypto crypto(&cryptoLoop, &mainLoop);
        corvane::CryptoManager cryptoManager(&crypto);
        corvane::SQLiteDatabase database(&databaseLoop, &mainLoop);
        Cloud cloud(&cryptoManager, &database, &mainLoop, cache().dir());

        std::promise<bool> loaded;
        mainLoop.post([&]() {
            cloud.initialize(std::vector<uint8_t>(32, 1), {}, {}, {}, kHandle, kAccount, 0,
                             [&]() { cloud.loadCache([&](bool ok) { loaded.set_value(ok); }); });
        });
        if (!loaded.get_future().get()) {
            state.SkipWithError("cache not loaded");
        }
        // The model creates the index when it opens the cache; the comparison drops it again.
        cache().setParentIndex(state.range(0) != 0);
        size_t listed = 0;
        for (auto _ : state) {
            std::promise<size_t> done;
            mainLoop.post([&]() {
                cloud.getChildren(
                    kParent, [&](Cloud::NodeListPointer list) { done.set_value(list ? list->size() : 0); }, 0);
            });
            listed = done.get_future().get();
        }
        if (listed != kChildren) {
            state.SkipWithError("wrong number of children");
        }
        mainLoop.stop();
        databaseLoop.stop();
        cryptoLoop.stop();
        mainLoop.join();
        databaseLoop.join();
        cryptoLoop.join();
    }
    state.SetItemsProcessed(state.iterations() * kChildren);
}
BENCHMARK(BM_ChildrenOfUncachedParent)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Names like people give files: words, numbers, versions and mixed case.
std::vector<std::string> fileNames(size_t count) {
    static const char* const kWords[] = {"Report", "report", "IMG", "scan", "Invoice", "draft", "photo", "v"};
    std::mt19937 random(42);
    std::uniform_int_distribution<size_t> word(0, 7);
    std::uniform_int_distribution<int> number(0, 2000);
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        names.push_back(std::string(kWords[word(random)]) + " " + std::to_string(number(random)) + "." +
                        std::to_string(number(random) % 20) + (i % 3 ? ".pdf" : " final.jpg"));
    }
    return names;
}

void BM_SortNamesNaturally(benchmark::State& state) {
    corvane::NodeList nodes;
    for (const std::string& name : fileNames(static_cast<size_t>(state.range(0)))) {
        auto node = std::make_shared<corvane::MutableNodeData>();
        node->setType(20);
        node->setName(name.c_str());
        nodes.push_back(node);
    }
    for (auto _ : state) {
        state.PauseTiming();
        corvane::NodeList list = nodes;
        state.ResumeTiming();
        corvane::sortNodeList(list, 1);
        benchmark::DoNotOptimize(list.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SortNamesNaturally)->Arg(10000)->Unit(benchmark::kMillisecond);

// --- applying received nodes ---

using Bytes = std::vector<uint8_t>;

Bytes keyOf(uint64_t seed) {
    Bytes key(32);
    for (size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    }
    return key;
}

// RFC 3394 through OpenSSL, as the service's peers seal node keys.
Bytes wrap(const Bytes& kek, const Bytes& key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    Bytes out(key.size() + 8);
    int length = 0;
    int total = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_256_wrap(), nullptr, kek.data(), nullptr);
    EVP_EncryptUpdate(ctx, out.data(), &length, key.data(), static_cast<int>(key.size()));
    total = length;
    EVP_EncryptFinal_ex(ctx, out.data() + total, &length);
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

Bytes sealAttributes(CryptoPP::RandomNumberGenerator& random, const Bytes& key, const std::string& name,
                     const Bytes* hash) {
    flatbuffers::FlatBufferBuilder builder;
    auto nameOffset = builder.CreateString(name);
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> hashOffset;
    if (hash) {
        hashOffset = builder.CreateVector(*hash);
    }
    corvane::NodeAttributesBuilder attributes(builder);
    attributes.add_name(nameOffset);
    if (hash) {
        attributes.add_sparseHash(hashOffset);
    }
    builder.Finish(attributes.Finish());
    Bytes iv(12);
    random.GenerateBlock(iv.data(), iv.size());
    CryptoPP::GCM<CryptoPP::AES>::Encryption gcm;
    gcm.SetKeyWithIV(key.data(), key.size(), iv.data(), iv.size());
    std::string sealed;
    CryptoPP::StringSource source(builder.GetBufferPointer(), builder.GetSize(), true,
                                  new CryptoPP::AuthenticatedEncryptionFilter(gcm, new CryptoPP::StringSink(sealed)));
    Bytes out = iv;
    out.insert(out.end(), sealed.begin(), sealed.end());
    return out;
}

// The peak resident set since the last reset, in kB (VmHWM).
long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Makes VmHWM start again from the current resident set.
void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A full fetch as the service delivers it: 100 folders under the cloud drive root, each
// followed by its files (with content fingerprints), parents before children.
std::shared_ptr<corvane::NodeList> receivedNodes(size_t count, const Bytes& rootKey, const Bytes& fingerprintKey,
                                                 uint64_t filesystem) {
    CryptoPP::AutoSeededRandomPool random;
    auto list = std::make_shared<corvane::NodeList>();
    const size_t folders = 100;
    const size_t perFolder = count / folders - 1;
    uint64_t id = 1000;
    for (size_t f = 0; f < folders && list->size() < count; ++f) {
        const uint64_t folderId = id++;
        const Bytes folderKey = keyOf(folderId);
        auto folder = std::make_shared<corvane::EncryptedNodeData>();
        folder->setId(folderId);
        folder->setType(21);
        folder->setParent(1);
        folder->setFilesystem(filesystem);
        const Bytes childKey = wrap(rootKey, folderKey);
        folder->setEncryptedChildKey(childKey.data(), childKey.size());
        const Bytes attributes = sealAttributes(random, folderKey, "folder " + std::to_string(f), nullptr);
        folder->setEncryptedAttributes(attributes.data(), attributes.size());
        list->push_back(folder);
        for (size_t i = 0; i < perFolder && list->size() < count; ++i) {
            const uint64_t fileId = id++;
            const Bytes fileKey = keyOf(fileId);
            Bytes hash(16);
            for (size_t b = 0; b < hash.size(); ++b) {
                hash[b] = static_cast<uint8_t>(fileId >> (b % 8));
            }
            auto file = std::make_shared<corvane::EncryptedNodeData>();
            file->setId(fileId);
            file->setType(20);
            file->setParent(folderId);
            file->setFilesystem(filesystem);
            file->setSize(1000 + fileId);
            const Bytes fileChildKey = wrap(folderKey, fileKey);
            file->setEncryptedChildKey(fileChildKey.data(), fileChildKey.size());
            const Bytes fileAttributes =
                sealAttributes(random, fileKey, "document " + std::to_string(fileId) + ".pdf", &hash);
            file->setEncryptedAttributes(fileAttributes.data(), fileAttributes.size());
            Bytes fingerprint(20);
            CryptoPP::BLAKE2b blake(fingerprintKey.data(), fingerprintKey.size(), nullptr, 0, nullptr, 0, false, 20);
            blake.CalculateDigest(fingerprint.data(), hash.data(), hash.size());
            file->setEncryptedFingerprint(fingerprint.data(), fingerprint.size());
            list->push_back(file);
        }
    }
    return list;
}

// addNodes of a full fetch inside one transaction, as the API manager applies it; folders
// enter RAM under the loaded root, files go to the cache table.
void BM_ApplyReceivedNodes(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    const Bytes masterKey = keyOf(1);
    const Bytes fingerprintKey = keyOf(2);
    const Bytes rootKey = keyOf(3);
    const uint64_t filesystem = uint64_t{1} << 15;
    size_t stored = 0;
    int32_t inRam = 0;
    long peakGrowthKb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        char pattern[] = "/tmp/corvane-cloud-apply-XXXXXX";
        const std::string dir = mkdtemp(pattern);
        auto nodes = receivedNodes(count, rootKey, fingerprintKey, filesystem);
        corvane::LibuvLoop mainLoop;
        corvane::LibuvLoop databaseLoop;
        corvane::LibuvLoop cryptoLoop;
        mainLoop.start();
        databaseLoop.start();
        cryptoLoop.start();
        {
            corvane::CryptoppCrypto crypto(&cryptoLoop, &mainLoop);
            corvane::CryptoManager cryptoManager(&crypto);
            corvane::SQLiteDatabase database(&databaseLoop, &mainLoop);
            Cloud cloud(&cryptoManager, &database, &mainLoop, dir);
            std::promise<void> ready;
            mainLoop.post([&]() {
                cloud.initialize(masterKey, fingerprintKey, {}, {}, kHandle, kAccount, 0, [&]() {
                    auto root = std::make_shared<corvane::MutableNodeData>();
                    root->setId(1);
                    root->setType(0);
                    root->setFilesystem(filesystem);
                    root->setKey(&rootKey);
                    cloud.updateNode(
                        root,
                        [&](Cloud::NodePointer stored) {
                            stored->setChildrenLoaded(true);
                            ready.set_value();
                        },
                        true);
                });
            });
            ready.get_future().wait();
            resetPeakResident();
            const long before = residentKb();
            state.ResumeTiming();

            std::promise<size_t> done;
            mainLoop.post([&]() {
                cloud.beginTransaction();
                cloud.addNodes(
                    nodes,
                    [&](Cloud::NodeListPointer result) {
                        cloud.endTransaction(2, [&, result]() { done.set_value(result ? result->size() : 0); });
                    },
                    true);
            });
            stored = done.get_future().get();

            state.PauseTiming();
            peakGrowthKb = peakResidentKb() - before;
            std::promise<int32_t> counted;
            mainLoop.post([&]() { counted.set_value(cloud.getRamNodeCount()); });
            inRam = counted.get_future().get();
            mainLoop.stop();
            databaseLoop.stop();
            cryptoLoop.stop();
            mainLoop.join();
            databaseLoop.join();
            cryptoLoop.join();
        }
        nodes.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        state.ResumeTiming();
    }
    if (stored != count) {
        state.SkipWithError("not every node was stored");
    }
    state.counters["stored"] = static_cast<double>(stored);
    state.counters["in_ram"] = static_cast<double>(inRam);
    state.counters["peak_growth_MB"] = static_cast<double>(peakGrowthKb) / 1024.0;
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
}
BENCHMARK(BM_ApplyReceivedNodes)->Arg(100000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
