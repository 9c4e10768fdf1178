// Bodies of the raw-bytes endpoints and their gzip encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace corvane::service {

// Byte i of every "/data/<n>" answer.
inline char dataByte(uint64_t i) {
    return static_cast<char>((i * 7 + 3) & 0xFF);
}

// Fills out with the data bytes from position `offset` on.
void fillDataBytes(uint64_t offset, char* out, size_t length);
std::string makeDataBytes(size_t length);

// Reads a decimal length such as the <n> of "/data/<n>": digits only, no sign, no overflow.
std::optional<uint64_t> parseLength(const std::string& text);

// A gzip stream (RFC 1952) of the bytes; empty only if zlib fails.
std::string gzipEncode(const std::string& bytes);

}  // namespace corvane::service
