#include "request/request.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "account_info_message_generated.h"
#include "account_info_response_generated.h"
#include "corvane/mutable_action_data.h"
#include "http/http_request_buffer.h"
#include "log_event_message_generated.h"
#include "log_event_response_generated.h"
#include "message_verifier.h"
#include "support/log_capture.h"
#include "support/recording_listeners.h"
#include "util/schema_text.h"

namespace corvane {
namespace {

// Appends a response message: 4-byte little-endian length, then the body.
void appendMessage(std::vector<uint8_t>& out, const std::string& body) {
    uint32_t length = uint32_t(body.size());
    for (int i = 0; i < 4; ++i) {
        out.push_back(uint8_t(length >> (8 * i)));
    }
    out.insert(out.end(), body.begin(), body.end());
}

using RecordingListener = test::CountingRequestListener;

class LocalRequest : public Request {
public:
    using Request::Request;
    const char* getName() const override { return "Local"; }
};

// Accepts bodies that start with "OK" and records what it took.
class EchoRequest : public NetworkRequest {
public:
    explicit EchoRequest(bool take = true) : NetworkRequest(nullptr), take_(take) {}
    const char* getName() const override { return "Echo"; }
    std::string messageToString(const uint8_t*) override { return {}; }
    std::string responseToString(const uint8_t*) override { return {}; }
    const char* getMessageSchema() override { return ""; }
    const char* getResponseSchema() override { return ""; }
    bool verify(const uint8_t* bytes, uint32_t length) override {
        ++verifyCount;
        return length >= 2 && bytes[0] == 'O' && bytes[1] == 'K';
    }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override {
        taken.assign(reinterpret_cast<const char*>(bytes), length);
        return take_;
    }
    uint32_t expectedLength() const { return expectedLength_; }

    std::string taken;
    int verifyCount = 0;

private:
    bool take_;
};

void write(HttpRequestBuffer& buffer, const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    if (to > from) {
        ASSERT_TRUE(buffer.write(bytes.data() + from, uint32_t(to - from)));
    }
}

TEST(RequestTest, NotifyFinishedReachesTheListenerOnce) {
    RecordingListener listener;
    auto request = std::make_shared<LocalRequest>(nullptr);
    request->setListener(&listener);
    request->notifyFinished();
    request->notifyFinished();
    EXPECT_EQ(listener.finishedCount, 1);
    EXPECT_TRUE(request->isFinished());
}

TEST(RequestTest, BaseApplyResultsFinishesAtOnce) {
    RecordingListener listener;
    auto request = std::make_shared<LocalRequest>(nullptr);
    request->setListener(&listener);
    request->applyResults(nullptr);
    EXPECT_EQ(listener.finishedCount, 1);
}

TEST(RequestTest, WithoutListenerNothingIsCalledButTheFlagIsSet) {
    auto request = std::make_shared<LocalRequest>(nullptr);
    request->notifyProcessed();
    request->notifyFinished();
    EXPECT_TRUE(request->isFinished());
}

TEST(RequestTest, OnErrorStoresTheCodeOnlyWhileUnfinished) {
    auto data = std::make_shared<MutableActionData>(0);
    data->setSequenceId(42);
    RecordingListener listener;
    auto request = std::make_shared<LocalRequest>(data);
    request->setListener(&listener);
    EXPECT_EQ(request->getActionId(), 42);

    request->onError(Error(16));
    EXPECT_EQ(data->getErrorCode(), 16);
    EXPECT_EQ(listener.finishedCount, 1);

    request->onError(Error(2));
    EXPECT_EQ(data->getErrorCode(), 16);
    EXPECT_EQ(listener.finishedCount, 1);
}

TEST(RequestTest, WithoutActionDataIdIsZeroAndOnErrorOnlyNotifies) {
    RecordingListener listener;
    auto request = std::make_shared<LocalRequest>(nullptr);
    request->setListener(&listener);
    EXPECT_EQ(request->getActionId(), 0);
    request->onError(Error(2));
    EXPECT_EQ(listener.finishedCount, 1);
}

TEST(RequestTest, NotifyingAnUnownedRequestLogsInsteadOfThrowing) {
    test::LogCapture log;
    RecordingListener listener;
    LocalRequest request(nullptr);
    request.setListener(&listener);
    EXPECT_NO_THROW(request.notifyProcessed());
    EXPECT_NO_THROW(request.notifyFinished());
    EXPECT_EQ(listener.processedCount + listener.finishedCount, 0);
    EXPECT_EQ(log.count("Request notified without an owner"), 2);
}

TEST(RequestTest, TakeMessageHandsItOverOnce) {
    class WithMessage : public EchoRequest {
    public:
        WithMessage() { message_ = std::make_unique<VectorByteArray>(new std::vector<uint8_t>{1, 2, 3}); }
    } request;
    std::unique_ptr<ByteArray> message = request.takeMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->size(), 3u);
    EXPECT_FALSE(request.takeMessage());
}

// The answer arrives in two pieces, split at every possible point, into a ring that is read
// while it is written; the first call must take nothing it cannot finish and the second must
// resume where the first stopped.
TEST(ResponseReaderTest, ResumesAcrossEverySplitPoint) {
    std::vector<uint8_t> answer;
    appendMessage(answer, "OK first message");
    appendMessage(answer, "OK second");
    const size_t firstEnd = 4 + 16;

    for (size_t split = 0; split <= answer.size(); ++split) {
        SCOPED_TRACE("split at " + std::to_string(split));
        HttpRequestBuffer buffer;
        buffer.setCapacity(64);
        EchoRequest first;
        EchoRequest second;
        write(buffer, answer, 0, split);

        bool firstDone = first.processData(buffer);
        EXPECT_EQ(firstDone, split >= firstEnd);
        if (split < 4) {
            EXPECT_EQ(buffer.size(), split) << "a partial prefix must stay in the buffer";
            EXPECT_EQ(first.expectedLength(), 0u);
        } else if (!firstDone) {
            EXPECT_EQ(first.expectedLength(), 16u);
            EXPECT_EQ(first.verifyCount, 0);
        }
        bool secondDone = firstDone && second.processData(buffer);
        EXPECT_EQ(secondDone, split == answer.size());

        write(buffer, answer, split, answer.size());
        if (!firstDone) {
            ASSERT_TRUE(first.processData(buffer));
        }
        if (!secondDone) {
            ASSERT_TRUE(second.processData(buffer));
        }
        EXPECT_EQ(first.taken, "OK first message");
        EXPECT_EQ(second.taken, "OK second");
        EXPECT_EQ(first.verifyCount, 1);
        EXPECT_EQ(second.verifyCount, 1);
        EXPECT_EQ(buffer.size(), 0u);
    }
}

TEST(ResponseReaderTest, CorruptMessageLogsOnceAndKeepsItsLength) {
    test::LogCapture log;
    std::vector<uint8_t> answer;
    appendMessage(answer, "XX bad");
    HttpRequestBuffer buffer;
    write(buffer, answer, 0, answer.size());
    EchoRequest request;
    EXPECT_FALSE(request.processData(buffer));
    EXPECT_EQ(request.expectedLength(), 6u);
    EXPECT_TRUE(request.taken.empty());
    EXPECT_EQ(log.count("[req]Echo: Corrupt flatbuffer received"), 1);
}

// Where a corrupt response really ended is unknown: asked again as more bytes arrive, the
// request must not take what follows it as its own.
TEST(ResponseReaderTest, AfterACorruptMessageNothingElseIsTaken) {
    test::LogCapture log;
    std::vector<uint8_t> answer;
    appendMessage(answer, "XX bad");
    appendMessage(answer, "OK next");
    appendMessage(answer, "OK last");
    HttpRequestBuffer buffer;
    write(buffer, answer, 0, answer.size());
    EchoRequest request;
    EXPECT_FALSE(request.processData(buffer));
    EXPECT_FALSE(request.processData(buffer));
    EXPECT_FALSE(request.processData(buffer));
    EXPECT_TRUE(request.taken.empty());
    EXPECT_EQ(request.verifyCount, 1);
}

TEST(ResponseReaderTest, RefusedMessageIsConsumedButNotReportedTaken) {
    std::vector<uint8_t> answer;
    appendMessage(answer, "OK but no");
    HttpRequestBuffer buffer;
    write(buffer, answer, 0, answer.size());
    EchoRequest request(false);
    EXPECT_FALSE(request.processData(buffer));
    EXPECT_EQ(request.taken, "OK but no");
    EXPECT_EQ(buffer.size(), 0u);
}

// A zero length announces no message; reading "up to 0 bytes" must not swallow the
// messages behind it.
TEST(ResponseReaderTest, ZeroLengthPrefixIsCorruptAndTakesNothingBehindIt) {
    test::LogCapture log;
    std::vector<uint8_t> answer;
    appendMessage(answer, "");
    appendMessage(answer, "OK next");
    HttpRequestBuffer buffer;
    write(buffer, answer, 0, answer.size());
    EchoRequest request;
    EXPECT_FALSE(request.processData(buffer));
    EXPECT_EQ(request.verifyCount, 0);
    EXPECT_EQ(buffer.size(), 4u + 7u);
    EXPECT_EQ(log.count("Corrupt flatbuffer received"), 1);
}

// In a ring the 4-byte prefix may straddle the end of the storage; read hands out one
// contiguous run, so the prefix must be gathered from two.
TEST(ResponseReaderTest, PrefixSplitByTheEndOfARingIsGathered) {
    HttpRequestBuffer ring;
    ring.setCapacity(16);
    std::vector<uint8_t> filler;
    appendMessage(filler, "OK 3456789");  // 14 bytes: the next prefix starts at 14
    write(ring, filler, 0, filler.size());
    EchoRequest skip;
    ASSERT_TRUE(skip.processData(ring));

    std::vector<uint8_t> next;
    appendMessage(next, "OK wrapped");  // prefix at 14, 15, 0, 1; body from 2
    write(ring, next, 0, next.size());
    EchoRequest wrapped;
    ASSERT_TRUE(wrapped.processData(ring));
    EXPECT_EQ(wrapped.taken, "OK wrapped");
    EXPECT_EQ(ring.size(), 0u);
}

// A request of the common shape whose message has no 8-byte field, so only the forced
// alignment makes it a multiple of 8.
class LogEventProbe : public FlatbufferRequest<LogEventMessage, LogEventResponse> {
public:
    LogEventProbe(std::shared_ptr<MutableActionData> data, uint32_t event, const std::string& text)
        : FlatbufferRequest(std::move(data)) {
        flatbuffers::FlatBufferBuilder builder = makeBuilder();
        const auto message = builder.CreateString(text);
        LogEventMessageBuilder table(builder);
        table.add_event(event);
        table.add_message(message);
        finishMessage(builder, table.Finish().o);
    }
    const char* getName() const override { return "LogEvent"; }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override {
        error = readError(flatbuffers::GetRoot<LogEventResponse>(bytes));
        return true;
    }
    int32_t error = -1;
};

// Reads an 8-byte field and records the alignment of the bytes it was given.
class AccountInfoProbe : public FlatbufferRequest<AccountInfoMessage, AccountInfoResponse> {
public:
    AccountInfoProbe() : FlatbufferRequest(nullptr) {}
    const char* getName() const override { return "AccountInfo"; }
    bool verify(const uint8_t* bytes, uint32_t length) override {
        misaligned += reinterpret_cast<uintptr_t>(bytes) % 8 != 0;
        return FlatbufferRequest::verify(bytes, length);
    }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override {
        misaligned += reinterpret_cast<uintptr_t>(bytes) % 8 != 0;
        const auto* response = flatbuffers::GetRoot<AccountInfoResponse>(bytes);
        if (readError(response) == 0) handle = response->handle();
        return true;
    }
    int misaligned = 0;
    uint64_t handle = 0;
};

std::string plainBuffer(flatbuffers::FlatBufferBuilder& builder) {
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

std::string logEventResponse(bool withError, int32_t error, const char* identifier = "LOER") {
    flatbuffers::FlatBufferBuilder builder(64);
    LogEventResponseBuilder response(builder);
    if (withError) response.add_error(error);
    builder.Finish(response.Finish(), identifier);
    return plainBuffer(builder);
}

uint32_t prefixOf(const ByteArray& message) {
    const uint8_t* p = message.data();
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST(CommonShapeTest, MessagesAreSizePrefixedAndPaddedToEightBytes) {
    const service::MessageKind* kind = service::findMessageKind("LOEM");
    ASSERT_NE(kind, nullptr);
    for (size_t textLength = 0; textLength < 12; ++textLength) {
        SCOPED_TRACE("text of " + std::to_string(textLength) + " bytes");
        LogEventProbe request(nullptr, 4001, std::string(textLength, 'x'));
        std::unique_ptr<ByteArray> message = request.takeMessage();
        ASSERT_TRUE(message);
        EXPECT_EQ(message->size() % 8, 0u);
        EXPECT_EQ(prefixOf(*message), message->size() - 4);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(message->data()) + 8, 4), "LOEM");
        EXPECT_TRUE(service::verifyMessage(
            *kind, std::string(reinterpret_cast<const char*>(message->data()), message->size())));
    }
}

TEST(CommonShapeTest, DefaultValuesAreLeftOut) {
    LogEventProbe request(nullptr, 0, "");
    std::unique_ptr<ByteArray> message = request.takeMessage();
    ASSERT_TRUE(message);
    const auto* table =
        reinterpret_cast<const flatbuffers::Table*>(flatbuffers::GetSizePrefixedRoot<LogEventMessage>(message->data()));
    EXPECT_FALSE(table->CheckField(LogEventMessage::VT_EVENT));
    EXPECT_TRUE(table->CheckField(LogEventMessage::VT_MESSAGE));
}

TEST(CommonShapeTest, ErrorIsReadFirstAndGoesToTheOwner) {
    const struct {
        const char* name;
        bool withError;
        int32_t code;
        int32_t ownerBefore;
        int32_t expected;
    } cases[] = {
        {"non-zero error", true, 5, 0, 5},
        {"absent error counts as 0", false, 0, 0, 0},
        {"zero leaves the owner's code", true, 0, 16, 16},
    };
    for (const auto& c : cases) {
        auto data = std::make_shared<MutableActionData>(0);
        data->setError(Error(c.ownerBefore));
        LogEventProbe request(data, 4001, "m");
        const std::string response = logEventResponse(c.withError, c.code);
        std::vector<uint64_t> aligned(response.size() / 8 + 1);
        std::memcpy(aligned.data(), response.data(), response.size());
        const auto* bytes = reinterpret_cast<const uint8_t*>(aligned.data());
        ASSERT_TRUE(request.verify(bytes, uint32_t(response.size()))) << c.name;
        ASSERT_TRUE(request.processFlatbuffer(bytes, uint32_t(response.size()))) << c.name;
        EXPECT_EQ(request.error, c.code) << c.name;
        EXPECT_EQ(data->getErrorCode(), c.expected) << c.name;
    }
}

TEST(CommonShapeTest, VerifyRefusesAnotherClassesResponse) {
    LogEventProbe request(nullptr, 4001, "m");
    for (const char* identifier : {"LOEM", "ACIR", "XXXX"}) {
        const std::string response = logEventResponse(true, 1, identifier);
        std::vector<uint64_t> aligned(response.size() / 8 + 1);
        std::memcpy(aligned.data(), response.data(), response.size());
        EXPECT_FALSE(request.verify(reinterpret_cast<const uint8_t*>(aligned.data()), uint32_t(response.size())))
            << identifier;
    }
}

TEST(CommonShapeTest, TextFormsAndSchemasComeFromTheTables) {
    LogEventProbe request(nullptr, 4001, "hello");
    std::unique_ptr<ByteArray> message = request.takeMessage();
    ASSERT_TRUE(message);
    const std::string text = request.messageToString(message->data());
    EXPECT_NE(text.find("event: 4001"), std::string::npos) << text;
    EXPECT_NE(text.find("message: \"hello\""), std::string::npos) << text;
    const std::string response = logEventResponse(true, 7);
    EXPECT_NE(request.responseToString(reinterpret_cast<const uint8_t*>(response.data())).find("error: 7"),
              std::string::npos);
    EXPECT_STREQ(request.getMessageSchema(), getSchemaText("log_event_message"));
    EXPECT_STREQ(request.getResponseSchema(), getSchemaText("log_event_response"));
}

// Each response follows a 4-byte length in the answer, so it is misaligned for its 8-byte
// fields; reading must not hand the request misaligned bytes.
TEST(CommonShapeTest, MisalignedResponseIsReadFromAnAlignedCopy) {
    flatbuffers::FlatBufferBuilder builder(64);
    AccountInfoResponseBuilder table(builder);
    table.add_handle(0x0102030405060708ULL);
    builder.Finish(table.Finish(), "ACIR");
    std::vector<uint8_t> answer;
    appendMessage(answer, plainBuffer(builder));
    HttpRequestBuffer buffer;
    write(buffer, answer, 0, answer.size());
    AccountInfoProbe request;
    ASSERT_TRUE(request.processData(buffer));
    EXPECT_EQ(request.misaligned, 0);
    EXPECT_EQ(request.handle, 0x0102030405060708ULL);
}

}  // namespace
}  // namespace corvane
