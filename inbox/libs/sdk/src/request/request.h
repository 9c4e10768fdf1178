#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "corvane/error.h"
#include "util/byte_array.h"

namespace corvane {

class ApiManager;
class HttpRequestBuffer;
class MutableActionData;
class Request;

// Told when a request has been processed (its response read) and when it has finished.
class RequestListener {
public:
    virtual ~RequestListener() = default;

    // Intermediate report of a request; nothing to do by default.
    virtual void updated(std::shared_ptr<Request> request) {}
    virtual void processed(std::shared_ptr<Request> request);
    virtual void finished(std::shared_ptr<Request> request);
};

// A piece of work applied to the SDK state in order with the API operations: only a local
// phase. Always created under shared ownership and used on the SDK main loop.
class Request : public std::enable_shared_from_this<Request> {
public:
    explicit Request(std::shared_ptr<MutableActionData> actionData);
    virtual ~Request();

    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Applies what the request carries; the base has nothing to apply and finishes at once.
    virtual void applyResults(ApiManager* manager);
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

protected:
    // Length of the response being read; 0 until its prefix has been taken.
    uint32_t expectedLength_ = 0;
    std::unique_ptr<ByteArray> message_;
};

}  // namespace corvane
