#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "loop/loop.h"
#include "request/request.h"
#include "request/request_host.h"
#include "request/request_listener.h"
#include "support/run_on_loop.h"

namespace corvane {
namespace test {

// Tells the test when a request has finished; onFinish, when set, runs first (on the thread
// that finished it).
class FinishWaiter : public RequestListener {
public:
    void finished(std::shared_ptr<Request>) override {
        if (onFinish) {
            onFinish();
        }
        promise_.set_value();
    }
    bool wait() { return future_.wait_for(std::chrono::seconds(60)) == std::future_status::ready; }

    std::function<void()> onFinish;

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

// Checks and reads the response into the request on the loop, then runs its local phase there;
// true when the request finished. beforeFinish runs on the loop when it finishes.
inline bool readAndApply(Loop& loop, RequestHost* host, const std::shared_ptr<NetworkRequest>& request,
                         const ResponseBuffer& response, std::function<void()> beforeFinish = nullptr) {
    const bool read = runOnLoop(loop, [&]() {
        return request->verify(response.data(), response.size()) &&
               request->processFlatbuffer(response.data(), response.size());
    });
    if (!read) {
        return false;
    }
    FinishWaiter waiter;
    waiter.onFinish = std::move(beforeFinish);
    request->setListener(&waiter);
    loop.post([&]() { request->applyResults(host); });
    const bool finished = waiter.wait();
    // What follows the finish on the same loop turn (events) has run once this returns.
    runOnLoop(loop, []() {});
    request->setListener(nullptr);
    return finished;
}

inline bool hasField(const void* table, flatbuffers::voffset_t field) {
    return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

}  // namespace test
}  // namespace corvane
