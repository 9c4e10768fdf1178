#pragma once

#include <cstdint>
#include <set>
#include <string>

#include <curl/curl.h>

#include "http/http_module.h"

namespace corvane {

class CurlHttp;

// One transfer in progress, owned by the transport and kept in the request's transport data.
struct CurlContext {
    CurlContext(CurlHttp* transport, HttpRequest* request, CURL* easy)
        : transport(transport), request(request), easy(easy) {}

    CurlHttp* transport;
    HttpRequest* request;
    CURL* easy;
    uint32_t downloaded = 0;
    uint32_t uploaded = 0;
    // The transport refused the answer (longer than announced, or an announced length it
    // cannot hold): the attempt counts as one without an HTTP answer. A longer answer is
    // retried; a length above the cap also marks the request's answer refused, which ends it.
    bool rejected = false;
    // Extra CA certificates for an unpinned exchange; empty for none.
    std::string caFile;
};

// The libcurl transport: multi-socket transfers driven by the HTTP loop's sockets and timers.
// Created on any thread, used only on its HTTP loop, destroyed after that loop has stopped
// (or after its last exchange has ended).
class CurlHttp : public HttpModule {
public:
    CurlHttp(Loop* httpLoop, HttpListener* moduleListener, TaskManager* callbackLoop);
    ~CurlHttp() override;

    // Process-wide set-up and tear-down of libcurl and the share handle; both idempotent.
    static void initialize();
    static void cleanup();

protected:
    void sendHttpRequest(HttpRequest* request) override;
    void abortHttpRequest(HttpRequest* request) override;

private:
    static int socketFunction(CURL* easy, curl_socket_t socket, int action, void* userData, void* socketData);
    static int timerFunction(CURLM* multi, long timeoutMs, void* userData);
    static size_t writeFunction(char* data, size_t size, size_t count, void* userData);
    static size_t readFunction(char* data, size_t size, size_t count, void* userData);
    static int seekFunction(void* userData, curl_off_t offset, int origin);
    static size_t headerFunction(char* data, size_t size, size_t count, void* userData);
    static int debugFunction(CURL* easy, curl_infotype type, char* data, size_t size, void* userData);
    static CURLcode sslContextFunction(CURL* easy, void* sslContext, void* userData);

    void onSocketEvent(curl_socket_t socket, int events);
    void onLibcurlTimer();
    void processFinishedRequests();
    void resumePausedTransfers();
    void onSpaceAvailable(HttpRequest* request);
    // Pauses for the speed limit when the meter says so; true when paused.
    bool pauseForSpeedLimit(CurlContext* context, SpeedMeter& meter, uint64_t limit, size_t incoming);
    // Removes the context from both sets and deletes it; the request is left closed.
    void releaseContext(CurlContext* context);
    void logTimings(HttpRequest* request, CURL* easy, CURLcode result);

    TimerHandle libcurlTimer_;
    TimerHandle speedTimer_;
    std::set<CurlContext*> paused_;
    CURLM* multi_;
    curl_slist* defaultHeaders_ = nullptr;
    std::set<CurlContext*> active_;
};

}  // namespace corvane
