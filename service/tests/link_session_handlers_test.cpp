#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "account_fixture.h"
#include "link_session_handlers.h"
#include "node_wire.h"
#include "service_crypto.h"

#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"
#include "login_link_message_generated.h"
#include "login_link_response_generated.h"
#include "logout_link_message_generated.h"
#include "logout_link_response_generated.h"
#include "record_info_message_generated.h"
#include "record_info_response_generated.h"
#include "upload_message_generated.h"
#include "upload_response_generated.h"

namespace corvane::service::test {
namespace {

constexpr uint64_t kClientId = 0x0102030405060708ull;
constexpr int8_t kInbox = 43;
constexpr int8_t kRecord = 44;

struct Login {
    std::string auth;
    uint8_t crypto = 0;
    std::string shareKey;  // sent when not empty
    std::string attributes;
    bool sendAuth = true;
};

std::string loginLinkMessage(const Login& login) {
    auto builder = messageBuilder();
    const auto auth = login.sendAuth ? bytesOf(builder, login.auth) : 0;
    const auto share = login.shareKey.empty() ? 0 : bytesOf(builder, login.shareKey);
    const auto attributes = login.attributes.empty() ? 0 : bytesOf(builder, login.attributes);
    FinishSizePrefixedLoginLinkMessageBuffer(builder,
                                             CreateLoginLinkMessage(builder, auth, login.crypto, share, attributes));
    return sizePrefixedMessage(builder);
}

std::string logoutLinkMessage(uint8_t discard) {
    auto builder = messageBuilder();
    FinishSizePrefixedLogoutLinkMessageBuffer(builder, CreateLogoutLinkMessage(builder, kClientId, discard));
    return sizePrefixedMessage(builder);
}

std::string recordInfoMessage(const std::string& publicNode) {
    auto builder = messageBuilder();
    const auto handle = bytesOf(builder, publicNode);
    FinishSizePrefixedRecordInfoMessageBuffer(builder, CreateRecordInfoMessage(builder, handle));
    return sizePrefixedMessage(builder);
}

std::string getNodesMessage(uint64_t parent, uint64_t node) {
    auto builder = messageBuilder();
    FinishSizePrefixedGetNodesMessageBuffer(builder, CreateGetNodesMessage(builder, parent, 0, node, 5));
    return sizePrefixedMessage(builder);
}

std::string uploadMessage(uint64_t parent) {
    auto builder = messageBuilder();
    FinishSizePrefixedUploadMessageBuffer(builder, CreateUploadMessage(builder, 10, 1, parent));
    return sizePrefixedMessage(builder);
}

int32_t anyError(const Response& response) {
    const std::string id = response.identifier();
    if (id == "GENR")
        return response.as<GetNodesResponse>("GENR") ? response.as<GetNodesResponse>("GENR")->error() : -1;
    if (id == "UPLR") return response.as<UploadResponse>("UPLR") ? response.as<UploadResponse>("UPLR")->error() : -1;
    if (id == "LILR")
        return response.as<LoginLinkResponse>("LILR") ? response.as<LoginLinkResponse>("LILR")->error() : -1;
    return errorOf(response);
}

class LinkSessionHandlersTest : public AccountFixture {
protected:
    void SetUp() override {
        AccountFixture::SetUp();
        registerRoot_ = addRoot(account_, 3);
        inboxHandle_ = randomBytes(16);
        NodeRecord inbox;
        inbox.parent = registerRoot_;
        inbox.type = kInbox;
        inbox.nodekey = randomBytes(32);
        inbox.attributes = randomBytes(48);
        inbox.pubhandle = inboxHandle_;
        inbox_ = service_.accounts().addNode(account_, inbox);
        ASSERT_NE(inbox_, 0u);
    }

    // One message alone in a batch of the link session.
    Response askLink(const std::string& token, const std::string& message, long* status = nullptr) {
        Call call;
        call.url = service_.apiUrl() + "?link=" + token + "&" + kApplicationKeyQuery;
        call.caFile = service_.certificatePath();
        call.body = message;
        const Reply reply = perform(call);
        if (status) *status = reply.status;
        std::vector<std::string> parts;
        if (reply.status != 200 || !splitResponses(reply.body, parts) || parts.size() != 1) return Response();
        return Response(parts[0]);
    }

    // Logs in to the inbox as a sender does; the session's token, "" on failure.
    std::string openInbox() {
        const Response answer = ask("", loginLinkMessage({inboxHandle_, 1, shareKey_, attributes_}));
        const auto* login = answer.as<LoginLinkResponse>("LILR");
        if (!login || login->error() != 0 || !login->session()) return std::string();
        return base64Url(stringOf(login->session()));
    }

    // The record the inbox login made: the inbox's one record child.
    std::optional<NodeRecord> record() {
        for (const auto& node : service_.accounts().nodes(account_))
            if (node.parent == inbox_ && node.type == kRecord) return node;
        return std::nullopt;
    }

    uint64_t registerRoot_ = 0, inbox_ = 0;
    std::string inboxHandle_;
    const std::string shareKey_ = randomBytes(384);
    const std::string attributes_ = randomBytes(64);
};

TEST_F(LinkSessionHandlersTest, InboxLoginMakesTheRecordAndTellsTheOwner) {
    const uint64_t before = status();
    const Response answer = ask("", loginLinkMessage({inboxHandle_, 1, shareKey_, attributes_}));
    const auto* login = answer.as<LoginLinkResponse>("LILR");
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->error(), 0);
    ASSERT_NE(login->session(), nullptr);
    EXPECT_EQ(login->session()->size(), 16u);
    EXPECT_EQ(login->crypto(), 1);
    EXPECT_EQ(stringOf(login->attributes()), attributes_);
    ASSERT_NE(login->target(), nullptr);
    EXPECT_EQ(login->target()->str(), "");

    const auto made = record();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->crypto, 1);
    EXPECT_EQ(made->childkey, shareKey_);
    EXPECT_EQ(made->attributes, attributes_);
    EXPECT_EQ(made->filesystem, service_.accounts().node(account_, inbox_)->filesystem);

    // The owner's sessions hear of the new record as an AddNodes change.
    EXPECT_EQ(status(), before + 1);
    const BatchReply reply = batch(sessionA_, {eventsMessage(before)});
    ASSERT_EQ(reply.responses.size(), 1u);
    const auto* events = reply.responses[0].as<GetEventsResponse>("GEER");
    ASSERT_NE(events, nullptr);
    ASSERT_NE(events->events(), nullptr);
    std::vector<Response> changes;
    ASSERT_TRUE(splitChanges(events->events()->data(), events->events()->size(), changes));
    ASSERT_EQ(changes.size(), 1u);
    const auto* added = changes[0].as<AddNodesResponse>("ADNR");
    ASSERT_NE(added, nullptr);
    ASSERT_EQ(added->nodes()->size(), 1u);
    EXPECT_EQ(added->nodes()->Get(0)->handle(), made->handle);
    EXPECT_EQ(added->nodes()->Get(0)->parent(), inbox_);
    EXPECT_EQ(added->nodes()->Get(0)->type(), kRecord);
}

TEST_F(LinkSessionHandlersTest, LoginsThatAreRefused) {
    NodeRecord file;
    file.parent = folder_;
    file.type = 20;
    file.attributes = randomBytes(48);
    file.pubhandle = randomBytes(16);
    ASSERT_NE(service_.accounts().addNode(account_, file), 0u);
    struct Case {
        const char* name;
        Login login;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"no auth", {inboxHandle_, 1, shareKey_, attributes_, false}, 5},
        {"empty auth", {"", 1, shareKey_, attributes_}, 5},
        {"unknown handle", {randomBytes(16), 1, shareKey_, attributes_}, 1},
        {"inbox without share key", {inboxHandle_, 1, "", attributes_}, 5},
        {"inbox without attributes", {inboxHandle_, 1, shareKey_, ""}, 5},
        {"a file is no link session", {*file.pubhandle, 0, "", ""}, 1},
    };
    for (const auto& c : cases) {
        const Response answer = ask("", loginLinkMessage(c.login));
        EXPECT_EQ(anyError(answer), c.error) << c.name;
    }
    EXPECT_FALSE(record()) << "a refused login makes no record";
}

TEST_F(LinkSessionHandlersTest, TheSessionSeesItsRecordAndWritesOnlyUnderIt) {
    const std::string token = openInbox();
    ASSERT_FALSE(token.empty());
    const uint64_t recordHandle = record()->handle;

    // The tree of the session is the record, shown as a root.
    const Response tree = askLink(token, getNodesMessage(0, 0));
    const auto* nodes = tree.as<GetNodesResponse>("GENR");
    ASSERT_NE(nodes, nullptr);
    ASSERT_EQ(nodes->nodes()->size(), 1u);
    EXPECT_EQ(nodes->nodes()->Get(0)->handle(), recordHandle);
    EXPECT_EQ(nodes->nodes()->Get(0)->parent(), 0u);
    EXPECT_EQ(nodes->accountStatus(), 0u);
    EXPECT_EQ(nodes->filesystems(), nullptr);

    // An attachment under the record, then its subtree.
    const Response added = askLink(token, addNodesMessage(kClientId, recordHandle, {NewNode{7, 0, 21}}));
    ASSERT_EQ(errorOf(added), 0);
    const uint64_t attachment = added.as<AddNodesResponse>("ADNR")->nodes()->Get(0)->handle();
    const Response below = askLink(token, getNodesMessage(recordHandle, 0));
    ASSERT_NE(below.as<GetNodesResponse>("GENR"), nullptr);
    EXPECT_EQ(below.as<GetNodesResponse>("GENR")->nodes()->size(), 2u);

    struct Case {
        const char* name;
        std::string message;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"rename the record", renameNodeMessage(kClientId, recordHandle, randomBytes(48), 44), 0},
        {"upload under the record", uploadMessage(recordHandle), 0},
        {"node outside", getNodesMessage(0, file_), 1},
        {"subtree outside", getNodesMessage(root_, 0), 1},
        {"rename outside", renameNodeMessage(kClientId, folder_, randomBytes(48)), 2},
        {"add outside", addNodesMessage(kClientId, folder_, {NewNode{}}), 2},
        {"add under the inbox", addNodesMessage(kClientId, inbox_, {NewNode{}}), 2},
        {"upload outside", uploadMessage(folder_), 2},
        {"upload without parent", uploadMessage(0), 2},
        {"delete the record", deleteNodeMessage(kClientId, recordHandle), 2},
        {"delete outside", deleteNodeMessage(kClientId, file_), 2},
        {"move", moveNodeMessage(kClientId, attachment, recordHandle, randomBytes(40)), 2},
        {"rewrite keys", rewriteKeysMessage(kClientId, {Rekey{recordHandle}}), 2},
        {"events", eventsMessage(0), 3},
        {"status", statusMessage(), 3},
        {"delete the attachment", deleteNodeMessage(kClientId, attachment), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(anyError(askLink(token, c.message)), c.error) << c.name;
    }
    EXPECT_TRUE(service_.accounts().node(account_, folder_));
    EXPECT_TRUE(service_.accounts().node(account_, file_));
    EXPECT_EQ(service_.accounts().node(account_, recordHandle)->extraNumber, 44u);
}

TEST_F(LinkSessionHandlersTest, LogoutKeepsTheRecordUnderItsOwnHandleAndRecordInfoReadsIt) {
    const std::string token = openInbox();
    ASSERT_FALSE(token.empty());
    const uint64_t recordHandle = record()->handle;
    const Response added =
        askLink(token, addNodesMessage(kClientId, recordHandle, {NewNode{7, 0, 20}, NewNode{8, 0, 20}}));
    ASSERT_EQ(errorOf(added), 0);

    const Response answer = askLink(token, logoutLinkMessage(0));
    const auto* logout = answer.as<LogoutLinkResponse>("LOLR");
    ASSERT_NE(logout, nullptr);
    EXPECT_EQ(logout->error(), 0);
    ASSERT_NE(logout->pubhandle(), nullptr);
    const std::string pubhandle = stringOf(logout->pubhandle());
    EXPECT_EQ(pubhandle.size(), 16u);
    EXPECT_EQ(record()->pubhandle, pubhandle);

    // The token has ended.
    long httpStatus = 0;
    askLink(token, getNodesMessage(0, 0), &httpStatus);
    EXPECT_EQ(httpStatus, 403);

    // Read without a session: the record first (nothing above it shown), then its files.
    const Response info = ask("", recordInfoMessage(pubhandle));
    const auto* read = info.as<RecordInfoResponse>("REIR");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->error(), 0);
    ASSERT_EQ(read->nodes()->size(), 3u);
    EXPECT_EQ(read->nodes()->Get(0)->handle(), recordHandle);
    EXPECT_EQ(read->nodes()->Get(0)->type(), kRecord);
    EXPECT_EQ(read->nodes()->Get(0)->parent(), 0u);
    EXPECT_EQ(stringOf(read->nodes()->Get(0)->childkey()), shareKey_);
    EXPECT_EQ(read->nodes()->Get(1)->parent(), recordHandle);
    EXPECT_EQ(read->nodes()->Get(2)->parent(), recordHandle);
    EXPECT_EQ(read->target()->str(), "");

    // Anything but a record's handle is not found, and an absent handle is refused.
    const std::vector<std::pair<std::string, int32_t>> refused = {{inboxHandle_, 1}, {randomBytes(16), 1}, {"", 5}};
    for (const auto& [handle, error] : refused) {
        const Response answered = ask("", recordInfoMessage(handle));
        const auto* other = answered.as<RecordInfoResponse>("REIR");
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(other->error(), error);
    }
}

TEST_F(LinkSessionHandlersTest, LogoutWithDeleteDiscardsTheRecord) {
    const std::string token = openInbox();
    ASSERT_FALSE(token.empty());
    const uint64_t recordHandle = record()->handle;
    ASSERT_EQ(errorOf(askLink(token, addNodesMessage(kClientId, recordHandle, {NewNode{7, 0, 20}}))), 0);
    const uint64_t before = status();

    const Response answer = askLink(token, logoutLinkMessage(1));
    const auto* logout = answer.as<LogoutLinkResponse>("LOLR");
    ASSERT_NE(logout, nullptr);
    EXPECT_EQ(logout->error(), 0);
    EXPECT_EQ(logout->pubhandle(), nullptr);
    EXPECT_FALSE(record());
    for (const auto& node : service_.accounts().nodes(account_))
        EXPECT_NE(node.parent, recordHandle);
    EXPECT_EQ(status(), before + 1) << "the owner hears of the deletion";
}

TEST_F(LinkSessionHandlersTest, RecordAndFolderLinksOpenOnTheirNode) {
    // A record kept by an earlier logout opens again on itself.
    const std::string first = openInbox();
    ASSERT_FALSE(first.empty());
    const uint64_t recordHandle = record()->handle;
    const Response kept = askLink(first, logoutLinkMessage(0));
    ASSERT_NE(kept.as<LogoutLinkResponse>("LOLR"), nullptr);
    const std::string pubhandle = stringOf(kept.as<LogoutLinkResponse>("LOLR")->pubhandle());

    NodeRecord folder = *service_.accounts().node(account_, folder_);
    folder.pubhandle = randomBytes(16);
    folder.handle = 0;
    folder.parent = root_;
    const uint64_t shared = service_.accounts().addNode(account_, folder);

    for (const auto& [handle, top] :
         std::vector<std::pair<std::string, uint64_t>>{{pubhandle, recordHandle}, {*folder.pubhandle, shared}}) {
        const Response answer = ask("", loginLinkMessage({handle}));
        const auto* login = answer.as<LoginLinkResponse>("LILR");
        ASSERT_NE(login, nullptr);
        ASSERT_EQ(login->error(), 0);
        EXPECT_EQ(login->publicKey(), nullptr);
        const std::string token = base64Url(stringOf(login->session()));
        const Response nodes = askLink(token, getNodesMessage(0, 0));
        const auto* tree = nodes.as<GetNodesResponse>("GENR");
        ASSERT_NE(tree, nullptr);
        EXPECT_EQ(tree->nodes()->Get(0)->handle(), top);
        // Only a record is written to.
        const int32_t expected = top == recordHandle ? 0 : 2;
        EXPECT_EQ(anyError(askLink(token, addNodesMessage(kClientId, top, {NewNode{}}))), expected);
    }
}

}  // namespace
}  // namespace corvane::service::test
