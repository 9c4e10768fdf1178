#include "message_verifier.h"

#include <functional>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "batch_dispatcher.h"
#include "batch_framing.h"
#include "get_coupons_message_generated.h"
#include "get_coupons_response_generated.h"
#include "open_secret_message_generated.h"
#include "open_secret_response_generated.h"
#include "test_message_generated.h"
#include "test_response_generated.h"

namespace corvane::service {
namespace {

std::string finished(flatbuffers::FlatBufferBuilder& builder) {
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

// An AddNodes message with one node, built with the generated builders, minimum alignment 8.
std::string addNodesMessage() {
    flatbuffers::FlatBufferBuilder builder(128);
    builder.Align(8);
    const uint8_t key[] = {1, 2, 3, 4};
    const auto node = CreateNodeMessage(builder, 77, 0, 0, 5, 21, 0, false, builder.CreateVector(key, sizeof(key)));
    const std::vector<flatbuffers::Offset<NodeMessage>> nodes{node};
    FinishSizePrefixedAddNodesMessageBuffer(builder,
                                            CreateAddNodesMessage(builder, 42, 5, builder.CreateVector(nodes)));
    return finished(builder);
}

std::string openSecretMessage() {
    flatbuffers::FlatBufferBuilder builder(128);
    builder.Align(8);
    FinishSizePrefixedOpenSecretMessageBuffer(builder, CreateOpenSecretMessage(builder, 0, 99));
    return finished(builder);
}

std::string getCouponsMessage() {
    flatbuffers::FlatBufferBuilder builder(128);
    builder.Align(8);
    FinishSizePrefixedGetCouponsMessageBuffer(builder, CreateGetCouponsMessage(builder));
    return finished(builder);
}

void writeLittleEndian32(std::string& bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t readLittleEndian32(const std::string& bytes, size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST(MessageVerifier, AcceptsAWellFormedMessageAndRefusesDamagedOnes) {
    const std::string good = addNodesMessage();
    const MessageKind* kind = findMessageKind("ADNM");
    ASSERT_NE(kind, nullptr);
    ASSERT_TRUE(verifyMessage(*kind, good));

    // Offsets in the buffer proper (past the 4-byte length): the root offset at 4.
    struct Case {
        const char* name;
        std::function<std::string(std::string)> damage;
    };
    const std::vector<Case> cases = {
        {"cut short, length prefix adjusted",
         [](std::string m) {
             m.resize(m.size() - 8);
             writeLittleEndian32(m, 0, static_cast<uint32_t>(m.size() - 4));
             return m;
         }},
        {"length prefix announcing more than there is",
         [](std::string m) {
             writeLittleEndian32(m, 0, static_cast<uint32_t>(m.size()));
             return m;
         }},
        {"root offset past the end",
         [](std::string m) {
             writeLittleEndian32(m, 4, static_cast<uint32_t>(m.size()));
             return m;
         }},
        {"root offset misaligned",
         [](std::string m) {
             writeLittleEndian32(m, 4, readLittleEndian32(m, 4) + 2);
             return m;
         }},
        {"identifier of another message",
         [](std::string m) {
             m.replace(8, 4, "ACIM");
             return m;
         }},
        {"every byte after the identifier flipped",
         [](std::string m) {
             for (size_t i = 12; i < m.size(); ++i)
                 m[i] = static_cast<char>(~m[i]);
             return m;
         }},
        {"node vector length running past the end",
         [](std::string m) {
             // A vector starts with its element count.
             const auto* root = GetSizePrefixedAddNodesMessage(m.data());
             const auto offset = reinterpret_cast<const char*>(root->nodes()) - m.data();
             writeLittleEndian32(m, static_cast<size_t>(offset), 1000);
             return m;
         }},
        {"cut to the identifier",
         [](std::string m) {
             m.resize(12);
             writeLittleEndian32(m, 0, 8);
             return m;
         }},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(verifyMessage(*kind, c.damage(good))) << c.name;
    }
}

TEST(MessageVerifier, KnowsNoIdentifierOutsideTheApi) {
    EXPECT_EQ(findMessageKind("XXXM"), nullptr);
    EXPECT_EQ(findMessageKind("ACIR"), nullptr);  // a response identifier is no message
    EXPECT_EQ(findMessageKind(""), nullptr);
}

// The error-9 answer is a response of the expected table, whose error the client reads first.
TEST(MessageVerifier, ErrorAnswerIsAResponseOfTheExpectedTable) {
    struct Case {
        const char* message;
        const char* response;
        std::function<bool(const std::string&)> verify;
        std::function<int32_t(const std::string&)> error;
    };
    auto verifier = [](const std::string& r) {
        return flatbuffers::Verifier(reinterpret_cast<const uint8_t*>(r.data()), r.size(), 64, 1000000);
    };
    const std::vector<Case> cases = {
        {"ADNM", "ADNR",
         [&](const std::string& r) {
             auto v = verifier(r);
             return VerifyAddNodesResponseBuffer(v);
         },
         [](const std::string& r) { return GetAddNodesResponse(r.data())->error(); }},
        // error is the third field of this table
        {"OSEM", "OSER",
         [&](const std::string& r) {
             auto v = verifier(r);
             return VerifyOpenSecretResponseBuffer(v);
         },
         [](const std::string& r) { return GetOpenSecretResponse(r.data())->error(); }},
        {"GECM", "GECM",
         [&](const std::string& r) {
             auto v = verifier(r);
             return VerifyGetCouponsResponseBuffer(v);
         },
         [](const std::string& r) { return GetGetCouponsResponse(r.data())->error(); }},
        // the test response has no error field: an empty response of the right kind
        {"TESM", "TESR",
         [&](const std::string& r) {
             auto v = verifier(r);
             return VerifyTestResponseBuffer(v);
         },
         [](const std::string&) { return 9; }},
    };
    for (const auto& c : cases) {
        const MessageKind* kind = findMessageKind(c.message);
        ASSERT_NE(kind, nullptr) << c.message;
        const std::string response = errorResponse(*kind, 9);
        ASSERT_GE(response.size(), 8u) << c.message;
        EXPECT_EQ(response.substr(4, 4), c.response) << c.message;
        EXPECT_TRUE(c.verify(response)) << c.message;
        EXPECT_EQ(c.error(response), 9) << c.message;
    }
}

std::vector<std::string> answerOf(BatchDispatcher& dispatcher, const std::string& body) {
    std::string answer;
    std::vector<std::string> responses;
    EXPECT_TRUE(dispatcher.answer(body, answer));
    EXPECT_TRUE(splitResponses(answer, responses));
    return responses;
}

TEST(MessageVerifier, DispatcherAnswersUnreadableAndUnansweredMessagesWithError9) {
    BatchDispatcher dispatcher;
    int handled = 0;
    dispatcher.setHandler("ADNM", [&handled](const std::string&) {
        ++handled;
        flatbuffers::FlatBufferBuilder builder;
        FinishAddNodesResponseBuffer(builder, CreateAddNodesResponse(builder, 0, 42));
        return finished(builder);
    });

    std::string damaged = addNodesMessage();
    writeLittleEndian32(damaged, 4, static_cast<uint32_t>(damaged.size()));
    const std::vector<std::string> responses =
        answerOf(dispatcher, addNodesMessage() + damaged + openSecretMessage() + getCouponsMessage());

    // The handler saw only the readable message; the others still got an answer each, in order.
    EXPECT_EQ(handled, 1);
    ASSERT_EQ(responses.size(), 4u);
    EXPECT_EQ(responses[0].substr(4, 4), "ADNR");
    EXPECT_EQ(GetAddNodesResponse(responses[0].data())->clientId(), 42u);
    EXPECT_EQ(responses[1].substr(4, 4), "ADNR");
    EXPECT_EQ(GetAddNodesResponse(responses[1].data())->error(), 9);
    EXPECT_EQ(responses[2].substr(4, 4), "OSER");
    EXPECT_EQ(GetOpenSecretResponse(responses[2].data())->error(), 9);
    EXPECT_EQ(responses[3].substr(4, 4), "GECM");
    EXPECT_EQ(GetGetCouponsResponse(responses[3].data())->error(), 9);
    EXPECT_EQ(dispatcher.unknownMessages(), (std::vector<std::string>{"ADNM", "OSEM", "GECM"}));
}

}  // namespace
}  // namespace corvane::service
