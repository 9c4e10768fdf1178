#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvane {

// Streaming BLAKE2b, keyed or unkeyed, any output size from 1 to 64 bytes.
class Blake2b {
public:
    explicit Blake2b(size_t outputSize, const uint8_t* key = nullptr, size_t keySize = 0);
    ~Blake2b();
    Blake2b(const Blake2b&) = delete;
    Blake2b& operator=(const Blake2b&) = delete;

    // False when the size, the key or the back end was refused.
    bool isValid() const;
    // Any number of calls, any split.
    bool update(const uint8_t* data, size_t size);
    // Writes outputSize() bytes; no update after it.
    bool final(uint8_t* out);
    size_t outputSize() const;

    // One-shot form.
    static bool hash(const uint8_t* data, size_t size, uint8_t* out, size_t outputSize, const uint8_t* key = nullptr,
                     size_t keySize = 0);

private:
    struct State;
    std::unique_ptr<State> state_;
    size_t outputSize_;
};

}  // namespace corvane
