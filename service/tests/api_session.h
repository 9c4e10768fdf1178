// Batches to the stand-in as a signed-in client sends them, for the account handler tests:
// messages built with the generated FlatBuffers builders, answers split and read in place.
#pragma once

#include <flatbuffers/flatbuffers.h>

#include <cstring>
#include <string>
#include <vector>

#include "batch_framing.h"
#include "https_client.h"
#include "stand_in_service.h"

namespace corvane::service::test {

constexpr const char* kApplicationKeyQuery = "a=Wk9xQmLp";

// The finished size-prefixed message of a builder made with minimum alignment 8.
inline std::string sizePrefixedMessage(flatbuffers::FlatBufferBuilder& builder) {
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

inline flatbuffers::FlatBufferBuilder messageBuilder() {
    flatbuffers::FlatBufferBuilder builder(256);
    builder.Align(8);
    return builder;
}

// One response copied to aligned storage, checked with its table's verifier before it is read.
class Response {
public:
    Response() = default;
    explicit Response(const std::string& bytes) : words_((bytes.size() + 7) / 8 + 1), size_(bytes.size()) {
        if (!bytes.empty()) std::memcpy(words_.data(), bytes.data(), bytes.size());
    }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(words_.data()); }
    size_t size() const { return size_; }
    std::string identifier() const {
        return size_ >= 8 ? std::string(reinterpret_cast<const char*>(data()) + 4, 4) : std::string();
    }
    // The root table when the buffer passes the verifier of type T with the identifier.
    template <typename T>
    const T* as(const char* id) const {
        flatbuffers::Verifier verifier(data(), size_);
        if (identifier() != id || !verifier.VerifyBuffer<T>(id)) return nullptr;
        return flatbuffers::GetRoot<T>(data());
    }

private:
    std::vector<uint64_t> words_;
    size_t size_ = 0;
};

struct BatchReply {
    long status = 0;
    std::vector<Response> responses;
};

// Posts the messages as one batch of the session ("" for none).
inline BatchReply sendBatch(const StandInService& service, const std::string& session,
                            const std::vector<std::string>& messages) {
    Call call;
    call.url = service.apiUrl() + "?" + (session.empty() ? "" : "s=" + session + "&") + kApplicationKeyQuery;
    call.caFile = service.certificatePath();
    for (const auto& message : messages)
        call.body += message;
    const Reply reply = perform(call);
    BatchReply batch;
    batch.status = reply.status;
    std::vector<std::string> parts;
    if (reply.status == 200 && splitResponses(reply.body, parts)) {
        for (const auto& part : parts)
            batch.responses.emplace_back(part);
    }
    return batch;
}

// The changes of an events list: each a 4-byte little-endian length and a whole response.
inline bool splitChanges(const uint8_t* bytes, size_t size, std::vector<Response>& changes) {
    size_t at = 0;
    while (at < size) {
        if (size - at < 4) return false;
        const uint32_t length = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
                                uint32_t(bytes[at + 3]) << 24;
        at += 4;
        if (length > size - at) return false;
        changes.emplace_back(std::string(reinterpret_cast<const char*>(bytes + at), length));
        at += length;
    }
    return true;
}

}  // namespace corvane::service::test
