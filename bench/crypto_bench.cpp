// Throughput of the crypto primitives on the sizes the SDK uses: 1 MiB file chunks, 1 KiB
// sealed blobs, fingerprints, and the login key derivation.

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>
#include <cryptopp/blake2.h>

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
        CryptoPP::BLAKE2b hash(key.data(), key.size(), nullptr, 0, nullptr, 0, false, 20);
        hash.CalculateDigest(digest.data(), data.data(), data.size());
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkSize);
}
BENCHMARK(BM_KeyedBlake2b);

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

}  // namespace

BENCHMARK_MAIN();
