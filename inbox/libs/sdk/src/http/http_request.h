#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "http/http_request_buffer.h"
#include "loop/loop.h"

namespace corvane {

class HttpListener;

// One HTTP exchange, owned by its user and borrowed by the module and the transport while it
// is being sent. A closed record may be sent again.
class HttpRequest {
public:
    enum State : int32_t {
        kIdle = 0,
        kStarting = 1,
        kInTransfer = 3,
        kClosed = 4,
    };

    HttpRequest();
    ~HttpRequest() = default;

    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    const int32_t id;
    // Set by every send; read with the name in the "[net][{}]{}" log prefix.
    std::atomic<int32_t> sendId{0};
    std::string name;
    std::string url;
    std::vector<uint8_t> body;
    uint32_t timeout = 0;   // seconds per attempt, 0 = none
    std::string pinnedKey;  // "sha256//..." or empty
    bool freshConnection = false;
    // Written on the HTTP loop, read by owners deciding whether the record is free.
    std::atomic<int32_t> state{kIdle};
    std::map<std::string, std::string> responseHeaders;  // lower-cased
    int32_t originalLength = -1;
    HttpRequestBuffer buffer;
    int32_t maxRetries = 0;  // 0 = no limit
    int32_t retries = 0;
    std::atomic<bool> retrying{false};
    TimerHandle retryTimer = nullptr;
    std::atomic<HttpListener*> listener{nullptr};
    uint32_t lowSpeedLimit = 0;  // bytes per second
    uint32_t lowSpeedTime = 0;   // seconds
    int32_t status = 0;          // last attempt's HTTP status; 0 none; -1 cancelled
    // The transport refused the answer for good (an announced length it will never hold): the
    // request ends with the status it has, without a retry.
    bool answerRefused = false;
    void* transportData = nullptr;
    void* ownerData = nullptr;
};

}  // namespace corvane
