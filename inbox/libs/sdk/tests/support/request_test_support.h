#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "request/request.h"
#include "request/request_listener.h"

namespace corvane {
namespace test {

// Tells the test when a request has finished.
class FinishWaiter : public RequestListener {
public:
    void finished(std::shared_ptr<Request>) override { promise_.set_value(); }
    bool wait() { return future_.wait_for(std::chrono::seconds(60)) == std::future_status::ready; }

private:
    std::promise<void> promise_;
    std::future<void> future_ = promise_.get_future();
};

// A plain response buffer as the service writes it, built by the test's own builder.
class ResponseBuffer {
public:
    template <class Build>
    ResponseBuffer(const char* identifier, Build build) {
        builder_.Finish(build(builder_), identifier);
    }
    const uint8_t* data() const { return builder_.GetBufferPointer(); }
    uint32_t size() const { return builder_.GetSize(); }
    std::vector<uint8_t> bytes() const { return std::vector<uint8_t>(data(), data() + size()); }

private:
    flatbuffers::FlatBufferBuilder builder_;
};

// The size-prefixed message a request built, verified as its table with the expected
// identifier; null when it fails to verify.
template <class Table>
const Table* messageOf(NetworkRequest& request, std::unique_ptr<ByteArray>& keep, const char* identifier) {
    keep = request.takeMessage();
    if (!keep) {
        return nullptr;
    }
    flatbuffers::Verifier verifier(keep->data(), keep->size(), 64, 1000000);
    if (!verifier.VerifySizePrefixedBuffer<Table>(identifier)) {
        return nullptr;
    }
    return flatbuffers::GetSizePrefixedRoot<Table>(keep->data());
}

inline bool hasField(const void* table, flatbuffers::voffset_t field) {
    return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

}  // namespace test
}  // namespace corvane
