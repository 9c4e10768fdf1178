#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace corvane {

// The answer body of one exchange: written by the transport on the HTTP loop, read by the
// request's owner. Unbounded (grows with every write) or a ring of a fixed capacity that the
// reader drains while it is written, giving space back with consume.
class HttpRequestBuffer {
public:
    using SpaceCallback = std::function<void(void* context)>;

    HttpRequestBuffer() = default;
    virtual ~HttpRequestBuffer() = default;

    HttpRequestBuffer(const HttpRequestBuffer&) = delete;
    HttpRequestBuffer& operator=(const HttpRequestBuffer&) = delete;

    // False, with nothing written, when a bounded ring has not enough free space; the size
    // asked for is remembered so that consume can call the space callback once it is free.
    bool write(const uint8_t* bytes, uint32_t length);

    // Hands out one contiguous run of the available bytes (all of them, or at most maximum
    // when maximum is not 0); valid until the next write, reset or capacity change.
    uint32_t read(const uint8_t** out, uint32_t maximum);

    uint32_t size();
    uint32_t getTotalWritten();
    uint32_t getCapacity();

    // Gives n read bytes of the ring back to the writer.
    void consume(uint32_t n);

    // Puts back the last n bytes that read handed out.
    void unread(uint32_t n);

    // Storage up to this size outlives a reset or a capacity change, for the next answer:
    // a few 1 MiB transfer chunks' worth, while one large answer is not held for ever.
    static constexpr size_t kKeptStorage = size_t(4) << 20;

    // Empties the buffer; the capacity stays.
    void reset();

    // 0 makes the buffer unbounded; otherwise it becomes an empty ring of that many bytes.
    void setCapacity(uint32_t bytes);

    // Makes room in an unbounded buffer for an answer of this size, so that it grows once.
    void reserve(uint32_t bytes);

    void setSpaceCallback(SpaceCallback callback, void* context);

private:
    void resetLocked();

    std::mutex lock_;
    std::vector<uint8_t> storage_;
    uint32_t capacity_ = 0;
    uint32_t available_ = 0;
    uint32_t free_ = 0;
    uint32_t writePosition_ = 0;
    uint32_t readPosition_ = 0;
    uint32_t totalWritten_ = 0;
    uint32_t wantedSpace_ = 0;
    SpaceCallback spaceCallback_;
    void* spaceContext_ = nullptr;
};

}  // namespace corvane
