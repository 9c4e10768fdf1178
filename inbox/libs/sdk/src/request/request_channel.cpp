#include "request/request_channel.h"

#include <algorithm>

#include <openssl/crypto.h>

#include "corvane/action_types.h"
#include "corvane/mutable_event_data.h"
#include "http/http_module.h"
#include "request/request_host.h"
#include "util/deployment.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr size_t kMessageAlignment = 8;

}  // namespace

const char* const RequestChannel::kApplicationKeyQuery = "a=Wk9xQmLp";

RequestChannel::RequestChannel(RequestHost* manager, HttpModule* http, std::string baseUrl,
                               std::string applicationKeyQuery)
    : manager_(manager),
      http_(http),
      baseUrl_(baseUrl.empty() ? getDeployment().apiBaseUrl : std::move(baseUrl)),
      applicationKeyQuery_(std::move(applicationKeyQuery)),
      httpRequest_(makeHttpRequest()) {
}

RequestChannel::~RequestChannel() {
    wipe(*httpRequest_);
    for (const std::unique_ptr<HttpRequest>& record : retired_) {
        wipe(*record);
    }
}

// Batch bodies can hold keys derived from the user's password: none may stay behind in
// memory that is given back or kept for later batches.
void RequestChannel::wipe(HttpRequest& record) {
    if (!record.body.empty()) {
        OPENSSL_cleanse(record.body.data(), record.body.size());
    }
    record.body.clear();
    record.buffer.reset();
}

std::unique_ptr<HttpRequest> RequestChannel::makeHttpRequest() {
    auto request = std::make_unique<HttpRequest>();
    request->name = "api";
    request->listener = this;
    return request;
}

void RequestChannel::queue(std::shared_ptr<NetworkRequest> request) {
    queue_.push_back(std::move(request));
    sendHttpRequest(false);
}

void RequestChannel::setSession(const char* session) {
    sessionQuery_ = std::string("s=") + (session != nullptr ? session : "");
}

void RequestChannel::setLinkSession(const char* linkToken) {
    sessionQuery_ = std::string("link=") + (linkToken != nullptr ? linkToken : "");
}

void RequestChannel::setLeadingRequest(std::shared_ptr<NetworkRequest> request) {
    leading_ = std::move(request);
}

void RequestChannel::setTrailingRequest(std::shared_ptr<NetworkRequest> request) {
    trailing_ = std::move(request);
}

std::string RequestChannel::batchUrl() const {
    std::string url = baseUrl_;
    if (!sessionQuery_.empty()) {
        url += "?" + sessionQuery_;
        if (!applicationKeyQuery_.empty()) {
            url += "&" + applicationKeyQuery_;
        }
    } else if (!applicationKeyQuery_.empty()) {
        url += "?" + applicationKeyQuery_;
    }
    return url;
}

void RequestChannel::sendHttpRequest(bool force) {
    if (isBusy()) {
        CLOG_DEBUG("Waiting for the processing of active requests before sending more");
        if (force && notifying_ > 0) {
            forceDeferred_ = true;
        }
        return;
    }
    const bool leadingBusy = leading_ && !leading_->isFinished();
    const bool trailingBusy = trailing_ && !trailing_->isFinished();
    const bool haveWork = !queue_.empty() || (force && (leading_ || trailing_));
    if (!haveWork || leadingBusy || trailingBusy) {
        if (queue_.empty()) {
            CLOG_DEBUG("No more requests to send");
        } else if (leadingBusy) {
            CLOG_DEBUG("Waiting for the processing of the leading request");
        } else {
            CLOG_DEBUG("Waiting for the processing of the trailing request");
        }
        return;
    }

    stopped_ = false;
    releaseEndedRecords();
    httpRequest_->listener = this;
    wipe(*httpRequest_);
    std::vector<std::shared_ptr<NetworkRequest>> withoutMessage;
    if (leading_) {
        CLOG_DEBUG("Adding leading request {}", leading_->getName());
        if (!addToBatch(leading_)) {
            withoutMessage.push_back(leading_);
        }
    }
    for (size_t taken = 0; taken < kMaxQueuedPerBatch && !queue_.empty(); ++taken) {
        std::shared_ptr<NetworkRequest> request = std::move(queue_.front());
        queue_.pop_front();
        if (!addToBatch(request)) {
            withoutMessage.push_back(std::move(request));
        }
    }
    if (trailing_) {
        CLOG_DEBUG("Adding trailing request {}", trailing_->getName());
        if (!addToBatch(trailing_)) {
            withoutMessage.push_back(trailing_);
        }
    }
    nextToProcess_ = 0;

    if (!inFlight_.empty()) {
        CLOG_DEBUG("[req] Sending {} requests", inFlight_.size());
        httpRequest_->url = batchUrl();
        httpRequest_->pinnedKey = getDeployment().apiPin;
        awaitingAnswer_ = true;
        http_->send(httpRequest_.get());
    }
    if (!withoutMessage.empty()) {
        // A request whose message is gone would shift every later response onto the wrong
        // request, so it never goes into a batch.
        ++notifying_;
        failUnanswered(withoutMessage, Error(UNKNOWN_ERROR));
        --notifying_;
        if (inFlight_.empty()) {
            sendHttpRequest(false);
        }
    }
}

bool RequestChannel::addToBatch(const std::shared_ptr<NetworkRequest>& request) {
    std::unique_ptr<ByteArray> message = request->takeMessage();
    if (!message) {
        CLOG_ERROR("[req]{}: Request without message", request->getName());
        return false;
    }
    if (message->size() % kMessageAlignment != 0) {
        CLOG_ERROR("Wrong data alignment for request {}", request->getName());
    }
    httpRequest_->body.insert(httpRequest_->body.end(), message->data(), message->data() + message->size());
    request->startResponse();
    inFlight_.push_back(request);
    return true;
}

void RequestChannel::onHttpRequestFinished(HttpRequest* request) {
    for (std::unique_ptr<HttpRequest>& record : retired_) {
        if (record.get() == request) {
            // The HTTP loop is done with the record: its body goes now, the record itself
            // once this notification has returned.
            CLOG_DEBUG("[req] Ignoring the end of a cancelled HTTP request");
            wipe(*record);
            record->listener = nullptr;
            ended_.push_back(std::move(record));
            retired_.erase(std::remove(retired_.begin(), retired_.end(), nullptr), retired_.end());
            return;
        }
    }
    if (stopped_) {
        CLOG_DEBUG("[req] HTTP request received after reset");
        wipe(*httpRequest_);
        sendHttpRequest(false);
        return;
    }
    if (request != httpRequest_.get() || !awaitingAnswer_) {
        CLOG_DEBUG("[req] Ignoring the end of a cancelled HTTP request");
        return;
    }
    awaitingAnswer_ = false;

    ++notifying_;
    const size_t batchSize = inFlight_.size();
    const int32_t status = request->status;
    if (status == 200) {
        processResponses();
        CLOG_DEBUG("[req] Finished {} requests. Pending: {}", batchSize, queue_.size());
    } else if (status == -1) {
        CLOG_DEBUG("[req] HTTP request cancelled");
    } else {
        CLOG_DEBUG("[req] HTTP request error ({})", request->state.load());
        if (manager_ != nullptr) {
            // Logging out resets this channel, which fails the unanswered requests.
            manager_->logout({});
            manager_->onEvent(std::make_shared<MutableEventData>(EVENT_LOGOUT));
        }
    }

    std::vector<std::shared_ptr<NetworkRequest>> unanswered;
    if (nextToProcess_ < inFlight_.size()) {
        unanswered.assign(inFlight_.begin() + std::ptrdiff_t(nextToProcess_), inFlight_.end());
    }
    inFlight_.clear();
    nextToProcess_ = 0;
    wipe(*httpRequest_);
    // Left alone, their actions would wait for ever, and an unfinished persistent request
    // would hold back every later batch.
    failUnanswered(unanswered, Error(UNKNOWN_ERROR));
    --notifying_;

    const bool force = forceDeferred_;
    forceDeferred_ = false;
    sendHttpRequest(force);
}

void RequestChannel::processResponses() {
    HttpRequestBuffer& buffer = httpRequest_->buffer;
    // A reset from inside a notification empties the in-flight list; the index then ends the loop.
    while (nextToProcess_ < inFlight_.size() && buffer.size() > 0) {
        std::shared_ptr<NetworkRequest> request = inFlight_[nextToProcess_];
        if (!request->processData(buffer)) {
            break;
        }
        ++nextToProcess_;
        request->notifyProcessed();
    }
}

void RequestChannel::failUnanswered(const std::vector<std::shared_ptr<NetworkRequest>>& requests, Error error) {
    for (const std::shared_ptr<NetworkRequest>& request : requests) {
        if (request->isFinished()) {
            continue;
        }
        CLOG_WARN("[req]{}: Request left without response", request->getName());
        // Persistent requests carry no action data: this only marks them idle and tells
        // their listener, so that the next batch can go.
        request->onError(error);
    }
}

void RequestChannel::releaseEndedRecords() {
    ended_.clear();
}

void RequestChannel::reset() {
    CLOG_DEBUG("[req] Stopping request channel");
    stopped_ = true;
    sessionQuery_.clear();

    ++notifying_;
    while (nextToProcess_ < inFlight_.size()) {
        std::shared_ptr<NetworkRequest> request = inFlight_[nextToProcess_];
        ++nextToProcess_;
        request->onError(Error(FORBIDDEN));
    }
    while (!queue_.empty()) {
        std::shared_ptr<NetworkRequest> request = std::move(queue_.front());
        queue_.pop_front();
        request->onError(Error(FORBIDDEN));
    }
    inFlight_.clear();
    nextToProcess_ = 0;
    --notifying_;
    forceDeferred_ = false;

    releaseEndedRecords();
    if (awaitingAnswer_) {
        awaitingAnswer_ = false;
        // It keeps this channel as its listener: the end of the cancellation says when the
        // HTTP loop no longer reads its body.
        http_->cancel(httpRequest_.get());
        retired_.push_back(std::move(httpRequest_));
        httpRequest_ = makeHttpRequest();
    }
    leading_.reset();
    trailing_.reset();
}

}  // namespace corvane
