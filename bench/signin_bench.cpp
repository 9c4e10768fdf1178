// Signing in with the password beside the bare key derivation it starts with: the derivation
// (PBKDF2-HMAC-SHA512, 150,000 rounds) should be nearly all of a sign-in against a loopback
// service; the rest is one exchange, the key chain and installing the session.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>

#include "client/corvane.h"
#include "corvane/action_data.h"
#include "corvane/action_listener.h"
#include "corvane/corvane_settings.h"
#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "support/account_keys.h"
#include "support/stand_in_client.h"
#include "util/deployment.h"

namespace {

constexpr const char* kEmail = "bench@example.test";
constexpr const char* kPassword = "a password of some length";

void BM_DeriveUserKeys(benchmark::State& state) {
    corvane::LibuvLoop mainLoop;
    corvane::LibuvLoop cryptoLoop;
    mainLoop.start();
    cryptoLoop.start();
    {
        corvane::CryptoppCrypto crypto(&cryptoLoop, &mainLoop);
        corvane::CryptoManager manager(&crypto);
        for (auto _ : state) {
            std::promise<bool> done;
            mainLoop.post([&] {
                manager.deriveUserKeys(kEmail, kPassword, [&](corvane::CryptoBytes first, corvane::CryptoBytes second) {
                    done.set_value(first != nullptr && second != nullptr);
                });
            });
            if (!done.get_future().get()) {
                state.SkipWithError("derivation failed");
                break;
            }
        }
        cryptoLoop.stop();
        cryptoLoop.join();
    }
    mainLoop.stop();
    mainLoop.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeriveUserKeys)->UseRealTime()->Unit(benchmark::kMillisecond);

class FinishWaiter : public corvane::ActionListener {
public:
    void onActionFinish(std::shared_ptr<corvane::ActionData> action) override {
        std::lock_guard<std::mutex> guard(mutex_);
        error_ = action->getErrorCode();
        done_ = true;
        condition_.notify_all();
    }
    int32_t wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [&] { return done_; });
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool done_ = false;
    int32_t error_ = 0;
};

// A whole LOGIN through the facade against the stand-in over loopback HTTPS, from the call to
// the finish notification.
void BM_SignInWithPassword(benchmark::State& state) {
    corvane::service::StandInService service;
    if (!service.start()) {
        state.SkipWithError("stand-in did not start");
        return;
    }
    corvane::test::signin::AccountKeys keys(kEmail, kPassword);
    if (corvane::test::signin::registerUser(service, keys, 1234).account == 0) {
        state.SkipWithError("registration failed");
        return;
    }
    const corvane::Deployment saved = corvane::getDeployment();
    corvane::Deployment deployment = saved;
    deployment.apiBaseUrl = service.apiUrl();
    deployment.apiPin = service.pin();
    deployment.caFile.clear();
    corvane::setDeployment(deployment);
    corvane::Corvane::globalInit("SignInBench", 1);
    char folder[] = "/tmp/signin-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    corvane::CorvaneSettings settings;
    settings.setDataPath(folder);
    {
        corvane::Corvane facade(nullptr, &settings);
        for (auto _ : state) {
            FinishWaiter waiter;
            facade.login(kEmail, kPassword, &waiter);
            if (waiter.wait() != 0) {
                state.SkipWithError("sign-in failed");
                break;
            }
        }
    }
    std::filesystem::remove_all(folder);
    corvane::Corvane::globalCleanup();
    corvane::setDeployment(saved);
    service.stop();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignInWithPassword)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
