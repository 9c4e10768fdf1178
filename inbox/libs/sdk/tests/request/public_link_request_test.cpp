#include "request/public_link_request.h"

#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "support/request_test_support.h"
#include "util/deployment.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

TEST(CreateLinkMessageTest, CarriesTheNodeAndANonZeroAccessLevelOnly) {
    for (int32_t level : {0, 1}) {
        SCOPED_TRACE(level);
        auto owner = std::make_shared<MutableActionData>(CREATE_LINK);
        owner->setNodeHandle(0x1234);
        owner->setValue(level);
        CreateLinkRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<CreateLinkMessage>(request, keep, "CRLM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->node(), 0x1234u);
        EXPECT_EQ(hasField(message, CreateLinkMessage::VT_ACCESSLEVEL), level != 0);
        EXPECT_EQ(message->accessLevel(), level);
        EXPECT_FALSE(hasField(message, CreateLinkMessage::VT_DELETE_));
        EXPECT_FALSE(hasField(message, CreateLinkMessage::VT_ETIME));
    }
}

TEST(CreateLinkResponseTest, HandleTextOrError) {
    struct Case {
        const char* name;
        int32_t error;
        bool withHandle;
        Bytes handle;
        int32_t expectError;
        std::string expectText;
    };
    const std::vector<Case> cases{
        {"six bytes", 0, true, Bytes{0xFB, 0xFF, 0x01, 0x02, 0x03, 0x04}, 0, "-_8BAgME"},
        {"four bytes, no fill", 0, true, Bytes{1, 2, 3, 4}, 0, "AQIDBA"},
        {"service error", 2, true, Bytes{1, 2, 3, 4}, 2, "before"},
        // A success without a handle has nothing to link to.
        {"absent handle", 0, false, Bytes{}, 9, "before"},
        {"empty handle", 0, true, Bytes{}, 9, "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(CREATE_LINK);
        owner->setText("before");
        auto request = std::make_shared<CreateLinkRequest>(owner);
        ResponseBuffer response("CRLR", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateCreateLinkResponse(b, c.error, c.withHandle ? b.CreateVector(c.handle) : 0);
        });
        ASSERT_TRUE(request->verify(response.data(), response.size()));
        ASSERT_TRUE(request->processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getErrorCode(), c.expectError);
        EXPECT_EQ(owner->getTextString(), c.expectText);
        // Applying a failed answer builds no link.
        auto file = std::make_shared<MutableNodeData>();
        file->setType(FILE_NODE);
        owner->setNode(file);
        request->applyResults(nullptr);
        EXPECT_TRUE(request->isFinished());
        EXPECT_EQ(owner->getLink() != nullptr, c.expectError == 0);
    }
}

TEST(PublicLinkTextTest, PathWordAndKeyByNodeType) {
    const Bytes nodeKey{0xFB, 0xFF, 0x01};
    const Bytes filesystemKey{1, 2, 3};
    struct Case {
        const char* name;
        int32_t type;
        const Bytes* key;
        const Bytes* filesystem;
        std::string expect;
    };
    const std::vector<Case> cases{
        {"file", FILE_NODE, &nodeKey, nullptr, "https://w/file/HH#-_8B"},
        {"file without key", FILE_NODE, nullptr, nullptr, "https://w/file/HH#"},
        {"folder copy", LINK_COPY_NODE, &nodeKey, nullptr, "https://w/folder/HH#-_8B"},
        {"inbox", INBOX_NODE, &nodeKey, nullptr, "https://w/inbox/HH#-_8B"},
        {"register root", REGISTER_ROOT, &nodeKey, nullptr, "https://w/inbox/HH"},
        {"drive", SHARED_DRIVE_ROOT, &nodeKey, &filesystemKey, "https://w/drive/HH#AQID"},
        {"drive of an unknown filesystem", SHARED_DRIVE_ROOT, &nodeKey, nullptr, "https://w/drive/HH#"},
        {"plain folder", FOLDER_NODE, &nodeKey, nullptr, ""},
        {"record", RECORD_NODE, &nodeKey, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(buildPublicLinkText("https://w", c.type, "HH", c.key, c.filesystem), c.expect);
    }
}

TEST(CreateLinkApplyTest, LinkOfTheOwnersNodeOrNine) {
    struct Case {
        const char* name;
        int32_t type;  // -2: no node at all
        int32_t expectError;
        std::string expectPath;
    };
    const std::vector<Case> cases{
        {"file", FILE_NODE, 0, "/file/AQIDBA#BwgJ"},
        {"plain folder", FOLDER_NODE, 9, ""},
        {"no node", -2, 9, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(CREATE_LINK);
        if (c.type != -2) {
            auto node = std::make_shared<MutableNodeData>();
            node->setType(c.type);
            const Bytes key{7, 8, 9};
            node->setKey(&key);
            owner->setNode(node);
        }
        auto request = std::make_shared<CreateLinkRequest>(owner);
        ResponseBuffer response("CRLR", [](flatbuffers::FlatBufferBuilder& b) {
            return CreateCreateLinkResponse(b, 0, b.CreateVector(Bytes{1, 2, 3, 4}));
        });
        ASSERT_TRUE(request->processFlatbuffer(response.data(), response.size()));
        request->applyResults(nullptr);
        EXPECT_TRUE(request->isFinished());
        EXPECT_EQ(owner->getErrorCode(), c.expectError);
        EXPECT_EQ(owner->getLinkString(), c.expectPath.empty() ? "" : getDeployment().webAddress + c.expectPath);
    }
}

TEST(DeleteLinkRequestTest, SendsTheHandleAndAlwaysTakesTheAnswersCode) {
    for (int32_t code : {0, 1}) {
        SCOPED_TRACE(code);
        auto owner = std::make_shared<MutableActionData>(DELETE_LINK);
        owner->setAuthKey(new ByteVector{1, 2, 3});
        owner->setError(Error(2));
        DeleteLinkRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<DeleteLinkMessage>(request, keep, "DELM");
        ASSERT_NE(message, nullptr);
        ASSERT_NE(message->pubhandle(), nullptr);
        EXPECT_EQ(Bytes(message->pubhandle()->begin(), message->pubhandle()->end()), (Bytes{1, 2, 3}));
        ResponseBuffer response("DELR",
                                [&](flatbuffers::FlatBufferBuilder& b) { return CreateDeleteLinkResponse(b, code); });
        ASSERT_TRUE(request.verify(response.data(), response.size()));
        ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
        // The error held before is overwritten, by a success too.
        EXPECT_EQ(owner->getErrorCode(), code);
    }
}

}  // namespace
}  // namespace corvane
