#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "corvane/action_listener.h"
#include "corvane/task_manager.h"
#include "loop/loop.h"
#include "request/request_host.h"
#include "request/request_listener.h"

namespace corvane {

class NetworkRequest;
class Request;

// The core object of one SDK instance, as the action framework sees it: the session, the
// account's access level, the request queues and the SDK main loop. Its action-listener face
// receives every action notification that the execution manager lets through, and its
// event-listener face every SDK event. What requests need of it is its RequestHost face
// (session reset, logout, events), declared below the API layer.
class ApiManager : public ActionListener, public RequestHost, public RequestListener {
public:
    ~ApiManager() override = default;

    // The SDK main loop, on which every processor, request and continuation runs; its timers
    // serve the managers' rechecks and schedules.
    virtual Loop* getLoop() const = 0;

    // A copy of the session string; empty when no session is held.
    virtual std::string getSession() const = 0;

    // The account's access level in the cloud model; 0 when no account record is loaded.
    virtual int32_t getAccessLevel() const = 0;

    // Whether the backup scheduler accepts a six-field cron expression.
    virtual bool isValidCronExpression(const char* expression) const = 0;

    // Queues a request for its network phase; the listener hears of its end.
    virtual void enqueueApiRequest(std::shared_ptr<NetworkRequest> request, RequestListener* listener) = 0;

    // Queues a request for its local phase only.
    virtual void enqueueLocalRequest(std::shared_ptr<Request> request, RequestListener* listener) = 0;
};

}  // namespace corvane
