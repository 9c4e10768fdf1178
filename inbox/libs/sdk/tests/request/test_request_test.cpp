#include "request/utils_request.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "account_info_response_generated.h"
#include "action/utils_action.h"
#include "corvane/mutable_action_data.h"
#include "message_verifier.h"
#include "support/fake_api_manager.h"
#include "support/recording_listeners.h"
#include "util/schema_text.h"

namespace corvane {
namespace {

using CountingListener = test::CountingRequestListener;

std::string asString(const ByteArray& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A TestResponse built here with a plain builder, independent of the request's own helpers.
std::vector<uint8_t> builtResponse(const char* identifier = "TESR") {
    flatbuffers::FlatBufferBuilder builder(64);
    auto text = builder.CreateString("echo");
    TestResponseBuilder response(builder);
    response.add_exampleUint64(1);
    response.add_exampleInt16(2);
    response.add_exampleString(text);
    builder.Finish(response.Finish(), identifier);
    return std::vector<uint8_t>(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

// A hand-laid TestResponse whose only field, exampleInt16, sits at table offset `fieldOffset`:
// root offset, "TESR", an 8-byte vtable at 8, the 8-byte table at 16.
std::vector<uint8_t> handLaidResponse(uint16_t fieldOffset) {
    std::vector<uint8_t> bytes(24, 0);
    bytes[0] = 16;
    std::memcpy(&bytes[4], "TESR", 4);
    const uint16_t vtable[4] = {8, 8, 0, fieldOffset};  // size, table size, exampleUint8 absent, exampleInt16
    std::memcpy(&bytes[8], vtable, sizeof(vtable));
    bytes[16] = 8;  // soffset from the table back to its vtable
    bytes[16 + fieldOffset] = 0x60;
    bytes[16 + fieldOffset + 1] = 0xff;
    return bytes;
}

TEST(TestRequestTest, MessageCarriesAllFiveFieldsAsBuilt) {
    TestRequest request(std::make_shared<MutableActionData>(0));
    std::unique_ptr<ByteArray> message = request.takeMessage();
    ASSERT_TRUE(message);
    const uint8_t* bytes = message->data();
    ASSERT_GE(message->size(), 12u);

    EXPECT_EQ(message->size() % 8, 0u);
    EXPECT_EQ(readLe32(bytes), message->size() - 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 8, 4), "TESM");

    flatbuffers::Verifier verifier(bytes, message->size(), 64, 1000000);
    ASSERT_TRUE(verifier.VerifySizePrefixedBuffer<TestMessage>("TESM"));
    const TestMessage* table = flatbuffers::GetSizePrefixedRoot<TestMessage>(bytes);
    // Every value differs from its default, so every field must be physically present.
    const auto* raw = reinterpret_cast<const flatbuffers::Table*>(table);
    for (flatbuffers::voffset_t field :
         {TestMessage::VT_EXAMPLEUINT8, TestMessage::VT_EXAMPLEINT16, TestMessage::VT_EXAMPLEINT32,
          TestMessage::VT_EXAMPLEUINT64, TestMessage::VT_EXAMPLESTRING}) {
        EXPECT_TRUE(raw->CheckField(field)) << "field at vtable offset " << field;
    }
    EXPECT_EQ(table->exampleUint8(), 80);
    EXPECT_EQ(table->exampleInt16(), -160);
    EXPECT_EQ(table->exampleInt32(), -320);
    EXPECT_EQ(table->exampleUint64(), 646464646464640ULL);
    ASSERT_TRUE(table->exampleString());
    EXPECT_EQ(table->exampleString()->str(), "TestString");

    EXPECT_FALSE(request.takeMessage());
}

TEST(TestRequestTest, MessagePassesTheStandInVerifier) {
    TestRequest request(nullptr);
    std::unique_ptr<ByteArray> message = request.takeMessage();
    ASSERT_TRUE(message);
    const service::MessageKind* kind = service::findMessageKind("TESM");
    ASSERT_NE(kind, nullptr);
    EXPECT_STREQ(kind->responseIdentifier, "TESR");
    EXPECT_TRUE(service::verifyMessage(*kind, asString(*message)));
}

struct VerifyCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool accepted;
};

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t length) {
    bytes.resize(length);
    return bytes;
}

std::vector<uint8_t> patched(std::vector<uint8_t> bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

std::vector<uint8_t> foreignResponse() {
    flatbuffers::FlatBufferBuilder builder(64);
    AccountInfoResponseBuilder response(builder);
    response.add_error(0);
    response.add_handle(5);
    builder.Finish(response.Finish(), "ACIR");
    return std::vector<uint8_t>(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

TEST(TestRequestTest, VerifyAcceptsOnlyWellFormedTestResponses) {
    const std::vector<uint8_t> good = builtResponse();
    const std::string goodText(good.begin(), good.end());
    const size_t insideString = goodText.find("echo") + 2;
    ASSERT_LT(insideString, good.size());
    const std::vector<VerifyCase> cases = {
        {"built response", good, true},
        {"7 bytes", cut(good, 7), false},
        {"empty", {}, false},
        {"header only", cut(good, 8), false},
        {"cut inside the string", cut(good, insideString), false},
        {"cut in half", cut(good, good.size() / 2), false},
        {"message identifier", builtResponse("TESM"), false},
        {"foreign response", foreignResponse(), false},
        {"root offset outside", patched(good, 1, 0x7f), false},
        {"root offset zero", patched(patched(good, 0, 0), 1, 0), false},
        {"root offset misaligned", patched(good, 0, uint8_t(good[0] + 1)), false},
        {"aligned int16", handLaidResponse(6), true},
        {"int16 at an odd offset", handLaidResponse(5), false},
    };
    TestRequest request(nullptr);
    for (const auto& c : cases) {
        // A fresh aligned copy, so that only the buffer's own layout is judged.
        std::vector<uint64_t> storage((c.bytes.size() + 7) / 8 + 1);
        if (!c.bytes.empty()) std::memcpy(storage.data(), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(request.verify(reinterpret_cast<const uint8_t*>(storage.data()), uint32_t(c.bytes.size())),
                  c.accepted)
            << c.name;
    }
}

TEST(TestRequestTest, ReadingTakesTheResponseAndApplyingFinishesAtOnce) {
    auto data = std::make_shared<MutableActionData>(0);
    auto request = std::make_shared<TestRequest>(data);
    CountingListener listener;
    request->setListener(&listener);
    const std::vector<uint8_t> response = builtResponse();
    EXPECT_TRUE(request->processFlatbuffer(response.data(), uint32_t(response.size())));
    request->applyResults(nullptr);
    EXPECT_TRUE(request->isFinished());
    EXPECT_EQ(listener.finishedCount, 1);
    EXPECT_EQ(data->getErrorCode(), 0);
}

TEST(TestRequestTest, TextFormsNameTheFields) {
    TestRequest request(nullptr);
    std::unique_ptr<ByteArray> message = request.takeMessage();
    ASSERT_TRUE(message);
    const std::string text = request.messageToString(message->data());
    EXPECT_NE(text.find("exampleUint64: 646464646464640"), std::string::npos) << text;
    EXPECT_NE(text.find("exampleInt16: -160"), std::string::npos) << text;
    EXPECT_NE(text.find("exampleString: \"TestString\""), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;

    const std::vector<uint8_t> response = builtResponse();
    const std::string responseText = request.responseToString(response.data());
    EXPECT_NE(responseText.find("exampleString: \"echo\""), std::string::npos) << responseText;
    EXPECT_NE(responseText.find("exampleUint64: 1"), std::string::npos) << responseText;
}

TEST(TestRequestTest, SchemasAreTheEmbeddedTexts) {
    TestRequest request(nullptr);
    EXPECT_STREQ(request.getName(), "Test");
    ASSERT_NE(getSchemaText("test_message"), nullptr);
    EXPECT_STREQ(request.getMessageSchema(), getSchemaText("test_message"));
    EXPECT_STREQ(request.getResponseSchema(), getSchemaText("test_response"));
    EXPECT_NE(std::string(request.getMessageSchema()).find("table TestMessage32"), std::string::npos);
}

class NotedListener : public ActionListener {
public:
    void onActionProcessed(std::shared_ptr<ActionData> data) override { note("processed", data); }
    void onActionFinish(std::shared_ptr<ActionData> data) override { note("finish", data); }
    void note(const char* kind, const std::shared_ptr<ActionData>& data) {
        calls.push_back(std::string(kind) + ":" + std::to_string(data->getErrorCode()));
    }
    std::vector<std::string> calls;
};

TEST(TestActionTest, SendsTheTestRequestAndFinishesWithIt) {
    test::FakeApiManager manager;
    NotedListener listener;
    TestAction processor(&manager, &manager.loop, &listener);
    auto data = std::make_shared<MutableActionData>(TEST);
    processor.process(data);
    manager.loop.runTasks();
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"processed:0"}));
    ASSERT_EQ(manager.requests.size(), 1u);
    auto request = std::dynamic_pointer_cast<TestRequest>(manager.requests[0]);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->getActionData(), data);

    // The request's end, with the code the channel left in the record, ends the action.
    data->setError(Error(8));
    request->setListener(&processor);
    request->applyResults(&manager);
    manager.loop.runTasks();
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"processed:0", "finish:8"}));
}

TEST(TestActionTest, WithoutApiManagerFinishesAtOnceWithoutError) {
    test::ManualLoop loop;
    NotedListener listener;
    TestAction processor(nullptr, &loop, &listener);
    auto data = std::make_shared<MutableActionData>(TEST);
    processor.process(data);
    loop.runTasks();
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"processed:0", "finish:0"}));
}

}  // namespace
}  // namespace corvane
