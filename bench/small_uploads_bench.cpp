// 1,000 uploads of 4 KiB files at once through the facade against the stand-in over loopback
// HTTPS: files per second, and how many API requests the request channel carries per batch
// (POST), which shows whether the link and node requests of many small uploads share batches.
// The batch figures come from a second, untimed round with the channel's debug lines counted,
// so that logging does not slow the timed one.

#include <benchmark/benchmark.h>

#include <atomic>
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

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include "client/corvane.h"
#include "cloud/cloud.h"
#include "corvane/action_data.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/mutable_action_data.h"
#include "http/curl_http.h"
#include "stand_in_service.h"
#include "support/facade_access.h"
#include "util/deployment.h"
#include "util/log.h"

namespace {

constexpr const char* kEmail = "small-uploads-bench@example.test";
constexpr const char* kPassword = "a password of some length";
constexpr int kFiles = 1000;
constexpr size_t kFileSize = 4096;

class Waiter : public corvane::ActionListener {
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

// Counts the finishes of many actions and their failures.
class Counter : public corvane::ActionListener {
public:
    explicit Counter(int expected) : expected_(expected) {}
    void onActionFinish(std::shared_ptr<corvane::ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ += action->getErrorCode() != 0 ? 1 : 0;
        if (++finished_ == expected_) {
            condition_.notify_all();
        }
    }
    // The number of failures once all have finished.
    int wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [&] { return finished_ == expected_; });
        return failed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    const int expected_;
    int finished_ = 0;
    int failed_ = 0;
};

// Reads the request channel's "[req] Sending {} requests" lines.
class BatchSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::atomic<uint64_t> batches{0};
    std::atomic<uint64_t> requests{0};

protected:
    void sink_it_(const spdlog::details::log_msg& message) override {
        static const std::string prefix = "[req] Sending ";
        const std::string text(message.payload.data(), message.payload.size());
        if (text.rfind(prefix, 0) != 0) {
            return;
        }
        ++batches;
        requests += std::strtoull(text.c_str() + prefix.size(), nullptr, 10);
    }
    void flush_() override {}
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

// One signed-in facade on a fresh stand-in, its tree loaded.
struct Setup {
    corvane::service::StandInService service;
    corvane::Deployment saved = corvane::getDeployment();
    std::string folder;
    std::unique_ptr<corvane::CorvaneSettings> settings;
    std::unique_ptr<corvane::Corvane> facade;
    uint64_t root = 0;
    std::string error;

    Setup() {
        char pattern[] = "/tmp/small-uploads-bench-XXXXXX";
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
        corvane::Corvane::globalInit("SmallUploadsBench", 1);
        settings = std::make_unique<corvane::CorvaneSettings>();
        settings->setDataPath(folder.c_str());
        facade = std::make_unique<corvane::Corvane>(nullptr, settings.get());
        Waiter verified;
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
        Waiter created;
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
        Waiter tree;
        corvane::test::FacadeAccess::submit(*facade, corvane::GET_NODES, &tree);
        if (tree.wait() != 0) {
            error = "tree not loaded";
            return;
        }
        corvane::SdkApiManager* api = &corvane::test::FacadeAccess::manager(*facade);
        onLoop(api->getLoop(), [&]() {
            corvane::Cloud* cloud = api->getCloud();
            root = cloud->getMainRoot() ? cloud->getMainRoot()->getId() : 0;
        });
        std::filesystem::create_directory(folder + "/files");
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

    // New contents each round, so that no file is recognised as stored already.
    std::vector<std::string> writeFiles(uint32_t round) const {
        std::vector<std::string> paths;
        std::vector<char> bytes(kFileSize);
        for (int i = 0; i < kFiles; ++i) {
            uint32_t x = round * 2654435761u + static_cast<uint32_t>(i) * 40503u + 1;
            for (char& b : bytes) {
                x = x * 1103515245u + 12345u;
                b = static_cast<char>(x >> 16);
            }
            paths.push_back(folder + "/files/" + std::to_string(round) + "-" + std::to_string(i) + ".bin");
            std::ofstream(paths.back(), std::ios::binary)
                .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        return paths;
    }

    // Submits every upload at once; the number that failed.
    int uploadAll(const std::vector<std::string>& paths) {
        Counter counter(static_cast<int>(paths.size()));
        for (const std::string& path : paths) {
            corvane::test::FacadeAccess::submit(*facade, corvane::UPLOAD, &counter, [&](corvane::MutableActionData& a) {
                a.setName(path.c_str());
                a.setParentHandle(root);
            });
        }
        return counter.wait();
    }
};

void BM_SmallFileUploads(benchmark::State& state) {
    corvane::CurlHttp::initialize();
    // Loop threads may still hold the counting logger after it was replaced: it outlives them.
    std::shared_ptr<spdlog::logger> logger;
    {
        Setup setup;
        if (!setup.error.empty() || setup.root == 0) {
            state.SkipWithError(setup.error.empty() ? "no root" : setup.error.c_str());
            return;
        }
        uint32_t round = 0;
        double seconds = 0;
        for (auto _ : state) {
            state.PauseTiming();
            const std::vector<std::string> paths = setup.writeFiles(++round);
            state.ResumeTiming();
            const auto start = std::chrono::steady_clock::now();
            const int failed = setup.uploadAll(paths);
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (failed != 0) {
                state.SkipWithError("uploads failed");
                break;
            }
        }
        const double files = static_cast<double>(state.iterations()) * kFiles;
        state.counters["files_per_s"] = seconds > 0 ? files / seconds : 0;

        // The untimed round with the channel's batches counted.
        auto sink = std::make_shared<BatchSink>();
        logger = std::make_shared<spdlog::logger>("corvane", sink);
        logger->set_level(spdlog::level::debug);
        corvane::log::set(logger);
        const int failed = setup.uploadAll(setup.writeFiles(++round));
        corvane::log::set(nullptr);
        const double batches = static_cast<double>(sink->batches.load());
        state.counters["batches"] = batches;
        state.counters["requests_per_batch"] = batches > 0 ? static_cast<double>(sink->requests.load()) / batches : 0;
        state.counters["api_requests_per_file"] = static_cast<double>(sink->requests.load()) / kFiles;
        state.counters["failed_in_count_round"] = failed;
        state.SetItemsProcessed(static_cast<int64_t>(files));
    }
    corvane::CurlHttp::cleanup();
}

}  // namespace

BENCHMARK(BM_SmallFileUploads)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();
