#include "event/event_receiver.h"

#include "http/http_module.h"
#include "util/log.h"

namespace corvane {

EventReceiver::EventReceiver(HttpModule* http, EventPollTarget* manager)
    : http_(http), request_(makeHttpRequest()), manager_(manager) {
}

EventReceiver::~EventReceiver() = default;

std::unique_ptr<HttpRequest> EventReceiver::makeHttpRequest() {
    auto request = std::make_unique<HttpRequest>();
    request->name = "event";
    request->listener = this;
    // Set once: the HTTP loop reads them while it decides on a retry.
    request->timeout = kTimeoutSeconds;
    request->maxRetries = kMaxRetries;
    return request;
}

void EventReceiver::setSession(const char* sessionId) {
    sessionQuery_ = std::string("s=") + (sessionId != nullptr ? sessionId : "");
}

void EventReceiver::setUrl(const char* link) {
    pendingUrl_ = link != nullptr ? link : "";
    sendHttpRequest();
}

bool EventReceiver::isPolling() const {
    const int32_t state = request_->state;
    return awaitingEnd_ || request_->retrying || (state != HttpRequest::kIdle && state != HttpRequest::kClosed);
}

void EventReceiver::sendHttpRequest() {
    if (isPolling()) {
        return;
    }
    if (!pendingUrl_.empty()) {
        url_ = std::move(pendingUrl_);
        pendingUrl_.clear();
    }
    stopped_ = false;
    request_->listener = this;
    request_->url = sessionQuery_.empty() ? url_ : url_ + "?" + sessionQuery_;
    // The link alone: the query carries the session id.
    CLOG_DEBUG("[evtr] HTTP request: {}", url_);
    awaitingEnd_ = true;
    http_->send(request_.get());
}

void EventReceiver::onHttpRequestFinished(HttpRequest* request) {
    if (request != request_.get()) {
        return;
    }
    awaitingEnd_ = false;
    if (stopped_) {
        CLOG_DEBUG("[evtr] HTTP request received after reset");
        return;
    }
    if (!pendingUrl_.empty()) {
        sendHttpRequest();
        return;
    }

    HttpRequestBuffer& buffer = request->buffer;
    const int32_t status = request->status;
    if (status == 200) {
        const uint32_t length = buffer.size();
        if (length == 1) {
            const uint8_t* byte = nullptr;
            buffer.read(&byte, 1);
            const char answer = static_cast<char>(*byte);
            buffer.reset();
            if (answer == '0') {
                CLOG_DEBUG("[evtr] HTTP response: 0 (No new events)");
                sendHttpRequest();
            } else if (answer == '1') {
                CLOG_DEBUG("[evtr] HTTP response: 1 (Events available)");
                manager_->pollEvents();
            } else {
                CLOG_ERROR("[evtr] Unexpected HTTP response: {:.{}}", std::string(1, answer), 1);
                sendHttpRequest();
            }
            return;
        }
        buffer.reset();
        CLOG_ERROR("[evtr] Unexpected HTTP response: {} bytes", length);
        sendHttpRequest();
        return;
    }
    if (status == -1) {
        CLOG_DEBUG("[evtr] HTTP request cancelled");
        return;
    }
    CLOG_DEBUG("[evtr] HTTP request error ({})", request->state.load());
    manager_->pollEvents();
}

void EventReceiver::reset() {
    CLOG_DEBUG("[evtr] Stopping event receiver");
    stopped_ = true;
    sessionQuery_.clear();
    request_->listener = nullptr;
    // Only a poll under way has anything to cancel; a cancel of an idle record would swallow
    // the next send on it.
    if (awaitingEnd_) {
        awaitingEnd_ = false;
        http_->cancel(request_.get());
        retired_.push_back(std::move(request_));
        request_ = makeHttpRequest();
        request_->listener = nullptr;
    }
    url_.clear();
}

}  // namespace corvane
