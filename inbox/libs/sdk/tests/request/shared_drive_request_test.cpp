#include "request/shared_drive_request.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
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
using test::patternKey;
using test::ResponseBuffer;

constexpr uint64_t kOwnClientId = 0x1122334455667788ULL;
constexpr uint64_t kNewDrive = 0x990;
constexpr uint64_t kNewDriveFs = kNewDrive << 15;

TEST(NewSharedDriveMessageTest, CarriesTheDriveKeyTheRootAndTheClientId) {
    auto owner = std::make_shared<MutableActionData>(MANAGE_SHARED_DRIVES);
    owner->setPrivateKey(new ByteVector{4, 5, 6});
    auto root = std::make_shared<EncryptedNodeData>();
    root->setId(kNewDrive);
    root->setType(8);
    const Bytes attributes{9, 9};
    root->setEncryptedAttributes(attributes.data(), attributes.size());
    NewSharedDriveRequest request(owner, root, kOwnClientId);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<NewSharedDriveMessage>(request, keep, "NSDM");
    ASSERT_NE(message, nullptr);
    ASSERT_NE(message->driveKey(), nullptr);
    EXPECT_EQ(Bytes(message->driveKey()->begin(), message->driveKey()->end()), (Bytes{4, 5, 6}));
    ASSERT_NE(message->node(), nullptr);
    EXPECT_EQ(message->node()->handle(), kNewDrive);
    EXPECT_EQ(message->node()->type(), 8);
    EXPECT_EQ(message->clientId(), kOwnClientId);
    EXPECT_EQ(NewSharedDriveRequest().takeMessage(), nullptr);

    NewSharedDriveRequest anonymous(owner, root, 0);
    message = messageOf<NewSharedDriveMessage>(anonymous, keep, "NSDM");
    ASSERT_NE(message, nullptr);
    EXPECT_FALSE(hasField(message, NewSharedDriveMessage::VT_CLIENTID));
}

class NewSharedDriveApplyTest : public test::CachedTreeTest {
public:
    static const test::RsaPair& rsa() {
        static const test::RsaPair pair = test::rsaPair();
        return pair;
    }

    void SetUp() override {
        CachedTreeTest::SetUp();
        manager.cloud = h.cloud.get();
        manager.clientId = kOwnClientId;
        // Keys of the host's own, apart from the model's: the request must take them there.
        manager.userKey = patternKey(31);
        manager.accountKey = rsa().privateKey;
    }

    // The drive's filesystem with its node key sealed as the crypto value says, and its root
    // opened by that node key.
    ResponseBuffer driveAnswer(int32_t error, uint64_t clientId, uint8_t crypto, const Bytes& sealedDriveKey,
                               bool withDrive = true) {
        return ResponseBuffer("NSDR", [&](flatbuffers::FlatBufferBuilder& b) {
            flatbuffers::Offset<FilesystemMessage> filesystem;
            flatbuffers::Offset<NodeMessage> node;
            if (withDrive) {
                const auto fsKey = b.CreateVector(sealedDriveKey);
                filesystem = CreateFilesystemMessage(b, kNewDriveFs, 8, crypto, fsKey);
                const auto attributes = b.CreateVector(test::gcmSeal(rootKey, 32, test::attributesRecord("team")));
                const auto nodeKey = b.CreateVector(test::wrapKey(driveNodeKey, rootKey));
                NodeMessageBuilder root(b);
                root.add_handle(kNewDrive);
                root.add_type(8);
                root.add_filesystem(kNewDriveFs);
                root.add_nodekey(nodeKey);
                root.add_attributes(attributes);
                node = root.Finish();
            }
            return CreateNewSharedDriveResponse(b, filesystem, node, error, clientId);
        });
    }

    bool run(const std::shared_ptr<NewSharedDriveRequest>& request, const ResponseBuffer& answer) {
        return test::readAndApply(h.mainLoop, &manager, request, answer,
                                  [this]() { eventsAtFinish = manager.events.size(); });
    }

    bool driveKnown() {
        return h.onLoop([&]() { return h.cloud->getFilesystemType(kNewDriveFs) == 8; });
    }

    const Bytes driveNodeKey = patternKey(150);
    const Bytes rootKey = patternKey(151);
    test::FakeApiManager manager;
    size_t eventsAtFinish = 0;
};

TEST_F(NewSharedDriveApplyTest, TheDriveIsOpenedWithTheKeyItsCryptoNamesAndAnnounced) {
    struct Case {
        const char* name;
        uint8_t crypto;
        std::function<Bytes(NewSharedDriveApplyTest&)> seal;
        uint64_t echoed;
        bool withOwner;
        bool external;
    };
    const std::vector<Case> cases{
        {"user key, own change", 0, [](auto& t) { return test::wrapKey(t.manager.userKey, t.driveNodeKey); },
         kOwnClientId, true, false},
        {"account key, pushed", 1, [](auto& t) { return test::rsaSeal(rsa().publicKey, t.driveNodeKey); }, 0, false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        auto owner = c.withOwner ? std::make_shared<MutableActionData>(MANAGE_SHARED_DRIVES) : nullptr;
        if (owner) {
            owner->setName("team");
        }
        auto request = c.withOwner ? std::make_shared<NewSharedDriveRequest>(owner, nullptr, kOwnClientId)
                                   : std::make_shared<NewSharedDriveRequest>();
        ASSERT_TRUE(run(request, driveAnswer(0, c.echoed, c.crypto, c.seal(*this))));
        EXPECT_EQ(*h.onLoop([&]() { return h.cloud->getFilesystemNodeKey(kNewDriveFs); }), driveNodeKey);
        auto drive = h.onLoop([&]() { return h.cloud->getSharedDrive(kNewDrive); });
        ASSERT_NE(drive, nullptr);
        EXPECT_STREQ(drive->getName(), "team");
        ASSERT_EQ(manager.events.size(), 1u);
        EXPECT_EQ(eventsAtFinish, 0u) << "the event comes after the finish";
        const auto& event = manager.events.front();
        EXPECT_EQ(event->getType(), EVENT_NEW_NODES);
        EXPECT_EQ(event->isExternal(), c.external);
        EXPECT_EQ(event->getClientId(), c.echoed);
        ASSERT_NE(event->getNode(), nullptr);
        EXPECT_EQ(event->getNode()->getId(), kNewDrive);
        EXPECT_NE(std::string(event->getName()), "");
        if (owner) {
            EXPECT_EQ(owner->getErrorCode(), 0);
            EXPECT_EQ(owner->getNode(), event->getNode());
        }
    }
}

TEST_F(NewSharedDriveApplyTest, FailuresAddNothingAndRaiseNothing) {
    struct Case {
        const char* name;
        std::function<ResponseBuffer(NewSharedDriveApplyTest&)> answer;
        int32_t ownerError;
        const char* line;
    };
    const std::vector<Case> cases{
        {"error answer", [](auto& t) { return t.driveAnswer(2, 0, 0, Bytes()); }, 2, nullptr},
        {"filesystem key sealed for someone else",
         [](auto& t) { return t.driveAnswer(0, 0, 0, test::wrapKey(patternKey(99), t.driveNodeKey)); },
         CRYPTOGRAPHIC_ERROR, "Unexpected error decrypting filesystem"},
        {"no drive in the answer", [](auto& t) { return t.driveAnswer(0, 0, 0, Bytes(), false); }, UNKNOWN_ERROR,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        auto owner = std::make_shared<MutableActionData>(MANAGE_SHARED_DRIVES);
        ASSERT_TRUE(run(std::make_shared<NewSharedDriveRequest>(owner, nullptr, kOwnClientId), c.answer(*this)));
        EXPECT_EQ(owner->getErrorCode(), c.ownerError);
        EXPECT_TRUE(manager.events.empty());
        EXPECT_FALSE(driveKnown());
        EXPECT_EQ(h.onLoop([&]() { return h.cloud->getSharedDrive(kNewDrive); }), nullptr);
        if (c.line != nullptr) {
            EXPECT_TRUE(log.contains(c.line));
        }
    }
}

}  // namespace
}  // namespace corvane
