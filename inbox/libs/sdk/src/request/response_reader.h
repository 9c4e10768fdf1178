#pragma once

#include <cstdint>
#include <cstring>

namespace corvane {

// Outcome of one attempt to read a length-prefixed response message.
enum class ResponseRead {
    INCOMPLETE,  // more bytes are needed; call again once they have arrived
    CORRUPT,     // the message failed verification (or announced no bytes at all)
    REFUSED,     // verified, but the reader did not take it
    TAKEN,       // verified and taken
};

// Reads one message of an answer made of messages each preceded by its length as a 4-byte
// little-endian unsigned integer. `expectedLength` carries the position between calls: 0
// until the prefix has been taken, then the announced length, so a call on a partial answer
// can be resumed by a later one. The buffer offers the response buffer's operations:
// size(), read(&out, max) handing out one contiguous run, unread(n) and consume(n).
// verify(bytes, count) and process(bytes, count) return bool.
template <class Buffer, class Verify, class Process>
ResponseRead readLengthPrefixedResponse(Buffer& buffer, uint32_t& expectedLength, Verify&& verify, Process&& process) {
    constexpr uint32_t kPrefixSize = 4;
    if (expectedLength == 0) {
        if (buffer.size() < kPrefixSize) {
            return ResponseRead::INCOMPLETE;
        }
        // A ring may split the prefix across its end; gather it from up to two runs.
        uint8_t prefix[kPrefixSize];
        uint32_t gathered = 0;
        while (gathered < kPrefixSize) {
            const uint8_t* run = nullptr;
            uint32_t count = buffer.read(&run, kPrefixSize - gathered);
            if (count == 0 || run == nullptr) {
                break;
            }
            std::memcpy(prefix + gathered, run, count);
            gathered += count;
        }
        buffer.consume(gathered);
        expectedLength =
            uint32_t(prefix[0]) | uint32_t(prefix[1]) << 8 | uint32_t(prefix[2]) << 16 | uint32_t(prefix[3]) << 24;
        // A zero length cannot hold a message, and reading "up to 0 bytes" would take
        // everything that follows.
        if (expectedLength == 0) {
            return ResponseRead::CORRUPT;
        }
    }

    const uint8_t* body = nullptr;
    uint32_t count = buffer.read(&body, expectedLength);
    if (count < expectedLength) {
        if (count > 0) {
            buffer.unread(count);
        }
        return ResponseRead::INCOMPLETE;
    }
    if (!verify(body, count)) {
        return ResponseRead::CORRUPT;
    }
    bool taken = process(body, count);
    buffer.consume(expectedLength);
    return taken ? ResponseRead::TAKEN : ResponseRead::REFUSED;
}

}  // namespace corvane
