#include "request/event_request.h"

#include "request/request_host.h"

namespace corvane {

// Placeholder bodies: the events and status requests are being written; until then they only
// carry their messages and finish.

GetEventsRequest::GetEventsRequest(RequestHost* manager) : FlatbufferRequest(nullptr), manager_(manager) {
    notifyFinished();
}

GetEventsRequest::~GetEventsRequest() = default;

std::unique_ptr<ByteArray> GetEventsRequest::takeMessage() {
    return nullptr;
}

bool GetEventsRequest::processFlatbuffer(const uint8_t*, uint32_t) {
    return true;
}

void GetEventsRequest::applyResults(RequestHost*) {
    Request::notifyFinished();
}

void GetEventsRequest::notifyFinished() {
    Request::notifyFinished();
}

void GetEventsRequest::finished(std::shared_ptr<Request>) {
}

GetStatusRequest::GetStatusRequest(RequestHost* manager) : FlatbufferRequest(nullptr), manager_(manager) {
    notifyFinished();
}

GetStatusRequest::~GetStatusRequest() = default;

std::unique_ptr<ByteArray> GetStatusRequest::takeMessage() {
    return nullptr;
}

bool GetStatusRequest::processFlatbuffer(const uint8_t*, uint32_t) {
    return true;
}

void GetStatusRequest::applyResults(RequestHost*) {
    Request::notifyFinished();
}

}  // namespace corvane
