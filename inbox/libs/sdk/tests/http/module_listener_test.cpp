// The module listener of an HTTP module hears the status of an ended exchange even when the
// request's own listener, told first, has sent the record again at once.
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "support/stand_in_deployment.h"

namespace corvane {
namespace {

// Writes down the status of every end it hears of.
class StatusRecorder : public HttpListener {
public:
    void onHttpRequestEnded(HttpRequest*, int32_t status) override {
        std::lock_guard<std::mutex> lock(mutex);
        statuses.push_back(status);
    }
    std::mutex mutex;
    std::vector<int32_t> statuses;
};

// Sends its record once more as soon as the first exchange ends, as the request channel and
// the event receiver do.
class Resender : public HttpListener {
public:
    Resender(HttpModule* http, std::string second) : http_(http), second_(std::move(second)) {}
    void onHttpRequestFinished(HttpRequest* request) override {
        if (++ends_ == 1) {
            request->url = second_;
            http_->send(request);
            return;
        }
        done.set_value();
    }
    std::promise<void> done;

private:
    HttpModule* http_;
    std::string second_;
    int ends_ = 0;
};

using ModuleListenerTest = test::LoopbackTransportTest;

TEST_F(ModuleListenerTest, HearsTheEndedStatusEvenWhenTheOwnerSendsTheRecordAgainAtOnce) {
    service::StandInService service;
    ASSERT_TRUE(service.start());
    test::StandInDeployment deployment(service, test::StandInDeployment::Trust::CaFile);
    service::Fault missing;
    missing.pathPrefix = "/data/5";
    missing.status = 404;
    service.addFault(missing);

    LibuvLoop callbackLoop;
    LibuvLoop httpLoop;
    ASSERT_FALSE(callbackLoop.start());
    ASSERT_FALSE(httpLoop.start());
    StatusRecorder recorder;
    auto http = std::make_unique<CurlHttp>(&httpLoop, &recorder, &callbackLoop);
    Resender resender(http.get(), service.baseUrl() + "/data/7");
    HttpRequest request;
    request.url = service.baseUrl() + "/data/5";
    request.listener = &resender;
    http->send(&request);
    ASSERT_EQ(resender.done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);

    httpLoop.stop();
    httpLoop.join();
    callbackLoop.stop();
    callbackLoop.join();
    http.reset();
    EXPECT_EQ(recorder.statuses, (std::vector<int32_t>{404, 200}));
}

}  // namespace
}  // namespace corvane
