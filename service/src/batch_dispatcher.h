// The handler table of the batch endpoint: answers each message of a batch with the handler
// registered for its identifier, once the message passed the verifier of its table.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "stand_in_service.h"

namespace corvane::service {

class BatchDispatcher {
public:
    void setHandler(const std::string& identifier, BatchHandler handler);

    // Answers a whole batch body. False when the body is not a series of size-prefixed
    // messages (the endpoint then answers 400). Handlers run without the table's lock held,
    // so a handler may register others.
    bool answer(const std::string& body, std::string& response);

    // Identifiers of the messages no handler took (none registered, or the message failed the
    // verifier of its table), in arrival order; "" for a message too short to carry one.
    std::vector<std::string> unknownMessages() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, BatchHandler> handlers_;
    std::vector<std::string> unknown_;
};

}  // namespace corvane::service
