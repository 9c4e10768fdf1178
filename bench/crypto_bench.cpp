// Throughput of the crypto primitives on the sizes the SDK uses: 1 MiB file chunks, 1 KiB
// sealed blobs, fingerprints, and the login key derivation. After the benchmarks, the SDK's
// keyed BLAKE2b of 1 MiB is set beside OpenSSL's called directly, the b2sum tool on the same
// bytes and Crypto++'s (its former back end), as ratios.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <cryptopp/blake2.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "crypto/blake2b.h"
#include "crypto/cryptopp_crypto.h"

namespace {

constexpr size_t kChunkSize = 1 << 20;
constexpr size_t kBlobSize = 1 << 10;
constexpr uint32_t kLoginIterations = 150000;

using Bytes = std::vector<uint8_t>;

// No loops: every completion runs before the primitive returns.
corvane::CryptoppCrypto& module() {
    static corvane::CryptoppCrypto instance(nullptr, nullptr);
    return instance;
}

void BM_AesCtr(benchmark::State& state, bool aes256) {
    corvane::CryptoppAesCrypto aes;
    const Bytes data(kChunkSize, 0x5a);
    const Bytes counter(16, 0);
    const Bytes key(aes256 ? 32 : 16, 0x11);
    for (auto _ : state) {
        corvane::CryptoBytes out;
        auto done = [&](corvane::CryptoBytes result) { out = std::move(result); };
        if (aes256) {
            aes.encryptCtr256(&module(), data.data(), data.size(), counter.data(), key.data(), done);
        } else {
            aes.encryptCtr128(&module(), data.data(), data.size(), counter.data(), key.data(), done);
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkSize);
}
BENCHMARK_CAPTURE(BM_AesCtr, aes256_1MiB, true);
BENCHMARK_CAPTURE(BM_AesCtr, aes128_1MiB, false);

// The same into one buffer the caller keeps, as a chunk loop does.
void BM_AesCtrInto(benchmark::State& state, bool aes256) {
    corvane::CryptoppAesCrypto aes;
    const Bytes data(kChunkSize, 0x5a);
    Bytes out(kChunkSize);
    const Bytes counter(16, 0);
    const Bytes key(aes256 ? 32 : 16, 0x11);
    for (auto _ : state) {
        bool written = false;
        auto done = [&](bool result) { written = result; };
        if (aes256) {
            aes.transformCtr256(&module(), data.data(), data.size(), counter.data(), key.data(), out.data(), done);
        } else {
            aes.transformCtr128(&module(), data.data(), data.size(), counter.data(), key.data(), out.data(), done);
        }
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkSize);
}
BENCHMARK_CAPTURE(BM_AesCtrInto, aes256_1MiB, true);
BENCHMARK_CAPTURE(BM_AesCtrInto, aes128_1MiB, false);

void BM_GcmSeal(benchmark::State& state) {
    corvane::CryptoppAesCrypto aes;
    const Bytes data(kBlobSize, 0x5a);
    const Bytes iv(12, 3);
    const Bytes key(32, 0x11);
    for (auto _ : state) {
        corvane::CryptoBytes out;
        aes.encryptGcm256(&module(), data.data(), data.size(), iv.data(), key.data(),
                          [&](corvane::CryptoBytes result) { out = std::move(result); });
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_GcmSeal);

void BM_GcmOpen(benchmark::State& state) {
    corvane::CryptoppAesCrypto aes;
    const Bytes data(kBlobSize, 0x5a);
    const Bytes iv(12, 3);
    const Bytes key(32, 0x11);
    Bytes sealed;
    aes.encryptGcm256(&module(), data.data(), data.size(), iv.data(), key.data(),
                      [&](corvane::CryptoBytes result) { sealed = *result; });
    for (auto _ : state) {
        corvane::CryptoBytes out;
        aes.decryptGcm256(&module(), sealed.data(), sealed.size(), iv.data(), key.data(),
                          [&](corvane::CryptoBytes result) { out = std::move(result); });
        if (!out) {
            state.SkipWithError("tag did not verify");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_GcmOpen);

// The fingerprint hash: keyed BLAKE2b with a 20-byte digest.
void BM_KeyedBlake2b(benchmark::State& state) {
    const Bytes data(kChunkSize, 0x5a);
    const Bytes key(32, 0x22);
    Bytes digest(20);
    for (auto _ : state) {
        corvane::Blake2b::hash(data.data(), data.size(), digest.data(), digest.size(), key.data(), key.size());
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkSize);
}
BENCHMARK(BM_KeyedBlake2b);

// A block's strong sum in the file signatures: unkeyed BLAKE2b with a 32-byte digest.
void BM_StrongSumBlake2b(benchmark::State& state) {
    const Bytes data(kChunkSize, 0x5a);
    Bytes digest(32);
    for (auto _ : state) {
        corvane::Blake2b::hash(data.data(), data.size(), digest.data(), digest.size());
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkSize);
}
BENCHMARK(BM_StrongSumBlake2b);

void BM_Pbkdf2Login(benchmark::State& state) {
    corvane::CryptoppShaHash sha;
    const Bytes password = {'c', 'o', 'r', 'r', 'e', 'c', 't', ' ', 'h', 'o', 'r', 's', 'e'};
    const Bytes salt(32, 0x33);
    for (auto _ : state) {
        corvane::CryptoBytes out;
        sha.pbkdf2Sha512(&module(), password.data(), password.size(), salt.data(), salt.size(), kLoginIterations,
                         [&](corvane::CryptoBytes result) { out = std::move(result); });
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_Pbkdf2Login)->Unit(benchmark::kMillisecond);

// ---- keyed BLAKE2b of 1 MiB beside its references, in one run

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// MiB per CPU second of hashing the chunk repeatedly for about a quarter of a second; CPU
// time, so that the other work on a loaded machine does not count against a contender.
double inProcessRate(const std::function<void()>& hashChunk) {
    hashChunk();
    size_t rounds = 0;
    const double start = threadSeconds();
    double elapsed = 0;
    do {
        hashChunk();
        ++rounds;
        elapsed = threadSeconds() - start;
    } while (elapsed < 0.25);
    return static_cast<double>(rounds) / elapsed;
}

// CPU seconds (user and system) of one b2sum run over the file.
double b2sumSeconds(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execlp("b2sum", "b2sum", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void compareBlake2b() {
    constexpr size_t kCopies = 128;
    constexpr int kRounds = 5;
    Bytes chunk(kChunkSize);
    for (size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    }
    const Bytes key(32, 0x22);
    Bytes digest(64);

    // b2sum reads the same chunk, repeated, from tmpfs; its start-up is measured on an empty
    // file and taken off.
    char directory[] = "/dev/shm/crypto_bench.XXXXXX";
    if (!mkdtemp(directory)) {
        std::perror("mkdtemp");
        return;
    }
    const std::string chunks = std::string(directory) + "/chunks";
    const std::string empty = std::string(directory) + "/empty";
    FILE* file = std::fopen(chunks.c_str(), "wb");
    for (size_t i = 0; file && i < kCopies; ++i) {
        std::fwrite(chunk.data(), 1, chunk.size(), file);
    }
    if (file) {
        std::fclose(file);
    }
    if (FILE* nothing = std::fopen(empty.c_str(), "wb")) {
        std::fclose(nothing);
    }

    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "BLAKE2BMAC", nullptr);
    size_t macSize = 20;
    OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &macSize), OSSL_PARAM_END};

    std::vector<double> sdk, openssl, b2sum, cryptopp;
    for (int round = 0; round < kRounds; ++round) {
        sdk.push_back(inProcessRate(
            [&] { corvane::Blake2b::hash(chunk.data(), chunk.size(), digest.data(), 20, key.data(), key.size()); }));
        openssl.push_back(inProcessRate([&] {
            EVP_MAC_CTX* context = EVP_MAC_CTX_new(mac);
            size_t written = 0;
            EVP_MAC_init(context, key.data(), key.size(), params);
            EVP_MAC_update(context, chunk.data(), chunk.size());
            EVP_MAC_final(context, digest.data(), &written, digest.size());
            EVP_MAC_CTX_free(context);
        }));
        cryptopp.push_back(inProcessRate([&] {
            CryptoPP::BLAKE2b hash(key.data(), key.size(), nullptr, 0, nullptr, 0, false, 20);
            hash.CalculateDigest(digest.data(), chunk.data(), chunk.size());
        }));
        const double full = b2sumSeconds(chunks);
        const double start = b2sumSeconds(empty);
        b2sum.push_back(full > start && start >= 0 ? static_cast<double>(kCopies) / (full - start) : 0);
    }
    EVP_MAC_free(mac);
    std::remove(chunks.c_str());
    std::remove(empty.c_str());
    rmdir(directory);

    const double sdkRate = median(sdk);
    std::printf("\nKeyed BLAKE2b of 1 MiB (32-byte key, 20-byte digest), MiB per CPU second, median of %d rounds:\n",
                kRounds);
    std::printf("  SDK Blake2b          %8.0f\n", sdkRate);
    std::printf("  OpenSSL BLAKE2BMAC   %8.0f   SDK / OpenSSL  = %.2f\n", median(openssl), sdkRate / median(openssl));
    std::printf("  b2sum (unkeyed, %zu MiB from tmpfs, start-up taken off) %8.0f   SDK / b2sum = %.2f\n", kCopies,
                median(b2sum), median(b2sum) > 0 ? sdkRate / median(b2sum) : 0.0);
    std::printf("  Crypto++ BLAKE2b     %8.0f   SDK / Crypto++ = %.2f\n", median(cryptopp), sdkRate / median(cryptopp));
}

}  // namespace

int main(int argc, char** argv) {
    // A filter that names no BLAKE2b benchmark skips the comparison, so a profile of one
    // benchmark holds only that benchmark.
    bool compare = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--benchmark_filter=", 0) == 0) {
            compare = argument.find("Blake2b") != std::string::npos;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (compare) {
        compareBlake2b();
    }
    return 0;
}
