#include "test_handler.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "test_message_generated.h"
#include "test_response_generated.h"

namespace corvane::service {

std::string answerTestMessage(const std::string& message) {
    flatbuffers::FlatBufferBuilder builder(128);
    builder.Align(8);
    const TestMessage* request = nullptr;
    // The message's 8-byte field is read from an aligned copy, wherever the string keeps it.
    std::vector<uint64_t> aligned((message.size() + 7) / 8);
    if (!message.empty()) {
        std::memcpy(aligned.data(), message.data(), message.size());
        const auto* bytes = reinterpret_cast<const uint8_t*>(aligned.data());
        flatbuffers::Verifier verifier(bytes, message.size());
        if (VerifySizePrefixedTestMessageBuffer(verifier)) request = GetSizePrefixedTestMessage(bytes);
    }
    if (request == nullptr) {
        builder.Finish(TestResponseBuilder(builder).Finish(), TestResponseIdentifier());
    } else {
        // Values equal to their defaults stay out, as they were in the message.
        const auto text = request->exampleString() ? builder.CreateString(request->exampleString())
                                                   : flatbuffers::Offset<flatbuffers::String>();
        TestResponseBuilder response(builder);
        response.add_exampleUint8(request->exampleUint8());
        response.add_exampleInt16(request->exampleInt16());
        response.add_exampleInt32(request->exampleInt32());
        response.add_exampleUint64(request->exampleUint64());
        if (!text.IsNull()) response.add_exampleString(text);
        builder.Finish(response.Finish(), TestResponseIdentifier());
    }
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

}  // namespace corvane::service
