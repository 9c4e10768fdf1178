// Batch answers are read as length-prefixed messages, resumed as bytes arrive and across the
// end of a ring buffer. The first input byte picks the arrival step and the ring's run length.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "request/response_reader.h"

namespace {

// Bytes arrive `step` at a time; reads hand out runs of at most `run` contiguous bytes.
class ArrivingBuffer {
public:
    ArrivingBuffer(const uint8_t* data, size_t size, uint32_t run) : data_(data, data + size), run_(run) {}

    void arrive(size_t count) { arrived_ = std::min(data_.size(), arrived_ + count); }
    bool complete() const { return arrived_ == data_.size(); }

    uint32_t size() const { return static_cast<uint32_t>(arrived_ - position_); }
    uint32_t read(const uint8_t** out, uint32_t max) {
        const size_t runEnd = (position_ / run_ + 1) * run_;
        const size_t count = std::min<size_t>({max, arrived_ - position_, runEnd - position_});
        *out = data_.data() + position_;
        position_ += count;
        return static_cast<uint32_t>(count);
    }
    void unread(uint32_t count) {
        if (count > position_ - committed_) std::abort();
        position_ -= count;
    }
    void consume(uint32_t count) {
        if (count > position_ - committed_) std::abort();
        committed_ += count;
        position_ = committed_;
    }

private:
    std::vector<uint8_t> data_;
    size_t run_;
    size_t arrived_ = 0;
    size_t position_ = 0;
    size_t committed_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint32_t step = (data[0] & 0x0F) + 1;
    const uint32_t run = (data[0] >> 4) + 1;
    ArrivingBuffer buffer(data + 1, size - 1, run);
    uint32_t expected = 0;
    size_t takenBytes = 0;
    auto verify = [](const uint8_t* bytes, uint32_t count) { return count >= 8 && bytes[4] != 0; };
    auto process = [&](const uint8_t* bytes, uint32_t count) {
        takenBytes += count + 4;
        volatile uint8_t sink = bytes[0] ^ bytes[count - 1];  // the whole message must be readable
        (void)sink;
        return true;
    };
    while (true) {
        const corvane::ResponseRead result = corvane::readLengthPrefixedResponse(buffer, expected, verify, process);
        if (result == corvane::ResponseRead::TAKEN) {
            expected = 0;
            continue;
        }
        if (result != corvane::ResponseRead::INCOMPLETE || buffer.complete()) {
            break;
        }
        buffer.arrive(step);
    }
    if (takenBytes > size - 1) {
        std::abort();
    }
    return 0;
}
