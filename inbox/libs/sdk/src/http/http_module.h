#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "http/http_listener.h"
#include "http/http_request.h"
#include "http/proxy_settings.h"
#include "loop/loop.h"
#include "module/module.h"
#include "util/speed_meter.h"

namespace corvane {

// The transport-independent HTTP layer: runs exchanges on the HTTP loop, retries failed
// attempts with exponential back-off, cancels on request, and reports to listeners on the
// callback loop. A subclass moves the bytes.
class HttpModule : public Module, public HttpListener {
public:
    // workLoop is the HTTP loop; listeners are called on callbackLoop, or on the HTTP loop
    // when it is null. moduleListener hears about every request before its own listener, which may release it.
    HttpModule(Loop* workLoop, HttpListener* moduleListener, TaskManager* callbackLoop);
    ~HttpModule() override;

    // From any thread. The record must not be in transfer or retrying.
    void send(HttpRequest* request);
    // From any thread, the one that sends the record.
    void cancel(HttpRequest* request);

    // From any thread; null removes the proxy.
    void setProxy(std::unique_ptr<ProxySettings> proxy);
    void setUserAgent(const std::string& userAgent);

    // Bytes per second, 0 = no limit. From any thread.
    void setUploadSpeedLimit(uint64_t bytesPerSecond) { uploadLimit_ = bytesPerSecond; }
    void setDownloadSpeedLimit(uint64_t bytesPerSecond) { downloadLimit_ = bytesPerSecond; }
    uint64_t getUploadSpeedLimit() const { return uploadLimit_; }
    uint64_t getDownloadSpeedLimit() const { return downloadLimit_; }

    // The transport reports to the module through these, on the HTTP loop.
    void onHttpRequestProgress(HttpRequest* request, uint32_t downloaded, uint32_t uploaded, uint32_t downloadedDelta,
                               uint32_t uploadedDelta) override;
    void onHttpRequestFinished(HttpRequest* request) override;

protected:
    // Starts one attempt on the HTTP loop; its end comes back through onHttpRequestFinished
    // with the status set and the state closed.
    virtual void sendHttpRequest(HttpRequest* request) = 0;
    // Stops an attempt in progress and reports its end with status -1.
    virtual void abortHttpRequest(HttpRequest* request) = 0;

    Loop* httpLoop() const { return loop_; }

    SpeedMeter uploadMeter_{1};
    SpeedMeter downloadMeter_{1};
    std::atomic<uint64_t> downloadLimit_{0};
    std::atomic<uint64_t> uploadLimit_{0};
    // HTTP loop only.
    std::string userAgent_;
    std::unique_ptr<ProxySettings> proxy_;

private:
    void startOnLoop(HttpRequest* request);
    void cancelOnLoop(HttpRequest* request);
    void retryNow(HttpRequest* request);
    void notifyFinished(HttpRequest* request);
    // Forgets the previous attempt's answer.
    static void clearAnswer(HttpRequest* request);

    Loop* loop_;
    HttpListener* moduleListener_;
    TaskManager* callbackLoop_;
};

}  // namespace corvane
