#include "request/transfer_request.h"

#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "support/log_capture.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

TEST(DownloadMessageTest, NamesThePrivateOrThePublicNode) {
    struct Case {
        const char* name;
        int32_t option;
        uint64_t handle;
        bool withPublicHandle;
        const char* session;
        bool expectPrivate;
        bool expectPublic;
    };
    const std::vector<Case> cases{
        {"private", 0, 0x42, false, "s1", true, false},
        {"private handle 0", 0, 0, false, nullptr, false, false},
        {"public with handle", 20, 0x42, true, "", false, true},
        {"public without handle", 20, 0x42, false, nullptr, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(DOWNLOAD);
        owner->setOption(c.option);
        owner->setNodeHandle(c.handle);
        if (c.withPublicHandle) {
            owner->setPublicKey(new ByteVector{1, 2, 3, 4, 5, 6});
        }
        if (c.session != nullptr) {
            owner->setSession(c.session);
        }
        DownloadRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<DownloadMessage>(request, keep, "DOWM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, DownloadMessage::VT_PRIVATENODE), c.expectPrivate);
        if (c.expectPrivate) {
            EXPECT_EQ(message->privateNode(), c.handle);
        }
        ASSERT_EQ(message->publicNode() != nullptr, c.expectPublic);
        if (c.expectPublic) {
            EXPECT_EQ(Bytes(message->publicNode()->begin(), message->publicNode()->end()),
                      c.withPublicHandle ? (Bytes{1, 2, 3, 4, 5, 6}) : Bytes());
        }
        ASSERT_EQ(message->session() != nullptr, c.session != nullptr);
        if (c.session != nullptr) {
            EXPECT_EQ(message->session()->str(), c.session);
        }
    }
}

TEST(DownloadResponseTest, FillsTheOwnerOrOnlyItsError) {
    {
        SCOPED_TRACE("full answer");
        auto owner = std::make_shared<MutableActionData>(DOWNLOAD);
        owner->setOption(20);
        DownloadRequest request(owner);
        ResponseBuffer response("DOWR", [](flatbuffers::FlatBufferBuilder& b) {
            return CreateDownloadResponse(b, 0, b.CreateString("https://h/dl/x"), 3000000, 2,
                                          b.CreateVector(Bytes{9, 8}), 20, b.CreateString("target"),
                                          b.CreateVector(Bytes{7}), b.CreateVector(Bytes{6, 6}), 0x77);
        });
        ASSERT_TRUE(request.verify(response.data(), response.size()));
        ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getErrorCode(), 0);
        EXPECT_EQ(owner->getTextString(), "https://h/dl/x");
        EXPECT_EQ(owner->getSize(), 3000000u);
        EXPECT_EQ(owner->getCrypto(), 2u);
        EXPECT_EQ(owner->getOption(), 20);
        ASSERT_NE(owner->getAttributes(), nullptr);
        EXPECT_EQ(*owner->getAttributes(), (Bytes{9, 8}));
        EXPECT_EQ(owner->getNameString(), "target");
        ASSERT_NE(owner->getPublicKey(), nullptr);
        EXPECT_EQ(*owner->getPublicKey(), (Bytes{6, 6}));
        EXPECT_EQ(owner->getAccountHandle(), 0x77u);
    }
    {
        SCOPED_TRACE("sparse answer keeps the caller's name and public key");
        auto owner = std::make_shared<MutableActionData>(DOWNLOAD);
        owner->setName("mine");
        owner->setPublicKey(new ByteVector{1});
        DownloadRequest request(owner);
        ResponseBuffer response("DOWR", [](flatbuffers::FlatBufferBuilder& b) {
            DownloadResponseBuilder r(b);
            r.add_size(5);
            return r.Finish();
        });
        ASSERT_TRUE(request.verify(response.data(), response.size()));
        ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getOption(), -1);
        ASSERT_NE(owner->getAttributes(), nullptr);
        EXPECT_TRUE(owner->getAttributes()->empty());
        EXPECT_EQ(owner->getNameString(), "mine");
        EXPECT_EQ(*owner->getPublicKey(), (Bytes{1}));
    }
    {
        SCOPED_TRACE("error answer");
        auto owner = std::make_shared<MutableActionData>(DOWNLOAD);
        owner->setSize(11);
        DownloadRequest request(owner);
        ResponseBuffer response("DOWR", [](flatbuffers::FlatBufferBuilder& b) {
            return CreateDownloadResponse(b, 1, b.CreateString("https://h/dl/x"), 3000000);
        });
        ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getErrorCode(), 1);
        EXPECT_EQ(owner->getSize(), 11u);
        EXPECT_EQ(owner->getText(), nullptr);
        EXPECT_EQ(owner->getAttributes(), nullptr);
    }
}

TEST(UploadRequestTest, AlwaysCarriesTheVersionAndReadsTheLink) {
    for (uint64_t size : {0ULL, 3000000ULL}) {
        SCOPED_TRACE(size);
        auto owner = std::make_shared<MutableActionData>(UPLOAD);
        owner->setSize(size);
        owner->setParentHandle(size != 0 ? 0x99 : 0);
        UploadRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<UploadMessage>(request, keep, "UPLM");
        ASSERT_NE(message, nullptr);
        EXPECT_TRUE(hasField(message, UploadMessage::VT_VERSION));
        EXPECT_EQ(message->version(), 1);
        EXPECT_EQ(hasField(message, UploadMessage::VT_SIZE), size != 0);
        EXPECT_EQ(message->size(), size);
        EXPECT_EQ(message->parent(), size != 0 ? 0x99u : 0u);
    }
    struct Case {
        const char* name;
        int32_t error;
        const char* link;
        const char* expectedText;
    };
    for (const Case& c : {Case{"link", 0, "https://h/ul/abc", "https://h/ul/abc"}, Case{"no link", 0, nullptr, ""},
                          Case{"quota", 13, "https://h/ul/abc", nullptr}}) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(UPLOAD);
        UploadRequest request(owner);
        ResponseBuffer response("UPLR", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateUploadResponse(b, c.error, c.link != nullptr ? b.CreateString(c.link) : 0);
        });
        ASSERT_TRUE(request.verify(response.data(), response.size()));
        ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getErrorCode(), c.error);
        if (c.expectedText == nullptr) {
            EXPECT_EQ(owner->getText(), nullptr);
        } else {
            EXPECT_EQ(owner->getTextString(), c.expectedText);
        }
    }
}

TEST(GetNodeByFingerprintTest, SendsTheFingerprintAndRefusesAnswersWithoutRoot) {
    auto owner = std::make_shared<MutableActionData>(GET_NODE);
    owner->setMetadata(new ByteVector{1, 2, 3});
    GetNodeByFingerprintRequest request(owner);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<GetNodeByFingerprintMessage>(request, keep, "GNFM");
    ASSERT_NE(message, nullptr);
    ASSERT_NE(message->fingerprint(), nullptr);
    EXPECT_EQ(Bytes(message->fingerprint()->begin(), message->fingerprint()->end()), (Bytes{1, 2, 3}));
    EXPECT_FALSE(hasField(message, GetNodeByFingerprintMessage::VT_SIZE));

    test::LogCapture log;
    ResponseBuffer empty("GNFR", [](flatbuffers::FlatBufferBuilder& b) {
        return CreateGetNodeByFingerprintResponse(b, 0,
                                                  b.CreateVector(std::vector<flatbuffers::Offset<NodeMessage>>()));
    });
    ASSERT_TRUE(request.verify(empty.data(), empty.size()));
    ASSERT_TRUE(request.processFlatbuffer(empty.data(), empty.size()));
    EXPECT_TRUE(log.contains("Received 0 nodes"));
    EXPECT_EQ(owner->getErrorCode(), UNKNOWN_ERROR);
    // Nothing reaches the cache: the request finishes with no host to apply to.
    request.applyResults(nullptr);
    EXPECT_TRUE(request.isFinished());

    auto notFound = std::make_shared<MutableActionData>(GET_NODE);
    notFound->setMetadata(new ByteVector{1});
    GetNodeByFingerprintRequest second(notFound);
    ResponseBuffer error("GNFR",
                         [](flatbuffers::FlatBufferBuilder& b) { return CreateGetNodeByFingerprintResponse(b, 1); });
    ASSERT_TRUE(second.processFlatbuffer(error.data(), error.size()));
    EXPECT_EQ(notFound->getErrorCode(), 1);
    EXPECT_EQ(second.getError(), 1);
}

}  // namespace
}  // namespace corvane
