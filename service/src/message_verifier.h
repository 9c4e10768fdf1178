// The verifier table of the stand-in: every API message it knows, checked with the FlatBuffers
// verifier of its own table, and the response table that answers it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flatbuffers {
struct TypeTable;
}

namespace corvane::service {

struct MessageKind {
    const char* messageIdentifier;   // "ACIM"
    const char* responseIdentifier;  // "ACIR"; the GetCoupons response repeats its message's "GECM"
    // Whole size-prefixed message, length included: the prefix must announce exactly the rest,
    // and the identifier must be the one given.
    bool (*verify)(const uint8_t* message, size_t size, const char* identifier);
    const flatbuffers::TypeTable* (*responseType)();
};

// Every message of the API, the transport's events and status messages included.
const std::vector<MessageKind>& messageKinds();

// The kind of a message identifier, or null when the stand-in knows no such message.
const MessageKind* findMessageKind(const std::string& identifier);

// True when the whole size-prefixed message passes the verifier of its kind's table.
bool verifyMessage(const MessageKind& kind, const std::string& message);

// The smallest response of the kind's response table: only its `error` field, set to `code`
// (the test response has no such field and is answered empty). A plain buffer finished with the
// response identifier, without length prefix, as batch handlers return it.
std::string errorResponse(const MessageKind& kind, int32_t code);

}  // namespace corvane::service
