#include "request/utils_request.h"

namespace corvane {

namespace {

constexpr size_t kTestInitialSize = 100;

}  // namespace

const char* const TestRequest::kExampleString = "TestString";

TestRequest::TestRequest(std::shared_ptr<MutableActionData> actionData) : FlatbufferRequest(std::move(actionData)) {
    flatbuffers::FlatBufferBuilder builder = makeBuilder(kTestInitialSize);
    const auto exampleString = builder.CreateString(kExampleString);
    TestMessageBuilder message(builder);
    message.add_exampleUint8(kExampleUint8);
    message.add_exampleInt16(kExampleInt16);
    message.add_exampleInt32(kExampleInt32);
    message.add_exampleUint64(kExampleUint64);
    message.add_exampleString(exampleString);
    finishMessage(builder, message.Finish().o);
}

}  // namespace corvane
