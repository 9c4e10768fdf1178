#pragma once

#include <cstdint>

namespace corvane {

class HttpRequest;

// Told about one HTTP exchange; every operation does nothing unless overridden.
class HttpListener {
public:
    virtual ~HttpListener() = default;

    virtual void onHttpRequestProgress(HttpRequest* request, uint32_t downloaded, uint32_t uploaded,
                                       uint32_t downloadedDelta, uint32_t uploadedDelta) {}
    virtual void onHttpRequestRetry(HttpRequest* request, int32_t retries, int32_t status) {}
    // The request's status tells the outcome: 200, -1 when cancelled, otherwise the status
    // the module gave up on (0 when there was no HTTP answer).
    virtual void onHttpRequestFinished(HttpRequest* request) {}
    // How a module listener hears of an end, before the request's own listener, which may
    // release the record or send it again: the status is the ended exchange's.
    virtual void onHttpRequestEnded(HttpRequest* request, int32_t status) { onHttpRequestFinished(request); }
};

}  // namespace corvane
