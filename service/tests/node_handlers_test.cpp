#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "account_fixture.h"

namespace corvane::service::test {
namespace {

constexpr uint64_t kClientId = 0x1122334455667788ull;

class NodeHandlersTest : public AccountFixture {};

// Every handler: what it answers a session of the account, a session of another account
// (which cannot see the account's nodes) and a batch whose session is unknown.
TEST_F(NodeHandlersTest, AnswersEachRequestWithSuccessOrTheErrorItsNodesCall) {
    struct Case {
        const char* name;
        std::function<std::string()> message;
        int32_t error;         // answered to a session of the account
        int32_t otherAccount;  // answered to a session of the other account
    };
    const uint64_t absent = 0x0000ABCDEF012345ull;
    const std::vector<Case> cases = {
        {"add under a folder", [&] { return addNodesMessage(kClientId, folder_, {NewNode{}}); }, 0, 1},
        {"add under an unknown parent", [&] { return addNodesMessage(kClientId, absent, {NewNode{}}); }, 1, 1},
        {"add no node", [&] { return addNodesMessage(kClientId, folder_, {}); }, 5, 5},
        {"add a cycle of new nodes",
         [&] {
             return addNodesMessage(kClientId, folder_, {NewNode{7, 8}, NewNode{8, 7}});
         },
         17, 17},
        {"rename", [&] { return renameNodeMessage(kClientId, file_, randomBytes(40)); }, 0, 1},
        {"rename an unknown node", [&] { return renameNodeMessage(kClientId, absent, randomBytes(40)); }, 1, 1},
        {"delete", [&] { return deleteNodeMessage(kClientId, addNode(folder_, 20)); }, 0, 1},
        {"delete an unknown node", [&] { return deleteNodeMessage(kClientId, absent); }, 1, 1},
        {"delete the cloud drive root", [&] { return deleteNodeMessage(kClientId, root_); }, 2, 1},
        {"move", [&] { return moveNodeMessage(kClientId, addNode(folder_, 20), root_, randomBytes(16)); }, 0, 1},
        {"move an unknown node", [&] { return moveNodeMessage(kClientId, absent, root_, randomBytes(16)); }, 1, 1},
        {"move under an unknown parent", [&] { return moveNodeMessage(kClientId, file_, absent, randomBytes(16)); }, 1,
         1},
        {"move a folder under its own child",
         [&] { return moveNodeMessage(kClientId, folder_, addNode(folder_, 21), randomBytes(16)); }, 17, 1},
        {"move a root", [&] { return moveNodeMessage(kClientId, root_, folder_, randomBytes(16)); }, 2, 1},
        {"rewrite keys",
         [&] {
             return rewriteKeysMessage(kClientId, {Rekey{file_}, Rekey{folder_}});
         },
         0, 1},
        {"rewrite keys of an unknown node",
         [&] {
             return rewriteKeysMessage(kClientId, {Rekey{file_}, Rekey{absent}});
         },
         1, 1},
        {"add metadata", [&] { return addMetadataMessage(kClientId, file_, 1); }, 0, 1},
        {"add metadata to an unknown node", [&] { return addMetadataMessage(kClientId, absent, 1); }, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t before = status();
        const std::string message = c.message();
        const Response answer = ask(sessionA_, message);
        EXPECT_EQ(errorOf(answer), c.error);
        // Only a change moves the account status on.
        EXPECT_EQ(status(), before + (c.error == 0 ? 1 : 0));

        EXPECT_EQ(errorOf(ask(otherSession_, message)), c.otherAccount);
        EXPECT_EQ(status(), before + (c.error == 0 ? 1 : 0)) << "the other account's request changed this one";

        EXPECT_EQ(batch("0123456789abcdef", {message}).status, 403);
    }
}

TEST_F(NodeHandlersTest, BatchWithoutSessionGetsSessionErrorsOnceSessionsExist) {
    const BatchReply reply = batch("", {addNodesMessage(kClientId, folder_, {NewNode{}}), statusMessage()});
    ASSERT_EQ(reply.status, 200);
    ASSERT_EQ(reply.responses.size(), 2u);
    EXPECT_EQ(errorOf(reply.responses[0]), 3);
    EXPECT_EQ(errorOf(reply.responses[1]), 3);
}

TEST_F(NodeHandlersTest, AddNodesGivesFreshHandlesAndRemapsParentsAmongTheNewNodes) {
    // A folder with a subfolder and, in it, a file named by its upload token; the client's own
    // handles are small numbers that collide with nothing, one of them equal to an existing
    // node's handle to show the message's own nodes take precedence.
    NewNode top{101, 0, 21};
    NewNode sub{file_, 101, 21};
    NewNode uploaded{0, file_, 20};
    uploaded.uploadToken = true;
    const Response answer = ask(sessionA_, addNodesMessage(kClientId, folder_, {top, sub, uploaded}));
    const auto* response = answer.as<AddNodesResponse>("ADNR");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->error(), 0);
    EXPECT_EQ(response->clientId(), kClientId);
    EXPECT_EQ(response->accountStatus(), status());
    ASSERT_NE(response->nodes(), nullptr);
    ASSERT_EQ(response->nodes()->size(), 3u);
    const auto* first = response->nodes()->Get(0);
    const auto* second = response->nodes()->Get(1);
    const auto* third = response->nodes()->Get(2);

    std::set<uint64_t> handles;
    for (const auto* node : *response->nodes()) {
        EXPECT_NE(node->handle(), 0u);
        EXPECT_LT(node->handle(), uint64_t(1) << 48);
        handles.insert(node->handle());
    }
    EXPECT_EQ(handles.size(), 3u);
    EXPECT_EQ(handles.count(101), 0u);
    EXPECT_EQ(handles.count(file_), 0u);

    EXPECT_EQ(first->parent(), folder_);
    EXPECT_EQ(second->parent(), first->handle());
    EXPECT_EQ(third->parent(), second->handle());
    EXPECT_EQ(third->type(), 20);

    // What was sent is stored and answered byte for byte.
    EXPECT_EQ(stringOf(first->attributes()), top.attributes);
    EXPECT_EQ(stringOf(second->nodekey()), sub.nodekey);
    const auto stored = service_.accounts().node(account_, second->handle());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->parent, first->handle());
    EXPECT_EQ(stored->nodekey, sub.nodekey);
    EXPECT_EQ(stored->attributes, sub.attributes);
    EXPECT_EQ(stored->filesystem, service_.accounts().node(account_, folder_)->filesystem);
    // The existing node whose handle the client reused is untouched.
    EXPECT_EQ(service_.accounts().node(account_, file_)->parent, folder_);
}

TEST_F(NodeHandlersTest, ChangesAreStoredAsReceived) {
    const std::string attributes = randomBytes(40);
    const Response renamed = ask(sessionA_, renameNodeMessage(kClientId, file_, attributes, ~uint64_t(0)));
    const auto* rename = renamed.as<RenameNodeResponse>("RENR");
    ASSERT_NE(rename, nullptr);
    EXPECT_EQ(stringOf(rename->attributes()), attributes);
    EXPECT_EQ(rename->extraNumber(), ~uint64_t(0));
    const auto afterRename = service_.accounts().node(account_, file_);
    ASSERT_TRUE(afterRename);
    EXPECT_EQ(afterRename->attributes, attributes);
    EXPECT_EQ(afterRename->extraNumber, ~uint64_t(0));

    const Rekey rekey{file_};
    EXPECT_EQ(errorOf(ask(sessionA_, rewriteKeysMessage(kClientId, {rekey}))), 0);
    const auto afterRekey = service_.accounts().node(account_, file_);
    EXPECT_EQ(afterRekey->nodekey, rekey.nodekey);
    EXPECT_EQ(afterRekey->childkey, rekey.childkey);
    EXPECT_EQ(afterRekey->crypto, 2);
    EXPECT_EQ(afterRekey->attributes, attributes);

    // Moving the folder into another filesystem takes its file along.
    const std::string childkey = randomBytes(16);
    const Response moved = ask(sessionA_, moveNodeMessage(kClientId, folder_, contactsRoot_, childkey));
    const auto* move = moved.as<MoveNodeResponse>("MONR");
    ASSERT_NE(move, nullptr);
    const uint64_t contactsFilesystem = service_.accounts().node(account_, contactsRoot_)->filesystem;
    EXPECT_EQ(move->parent(), contactsRoot_);
    EXPECT_EQ(move->filesystem(), contactsFilesystem);
    EXPECT_EQ(stringOf(move->childkey()), childkey);
    EXPECT_EQ(service_.accounts().node(account_, folder_)->childkey, childkey);
    EXPECT_EQ(service_.accounts().node(account_, file_)->filesystem, contactsFilesystem);

    // A deleted folder takes its subtree, with the file's tie to its stored content.
    ASSERT_TRUE(service_.accounts().open(sessionA_)->store().putNodeContent(file_, "content"));
    EXPECT_EQ(errorOf(ask(sessionA_, deleteNodeMessage(kClientId, folder_))), 0);
    EXPECT_FALSE(service_.accounts().node(account_, folder_));
    EXPECT_FALSE(service_.accounts().node(account_, file_));
    EXPECT_EQ(service_.accounts().open(sessionA_)->store().nodeContent(file_), std::nullopt);
}

TEST_F(NodeHandlersTest, AddMetadataKeepsOneEntryPerKind) {
    auto entries = [&](uint8_t type) {
        const Response answer = ask(sessionA_, addMetadataMessage(kClientId, file_, type));
        const auto* response = answer.as<AddMetadataResponse>("ADMR");
        EXPECT_NE(response, nullptr);
        if (!response) return std::make_pair(std::string(), uint64_t(0));
        EXPECT_EQ(response->node(), file_);
        EXPECT_EQ(response->clientId(), kClientId);
        EXPECT_EQ(response->type(), type);
        return std::make_pair(stringOf(response->metadata()), response->handle());
    };
    auto entry = [](uint8_t type, uint64_t handle) {
        std::string bytes(10, '\0');
        bytes[0] = static_cast<char>(type);
        for (int i = 0; i < 8; ++i)
            bytes[2 + i] = static_cast<char>(handle >> (8 * i));
        return bytes;
    };
    const auto [thumbnail, thumbnailHandle] = entries(0);
    EXPECT_EQ(thumbnail, entry(0, thumbnailHandle));
    const auto [both, previewHandle] = entries(1);
    EXPECT_EQ(both, entry(0, thumbnailHandle) + entry(1, previewHandle));
    const auto [replaced, newThumbnail] = entries(0);
    EXPECT_NE(newThumbnail, thumbnailHandle);
    EXPECT_EQ(replaced, entry(1, previewHandle) + entry(0, newThumbnail));
    EXPECT_EQ(service_.accounts().node(account_, file_)->metadata, replaced);
}

}  // namespace
}  // namespace corvane::service::test

namespace corvane::service::test {
namespace {

// A copy (a new node naming an existing node of the account and bringing no upload) stands
// for the source's stored data; a handle of another account's node brings nothing along.
TEST_F(NodeHandlersTest, CopiesShareTheirSourcesContentWithinTheAccountOnly) {
    NodeRecord stored;
    stored.parent = folder_;
    stored.type = 20;
    stored.nodekey = randomBytes(32);
    stored.attributes = randomBytes(48);
    const uint64_t withContent = service_.accounts().addNode(account_, stored);
    NodeRecord foreign = stored;
    foreign.parent = otherRoot_;
    const uint64_t foreignFile = service_.accounts().addNode(otherAccount_, foreign);
    ASSERT_NE(withContent, 0u);
    ASSERT_NE(foreignFile, 0u);
    // The store is reached through a session scope, which holds the directory's lock.
    const auto putContent = [&](uint64_t node, const std::string& content) {
        return service_.accounts().open(sessionA_)->store().putNodeContent(node, content);
    };
    const auto contentOf = [&](uint64_t node) {
        return service_.accounts().open(sessionA_)->store().nodeContent(node);
    };
    ASSERT_TRUE(putContent(withContent, "content-777"));
    ASSERT_TRUE(putContent(foreignFile, "content-555"));

    const Response answer = ask(sessionA_, addNodesMessage(kClientId, root_,
                                                           {NewNode{folder_, 0, 21}, NewNode{withContent, folder_, 20},
                                                            NewNode{foreignFile, folder_, 20}}));
    const auto* response = answer.as<AddNodesResponse>("ADNR");
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->error(), 0);
    ASSERT_NE(response->nodes(), nullptr);
    ASSERT_EQ(response->nodes()->size(), 3u);
    const auto folderCopy = service_.accounts().node(account_, response->nodes()->Get(0)->handle());
    const auto fileCopy = service_.accounts().node(account_, response->nodes()->Get(1)->handle());
    const auto foreignCopy = service_.accounts().node(account_, response->nodes()->Get(2)->handle());
    ASSERT_TRUE(folderCopy && fileCopy && foreignCopy);
    EXPECT_EQ(folderCopy->parent, root_);
    EXPECT_EQ(fileCopy->parent, folderCopy->handle);
    EXPECT_EQ(contentOf(fileCopy->handle), "content-777");
    EXPECT_EQ(contentOf(foreignCopy->handle), std::nullopt);
    // The sources stay where they were, with their data.
    EXPECT_EQ(contentOf(withContent), "content-777");
    EXPECT_EQ(service_.accounts().node(account_, withContent)->parent, folder_);
}

// A rename that leaves the extra number out sets it to 0 (callers rely on that); one that
// carries it keeps all 64 bits; a shared drive's root keeps its own.
TEST_F(NodeHandlersTest, RenameTakesTheExtraNumberAsSentWithAbsentMeaningZero) {
    NodeRecord drive;
    drive.type = 8;
    drive.nodekey = randomBytes(32);
    drive.attributes = randomBytes(48);
    drive.extraNumber = 5;
    FilesystemRecord filesystem;
    filesystem.type = 8;
    const uint64_t driveRoot = service_.accounts().addRoot(account_, drive, filesystem);
    ASSERT_NE(driveRoot, 0u);
    struct Case {
        const char* name;
        uint64_t node;
        uint64_t sent;
        uint64_t kept;
    };
    const std::vector<Case> cases{
        {"a handle above 32 bits", file_, 0x123456789aull, 0x123456789aull},
        {"left out", file_, 0, 0},
        {"2^31", contact_, uint64_t(1) << 31, uint64_t(1) << 31},
        {"shared drive root", driveRoot, 9, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Response answer = ask(sessionA_, renameNodeMessage(kClientId, c.node, randomBytes(40), c.sent));
        const auto* response = answer.as<RenameNodeResponse>("RENR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), 0);
        EXPECT_EQ(response->extraNumber(), c.kept);
        EXPECT_EQ(service_.accounts().node(account_, c.node)->extraNumber, c.kept);
    }
}

// A node moves only inside its own account's tree, and never below itself.
TEST_F(NodeHandlersTest, MoveRefusesAForeignParentAndACycleLeavingTheNode) {
    const uint64_t child = addNode(folder_, 21);
    const uint64_t grandchild = addNode(child, 21);
    struct Case {
        const char* name;
        uint64_t node;
        uint64_t parent;
        int32_t error;
    };
    const std::vector<Case> cases{
        {"another account's root", file_, otherRoot_, 1},
        {"its own grandchild", folder_, grandchild, 17},
        {"itself", folder_, folder_, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t before = status();
        const uint64_t parentBefore = service_.accounts().node(account_, c.node)->parent;
        EXPECT_EQ(errorOf(ask(sessionA_, moveNodeMessage(kClientId, c.node, c.parent, randomBytes(16)))), c.error);
        EXPECT_EQ(service_.accounts().node(account_, c.node)->parent, parentBefore);
        EXPECT_EQ(status(), before);
    }
    EXPECT_EQ(service_.accounts().nodes(otherAccount_).size(), 1u);
}

}  // namespace
}  // namespace corvane::service::test
