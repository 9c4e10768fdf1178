#include "batch_framing.h"

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "batch_dispatcher.h"

namespace corvane::service {
namespace {

// A size-prefixed message with one uint32 field, built with FlatBuffers itself.
std::string buildMessage(const char* identifier, uint32_t value) {
    flatbuffers::FlatBufferBuilder builder;
    builder.ForceDefaults(true);
    const auto start = builder.StartTable();
    builder.AddElement<uint32_t>(4, value, 0);
    const flatbuffers::Offset<flatbuffers::Table> table(builder.EndTable(start));
    builder.FinishSizePrefixed(table, identifier);
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

uint32_t valueOf(const std::string& buffer) {
    return flatbuffers::GetRoot<flatbuffers::Table>(buffer.data())->GetField<uint32_t>(4, 0);
}

// Answers with identifier `response` and the message's value plus `add`.
BatchHandler answering(const char* response, uint32_t add) {
    return [response, add](const std::string& message) {
        std::string whole = buildMessage(response, valueOf(message.substr(4)) + add);
        return whole.substr(4);
    };
}

TEST(BatchFraming, SplitsAWholeSeriesAndKeepsEachLengthPrefix) {
    const std::string first = buildMessage("PRBM", 1);
    const std::string second = buildMessage("TOSM", 2);
    std::vector<std::string> messages;
    ASSERT_TRUE(splitBatch(first + second, messages));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], first);
    EXPECT_EQ(messages[1], second);
    EXPECT_EQ(messageIdentifier(messages[0]), "PRBM");
    EXPECT_EQ(messageIdentifier(messages[1]), "TOSM");
}

TEST(BatchFraming, RefusesSeriesThatAreNotWhole) {
    const std::string message = buildMessage("PRBM", 1);
    struct Case {
        const char* name;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"truncated message", message.substr(0, message.size() - 1)},
        {"trailing partial length", message + std::string("\x04\x00", 2)},
        {"length beyond the body", std::string("\xFF\xFF\xFF\xFF", 4) + message},
        {"lone short length", std::string("\x01", 1)},
    };
    for (const auto& c : cases) {
        std::vector<std::string> messages;
        EXPECT_FALSE(splitBatch(c.body, messages)) << c.name;
    }
    std::vector<std::string> none;
    EXPECT_TRUE(splitBatch("", none));
    EXPECT_TRUE(none.empty());
}

TEST(BatchFraming, IdentifierNeedsEightBytesOfBuffer) {
    EXPECT_EQ(messageIdentifier(std::string("\x08\0\0\0\0\0\0\0ABCD", 12)), "ABCD");
    EXPECT_EQ(messageIdentifier(std::string("\x07\0\0\0\0\0\0\0ABC", 11)), "");
    EXPECT_EQ(messageIdentifier(std::string("\x00\0\0\0", 4)), "");
    // A length prefix that claims less than the identifier, followed by more bytes anyway.
    EXPECT_EQ(messageIdentifier(std::string("\x04\0\0\0\0\0\0\0ABCD", 12)), "");
}

TEST(BatchFraming, JoinedResponsesCarryLittleEndianLengths) {
    const std::string joined = joinResponses({"abc", std::string(300, 'x'), ""});
    ASSERT_EQ(joined.size(), 4u + 3 + 4 + 300 + 4);
    EXPECT_EQ(joined.substr(0, 7), std::string("\x03\0\0\0abc", 7));
    EXPECT_EQ(joined.substr(7, 4), std::string("\x2C\x01\0\0", 4));
    EXPECT_EQ(joined.substr(311), std::string("\0\0\0\0", 4));
    std::vector<std::string> back;
    ASSERT_TRUE(splitResponses(joined, back));
    EXPECT_EQ(back, (std::vector<std::string>{"abc", std::string(300, 'x'), ""}));
}

TEST(BatchDispatcher, AnswersEachMessageInOrderWithItsHandler) {
    BatchDispatcher dispatcher;
    dispatcher.setHandler("PRBM", answering("PRBR", 100));
    dispatcher.setHandler("TOSM", answering("TOSR", 200));
    std::string answer;
    ASSERT_TRUE(dispatcher.answer(buildMessage("PRBM", 1) + buildMessage("TOSM", 2) + buildMessage("PRBM", 3), answer));
    std::vector<std::string> responses;
    ASSERT_TRUE(splitResponses(answer, responses));
    ASSERT_EQ(responses.size(), 3u);
    EXPECT_EQ(responses[0].substr(4, 4), "PRBR");
    EXPECT_EQ(valueOf(responses[0]), 101u);
    EXPECT_EQ(responses[1].substr(4, 4), "TOSR");
    EXPECT_EQ(valueOf(responses[1]), 202u);
    EXPECT_EQ(valueOf(responses[2]), 103u);
    EXPECT_TRUE(dispatcher.unknownMessages().empty());
}

TEST(BatchDispatcher, UnknownAndUnreadableMessagesGetThePlaceholderAndAreRecorded) {
    BatchDispatcher dispatcher;
    dispatcher.setHandler("PRBM", answering("PRBR", 0));
    const std::string tooShort("\x04\0\0\0\0\0\0\0", 8);
    std::string answer;
    ASSERT_TRUE(dispatcher.answer(buildMessage("XXXM", 1) + tooShort + buildMessage("PRBM", 5), answer));
    std::vector<std::string> responses;
    ASSERT_TRUE(splitResponses(answer, responses));
    ASSERT_EQ(responses.size(), 3u);
    EXPECT_EQ(responses[0], std::string("\0\0\0\0????", 8));
    EXPECT_EQ(responses[1], std::string("\0\0\0\0????", 8));
    EXPECT_EQ(valueOf(responses[2]), 5u);
    EXPECT_EQ(dispatcher.unknownMessages(), (std::vector<std::string>{"XXXM", ""}));
}

TEST(BatchDispatcher, MalformedSeriesRunsNoHandler) {
    BatchDispatcher dispatcher;
    int calls = 0;
    dispatcher.setHandler("PRBM", [&calls](const std::string&) {
        ++calls;
        return std::string();
    });
    const std::string message = buildMessage("PRBM", 1);
    std::string answer;
    EXPECT_FALSE(dispatcher.answer(message + message.substr(0, 6), answer));
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace corvane::service
