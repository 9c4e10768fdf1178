// Children listing of a parent that is not held in RAM, read from a cache table of 1,000,000
// nodes (the whole table is scanned unless the parent column is indexed), and sorting 10,000
// names in natural order.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cloud/cloud.h"
#include "cloud/node_order.h"
#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "database/database.h"
#include "database/sqlite_database.h"
#include "loop/libuv_loop.h"

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
        sqlite3_exec(db,
                     indexed ? "CREATE INDEX IF NOT EXISTS nodes_parent ON nodes(parent)"
                             : "DROP INDEX IF EXISTS nodes_parent",
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

}  // namespace

BENCHMARK_MAIN();
