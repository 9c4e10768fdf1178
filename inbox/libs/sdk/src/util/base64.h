#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// Synchronous Base64 text codec, standard and URL-safe. A small value object that any code
// creates where it needs a text form of bytes; each object is used by one thread at a time.
// No terminating zero is written; output that does not fit the capacity is dropped.
class Base64 {
public:
    Base64() = default;
    virtual ~Base64() = default;

    // Standard alphabet with "=" padding, no line breaks: 4 characters per started group of
    // 3 bytes. Returns the number of characters written.
    virtual size_t encode(const uint8_t* data, size_t size, char* output, size_t capacity);

    // Reads the zero-terminated text with the standard alphabet, skipping every other
    // character ("=", whitespace, "-" and "_" included). Returns the number of bytes written.
    virtual size_t decode(const char* text, uint8_t* output, size_t capacity);

    // URL-safe alphabet ("-" and "_"), no padding: ceil(4 * size / 3) characters.
    virtual size_t encodeUrl(const uint8_t* data, size_t size, char* output, size_t capacity);

    // As decode with the URL-safe alphabet ("+", "/" and "=" are skipped).
    virtual size_t decodeUrl(const char* text, uint8_t* output, size_t capacity);

    // Characters that encode / encodeUrl produce for size bytes.
    static size_t encodedSize(size_t size);
    static size_t encodedUrlSize(size_t size);
};

}  // namespace corvane
