#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <flatbuffers/flatbuffers.h>

#include "corvane/error.h"
#include "request/request_listener.h"
#include "util/byte_array.h"

namespace corvane {

class HttpRequestBuffer;
class MutableActionData;
class RequestHost;
struct RequestCatalogueEntry;

// A piece of work applied to the SDK state in order with the API operations: only a local
// phase. Always created under shared ownership and used on the SDK main loop.
class Request : public std::enable_shared_from_this<Request> {
public:
    explicit Request(std::shared_ptr<MutableActionData> actionData);
    virtual ~Request();

    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Applies what the request carries; the base has nothing to apply and finishes at once.
    virtual void applyResults(RequestHost* manager);
    virtual bool isFinished() const { return finished_; }
    virtual const char* getName() const = 0;
    // Tells the listener; may be called more than once.
    virtual void notifyProcessed();
    // Marks the request finished and tells the listener, only the first time.
    virtual void notifyFinished();

    void setListener(RequestListener* listener) { listener_ = listener; }
    RequestListener* getListener() const { return listener_; }
    std::shared_ptr<MutableActionData> getActionData() const { return actionData_; }
    // The issuing action's sequence id, 0 without one.
    int32_t getActionId() const;

    // Finishes an unfinished request with the error stored in its action's data.
    void onError(Error error);

protected:
    // Makes a reused request unfinished again before it goes out once more.
    void clearFinished() { finished_ = false; }

    std::shared_ptr<MutableActionData> actionData_;

private:
    // An owning reference for the listener, or empty (logged) when nothing owns the request.
    std::shared_ptr<Request> ownReference();

    RequestListener* listener_ = nullptr;
    bool finished_ = false;
};

// A request that also sends a FlatBuffers message and reads one response message back from
// the batch answer.
class NetworkRequest : public Request {
public:
    explicit NetworkRequest(std::shared_ptr<MutableActionData> actionData);
    ~NetworkRequest() override;

    // Hands the message over to the caller; the request keeps none.
    virtual std::unique_ptr<ByteArray> takeMessage();
    virtual std::string messageToString(const uint8_t* message) = 0;
    virtual std::string responseToString(const uint8_t* response) = 0;
    virtual const char* getMessageSchema() = 0;
    virtual const char* getResponseSchema() = 0;
    // Checks one (not size-prefixed) response message.
    virtual bool verify(const uint8_t* bytes, uint32_t length) = 0;
    // Reads a verified response into the request; true when it was taken.
    virtual bool processFlatbuffer(const uint8_t* bytes, uint32_t length) = 0;

    // Reads this request's response out of the answer buffer; true when a complete response
    // was read and taken. A partial response leaves the position so a later call resumes.
    bool processData(HttpRequestBuffer& buffer);
    // Forgets what was read of an earlier answer, before the request goes out in a new batch.
    void startResponse() {
        expectedLength_ = 0;
        corrupt_ = false;
    }

    // Limits of every verifier of the API.
    static constexpr flatbuffers::uoffset_t kMaxDepth = 64;
    static constexpr flatbuffers::uoffset_t kMaxTables = 1000000;
    static constexpr size_t kInitialMessageSize = 128;
    static constexpr size_t kMessageAlignment = 8;

    // A builder with the options every message is built with: identical vtables shared and
    // defaults left out, and an alignment of 8 so that the finished message is a multiple of
    // 8 bytes long.
    static flatbuffers::FlatBufferBuilder makeBuilder(size_t initialSize = kInitialMessageSize);

    // True when `bytes` holds a plain (not size-prefixed) response of the table `Response`
    // with the given identifier, verified with the API's limits.
    template <class Response>
    static bool verifyResponse(const uint8_t* bytes, uint32_t length, const char* identifier);

    // The one-line text form of the table at the root of a plain buffer.
    static std::string tableToString(const uint8_t* buffer, const flatbuffers::TypeTable* type);

protected:
    // Finishes the message size-prefixed with the request's message identifier and keeps it
    // as the request's message.
    void finishMessage(flatbuffers::FlatBufferBuilder& builder, flatbuffers::uoffset_t root);

    // Reads the `error` field of a verified response first: a non-zero code goes to the owner.
    // Returns the code.
    template <class Response>
    int32_t readError(const Response* response);

    // Hands a response's error code to the owner, when there is one.
    void storeError(int32_t error);

    // This class's row of the request catalogue, null when the command word has none.
    const RequestCatalogueEntry* catalogueEntry() const;
    // From the catalogue row: null (identifiers) or "" (schemas) without one.
    const char* messageIdentifier() const;
    const char* responseIdentifier() const;
    const char* messageSchemaText() const;
    const char* responseSchemaText() const;

    // Length of the response being read; 0 until its prefix has been taken.
    uint32_t expectedLength_ = 0;
    // Set once the response failed verification: where it ended is unknown, so this request
    // takes nothing that follows it.
    bool corrupt_ = false;
    std::unique_ptr<ByteArray> message_;

private:
    mutable const RequestCatalogueEntry* entry_ = nullptr;
};

// The shared face of the request classes with a message table `Message` and a response table
// `Response` (generated FlatBuffers types): checking, text forms and schema texts come from
// the tables and the catalogue row of the class's command word, so that a class adds only its
// own fields, its message building and its reading.
template <class Message, class Response>
class FlatbufferRequest : public NetworkRequest {
public:
    using NetworkRequest::NetworkRequest;

    std::string messageToString(const uint8_t* message) override {
        // The message is size-prefixed; the text form starts at its root offset.
        return message == nullptr
                   ? std::string()
                   : tableToString(message + sizeof(flatbuffers::uoffset_t), Message::MiniReflectTypeTable());
    }
    std::string responseToString(const uint8_t* response) override {
        return tableToString(response, Response::MiniReflectTypeTable());
    }
    const char* getMessageSchema() override { return messageSchemaText(); }
    const char* getResponseSchema() override { return responseSchemaText(); }
    bool verify(const uint8_t* bytes, uint32_t length) override {
        return verifyResponse<Response>(bytes, length, responseIdentifier());
    }
};

template <class Response>
bool NetworkRequest::verifyResponse(const uint8_t* bytes, uint32_t length, const char* identifier) {
    constexpr uint32_t kHeaderSize = sizeof(flatbuffers::uoffset_t) + flatbuffers::kFileIdentifierLength;
    if (bytes == nullptr || identifier == nullptr || length < kHeaderSize ||
        !flatbuffers::BufferHasIdentifier(bytes, identifier)) {
        return false;
    }
    // The verifier would take a zero root offset for an empty table laid over the header.
    if ((bytes[0] | bytes[1] | bytes[2] | bytes[3]) == 0) {
        return false;
    }
    flatbuffers::Verifier verifier(bytes, length, kMaxDepth, kMaxTables);
    return verifier.VerifyBuffer<Response>(identifier);
}

template <class Response>
int32_t NetworkRequest::readError(const Response* response) {
    const int32_t error = response->error();
    if (error != 0) {
        storeError(error);
    }
    return error;
}

}  // namespace corvane
