#include "batch_dispatcher.h"

#include "batch_framing.h"
#include "message_verifier.h"

namespace corvane::service {

namespace {

// The code of "Unknown error", with which a message nobody can answer is refused.
constexpr int32_t kUnknownError = 9;

}  // namespace

void BatchDispatcher::setHandler(const std::string& identifier, BatchHandler handler) {
    if (!handler) {
        setScopedHandler(identifier, nullptr);
        return;
    }
    setScopedHandler(identifier, [handler = std::move(handler)](const std::string& message, SessionScope*) {
        return handler(message);
    });
}

void BatchDispatcher::setScopedHandler(const std::string& identifier, ScopedHandler handler) {
    if (!handler) {
        setCallerHandler(identifier, nullptr);
        return;
    }
    setCallerHandler(identifier, [handler = std::move(handler)](const std::string& message, SessionScope* session,
                                                                const Caller&) { return handler(message, session); });
}

void BatchDispatcher::setCallerHandler(const std::string& identifier, CallerHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handler)
        handlers_[identifier] = std::move(handler);
    else
        handlers_.erase(identifier);
}

CallerHandler BatchDispatcher::handler(const std::string& identifier) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handlers_.find(identifier);
    return it == handlers_.end() ? CallerHandler() : it->second;
}

bool BatchDispatcher::answer(const std::string& body, std::string& response, SessionScope* session,
                             const Caller& caller) {
    std::vector<std::string> messages;
    if (!splitBatch(body, messages, kMaxMessages)) return false;

    std::vector<std::string> responses;
    responses.reserve(messages.size());
    for (const auto& message : messages)
        responses.push_back(answerMessage(message, session, caller));
    response = joinResponses(responses);
    return true;
}

std::string BatchDispatcher::answerMessage(const std::string& message, SessionScope* session, const Caller& caller) {
    const std::string identifier = messageIdentifier(message);
    // A known message is answered only after its table's verifier accepted it; otherwise,
    // and when no handler takes it, it gets its own response table with error 9, so that
    // the client reads an answer of the kind it waits for.
    const MessageKind* kind = identifier.empty() ? nullptr : findMessageKind(identifier);
    const bool readable = kind == nullptr || verifyMessage(*kind, message);
    CallerHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = identifier.empty() || !readable ? handlers_.end() : handlers_.find(identifier);
        if (it != handlers_.end())
            handler = it->second;
        else
            rememberUnknown(identifier);
    }
    if (handler) return handler(message, session, caller);
    if (kind != nullptr) return errorResponse(*kind, kUnknownError);
    return unknownMessageResponse();
}

std::vector<std::string> BatchDispatcher::unknownMessages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {unknown_.begin(), unknown_.end()};
}

void BatchDispatcher::rememberUnknown(const std::string& identifier) {
    if (unknown_.size() == kKeptUnknownMessages) unknown_.pop_front();
    unknown_.push_back(identifier);
}

}  // namespace corvane::service
