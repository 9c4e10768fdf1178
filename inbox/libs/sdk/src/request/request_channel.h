#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "http/http_listener.h"
#include "http/http_request.h"
#include "request/request.h"

namespace corvane {

class HttpModule;
class RequestHost;

// Carries the network requests to the API endpoint: one POST at a time, each a batch of the
// queued messages framed by the leading (events) and trailing (status) requests, and hands
// every request its own response from the answer, in batch order. Used only on the SDK main
// loop; the HTTP module reports the end of a batch there.
class RequestChannel : public HttpListener {
public:
    // At most this many queued requests go into one batch, besides the two persistent ones.
    static constexpr size_t kMaxQueuedPerBatch = 100;
    static const char* const kApplicationKeyQuery;

    // An empty base URL stands for the deployment's API endpoint.
    RequestChannel(RequestHost* manager, HttpModule* http, std::string baseUrl = std::string(),
                   std::string applicationKeyQuery = kApplicationKeyQuery);
    // Does not cancel a batch in flight: the owner stops the HTTP loop first.
    ~RequestChannel() override;

    RequestChannel(const RequestChannel&) = delete;
    RequestChannel& operator=(const RequestChannel&) = delete;

    void queue(std::shared_ptr<NetworkRequest> request);
    // Sends the next batch when nothing is in flight and the persistent requests are idle;
    // force sends the persistent requests even with nothing queued.
    void sendHttpRequest(bool force);

    void setSession(const char* session);
    void setLinkSession(const char* linkToken);
    void setLeadingRequest(std::shared_ptr<NetworkRequest> request);
    void setTrailingRequest(std::shared_ptr<NetworkRequest> request);

    // Finishes every queued and unanswered request with error 2, cancels the batch in flight
    // and forgets the session and the persistent requests.
    void reset();

    void onHttpRequestFinished(HttpRequest* request) override;

    // The URL the next batch goes to.
    std::string batchUrl() const;
    size_t queuedCount() const { return queue_.size(); }
    size_t inFlightCount() const { return inFlight_.size(); }
    // Records of cancelled batches that the HTTP loop has not finished with yet.
    size_t retiredCount() const { return retired_.size(); }

private:
    // Requests handed their notifications may call back into the channel; no batch may be
    // built while the answer buffer and the in-flight list are being taken apart.
    bool isBusy() const { return !inFlight_.empty() || notifying_ > 0; }
    std::unique_ptr<HttpRequest> makeHttpRequest();
    // False when the request has no message to send.
    bool addToBatch(const std::shared_ptr<NetworkRequest>& request);
    void processResponses();
    static void wipe(HttpRequest& record);
    void releaseEndedRecords();
    // Finishes requests that got no response, returning persistent ones to idle.
    static void failUnanswered(const std::vector<std::shared_ptr<NetworkRequest>>& requests, Error error);

    RequestHost* manager_;
    HttpModule* http_;
    std::string baseUrl_;
    std::string applicationKeyQuery_;
    std::string sessionQuery_;
    // The record of the current batch, reused from batch to batch.
    std::unique_ptr<HttpRequest> httpRequest_;
    // Records of batches that reset cancelled. The HTTP loop may still be cancelling them, and
    // a send on the same record before that would be swallowed by the cancellation, so the
    // next batch gets a fresh record and these live until the end of their cancellation.
    std::vector<std::unique_ptr<HttpRequest>> retired_;
    // Retired records whose end came, wiped; freed outside their own end notification.
    std::vector<std::unique_ptr<HttpRequest>> ended_;
    std::deque<std::shared_ptr<NetworkRequest>> queue_;
    std::vector<std::shared_ptr<NetworkRequest>> inFlight_;
    size_t nextToProcess_ = 0;
    std::shared_ptr<NetworkRequest> leading_;
    std::shared_ptr<NetworkRequest> trailing_;
    bool stopped_ = false;
    // A batch was sent and its end has not been taken yet.
    bool awaitingAnswer_ = false;
    int notifying_ = 0;
    bool forceDeferred_ = false;
};

}  // namespace corvane
