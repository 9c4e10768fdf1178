#include "request/metadata_request.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "cloud/cloud_test_support.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

constexpr uint64_t kOwnClientId = 0x1122334455667788ULL;

TEST(TransferMetadataMessageTest, AHandleAsksForTheBlobAndOnlyANewBlobSendsItsSize) {
    struct Case {
        const char* name;
        uint64_t handle;
        uint64_t size;
        bool sendsHandle;
        bool sendsSize;
    };
    const std::vector<Case> cases{
        {"download", 0x99, 1028, true, false},
        {"upload", 0, 1028, false, true},
        {"neither", 0, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(UPLOAD_METADATA);
        owner->setParentHandle(c.handle);
        owner->setSize(c.size);
        TransferMetadataRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<TransferMetadataMessage>(request, keep, "TRMM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, TransferMetadataMessage::VT_METADATA), c.sendsHandle);
        EXPECT_EQ(hasField(message, TransferMetadataMessage::VT_SIZE), c.sendsSize);
        EXPECT_EQ(message->metadata(), c.handle);
        EXPECT_EQ(message->size(), c.sendsSize ? c.size : 0u);
    }
}

TEST(TransferMetadataResponseTest, TheLinkAlwaysAndTheSizeOnlyForADownload) {
    struct Case {
        const char* name;
        uint64_t handle;
        int32_t error;
        const char* link;
        uint64_t answeredSize;
        const char* text;
        uint64_t size;
        int32_t ownerError;
    };
    const std::vector<Case> cases{
        {"download", 0x99, 0, "https://h/mdl/1", 777, "https://h/mdl/1", 777, 0},
        {"upload keeps its size", 0, 0, "https://h/mul/2", 777, "https://h/mul/2", 1028, 0},
        {"absent link reads empty", 0x99, 0, nullptr, 0, "", 0, 0},
        {"error", 0x99, 1, "https://h/mdl/1", 777, nullptr, 1028, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(DOWNLOAD_METADATA);
        owner->setParentHandle(c.handle);
        owner->setSize(1028);
        TransferMetadataRequest request(owner);
        ResponseBuffer response("TRMR", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateTransferMetadataResponse(b, c.error, c.link != nullptr ? b.CreateString(c.link) : 0,
                                                  c.answeredSize);
        });
        ASSERT_TRUE(request.verify(response.data(), response.size()));
        ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getErrorCode(), c.ownerError);
        if (c.text == nullptr) {
            EXPECT_EQ(owner->getText(), nullptr);
        } else {
            ASSERT_NE(owner->getText(), nullptr);
            EXPECT_STREQ(owner->getText(), c.text);
        }
        EXPECT_EQ(owner->getSize(), c.size);
    }
}

TEST(AddMetadataMessageTest, CarriesNodeTokenKindAndClientId) {
    struct Case {
        const char* name;
        bool withToken;
        int32_t option;
        uint64_t clientId;
    };
    for (const Case& c : {Case{"all set", true, 0x102, kOwnClientId}, Case{"nothing set", false, 0, 0}}) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(UPLOAD_METADATA);
        owner->setNodeHandle(0x42);
        owner->setOption(c.option);
        if (c.withToken) {
            owner->setUserKey(new ByteVector{7, 8, 9});
        }
        AddMetadataRequest request(owner, c.clientId);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<AddMetadataMessage>(request, keep, "ADMM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->node(), 0x42u);
        EXPECT_EQ(hasField(message, AddMetadataMessage::VT_CLIENTID), c.clientId != 0);
        EXPECT_EQ(message->clientId(), c.clientId);
        // The kind is the option's low byte.
        EXPECT_EQ(hasField(message, AddMetadataMessage::VT_TYPE), c.option != 0);
        EXPECT_EQ(message->type(), c.option & 0xff);
        // The token always travels, empty when the owner holds none.
        ASSERT_NE(message->token(), nullptr);
        EXPECT_EQ(Bytes(message->token()->begin(), message->token()->end()), c.withToken ? (Bytes{7, 8, 9}) : Bytes());
    }
    EXPECT_EQ(AddMetadataRequest().takeMessage(), nullptr);
}

class AddMetadataApplyTest : public test::CachedTreeTest {
protected:
    void SetUp() override {
        CachedTreeTest::SetUp();
        manager.cloud = h.cloud.get();
        manager.clientId = kOwnClientId;
    }

    bool run(const std::shared_ptr<AddMetadataRequest>& request, int32_t error, uint64_t clientId, uint64_t node,
             const Bytes& metadata) {
        return test::readAndApply(h.mainLoop, &manager, request,
                                  ResponseBuffer("ADMR",
                                                 [&](flatbuffers::FlatBufferBuilder& b) {
                                                     return CreateAddMetadataResponse(b, error, clientId, node, 0x777,
                                                                                      2, b.CreateVector(metadata), 5);
                                                 }),
                                  [this]() { eventsAtFinish = manager.events.size(); });
    }

    // Two entries of 10 bytes each.
    const Bytes kEntries{1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    test::FakeApiManager manager;
    size_t eventsAtFinish = 0;
};

TEST_F(AddMetadataApplyTest, TheNewEntriesReachTheCacheAndAnEventFollows) {
    struct Case {
        const char* name;
        bool withOwner;
        uint64_t echoed;
        bool external;
    };
    const std::vector<Case> cases{
        {"own change", true, kOwnClientId, false},
        {"pushed from another client", false, kOwnClientId + 1, true},
        {"pushed without client id", false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        auto owner = c.withOwner ? std::make_shared<MutableActionData>(UPLOAD_METADATA) : nullptr;
        auto request = c.withOwner ? std::make_shared<AddMetadataRequest>(owner, kOwnClientId)
                                   : std::make_shared<AddMetadataRequest>();
        ASSERT_TRUE(run(request, 0, c.echoed, 12, kEntries));
        auto cached = h.nodeById(12);
        ASSERT_NE(cached, nullptr);
        ASSERT_EQ(cached->getMetadataCount(), 2);
        EXPECT_EQ(Bytes(cached->getMetadataBuffer(), cached->getMetadataBuffer() + kEntries.size()), kEntries);
        ASSERT_EQ(manager.events.size(), 1u);
        EXPECT_EQ(eventsAtFinish, 0u) << "the event comes after the finish";
        const auto& event = manager.events.front();
        EXPECT_EQ(event->getType(), EVENT_UPDATED_META);
        EXPECT_EQ(event->isExternal(), c.external);
        EXPECT_EQ(event->getClientId(), c.echoed);
        EXPECT_EQ(event->getHandle(), 12u);
        EXPECT_STREQ(event->getName(), "/a/b");
        ASSERT_NE(event->getNode(), nullptr);
        EXPECT_EQ(event->getNode()->getMetadataCount(), 2);
        if (owner) {
            EXPECT_EQ(owner->getErrorCode(), 0);
            EXPECT_EQ(owner->getNode(), event->getNode());
        }
    }
}

TEST_F(AddMetadataApplyTest, UnknownNodesAndErrorAnswersChangeNothing) {
    struct Case {
        const char* name;
        int32_t error;
        uint64_t node;
        int32_t ownerError;
        const char* line;
    };
    const std::vector<Case> cases{
        {"unknown node", 0, 5000, UNKNOWN_ERROR, "Unknown node during metadata update 5000"},
        {"error answer", 2, 12, 2, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        auto owner = std::make_shared<MutableActionData>(UPLOAD_METADATA);
        ASSERT_TRUE(
            run(std::make_shared<AddMetadataRequest>(owner, kOwnClientId), c.error, kOwnClientId, c.node, kEntries));
        EXPECT_EQ(owner->getErrorCode(), c.ownerError);
        EXPECT_TRUE(manager.events.empty());
        EXPECT_EQ(h.nodeById(12)->getMetadataCount(), 0);
        if (c.line != nullptr) {
            EXPECT_TRUE(log.contains(c.line));
        }
    }
}

}  // namespace
}  // namespace corvane
