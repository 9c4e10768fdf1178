#include "test_handler.h"

#include <cstring>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "https_client.h"
#include "stand_in_service.h"
#include "test_message_generated.h"
#include "test_response_generated.h"

namespace corvane::service {
namespace {

struct Values {
    uint8_t u8 = 8;
    int16_t i16 = -16;
    int32_t i32 = -32;
    uint64_t u64 = 64646464646464ULL;
    const char* text = nullptr;
};

std::string testMessage(const Values& v) {
    flatbuffers::FlatBufferBuilder builder(100);
    builder.Align(8);
    const auto text = v.text ? builder.CreateString(v.text) : flatbuffers::Offset<flatbuffers::String>();
    FinishSizePrefixedTestMessageBuffer(builder, CreateTestMessage(builder, v.u8, v.i16, v.i32, v.u64, text));
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

// Checks a plain TestResponse buffer and compares its values; read from an aligned copy.
void expectResponse(const std::string& response, const Values& v, const char* name) {
    std::vector<uint64_t> aligned((response.size() + 7) / 8 + 1);
    std::memcpy(aligned.data(), response.data(), response.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(aligned.data());
    flatbuffers::Verifier verifier(bytes, response.size(), 64, 1000000);
    ASSERT_TRUE(VerifyTestResponseBuffer(verifier)) << name;
    const TestResponse* table = GetTestResponse(bytes);
    EXPECT_EQ(table->exampleUint8(), v.u8) << name;
    EXPECT_EQ(table->exampleInt16(), v.i16) << name;
    EXPECT_EQ(table->exampleInt32(), v.i32) << name;
    EXPECT_EQ(table->exampleUint64(), v.u64) << name;
    if (v.text) {
        ASSERT_TRUE(table->exampleString()) << name;
        EXPECT_EQ(table->exampleString()->str(), v.text) << name;
    } else {
        EXPECT_FALSE(table->exampleString()) << name;
    }
}

TEST(TestHandler, EchoesTheMessageValues) {
    const struct {
        const char* name;
        Values values;
        std::string message;
    } cases[] = {
        {"the client's example values", {80, -160, -320, 646464646464640ULL, "TestString"}, {}},
        {"all defaults, no text", {}, {}},
        {"empty text", {0, 0, 0, 0, ""}, {}},
    };
    for (const auto& c : cases) {
        expectResponse(answerTestMessage(testMessage(c.values)), c.values, c.name);
    }
}

TEST(TestHandler, UnreadableMessageGetsAnEmptyResponse) {
    for (const std::string& message : {std::string(), std::string("\x04\0\0\0\0\0\0\0", 8)}) {
        expectResponse(answerTestMessage(message), Values{}, "unreadable");
    }
}

// The batch endpoint answers the test message without any handler set by the test.
TEST(TestHandler, StandInAnswersTheTestMessageByDefault) {
    curl_global_init(CURL_GLOBAL_ALL);
    StandInService service;
    ASSERT_TRUE(service.start());
    const Values values{80, -160, -320, 646464646464640ULL, "TestString"};
    test::Call call;
    call.url = service.apiUrl();
    call.body = testMessage(values);
    call.caFile = service.certificatePath();
    const test::Reply reply = test::perform(call);
    ASSERT_EQ(reply.status, 200);
    ASSERT_GE(reply.body.size(), 4u);
    const auto* prefix = reinterpret_cast<const uint8_t*>(reply.body.data());
    const uint32_t length =
        uint32_t(prefix[0]) | uint32_t(prefix[1]) << 8 | uint32_t(prefix[2]) << 16 | uint32_t(prefix[3]) << 24;
    ASSERT_EQ(length, reply.body.size() - 4);
    expectResponse(reply.body.substr(4), values, "over the batch endpoint");
    EXPECT_TRUE(service.unknownMessages().empty());
}

}  // namespace
}  // namespace corvane::service
