#pragma once

#include <memory>

namespace corvane {

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

}  // namespace corvane
