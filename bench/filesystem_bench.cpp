// Fingerprinting a file through the filesystem module beside the bare single-core BLAKE2b
// rate on the same bytes, measured in the same run: a 32 MiB file (full hash over every
// block) and a 1 GiB sparse file (sparse hash over 32 sampled blocks). The "ratio" counter is
// the bare time over the module's time, each the fastest of its runs so that a busy machine
// disturbs it least: 1.0 means the module costs nothing beyond the hashing.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "crypto/blake2b.h"
#include "filesystem/file_signature.h"
#include "filesystem/libuv_filesystem.h"
#include "loop/libuv_loop.h"

namespace {

constexpr uint64_t kBlock = 1048576;

struct TempFile {
    std::string path;
    explicit TempFile(const std::string& name) {
        path = (std::filesystem::temp_directory_path() / ("corvane-fs-bench-" + std::to_string(getpid()) + "-" + name))
                   .string();
    }
    ~TempFile() { ::unlink(path.c_str()); }
};

// Pseudo-random contents, so nothing compresses or repeats.
void writeRandomFile(const std::string& path, uint64_t size) {
    int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<uint8_t> block(kBlock);
    uint64_t state = 0x9e3779b97f4a7c15ull;
    for (uint64_t offset = 0; offset < size; offset += kBlock) {
        for (auto& byte : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<uint8_t>(state);
        }
        (void)!pwrite(descriptor, block.data(), std::min(kBlock, size - offset), static_cast<off_t>(offset));
    }
    ::close(descriptor);
}

// Holes except for a mark at the start of every block.
void writeSparseFile(const std::string& path, uint64_t size) {
    int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    (void)!ftruncate(descriptor, static_cast<off_t>(size));
    for (uint64_t offset = 0; offset < size; offset += kBlock) {
        uint64_t mark = offset;
        (void)!pwrite(descriptor, &mark, sizeof(mark), static_cast<off_t>(offset));
    }
    ::close(descriptor);
}

std::vector<uint8_t> readBlock(const std::string& path, uint64_t index, uint64_t size) {
    std::vector<uint8_t> block(std::min(kBlock, size - index * kBlock));
    int descriptor = ::open(path.c_str(), O_RDONLY);
    (void)!pread(descriptor, block.data(), block.size(), static_cast<off_t>(index * kBlock));
    ::close(descriptor);
    return block;
}

// The bare work on the same bytes: one strong sum per block, then the hash of the strong sums.
// Each block is first copied into one warm buffer outside the timing, as the module hashes a
// block it has just read, so only the hashing itself is timed.
double bareSeconds(const std::vector<std::vector<uint8_t>>& blocks) {
    static std::vector<uint8_t> warm(kBlock);
    double seconds = 0;
    corvane::Blake2b hash(32);
    uint8_t sum[32];
    for (const auto& block : blocks) {
        std::copy(block.begin(), block.end(), warm.begin());
        auto start = std::chrono::steady_clock::now();
        corvane::Blake2b::hash(warm.data(), block.size(), sum, 32);
        hash.update(sum, 32);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    auto start = std::chrono::steady_clock::now();
    hash.final(sum);
    benchmark::DoNotOptimize(sum);
    return seconds + std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void runHashFile(benchmark::State& state, uint64_t size, bool sparse) {
    TempFile file(sparse ? "sparse" : "full");
    if (sparse) {
        writeSparseFile(file.path, size);
    } else {
        writeRandomFile(file.path, size);
    }
    const uint64_t blockCount = corvane::fingerprintBlockCount(size);
    std::vector<uint64_t> indices = corvane::sparseHashSamples(blockCount);
    if (!sparse) {
        indices.clear();
        for (uint64_t k = 0; k < blockCount; k++) {
            indices.push_back(k);
        }
    }
    std::vector<std::vector<uint8_t>> blocks;
    for (uint64_t k : indices) {
        blocks.push_back(readBlock(file.path, k, size));
    }
    const double hashedBytes = static_cast<double>(indices.size() * kBlock);

    corvane::LibuvLoop fsLoop;
    corvane::LibuvLoop mainLoop;
    fsLoop.start();
    mainLoop.start();
    {
        corvane::LibuvFilesystem fs(&fsLoop, &mainLoop);
        double moduleBest = 1e9;
        double bareBest = 1e9;
        bool ok = true;
        for (auto _ : state) {
            std::promise<bool> done;
            auto start = std::chrono::steady_clock::now();
            fs.hashFile(file.path, [&](std::vector<uint8_t> full, std::vector<uint8_t> sparseHash, uint64_t, uint64_t,
                                       bool result) { done.set_value(result && (full.size() | sparseHash.size())); });
            ok = done.get_future().get() && ok;
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            state.SetIterationTime(seconds);
            moduleBest = std::min(moduleBest, seconds);
            bareBest = std::min(bareBest, bareSeconds(blocks));
        }
        if (!ok) {
            state.SkipWithError("hashFile failed");
        }
        state.counters["module_MBps"] = hashedBytes / moduleBest / 1e6;
        state.counters["bare_MBps"] = hashedBytes / bareBest / 1e6;
        state.counters["ratio"] = bareBest / moduleBest;
        fsLoop.stop();
        fsLoop.join();
        mainLoop.stop();
        mainLoop.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(hashedBytes * static_cast<double>(state.iterations())));
}

void BM_HashFile_Full32MiB(benchmark::State& state) {
    runHashFile(state, 32 * kBlock, false);
}
BENCHMARK(BM_HashFile_Full32MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_HashFile_Sparse1GiB(benchmark::State& state) {
    runHashFile(state, 1024 * kBlock, true);
}
BENCHMARK(BM_HashFile_Sparse1GiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
