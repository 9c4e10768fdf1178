// The handler table of the batch endpoint: answers each message of a batch with the handler
// registered for its identifier, once the message passed the verifier of its table.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "stand_in_service.h"

namespace corvane::service {

class SessionScope;

// A handler that also gets the scope of the batch's session (null for a batch without one).
using ScopedHandler = std::function<std::string(const std::string& message, SessionScope* session)>;

// Who sent a batch, as the sessions it opens remember it.
struct Caller {
    std::string address;
    std::string userAgent;
};

// A handler that also learns who sent the batch.
using CallerHandler =
    std::function<std::string(const std::string& message, SessionScope* session, const Caller& caller)>;

class BatchDispatcher {
public:
    // The most a client ever sends in one batch: the queued messages (at most 100) between the
    // two persistent ones.
    static constexpr size_t kMaxMessages = 102;
    // How many identifiers of unanswered messages are kept (the latest).
    static constexpr size_t kKeptUnknownMessages = 256;

    void setHandler(const std::string& identifier, BatchHandler handler);
    void setScopedHandler(const std::string& identifier, ScopedHandler handler);
    void setCallerHandler(const std::string& identifier, CallerHandler handler);
    // The handler registered for the identifier (empty when none), so that another may wrap it.
    CallerHandler handler(const std::string& identifier) const;

    // Answers a whole batch body. False when the body is not a series of size-prefixed
    // messages, or holds more than kMaxMessages (the endpoint then answers 400). Handlers run without the table's lock
    // held, so a handler may register others.
    bool answer(const std::string& body, std::string& response, SessionScope* session = nullptr,
                const Caller& caller = Caller());

    // Answers one whole size-prefixed message as answer() would inside a batch.
    std::string answerMessage(const std::string& message, SessionScope* session, const Caller& caller = Caller());

    // Identifiers of the latest kKeptUnknownMessages messages no handler took (none registered,
    // or the message failed the verifier of its table), in arrival order; "" for a message too
    // short to carry one.
    std::vector<std::string> unknownMessages() const;

private:
    void rememberUnknown(const std::string& identifier);  // mutex_ held

    mutable std::mutex mutex_;
    std::map<std::string, CallerHandler> handlers_;
    std::deque<std::string> unknown_;
};

}  // namespace corvane::service
