#include "request/request.h"

#include "corvane/mutable_action_data.h"
#include "http/http_request_buffer.h"
#include "request/response_reader.h"
#include "util/log.h"

namespace corvane {

void RequestListener::processed(std::shared_ptr<Request> request) {
    CLOG_DEBUG("[req]{}: Request processed", request->getName());
}

void RequestListener::finished(std::shared_ptr<Request> request) {
    CLOG_DEBUG("[req]{}: Request finished", request->getName());
}

Request::Request(std::shared_ptr<MutableActionData> actionData) : actionData_(std::move(actionData)) {}

Request::~Request() = default;

void Request::applyResults(ApiManager* manager) {
    notifyFinished();
}

int32_t Request::getActionId() const {
    return actionData_ ? actionData_->getSequenceId() : 0;
}

std::shared_ptr<Request> Request::ownReference() {
    std::shared_ptr<Request> self = weak_from_this().lock();
    if (!self) {
        // Only reachable by a request built outside shared ownership; the listener would
        // otherwise receive a reference that owns nothing.
        CLOG_ERROR("[req]{}: Request notified without an owner", getName());
    }
    return self;
}

void Request::notifyProcessed() {
    if (listener_ == nullptr) {
        return;
    }
    if (std::shared_ptr<Request> self = ownReference()) {
        listener_->processed(self);
    }
}

void Request::notifyFinished() {
    if (isFinished()) {
        return;
    }
    finished_ = true;
    if (listener_ == nullptr) {
        return;
    }
    if (std::shared_ptr<Request> self = ownReference()) {
        listener_->finished(self);
    }
}

void Request::onError(Error error) {
    if (isFinished()) {
        return;
    }
    if (actionData_) {
        actionData_->setError(error);
    }
    notifyFinished();
}

NetworkRequest::NetworkRequest(std::shared_ptr<MutableActionData> actionData) : Request(std::move(actionData)) {}

NetworkRequest::~NetworkRequest() = default;

std::unique_ptr<ByteArray> NetworkRequest::takeMessage() {
    return std::move(message_);
}

bool NetworkRequest::processData(HttpRequestBuffer& buffer) {
    ResponseRead result = readLengthPrefixedResponse(
        buffer, expectedLength_, [this](const uint8_t* bytes, uint32_t length) { return verify(bytes, length); },
        [this](const uint8_t* bytes, uint32_t length) { return processFlatbuffer(bytes, length); });
    if (result == ResponseRead::CORRUPT) {
        CLOG_CRITICAL("[req]{}: Corrupt flatbuffer received", getName());
    }
    return result == ResponseRead::TAKEN;
}

}  // namespace corvane
