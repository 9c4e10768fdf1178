// Round trips of one batch of 100 test requests through the request channel, the libcurl
// transport and loopback TLS to the stand-in service, in requests per second.
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "request/request_channel.h"
#include "request/utils_request.h"
#include "stand_in_service.h"
#include "util/deployment.h"

namespace {

constexpr int kBatch = 100;

// Runs each request's (empty) local phase at once and counts the finished ones.
class Counter : public corvane::RequestListener {
public:
    void processed(std::shared_ptr<corvane::Request> request) override { request->applyResults(nullptr); }
    void finished(std::shared_ptr<corvane::Request> request) override {
        ok_ += request->getActionData()->getErrorCode() == 0;
        if (++finished_ == kBatch) {
            done_.set_value(ok_);
        }
    }
    std::future<int> start() {
        finished_ = 0;
        ok_ = 0;
        done_ = std::promise<int>();
        return done_.get_future();
    }

private:
    int finished_ = 0;
    int ok_ = 0;
    std::promise<int> done_;
};

void BM_RequestChannelBatch(benchmark::State& state) {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
    corvane::service::StandInService service;
    if (!service.start()) {
        state.SkipWithError("the stand-in did not start");
        return;
    }
    corvane::Deployment saved = corvane::getDeployment();
    corvane::Deployment deployment = saved;
    deployment.apiBaseUrl = service.apiUrl();
    deployment.apiPin = service.pin();
    corvane::setDeployment(deployment);
    corvane::CurlHttp::initialize();
    {
        corvane::LibuvLoop mainLoop;
        corvane::LibuvLoop httpLoop;
        mainLoop.start();
        httpLoop.start();
        corvane::CurlHttp transport(&httpLoop, nullptr, &mainLoop);
        corvane::RequestChannel channel(nullptr, &transport);
        Counter counter;
        // An unfinished leading request holds the batch back while it is queued, so that
        // all of it goes in one POST once the gate is removed.
        auto gate = std::make_shared<corvane::TestRequest>(nullptr);

        for (auto _ : state) {
            state.PauseTiming();
            std::vector<std::shared_ptr<corvane::NetworkRequest>> requests;
            for (int i = 0; i < kBatch; ++i) {
                auto request =
                    std::make_shared<corvane::TestRequest>(std::make_shared<corvane::MutableActionData>(corvane::TEST));
                request->setListener(&counter);
                requests.push_back(std::move(request));
            }
            std::future<int> done = counter.start();
            state.ResumeTiming();
            mainLoop.post([&] {
                channel.setLeadingRequest(gate);
                for (auto& request : requests) {
                    channel.queue(request);
                }
                channel.setLeadingRequest(nullptr);
                channel.sendHttpRequest(false);
            });
            if (done.get() != kBatch) {
                state.SkipWithError("a request failed");
                break;
            }
        }
        state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
        httpLoop.stop();
        httpLoop.join();
        mainLoop.stop();
        mainLoop.join();
    }
    corvane::CurlHttp::cleanup();
    corvane::setDeployment(saved);
    service.stop();
}

BENCHMARK(BM_RequestChannelBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
