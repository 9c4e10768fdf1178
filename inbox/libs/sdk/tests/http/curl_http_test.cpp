// The libcurl transport and the HTTP module against the loopback stand-in over TLS.
#include "http/curl_http.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fmt/core.h>
#include <gtest/gtest.h>

#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "support/log_capture.h"
#include "support/stand_in_deployment.h"
#include "util/deployment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using service::Fault;

// The stand-in's "/data/<n>" bytes, computed here independently.
std::string dataBytes(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    }
    return bytes;
}

// Records what the module reports about one request; called on the callback loop.
class Recorder : public HttpListener {
public:
    struct Retry {
        int32_t retries;
        int32_t status;
        Clock::time_point at;
    };
    struct Sample {
        Clock::time_point at;
        uint32_t total;
    };

    void onHttpRequestProgress(HttpRequest*, uint32_t downloaded, uint32_t uploaded, uint32_t downloadedDelta,
                               uint32_t uploadedDelta) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (downloadedDelta) {
            downloads.push_back({Clock::now(), downloaded});
        }
        if (uploadedDelta) {
            uploads.push_back({Clock::now(), uploaded});
        }
    }

    void onHttpRequestRetry(HttpRequest*, int32_t retries, int32_t status) override {
        std::lock_guard<std::mutex> lock(mutex_);
        this->retries.push_back({retries, status, Clock::now()});
        changed_.notify_all();
    }

    void onHttpRequestFinished(HttpRequest* request) override {
        std::string answer;
        const uint8_t* run = nullptr;
        while (uint32_t count = request->buffer.read(&run, 0)) {
            answer.append(reinterpret_cast<const char*>(run), count);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ++finishes;
        status = request->status;
        body = answer;
        originalLength = request->originalLength;
        capacity = request->buffer.getCapacity();
        finishedAt = Clock::now();
        changed_.notify_all();
    }

    bool waitFinished(std::chrono::milliseconds timeout = 60s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return finishes > 0; });
    }

    bool waitRetries(size_t count, std::chrono::milliseconds timeout = 60s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return retries.size() >= count; });
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        retries.clear();
        downloads.clear();
        uploads.clear();
        finishes = 0;
        status = 0;
        body.clear();
    }

    // Read after waitFinished, when nothing writes any more.
    std::vector<Retry> retries;
    std::vector<Sample> downloads;
    std::vector<Sample> uploads;
    int finishes = 0;
    int32_t status = 0;
    std::string body;
    int32_t originalLength = -1;
    uint32_t capacity = 0;
    Clock::time_point finishedAt;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

struct Exchange {
    HttpRequest request;
    Recorder recorder;
};

class CurlHttpTest : public test::LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        httpLoop_.start();
        callbackLoop_.start();
        transport_ = std::make_unique<CurlHttp>(&httpLoop_, nullptr, listenerLoop());
    }

    // Where the module calls the listeners.
    virtual TaskManager* listenerLoop() { return &callbackLoop_; }

    void TearDown() override {
        httpLoop_.stop();
        httpLoop_.join();
        callbackLoop_.stop();
        callbackLoop_.join();
        transport_.reset();
        service_.stop();
        deployment_.reset();
    }

    Exchange& exchange(const std::string& path, int32_t maxRetries = 0) {
        exchanges_.push_back(std::make_unique<Exchange>());
        Exchange& exchange = *exchanges_.back();
        exchange.request.name = "test";
        exchange.request.url = service_.baseUrl() + path;
        exchange.request.maxRetries = maxRetries;
        exchange.request.listener = &exchange.recorder;
        return exchange;
    }

    size_t requestsTo(const std::string& path) const {
        size_t count = 0;
        for (const auto& recorded : service_.requests()) {
            count += recorded.path == path;
        }
        return count;
    }

    // A fault that spoils only the first answer costs one retry at transport level (status 0),
    // and the answer kept is the second one, whole.
    void expectOneRetryThenTheWholeAnswer(size_t size) {
        Exchange& data = exchange("/data/" + std::to_string(size));
        transport_->send(&data.request);
        ASSERT_TRUE(data.recorder.waitFinished());
        EXPECT_EQ(data.recorder.status, 200);
        ASSERT_EQ(data.recorder.retries.size(), 1u);
        EXPECT_EQ(data.recorder.retries[0].status, 0);
        EXPECT_EQ(data.recorder.body, dataBytes(size));
    }

    // A refused connection ends with status 0, and the log must name the curl result that
    // refused it, so that a failure for another reason does not pass.
    void expectStatusOrCurlFailure(Exchange& data, int32_t status, CURLcode failure) {
        test::LogCapture logs;
        transport_->send(&data.request);
        ASSERT_TRUE(data.recorder.waitFinished());
        EXPECT_EQ(data.recorder.status, status);
        if (status == 0) {
            EXPECT_TRUE(logs.contains(fmt::format("Result: {} ", int(failure))));
        }
    }

    // Runs on the HTTP loop and waits for it, so that everything posted before has run.
    void syncHttpLoop() {
        std::promise<void> done;
        httpLoop_.post([&] { done.set_value(); });
        done.get_future().wait();
    }

    service::StandInService service_;
    std::unique_ptr<test::StandInDeployment> deployment_;
    LibuvLoop httpLoop_;
    LibuvLoop callbackLoop_;
    std::unique_ptr<CurlHttp> transport_;
    std::vector<std::unique_ptr<Exchange>> exchanges_;
};

TEST_F(CurlHttpTest, PlainExchangeUploadsTheBodyAndReceivesTheAnswer) {
    Exchange& echo = exchange("/echo");
    std::string sent = dataBytes(300000);
    echo.request.body.assign(sent.begin(), sent.end());
    transport_->send(&echo.request);
    ASSERT_TRUE(echo.recorder.waitFinished());
    EXPECT_EQ(echo.recorder.status, 200);
    EXPECT_EQ(echo.recorder.body, sent);
    EXPECT_EQ(echo.request.state, HttpRequest::kClosed);
    EXPECT_EQ(echo.request.transportData, nullptr);
    auto recorded = service_.requests();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].method, "POST");
}

// Listeners called at once on the HTTP loop: the times they take are those of the module's
// own steps, free of the callback loop's delivery delays, which differ from one notification
// to the next and could make a wait look shorter than it was.
class CurlHttpListenersOnTheHttpLoopTest : public CurlHttpTest {
protected:
    TaskManager* listenerLoop() override { return nullptr; }
};

TEST_F(CurlHttpListenersOnTheHttpLoopTest, RetriesUnavailableWithGrowingWaitsUntilAnAnswer) {
    service_.addFault({"/data/", 3, 503});
    Exchange& data = exchange("/data/1000");
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    EXPECT_EQ(data.recorder.status, 200);
    EXPECT_EQ(data.recorder.body, dataBytes(1000));
    EXPECT_EQ(data.recorder.finishes, 1);
    ASSERT_EQ(data.recorder.retries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(data.recorder.retries[i].retries, i + 1);
        EXPECT_EQ(data.recorder.retries[i].status, 503);
    }
    // The wait after failure n is at least 64 << n ms. Each failure is stamped before its retry
    // timer is armed, so the gap to the next one holds the whole wait; the slack covers the
    // loop clock's whole milliseconds.
    const auto slack = 2ms;
    EXPECT_GE(data.recorder.retries[1].at - data.recorder.retries[0].at, 128ms - slack);
    EXPECT_GE(data.recorder.retries[2].at - data.recorder.retries[1].at, 256ms - slack);
    EXPECT_GE(data.recorder.finishedAt - data.recorder.retries[2].at, 512ms - slack);
    EXPECT_EQ(requestsTo("/data/1000"), 4u);
}

TEST_F(CurlHttpTest, TruncatedAnswerIsRetriedAndOnlyTheLastAnswerIsKept) {
    Fault cut;
    cut.pathPrefix = "/data/";
    cut.cutAfter = 1000;
    service_.addFault(cut);
    expectOneRetryThenTheWholeAnswer(50000);
}

TEST_F(CurlHttpTest, BadRequestForbiddenAndNotFoundAreFinal) {
    struct Case {
        int32_t status;
        const char* log;
    };
    for (const Case& c :
         {Case{400, "Fatal request error 400 (Bad request)"}, Case{403, "Fatal request error 403 (Invalid session)"},
          Case{404, "Fatal request error 404 (Not found)"}}) {
        SCOPED_TRACE(c.status);
        test::LogCapture logs;
        service_.clearRequests();
        service_.addFault({"/data/", 1, c.status});
        Exchange& data = exchange("/data/10");
        transport_->send(&data.request);
        ASSERT_TRUE(data.recorder.waitFinished());
        EXPECT_EQ(data.recorder.status, c.status);
        EXPECT_TRUE(data.recorder.retries.empty());
        EXPECT_EQ(requestsTo("/data/10"), 1u);
        EXPECT_EQ(logs.count("Request failed with error"), 1u);
        EXPECT_TRUE(logs.contains(c.log));
    }
}

TEST_F(CurlHttpTest, RetryLimitEndsWithTheLastFailure) {
    test::LogCapture logs;
    Fault drop;
    drop.pathPrefix = "/data/";
    drop.times = -1;
    drop.drop = Fault::Drop::BeforeHeaders;
    service_.addFault(drop);
    Exchange& data = exchange("/data/10", 2);
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    EXPECT_EQ(data.recorder.status, 0);
    ASSERT_EQ(data.recorder.retries.size(), 1u);
    EXPECT_EQ(data.recorder.retries[0].retries, 1);
    EXPECT_EQ(data.recorder.retries[0].status, 0);
    EXPECT_TRUE(logs.contains("Max number of retries reached: (2 / 2)"));
}

TEST_F(CurlHttpTest, CancelWhileWaitingRemovesTheRetry) {
    service_.addFault({"/data/", -1, 503});
    Exchange& data = exchange("/data/10");
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitRetries(1));
    transport_->cancel(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    EXPECT_EQ(data.recorder.status, -1);
    EXPECT_EQ(data.request.state, HttpRequest::kClosed);
    EXPECT_FALSE(data.request.retrying);
    // The retry was due within 160 ms.
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(requestsTo("/data/10"), 1u);
    EXPECT_EQ(data.recorder.finishes, 1);
}

TEST_F(CurlHttpTest, CancelInFlightAbortsTheTransfer) {
    Fault slow;
    slow.pathPrefix = "/data/";
    slow.delay = 5000ms;
    service_.addFault(slow);
    Exchange& data = exchange("/data/10");
    transport_->send(&data.request);
    auto deadline = Clock::now() + 5s;
    while (requestsTo("/data/10") == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    auto cancelledAt = Clock::now();
    transport_->cancel(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished(3s));
    EXPECT_EQ(data.recorder.status, -1);
    EXPECT_LT(data.recorder.finishedAt - cancelledAt, 2s);
    EXPECT_TRUE(data.recorder.retries.empty());
}

TEST_F(CurlHttpTest, CancelRightAfterSendEndsCancelled) {
    Exchange& data = exchange("/data/10");
    transport_->send(&data.request);
    transport_->cancel(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    EXPECT_EQ(data.recorder.status, -1);
}

TEST_F(CurlHttpTest, CancelAfterTheEndChangesNothing) {
    Exchange& data = exchange("/data/10");
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    test::LogCapture logs;
    transport_->cancel(&data.request);
    syncHttpLoop();
    EXPECT_TRUE(logs.contains("Request already closed"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(data.recorder.finishes, 1);
    EXPECT_EQ(data.request.status, 200);
}

TEST_F(CurlHttpTest, PinnedExchangeNeedsTheServicesKey) {
    // No CA file: the pin alone authenticates a pinned exchange.
    Deployment deployment = getDeployment();
    deployment.caFile.clear();
    setDeployment(deployment);
    struct Case {
        const char* name;
        std::string pin;
        int32_t status;
    };
    const std::vector<Case> cases = {
        {"matching pin", service_.pin(), 200},
        {"other pin", "sha256//Tq7vLm2XcR9sNw4KpZ1hYd6FbJ3gUe8oAi5rMx0tQn2=", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exchange& data = exchange("/data/10", 1);
        data.request.pinnedKey = c.pin;
        expectStatusOrCurlFailure(data, c.status, CURLE_SSL_PINNEDPUBKEYNOTMATCH);
    }
}

TEST_F(CurlHttpTest, UnpinnedExchangeVerifiesTheCertificate) {
    struct Case {
        const char* name;
        bool withCaFile;
        int32_t status;
    };
    for (const Case& c : {Case{"stand-in certificate as CA", true, 200}, Case{"system store only", false, 0}}) {
        SCOPED_TRACE(c.name);
        Deployment deployment = getDeployment();
        deployment.caFile = c.withCaFile ? service_.certificatePath() : std::string();
        setDeployment(deployment);
        Exchange& data = exchange("/data/10", 1);
        data.request.freshConnection = true;
        expectStatusOrCurlFailure(data, c.status, CURLE_PEER_FAILED_VERIFICATION);
    }
}

TEST_F(CurlHttpTest, CompressedAnswerIsDecodedIntoABufferOfTheAnnouncedSize) {
    Fault gzip;
    gzip.pathPrefix = "/data/";
    gzip.gzip = true;
    service_.addFault(gzip);
    Exchange& data = exchange("/data/100000");
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    EXPECT_EQ(data.recorder.status, 200);
    EXPECT_EQ(data.recorder.originalLength, 100000);
    EXPECT_EQ(data.recorder.capacity, 100000u);
    EXPECT_EQ(data.recorder.body, dataBytes(100000));
}

TEST_F(CurlHttpTest, AnswerLongerThanAnnouncedIsRetriedInsteadOfHanging) {
    test::LogCapture logs;
    Fault liar;
    liar.pathPrefix = "/data/";
    liar.gzip = true;
    liar.announcedLength = 1000;
    service_.addFault(liar);
    expectOneRetryThenTheWholeAnswer(5000);
    EXPECT_TRUE(logs.contains("Answer longer than announced"));
}

// The same answer would come back on every attempt: the request ends at once with no answer
// (status 0) instead of being retried for ever, even without a retry limit.
TEST_F(CurlHttpTest, AnnouncedLengthAboveTheCapEndsTheRequestWithoutRetry) {
    for (int64_t announced : {(int64_t(256) << 20) + 1, int64_t(1) << 30}) {
        SCOPED_TRACE(announced);
        Fault huge;
        huge.pathPrefix = "/data/";
        huge.gzip = true;
        huge.announcedLength = announced;
        huge.times = -1;
        service_.addFault(huge);
        const size_t before = requestsTo("/data/5000");
        Exchange& data = exchange("/data/5000");
        transport_->send(&data.request);
        ASSERT_TRUE(data.recorder.waitFinished());
        EXPECT_EQ(data.recorder.status, 0);
        EXPECT_TRUE(data.recorder.retries.empty());
        EXPECT_EQ(requestsTo("/data/5000") - before, 1u);
        service_.clearFaults();

        // The record is not spoilt: sent again, it takes a sound answer.
        data.recorder.clear();
        transport_->send(&data.request);
        ASSERT_TRUE(data.recorder.waitFinished());
        EXPECT_EQ(data.recorder.status, 200);
        EXPECT_EQ(data.recorder.body, dataBytes(5000));
    }
}

TEST_F(CurlHttpTest, ReusedRecordTakesALongerUnannouncedAnswerWhole) {
    Fault gzip;
    gzip.pathPrefix = "/data/";
    gzip.gzip = true;
    service_.addFault(gzip);
    Exchange& data = exchange("/data/1000");
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    ASSERT_EQ(data.recorder.capacity, 1000u);

    data.recorder.clear();
    data.request.url = service_.baseUrl() + "/data/5000";
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished());
    EXPECT_EQ(data.recorder.status, 200);
    EXPECT_EQ(data.recorder.originalLength, -1);
    EXPECT_EQ(data.recorder.body, dataBytes(5000));
}

// Drains a bounded answer while it arrives, slowly, on the callback loop.
class SlowReader : public HttpListener {
public:
    void onHttpRequestProgress(HttpRequest* request, uint32_t, uint32_t, uint32_t, uint32_t) override {
        std::this_thread::sleep_for(2ms);
        drain(request);
    }

    void onHttpRequestRetry(HttpRequest*, int32_t, int32_t) override {}

    void onHttpRequestFinished(HttpRequest* request) override {
        drain(request);
        std::lock_guard<std::mutex> lock(mutex_);
        status = request->status;
        finished = true;
        changed_.notify_all();
    }

    bool waitFinished() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] { return finished; });
    }

    std::string body;
    int32_t status = 0;

private:
    void drain(HttpRequest* request) {
        const uint8_t* run = nullptr;
        while (uint32_t count = request->buffer.read(&run, 0)) {
            body.append(reinterpret_cast<const char*>(run), count);
            request->buffer.consume(count);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished = false;
};

TEST_F(CurlHttpTest, FullRingPausesTheTransferUntilTheReaderGivesSpaceBack) {
    constexpr size_t kSize = 1000000;
    Fault late;
    late.pathPrefix = "/data/";
    late.delay = 300ms;
    service_.addFault(late);
    test::LogCapture logs;
    HttpRequest request;
    SlowReader reader;
    request.name = "test";
    request.url = service_.baseUrl() + "/data/" + std::to_string(kSize);
    request.listener = &reader;
    transport_->send(&request);
    // Sending starts every exchange with an unbounded buffer; the ring goes in before the
    // delayed answer arrives. It holds a few of libcurl's 16 KiB writes.
    syncHttpLoop();
    request.buffer.setCapacity(64 * 1024);
    ASSERT_TRUE(reader.waitFinished());
    EXPECT_EQ(reader.status, 200);
    EXPECT_EQ(reader.body, dataBytes(kSize));
    EXPECT_GT(logs.count("Pausing streaming transfer"), 0u);
    EXPECT_GT(logs.count("Resuming streaming transfer"), 0u);
}

// The limiter lets a window's worth (the limit) through at once whenever its one-second window
// has room, so the bytes arrive in bursts: the rate is measured over whole windows, from the
// first burst to the start of the last one.
double observedRate(const std::vector<Recorder::Sample>& samples) {
    size_t lastBurst = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i].at - samples[i - 1].at > 300ms) {
            lastBurst = i;
        }
    }
    if (lastBurst == 0) {
        return 0;
    }
    double seconds = std::chrono::duration<double>(samples[lastBurst].at - samples.front().at).count();
    return samples[lastBurst - 1].total / seconds;
}

TEST_F(CurlHttpTest, DownloadSpeedLimitHoldsTheRate) {
    constexpr uint64_t kLimit = 1000000;
    transport_->setDownloadSpeedLimit(kLimit);
    Exchange& data = exchange("/data/4000000");
    transport_->send(&data.request);
    ASSERT_TRUE(data.recorder.waitFinished(60s));
    ASSERT_EQ(data.recorder.status, 200);
    EXPECT_EQ(data.recorder.body.size(), 4000000u);
    double rate = observedRate(data.recorder.downloads);
    EXPECT_NEAR(rate, double(kLimit), kLimit * 0.1);
}

TEST_F(CurlHttpTest, UploadSpeedLimitHoldsTheRate) {
    constexpr uint64_t kLimit = 1000000;
    transport_->setUploadSpeedLimit(kLimit);
    Exchange& sink = exchange("/sink");
    std::string sent = dataBytes(4000000);
    sink.request.body.assign(sent.begin(), sent.end());
    transport_->send(&sink.request);
    ASSERT_TRUE(sink.recorder.waitFinished(60s));
    ASSERT_EQ(sink.recorder.status, 200);
    EXPECT_EQ(sink.recorder.body, "4000000");
    double rate = observedRate(sink.recorder.uploads);
    EXPECT_NEAR(rate, double(kLimit), kLimit * 0.1);
}

// Stops and joins a loop when it leaves scope. Declared after what the loop's callbacks use, it
// runs first, so a failed assertion that returns early cannot free a transport under its
// running loop.
class LoopJoiner {
public:
    explicit LoopJoiner(ThreadedLoop& loop) : loop_(loop) {}
    ~LoopJoiner() {
        loop_.stop();
        loop_.join();
    }

    LoopJoiner(const LoopJoiner&) = delete;
    LoopJoiner& operator=(const LoopJoiner&) = delete;

private:
    ThreadedLoop& loop_;
};

TEST_F(CurlHttpTest, TransportsOnSeveralThreadsShareTheProcessWideCaches) {
    LibuvLoop otherLoop;
    otherLoop.start();
    auto other = std::make_unique<CurlHttp>(&otherLoop, nullptr, &callbackLoop_);
    LoopJoiner joinOtherLoop(otherLoop);
    std::vector<Exchange*> all;
    for (int i = 0; i < 8; ++i) {
        for (CurlHttp* transport : {transport_.get(), other.get()}) {
            Exchange& data = exchange("/data/" + std::to_string(10000 + i));
            all.push_back(&data);
            transport->send(&data.request);
        }
    }
    for (Exchange* data : all) {
        ASSERT_TRUE(data->recorder.waitFinished());
        EXPECT_EQ(data->recorder.status, 200);
    }
}

// The module listener (the API manager) hears of every exchange after the request's own
// listener has taken its answer; that listener may release the request or send it again at
// once, so the module listener must not be handed a request its owner already let go.
TEST_F(CurlHttpTest, ModuleListenerHearsTheEndBeforeTheOwnerMayReleaseTheRequest) {
    class Owner : public HttpListener {
    public:
        explicit Owner(std::unique_ptr<HttpRequest> request) : request_(std::move(request)) {}
        void onHttpRequestFinished(HttpRequest* request) override {
            if (request == request_.get()) {
                request_.reset();
            }
        }
        std::unique_ptr<HttpRequest> request_;
    };
    class ModuleListener : public HttpListener {
    public:
        void onHttpRequestFinished(HttpRequest* request) override { statuses.set_value(request->status); }
        std::promise<int32_t> statuses;
    };

    ModuleListener moduleListener;
    LibuvLoop loop;
    loop.start();
    auto transport = std::make_unique<CurlHttp>(&loop, &moduleListener, &callbackLoop_);
    LoopJoiner joinLoop(loop);
    auto request = std::make_unique<HttpRequest>();
    request->name = "test";
    request->url = service_.baseUrl() + "/data/100";
    HttpRequest* sent = request.get();
    Owner owner(std::move(request));
    sent->listener = &owner;
    transport->send(sent);
    std::future<int32_t> status = moduleListener.statuses.get_future();
    ASSERT_EQ(status.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(status.get(), 200);
    // The owner has run by the time the callback loop is idle again.
    std::promise<void> idle;
    callbackLoop_.post([&] { idle.set_value(); });
    idle.get_future().wait();
    EXPECT_EQ(owner.request_, nullptr);
}

}  // namespace
}  // namespace corvane
