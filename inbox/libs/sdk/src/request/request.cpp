#include "request/request.h"

#include <cstring>
#include <vector>

#include <flatbuffers/minireflect.h>

#include "corvane/mutable_action_data.h"
#include "http/http_request_buffer.h"
#include "request/request_catalogue.h"
#include "request/response_reader.h"
#include "util/log.h"
#include "util/schema_text.h"

namespace corvane {

void RequestListener::processed(std::shared_ptr<Request> request) {
    CLOG_DEBUG("[req]{}: Request processed", request->getName());
}

void RequestListener::finished(std::shared_ptr<Request> request) {
    CLOG_DEBUG("[req]{}: Request finished", request->getName());
}

Request::Request(std::shared_ptr<MutableActionData> actionData) : actionData_(std::move(actionData)) {
}

Request::~Request() = default;

void Request::applyResults(RequestHost* manager) {
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

NetworkRequest::NetworkRequest(std::shared_ptr<MutableActionData> actionData) : Request(std::move(actionData)) {
}

NetworkRequest::~NetworkRequest() = default;

std::unique_ptr<ByteArray> NetworkRequest::takeMessage() {
    return std::move(message_);
}

bool NetworkRequest::processData(HttpRequestBuffer& buffer) {
    if (corrupt_) {
        return false;
    }
    // A response is a plain buffer aligned from its own first byte, but it sits in the answer
    // wherever the previous ones left it: a misaligned one is read from an aligned copy, so
    // that its 8-byte fields are never loaded from misaligned addresses.
    std::vector<uint64_t> aligned;
    auto place = [&aligned](const uint8_t* bytes, uint32_t length) -> const uint8_t* {
        if (reinterpret_cast<uintptr_t>(bytes) % kMessageAlignment == 0) {
            return bytes;
        }
        if (aligned.empty()) {
            aligned.resize((length + sizeof(uint64_t) - 1) / sizeof(uint64_t));
            std::memcpy(aligned.data(), bytes, length);
        }
        return reinterpret_cast<const uint8_t*>(aligned.data());
    };
    ResponseRead result = readLengthPrefixedResponse(
        buffer, expectedLength_,
        [this, &place](const uint8_t* bytes, uint32_t length) { return verify(place(bytes, length), length); },
        [this, &place](const uint8_t* bytes, uint32_t length) {
            return processFlatbuffer(place(bytes, length), length);
        });
    if (result == ResponseRead::CORRUPT) {
        corrupt_ = true;
        CLOG_CRITICAL("[req]{}: Corrupt flatbuffer received", getName());
    }
    return result == ResponseRead::TAKEN;
}

flatbuffers::FlatBufferBuilder NetworkRequest::makeBuilder(size_t initialSize) {
    flatbuffers::FlatBufferBuilder builder(initialSize);
    builder.ForceDefaults(false);
    builder.DedupVtables(true);
    // Raises the builder's minimum alignment, which the finish pads the whole buffer to.
    builder.Align(kMessageAlignment);
    return builder;
}

std::string NetworkRequest::tableToString(const uint8_t* buffer, const flatbuffers::TypeTable* type) {
    if (buffer == nullptr || type == nullptr) {
        return std::string();
    }
    return flatbuffers::FlatBufferToString(buffer, type, false, true);
}

void NetworkRequest::finishMessage(flatbuffers::FlatBufferBuilder& builder, flatbuffers::uoffset_t root) {
    const char* identifier = messageIdentifier();
    if (identifier == nullptr) {
        CLOG_ERROR("[req]{}: No message identifier", getName());
    }
    builder.FinishSizePrefixed(flatbuffers::Offset<void>(root), identifier);
    message_ = std::make_unique<FlatbufferByteArray>(builder.Release());
}

void NetworkRequest::storeError(int32_t error) {
    if (actionData_) {
        actionData_->setError(Error(error));
    }
}

const RequestCatalogueEntry* NetworkRequest::catalogueEntry() const {
    if (entry_ == nullptr) {
        entry_ = findRequestByCommandWord(getName());
    }
    return entry_;
}

const char* NetworkRequest::messageIdentifier() const {
    const RequestCatalogueEntry* entry = catalogueEntry();
    return entry ? entry->messageIdentifier : nullptr;
}

const char* NetworkRequest::responseIdentifier() const {
    const RequestCatalogueEntry* entry = catalogueEntry();
    return entry ? entry->responseIdentifier : nullptr;
}

namespace {

const char* schemaOf(const char* stem) {
    const char* text = stem ? getSchemaText(stem) : nullptr;
    return text ? text : "";
}

}  // namespace

const char* NetworkRequest::messageSchemaText() const {
    const RequestCatalogueEntry* entry = catalogueEntry();
    return schemaOf(entry ? entry->messageSchema : nullptr);
}

const char* NetworkRequest::responseSchemaText() const {
    const RequestCatalogueEntry* entry = catalogueEntry();
    return schemaOf(entry ? entry->responseSchema : nullptr);
}

}  // namespace corvane
