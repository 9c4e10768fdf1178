// Batch answers are read as length-prefixed messages, resumed as bytes arrive and across the
// end of a ring buffer; then the same answer is read by request classes, each verifying and
// taking its own response as the bytes arrive in an answer buffer. The first input byte picks
// the arrival step and the ring's run length; the rest is the answer.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"
#include "http/http_request_buffer.h"
#include "request/node_tables.h"
#include "request/request.h"
#include "request/response_reader.h"
#include "request/utils_request.h"

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

// A request of the shape every node-listing request has: its response carries node,
// filesystem and contact tables, read through the shared node-table code.
class NodeListingRequest : public corvane::FlatbufferRequest<corvane::GetNodesMessage, corvane::GetNodesResponse> {
public:
    NodeListingRequest() : FlatbufferRequest(nullptr) {}

    const char* getName() const override { return "GetNodes"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override {
        const auto* response = flatbuffers::GetRoot<corvane::GetNodesResponse>(bytes);
        if (readError(response) != 0) {
            return true;
        }
        corvane::getEncryptedNodes(response->nodes());
        corvane::getEncryptedNodes(response->contacts());
        corvane::getFilesystemList(response->filesystems());
        responseToString(bytes);
        return true;
    }
};

void readByFraming(const uint8_t* data, size_t size) {
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
}

// The answer arrives `step` bytes at a time into the buffer the transport fills (unbounded, or
// a ring the reader drains); the requests of the batch read their responses in turn. Which
// class reads a response follows the identifier it carries, as the batch a client sent would.
void readByRequests(const uint8_t* data, size_t size) {
    const uint32_t step = (data[0] & 0x0F) * 7 + 1;
    const uint32_t ring = (data[0] >> 4) * 256;
    const uint8_t* answer = data + 1;
    const size_t length = size - 1;
    corvane::HttpRequestBuffer buffer;
    buffer.setCapacity(ring);
    size_t written = 0;
    size_t next = 0;  // where the next response's length prefix starts
    while (true) {
        std::shared_ptr<corvane::NetworkRequest> request;
        if (next + 12 <= length && std::memcmp(answer + next + 8, "GENR", 4) == 0) {
            request = std::make_shared<NodeListingRequest>();
        } else {
            request = std::make_shared<corvane::TestRequest>(nullptr);
        }
        bool taken = false;
        while (!(taken = request->processData(buffer)) && written < length) {
            size_t count = std::min<size_t>(step, length - written);
            if (ring != 0) {
                count = std::min<size_t>(count, ring - buffer.size());
            }
            if (count == 0 || !buffer.write(answer + written, static_cast<uint32_t>(count))) {
                return;  // a response larger than the ring never fits
            }
            written += count;
        }
        if (!taken) {
            return;
        }
        const uint32_t responseLength = uint32_t(answer[next]) | uint32_t(answer[next + 1]) << 8 |
                                        uint32_t(answer[next + 2]) << 16 | uint32_t(answer[next + 3]) << 24;
        next += 4 + size_t(responseLength);
        if (next > length) {
            std::abort();  // a request took more than the answer holds
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    readByFraming(data, size);
    readByRequests(data, size);
    return 0;
}
