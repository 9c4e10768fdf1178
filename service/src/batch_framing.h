// Framing of the batch endpoint: a body is a series of size-prefixed FlatBuffers messages, and
// the answer is one size-prefixed response per message, in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::service {

// Splits a batch body into its messages, each kept whole with its 4-byte length. False when the
// body is not an exact series of size-prefixed messages (a truncated length or message), or
// when it holds more than maxMessages (the split stops there, so a flood costs nothing).
bool splitBatch(const std::string& body, std::vector<std::string>& messages, size_t maxMessages = SIZE_MAX);

// The 4-character file identifier of a whole size-prefixed message (bytes 4..7 of the buffer
// proper), or "" when the message is too short to carry one.
std::string messageIdentifier(const std::string& message);

// Concatenates the responses, each preceded by its 4-byte little-endian length.
std::string joinResponses(const std::vector<std::string>& responses);

// The inverse of joinResponses; false when the answer is not an exact series.
bool splitResponses(const std::string& answer, std::vector<std::string>& responses);

// The placeholder answer to a message no handler takes: root offset 0, identifier "????".
std::string unknownMessageResponse();

// A 4-byte little-endian length.
std::string littleEndian32(uint32_t value);

}  // namespace corvane::service
