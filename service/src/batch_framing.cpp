#include "batch_framing.h"

#include <cstdint>

namespace corvane::service {

namespace {

constexpr size_t kLengthSize = 4;
constexpr size_t kIdentifierOffset = 4;  // in the buffer proper, after the root offset
constexpr size_t kIdentifierSize = 4;

uint32_t readLittleEndian32(const std::string& bytes, size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool splitSeries(const std::string& bytes, std::vector<std::string>& parts, bool keepPrefix,
                 size_t maxParts = SIZE_MAX) {
    parts.clear();
    size_t offset = 0;
    while (offset < bytes.size()) {
        if (parts.size() == maxParts) return false;
        if (bytes.size() - offset < kLengthSize) return false;
        const uint64_t length = readLittleEndian32(bytes, offset);
        if (bytes.size() - offset - kLengthSize < length) return false;
        if (keepPrefix)
            parts.emplace_back(bytes, offset, kLengthSize + length);
        else
            parts.emplace_back(bytes, offset + kLengthSize, length);
        offset += kLengthSize + length;
    }
    return true;
}

}  // namespace

bool splitBatch(const std::string& body, std::vector<std::string>& messages, size_t maxMessages) {
    return splitSeries(body, messages, true, maxMessages);
}

std::string messageIdentifier(const std::string& message) {
    if (message.size() < kLengthSize + kIdentifierOffset + kIdentifierSize) return {};
    if (readLittleEndian32(message, 0) < kIdentifierOffset + kIdentifierSize) return {};
    return message.substr(kLengthSize + kIdentifierOffset, kIdentifierSize);
}

std::string joinResponses(const std::vector<std::string>& responses) {
    size_t total = 0;
    for (const auto& response : responses)
        total += kLengthSize + response.size();
    std::string answer;
    answer.reserve(total);
    for (const auto& response : responses) {
        answer += littleEndian32(static_cast<uint32_t>(response.size()));
        answer += response;
    }
    return answer;
}

bool splitResponses(const std::string& answer, std::vector<std::string>& responses) {
    return splitSeries(answer, responses, false);
}

std::string unknownMessageResponse() {
    return littleEndian32(0) + "????";
}

std::string littleEndian32(uint32_t value) {
    std::string bytes(kLengthSize, '\0');
    for (size_t i = 0; i < kLengthSize; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

}  // namespace corvane::service
