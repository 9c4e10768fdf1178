#include "request/link_session_request.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "support/manager_modules.h"
#include "support/request_test_support.h"
#include "util/deployment.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

// What the link session requests ask of the API manager, written down; no cloud model, so a
// request that went on to the cache would end with 9 after "reset" or not at all.
class LinkHost : public test::LoopApiManager {
public:
    explicit LinkHost(Loop* loop) : LoopApiManager(loop), loop_(loop) {}
    void resetSession(std::function<void()> completion) override {
        calls.push_back("reset");
        loop_->post(std::move(completion));
    }
    void logout(std::function<void()> completion) override {
        calls.push_back("logout");
        loop_->post(std::move(completion));
    }
    void setLinkSession(const char*, const ByteVector*, const ByteVector*, std::function<void()> completion) override {
        calls.push_back("link session");
        loop_->post(std::move(completion));
    }
    std::vector<std::string> calls;

private:
    Loop* loop_;
};

class LinkSessionRequestTest : public testing::Test {
protected:
    bool apply(const std::shared_ptr<NetworkRequest>& request, const ResponseBuffer& response) {
        return test::readAndApply(modules_.mainLoop, &host_, request, response);
    }

    test::ManagerModules modules_;
    LinkHost host_{&modules_.mainLoop};
};

TEST(LoginLinkMessageTest, InboxLinksAloneSendTheNewRecord) {
    struct Case {
        const char* name;
        uint64_t number;
        uint32_t crypto;
        bool crypto_sent;
        bool record_sent;
    };
    const std::vector<Case> cases = {
        {"record", RECORD_NODE, 1, false, false},
        {"folder", FOLDER_NODE, 1, false, false},
        {"inbox", INBOX_NODE, 1, true, true},
        {"inbox, scheme 0", INBOX_NODE, 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(LOGIN_LINK);
        owner->setNumber(c.number);
        owner->setCrypto(c.crypto);
        owner->setAuthKey(new ByteVector(16, 0xA1));
        owner->setUserKey(new ByteVector(384, 0xB2));
        owner->setAttributes(new ByteVector(40, 0xC3));
        LoginLinkRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<LoginLinkMessage>(request, keep, "LILM");
        ASSERT_NE(message, nullptr);
        ASSERT_NE(message->auth(), nullptr);
        EXPECT_EQ(Bytes(message->auth()->begin(), message->auth()->end()), Bytes(16, 0xA1));
        EXPECT_EQ(hasField(message, LoginLinkMessage::VT_CRYPTO), c.crypto_sent);
        EXPECT_EQ(message->shareKey() != nullptr, c.record_sent);
        EXPECT_EQ(message->attributes() != nullptr, c.record_sent);
        if (c.record_sent) {
            EXPECT_EQ(message->shareKey()->size(), 384u);
            EXPECT_EQ(message->attributes()->size(), 40u);
        }
    }
}

// A refused login, or an answer that leaves out what the session needs, ends the action
// without touching the session or the cache.
TEST_F(LinkSessionRequestTest, LoginLinkAnswersMissingAFieldEndWith9AndOpenNothing) {
    enum Omit { NONE, SESSION, EMPTY_SESSION, ATTRIBUTES, TARGET, SHARE_KEY, FILESYSTEM_KEY };
    struct Case {
        const char* name;
        uint64_t number;
        int32_t error;
        Omit omit;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"refused", RECORD_NODE, 1, NONE, 1},
        {"no session", RECORD_NODE, 0, SESSION, 9},
        {"empty session", RECORD_NODE, 0, EMPTY_SESSION, 9},
        {"no attributes", FOLDER_NODE, 0, ATTRIBUTES, 9},
        {"record without target", RECORD_NODE, 0, TARGET, 9},
        {"inbox without target", INBOX_NODE, 0, TARGET, 9},
        {"drive without share key", SHARED_DRIVE_ROOT, 0, SHARE_KEY, 9},
        {"drive without filesystem key", SHARED_DRIVE_ROOT, 0, FILESYSTEM_KEY, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host_.calls.clear();
        auto owner = std::make_shared<MutableActionData>(LOGIN_LINK);
        owner->setNumber(c.number);
        owner->setLinkAuth(new ByteVector(32, 1));
        auto request = std::make_shared<LoginLinkRequest>(owner);
        ResponseBuffer response("LILR", [&](flatbuffers::FlatBufferBuilder& b) {
            const auto session = b.CreateVector(c.omit == EMPTY_SESSION ? Bytes() : Bytes(16, 7));
            const auto attributes = b.CreateVector(Bytes(40, 8));
            const auto shareKey = b.CreateVector(Bytes(40, 9));
            const auto filesystemKey = b.CreateVector(Bytes(40, 10));
            const auto target = b.CreateString("Ada Lovelace");
            LoginLinkResponseBuilder r(b);
            r.add_error(c.error);
            if (c.omit != SESSION) r.add_session(session);
            if (c.omit != ATTRIBUTES) r.add_attributes(attributes);
            if (c.omit != SHARE_KEY) r.add_shareKey(shareKey);
            if (c.omit != FILESYSTEM_KEY) r.add_filesystemKey(filesystemKey);
            if (c.omit != TARGET) r.add_target(target);
            return r.Finish();
        });
        ASSERT_TRUE(apply(request, response));
        EXPECT_EQ(owner->getErrorCode(), c.expected);
        EXPECT_TRUE(host_.calls.empty());
        EXPECT_EQ(owner->getSession(), nullptr);
    }
}

TEST(LogoutLinkMessageTest, SendsTheClientIdAndTheLowByteOfTheDeleteFlag) {
    struct Case {
        int32_t option;
        uint64_t clientId;
        bool deleteSent;
        uint8_t discard;
    };
    for (const Case& c :
         std::vector<Case>{{0, 0, false, 0}, {1, 77, true, 1}, {0x101, 77, true, 1}, {0x100, 5, false, 0}}) {
        SCOPED_TRACE(c.option);
        auto owner = std::make_shared<MutableActionData>(LOGOUT_LINK);
        owner->setOption(c.option);
        LogoutLinkRequest request(owner, c.clientId);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<LogoutLinkMessage>(request, keep, "LOLM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, LogoutLinkMessage::VT_CLIENTID), c.clientId != 0);
        EXPECT_EQ(message->clientId(), c.clientId);
        EXPECT_EQ(hasField(message, LogoutLinkMessage::VT_DELETE_), c.deleteSent);
        EXPECT_EQ(message->delete_(), c.discard);
    }
}

// Whatever the answer, the link session ends locally; only a kept record gets its link.
TEST_F(LinkSessionRequestTest, LogoutLinkAlwaysLogsOutAndLinksOnlyAKeptRecord) {
    const std::string web = getDeployment().webAddress;
    struct Case {
        const char* name;
        int32_t error;
        int32_t option;
        bool withHandle;
        int32_t nodeType;
        int32_t expected;
        std::string link;
    };
    const std::vector<Case> cases = {
        {"kept record", 0, 0, true, RECORD_NODE, 0, web + "/record/AQID#AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
        {"refused", 3, 0, true, RECORD_NODE, 3, ""},
        {"refused while discarding", 3, 1, true, RECORD_NODE, 0, ""},
        {"discarded: the handle is never read", 0, 1, true, RECORD_NODE, 0, ""},
        {"no handle", 0, 0, false, RECORD_NODE, 9, ""},
        {"not a record", 0, 0, true, FOLDER_NODE, 9, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host_.calls.clear();
        auto owner = std::make_shared<MutableActionData>(LOGOUT_LINK);
        owner->setOption(c.option);
        auto record = std::make_shared<MutableNodeData>();
        record->setType(c.nodeType);
        const ByteVector key(32, 0);
        record->setKey(&key);
        owner->setNode(record);
        auto request = std::make_shared<LogoutLinkRequest>(owner, 0);
        ResponseBuffer response("LOLR", [&](flatbuffers::FlatBufferBuilder& b) {
            const auto handle = b.CreateVector(Bytes{1, 2, 3});
            LogoutLinkResponseBuilder r(b);
            r.add_error(c.error);
            if (c.withHandle) r.add_pubhandle(handle);
            return r.Finish();
        });
        ASSERT_TRUE(apply(request, response));
        EXPECT_EQ(owner->getErrorCode(), c.expected);
        EXPECT_EQ(owner->getLinkString(), c.link);
        if (c.option != 0) {
            EXPECT_EQ(owner->getText(), nullptr);
        }
        EXPECT_EQ(host_.calls, std::vector<std::string>{"logout"});
    }
}

TEST(RecordInfoMessageTest, AlwaysNamesThePublicNode) {
    for (bool withHandle : {true, false}) {
        auto owner = std::make_shared<MutableActionData>(GET_RECORD_INFO);
        if (withHandle) {
            owner->setPublicKey(new ByteVector(16, 0x42));
        }
        RecordInfoRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<RecordInfoMessage>(request, keep, "REIM");
        ASSERT_NE(message, nullptr);
        ASSERT_NE(message->publicNode(), nullptr);
        EXPECT_EQ(message->publicNode()->size(), withHandle ? 16u : 0u);
    }
}

// Without a record first, or with a field left out, the answer ends with 9 and nothing is
// decrypted (the host has no cloud model that could).
TEST_F(LinkSessionRequestTest, RecordInfoWithoutARecordEndsWith9) {
    enum Shape { ERROR, NO_NODES, EMPTY, NO_TARGET };
    struct Case {
        const char* name;
        Shape shape;
        int32_t expected;
    };
    for (const Case& c : std::vector<Case>{
             {"refused", ERROR, 1}, {"no nodes", NO_NODES, 9}, {"empty list", EMPTY, 9}, {"no target", NO_TARGET, 9}}) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(GET_RECORD_INFO);
        const ByteVector key(32, 3);
        owner->setKey(&key);
        auto request = std::make_shared<RecordInfoRequest>(owner);
        ResponseBuffer response("REIR", [&](flatbuffers::FlatBufferBuilder& b) {
            std::vector<flatbuffers::Offset<NodeMessage>> tables;
            if (c.shape == NO_TARGET) {
                NodeMessageBuilder node(b);
                node.add_handle(5);
                node.add_type(RECORD_NODE);
                tables.push_back(node.Finish());
            }
            const auto nodes = b.CreateVector(tables);
            const auto target = b.CreateString("Ada");
            RecordInfoResponseBuilder r(b);
            r.add_error(c.shape == ERROR ? 1 : 0);
            if (c.shape != NO_NODES) r.add_nodes(nodes);
            if (c.shape != NO_TARGET) r.add_target(target);
            return r.Finish();
        });
        ASSERT_TRUE(apply(request, response));
        EXPECT_EQ(owner->getErrorCode(), c.expected);
        EXPECT_EQ(owner->getNode(), nullptr);
        EXPECT_TRUE(owner->getNodes()->empty());
    }
}

}  // namespace
}  // namespace corvane
