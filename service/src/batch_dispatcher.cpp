#include "batch_dispatcher.h"

#include "batch_framing.h"

namespace corvane::service {

void BatchDispatcher::setHandler(const std::string& identifier, BatchHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handler)
        handlers_[identifier] = std::move(handler);
    else
        handlers_.erase(identifier);
}

bool BatchDispatcher::answer(const std::string& body, std::string& response) {
    std::vector<std::string> messages;
    if (!splitBatch(body, messages)) return false;

    std::vector<std::string> responses;
    responses.reserve(messages.size());
    for (const auto& message : messages) {
        const std::string identifier = messageIdentifier(message);
        BatchHandler handler;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = identifier.empty() ? handlers_.end() : handlers_.find(identifier);
            if (it != handlers_.end())
                handler = it->second;
            else
                unknown_.push_back(identifier);
        }
        responses.push_back(handler ? handler(message) : unknownMessageResponse());
    }
    response = joinResponses(responses);
    return true;
}

std::vector<std::string> BatchDispatcher::unknownMessages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unknown_;
}

}  // namespace corvane::service
