#pragma once

#include <memory>
#include <string>
#include <vector>

#include "event/event_poll_target.h"
#include "http/http_listener.h"
#include "http/http_request.h"

namespace corvane {

class HttpModule;

// Keeps one long poll open on the events link of the last status response. "1" from the
// service asks the poll target for a batch; "0" or an answer it does not understand polls
// again at once. Used only on the SDK main loop, where the HTTP module reports the ends.
class EventReceiver : public HttpListener {
public:
    static constexpr uint32_t kTimeoutSeconds = 40;
    static constexpr int32_t kMaxRetries = 10;

    EventReceiver(HttpModule* http, EventPollTarget* manager);
    // Does not cancel a poll in flight: the owner stops the HTTP loop first.
    ~EventReceiver() override;

    EventReceiver(const EventReceiver&) = delete;
    EventReceiver& operator=(const EventReceiver&) = delete;

    void setSession(const char* sessionId);
    // Polls the link next: at once when no poll is under way, else when the running one ends.
    void setUrl(const char* link);
    // Starts a poll unless one is under way.
    void sendHttpRequest();
    // Stops polling; the end of the cancelled poll is never reported.
    void reset();

    void onHttpRequestFinished(HttpRequest* request) override;

private:
    std::unique_ptr<HttpRequest> makeHttpRequest();
    // True from a send until its end has been reported here. The HTTP module marks the record
    // closed on its loop before it decides on a retry, so the state alone may show a record
    // free while the module still works on it.
    bool isPolling() const;

    HttpModule* http_;
    std::string url_;
    std::string pendingUrl_;
    std::string sessionQuery_;
    // The one long-poll record, reused from poll to poll.
    std::unique_ptr<HttpRequest> request_;
    EventPollTarget* manager_;
    bool stopped_ = false;
    bool awaitingEnd_ = false;
    // Records of polls that reset cancelled. The HTTP loop may still be cancelling them, and a
    // send on the same record before that would be swallowed by the cancellation, so the next
    // poll gets a fresh record and these live as long as the receiver.
    std::vector<std::unique_ptr<HttpRequest>> retired_;
};

}  // namespace corvane
