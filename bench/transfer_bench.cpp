// Uploading and downloading a 256 MiB file end to end against the stand-in over loopback
// HTTPS, beside the bare rates of the stages a transfer is made of, measured in the same run:
// single-core BLAKE2b (the content signature), AES-256-CTR (the chunk cipher) and the curl tool
// moving the same 1 MiB chunks four at a time to and from the same stand-in (under an account of
// its own). A transfer should move at 0.9 or better of its slowest stage, since hashing overlaps
// encryption and sending; its peak memory should be a few chunks, not the file. Rates in MB/s
// (10^6 bytes per second).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "account_directory.h"
#include "client/corvane.h"
#include "cloud/cloud.h"
#include "corvane/account_info_data.h"
#include "corvane/action_data.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/mutable_action_data.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_transfer_data.h"
#include "http/curl_http.h"
#include "stand_in_service.h"
#include "support/facade_access.h"
#include "transfer/download_transfer_processor.h"
#include "transfer/transfer_listener.h"
#include "transfer/upload_transfer_processor.h"
#include "transfer_bare_rates.h"
#include "transfer_bare_stand_in.h"
#include "util/deployment.h"

namespace {

constexpr const char* kEmail = "transfer-bench@example.test";
constexpr const char* kPassword = "a password of some length";
constexpr uint64_t kFileSize = uint64_t(256) << 20;
constexpr size_t kChunk = 1 << 20;

std::vector<uint8_t> chunkOfNoise(uint32_t seed) {
    std::vector<uint8_t> bytes(kChunk);
    uint32_t x = seed * 2654435761u + 7;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// Peak resident set of the process so far, in MiB.
double peakRssMiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

class Owner : public corvane::TransferListener {
public:
    void onTransferFinish(std::shared_ptr<corvane::MutableTransferData> transfer) override {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = transfer->getError().getCode();
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
    int32_t error_ = -1;
};

class LoginWaiter : public corvane::ActionListener {
public:
    void onActionFinish(std::shared_ptr<corvane::ActionData> action) override {
        text = action->getTextString();
        done_.set_value(action->getErrorCode());
    }
    int32_t wait() { return done_.get_future().get(); }

    std::string text;

private:
    std::promise<int32_t> done_;
};

template <typename Function>
void onLoop(corvane::Loop* loop, Function function) {
    std::promise<void> done;
    loop->post([&]() {
        function();
        done.set_value();
    });
    done.get_future().wait();
}

// One signed-in facade on a fresh stand-in with a 256 MiB file to move.
struct Setup {
    corvane::service::StandInService service;
    corvane::Deployment saved = corvane::getDeployment();
    std::string folder;
    std::unique_ptr<corvane::CorvaneSettings> settings;
    std::unique_ptr<corvane::Corvane> facade;
    corvane::SdkApiManager* api = nullptr;
    std::string error;

    Setup() {
        char pattern[] = "/tmp/transfer-bench-XXXXXX";
        folder = mkdtemp(pattern) != nullptr ? pattern : "";
        if (folder.empty() || !service.start()) {
            error = "stand-in did not start";
            return;
        }
        corvane::Deployment deployment = saved;
        deployment.apiBaseUrl = service.apiUrl();
        deployment.apiPin = service.pin();
        deployment.caFile = service.certificatePath();
        corvane::setDeployment(deployment);
        corvane::Corvane::globalInit("TransferBench", 1);
        settings = std::make_unique<corvane::CorvaneSettings>();
        settings->setDataPath(folder.c_str());
        facade = std::make_unique<corvane::Corvane>(nullptr, settings.get());
        // Registered through the SDK's own actions, which leaves the new account signed in.
        LoginWaiter verified;
        corvane::test::FacadeAccess::submit(*facade, corvane::VERIFY_EMAIL, &verified,
                                            [](corvane::MutableActionData& a) {
                                                a.setEmail(kEmail);
                                                a.setName("Bench");
                                                a.setExtraText("Mark");
                                            });
        if (verified.wait() != 0 || verified.text.empty()) {
            error = "registration refused";
            return;
        }
        const std::string registration = verified.text;
        LoginWaiter created;
        corvane::test::FacadeAccess::submit(*facade, corvane::CREATE_ACCOUNT, &created,
                                            [&](corvane::MutableActionData& a) {
                                                a.setText(registration.c_str());
                                                a.setName("Bench");
                                                a.setExtraText("Mark");
                                                a.setEmail(kEmail);
                                                a.setPassword(kPassword);
                                                a.setOption(1234);
                                            });
        if (created.wait() != 0) {
            error = "account creation failed";
            return;
        }
        // The account's tree, so that new nodes have their parent in the cache.
        LoginWaiter tree;
        corvane::test::FacadeAccess::submit(*facade, corvane::GET_NODES, &tree);
        if (tree.wait() != 0) {
            error = "tree not loaded";
            return;
        }
        api = &corvane::test::FacadeAccess::manager(*facade);
        std::ofstream out(source(), std::ios::binary | std::ios::trunc);
        for (uint64_t written = 0; written < kFileSize; written += kChunk) {
            const auto chunk = chunkOfNoise(static_cast<uint32_t>(written >> 20) + 11);
            out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        }
    }
    ~Setup() {
        facade.reset();
        if (settings) {
            corvane::Corvane::globalCleanup();
        }
        corvane::setDeployment(saved);
        service.stop();
        if (!folder.empty()) {
            std::filesystem::remove_all(folder);
        }
    }
    std::string source() const { return folder + "/source.bin"; }
};

void BM_TransferEndToEnd(benchmark::State& state) {
    corvane::CurlHttp::initialize();
    {
        Setup setup;
        if (!setup.error.empty()) {
            state.SkipWithError(setup.error.c_str());
            return;
        }
        corvane::Loop* loop = setup.api->getLoop();
        std::unique_ptr<corvane::UploadTransferProcessor> upload;
        std::unique_ptr<corvane::DownloadTransferProcessor> download;
        uint64_t root = 0;
        uint8_t scheme = 0;
        onLoop(loop, [&]() {
            upload = std::make_unique<corvane::UploadTransferProcessor>(setup.api->getHttpModule(),
                                                                        setup.api->getCryptoManager(),
                                                                        setup.api->getFilesystem(), nullptr, setup.api);
            download = std::make_unique<corvane::DownloadTransferProcessor>(
                setup.api->getHttpModule(), setup.api->getCryptoManager(), setup.api->getFilesystem(), nullptr,
                setup.api);
            corvane::Cloud* cloud = setup.api->getCloud();
            root = cloud->getMainRoot() ? cloud->getMainRoot()->getId() : 0;
            scheme = cloud->getAccountInfo() ? cloud->getAccountInfo()->getCrypto() : 0;
        });
        const double rssBefore = peakRssMiB();
        double uploadSeconds = 0;
        double downloadSeconds = 0;
        uint32_t round = 0;
        for (auto _ : state) {
            // Each round changes the content's last chunk, so that it is not recognised and reused.
            {
                std::fstream out(setup.source(), std::ios::binary | std::ios::in | std::ios::out);
                out.seekp(static_cast<std::streamoff>(kFileSize - kChunk));
                const auto chunk = chunkOfNoise(1000 + ++round);
                out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
            }
            Owner uploaded;
            auto action = std::make_shared<corvane::MutableActionData>(corvane::UPLOAD);
            auto transfer = std::make_shared<corvane::MutableTransferData>();
            const auto start = std::chrono::steady_clock::now();
            onLoop(loop, [&]() {
                auto key = setup.api->getCryptoManager()->generateNodeKey(scheme, 20);
                transfer->setType(0);
                transfer->setFile(setup.source().c_str());
                transfer->setNodeId(root);
                transfer->setSize(kFileSize);
                transfer->setEndOffset(kFileSize);
                transfer->setNodeKey(key->data(), key->size());
                transfer->setOwner(&uploaded);
                transfer->setAction(action);
                upload->setTransfer(transfer);
            });
            if (uploaded.wait() != 0 || !action->getNode()) {
                state.SkipWithError("upload failed");
                break;
            }
            const auto middle = std::chrono::steady_clock::now();
            Owner downloaded;
            auto back = std::make_shared<corvane::MutableTransferData>();
            const std::string target = setup.folder + "/target.bin";
            onLoop(loop, [&]() {
                back->setType(1);
                back->setFile(target.c_str());
                back->setNodeId(action->getNode()->getId());
                back->setNodeKey(transfer->getNodeKey()->data(), transfer->getNodeKey()->size());
                back->setOwner(&downloaded);
                back->setAction(std::make_shared<corvane::MutableActionData>(corvane::DOWNLOAD));
                download->setTransfer(back);
            });
            if (downloaded.wait() != 0) {
                state.SkipWithError("download failed");
                break;
            }
            const auto end = std::chrono::steady_clock::now();
            uploadSeconds += std::chrono::duration<double>(middle - start).count();
            downloadSeconds += std::chrono::duration<double>(end - middle).count();
            onLoop(loop, [&]() { download->setTransfer(nullptr); });
            std::filesystem::remove(target);
        }
        onLoop(loop, [&]() {
            upload.reset();
            download.reset();
        });
        const double bytes = static_cast<double>(kFileSize) * static_cast<double>(state.iterations());
        const double uploadRate = uploadSeconds > 0 ? bytes / uploadSeconds / 1e6 : 0;
        const double downloadRate = downloadSeconds > 0 ? bytes / downloadSeconds / 1e6 : 0;
        const double peakRss = peakRssMiB();
        // The bare stages, the curl tool's as another account of the same stand-in.
        corvane::bench::BareRates bare;
        {
            corvane::service::AccountDirectory& accounts = setup.service.accounts();
            const uint64_t user = accounts.createUser("transfer-bench-bare@example.test");
            const uint64_t account = accounts.createAccount(user);
            corvane::service::NodeRecord folder;
            folder.type = 0;
            const uint64_t parent = accounts.addRoot(account, folder, corvane::service::FilesystemRecord{});
            const std::string session = accounts.createSession(user, account);
            bare = corvane::bench::measureBareRates(setup.service, session, parent, kFileSize / kChunk);
        }
        const double slowestCpu = std::min(bare.blake2b, bare.aesCtr);
        const double slowestUpload = bare.slowestUpload();
        const double slowestDownload = bare.slowestDownload();
        state.counters["upload_MBps"] = uploadRate;
        state.counters["download_MBps"] = downloadRate;
        state.counters["bare_blake2b_MBps"] = bare.blake2b;
        state.counters["bare_aes256ctr_MBps"] = bare.aesCtr;
        state.counters["bare_curl_upload_MBps"] = bare.curlUpload;
        state.counters["bare_curl_download_MBps"] = bare.curlDownload;
        state.counters["upload_vs_slowest_cpu_stage"] = slowestCpu > 0 ? uploadRate / slowestCpu : 0;
        state.counters["download_vs_slowest_cpu_stage"] = slowestCpu > 0 ? downloadRate / slowestCpu : 0;
        state.counters["upload_vs_slowest_stage"] = slowestUpload > 0 ? uploadRate / slowestUpload : 0;
        state.counters["download_vs_slowest_stage"] = slowestDownload > 0 ? downloadRate / slowestDownload : 0;
        // Taken before the bare rates, whose buffers are not the transfers'.
        state.counters["peak_rss_growth_MiB"] = peakRss - rssBefore;
        state.counters["peak_rss_MiB"] = peakRss;
    }
    corvane::CurlHttp::cleanup();
}
BENCHMARK(BM_TransferEndToEnd)->Iterations(2)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
