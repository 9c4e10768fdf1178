#pragma once

#include <cstdint>
#include <memory>

#include "request/request.h"
#include "test_message_generated.h"
#include "test_response_generated.h"

namespace corvane {

// The schema demonstration request of the TEST action: every field of its message differs
// from the schema default, so all of them travel.
class TestRequest : public FlatbufferRequest<TestMessage, TestResponse> {
public:
    static constexpr uint8_t kExampleUint8 = 80;
    static constexpr int16_t kExampleInt16 = -160;
    static constexpr int32_t kExampleInt32 = -320;
    static constexpr uint64_t kExampleUint64 = 646464646464640ULL;
    static const char* const kExampleString;

    explicit TestRequest(std::shared_ptr<MutableActionData> actionData);

    const char* getName() const override { return "Test"; }
    // The response has no error field and nothing is kept from it.
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override { return true; }
};

}  // namespace corvane
