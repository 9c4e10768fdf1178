// The cost of signing in with a password is the key derivation (PBKDF2-HMAC-SHA512, 150,000
// rounds over the folded address and password). This times the SDK's derivation through its
// crypto manager beside OpenSSL's PBKDF2 called directly on the same input, and prints the
// ratio. The full password sign-in against an in-process stand-in is set beside it once the
// LOGIN action is in this build.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"

namespace {

constexpr const char* kEmail = "Ada.Lovelace@example.com";
constexpr const char* kPassword = "correct horse battery staple";
constexpr int kRounds = 5;

// No loops: every completion runs before the call returns.
corvane::CryptoManager& manager() {
    static corvane::CryptoppCrypto module(nullptr, nullptr);
    static corvane::CryptoManager instance(&module);
    return instance;
}

bool sdkDerivation() {
    bool derived = false;
    manager().deriveUserKeys(kEmail, kPassword, [&](corvane::CryptoBytes auth, corvane::CryptoBytes password) {
        derived = auth && password && auth->size() == 32 && password->size() == 32;
    });
    return derived;
}

bool opensslDerivation() {
    const std::string salt = std::string("ada.lovelace@example.com") + corvane::CryptoManager::kUserKeySaltSuffix;
    const std::string password = kPassword;
    unsigned char out[64];
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                             static_cast<int>(corvane::CryptoManager::kPbkdf2Iterations), EVP_sha512(), sizeof out,
                             out) == 1;
}

void BM_DeriveUserKeys(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(sdkDerivation());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DeriveUserKeys)->Unit(benchmark::kMillisecond);

void BM_OpensslPbkdf2(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(opensslDerivation());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_OpensslPbkdf2)->Unit(benchmark::kMillisecond);

template <typename Function>
double medianSeconds(Function function) {
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!function()) {
            return -1;
        }
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double sdk = medianSeconds(sdkDerivation);
    const double openssl = medianSeconds(opensslDerivation);
    std::printf("\nUser key derivation, median of %d rounds:\n", kRounds);
    std::printf("  SDK deriveUserKeys      %7.1f ms\n", sdk * 1000);
    std::printf("  OpenSSL PBKDF2 directly %7.1f ms   SDK / OpenSSL = %.2f\n", openssl * 1000, sdk / openssl);
    return 0;
}
