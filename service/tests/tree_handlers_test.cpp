#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "account_fixture.h"
#include "sign_in_fixture.h"

#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"

namespace corvane::service::test {
namespace {

constexpr uint64_t kClientId = 0x1122334455667788ull;

std::string getNodesMessage(uint32_t mode, uint64_t parent, uint32_t levels, uint64_t node) {
    auto builder = messageBuilder();
    FinishSizePrefixedGetNodesMessageBuffer(builder, CreateGetNodesMessage(builder, parent, levels, node, 5, mode));
    return sizePrefixedMessage(builder);
}

class TreeHandlersTest : public AccountFixture {
protected:
    const GetNodesResponse* getNodes(const std::string& session, const std::string& message) {
        answer_ = ask(session, message);
        return answer_.as<GetNodesResponse>("GENR");
    }

    // (handle, full) of each node, in the order answered.
    static std::vector<std::pair<uint64_t, bool>> listed(
        const flatbuffers::Vector<flatbuffers::Offset<NodeMessage>>* v) {
        std::vector<std::pair<uint64_t, bool>> out;
        if (v == nullptr) return out;
        for (const auto* node : *v)
            out.emplace_back(node->handle(), node->full());
        return out;
    }

    Response answer_;
};

TEST_F(TreeHandlersTest, WholeTreeHoldsFilesystemsNodesParentsFirstContactsUsersStatusAndLink) {
    // Stored children before their parent, to show the answer reorders them.
    const uint64_t deep = addNode(folder_, 21);
    const uint64_t deeper = addNode(deep, 20);
    // What is filed under a contact travels with it, after it.
    const uint64_t outbox = addNode(contact_, 47);
    const uint64_t sent = addNode(outbox, 44);
    for (const uint32_t mode : {1u, 0u}) {
        SCOPED_TRACE(mode);
        const auto* response = getNodes(sessionA_, getNodesMessage(mode, 0, 0, 0));
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), 0);
        ASSERT_NE(response->filesystems(), nullptr);
        std::set<uint64_t> filesystems;
        for (const auto* fs : *response->filesystems())
            filesystems.insert(fs->handle());
        EXPECT_EQ(filesystems, (std::set<uint64_t>{root_ << 15, contactsRoot_ << 15}));

        const auto nodes = listed(response->nodes());
        std::map<uint64_t, size_t> at;
        for (size_t i = 0; i < nodes.size(); ++i) {
            at[nodes[i].first] = i;
            EXPECT_TRUE(nodes[i].second) << "every node of the whole tree comes with all its children";
        }
        EXPECT_EQ(nodes.size(), 6u);
        ASSERT_EQ(at.count(contact_), 0u) << "contacts travel apart";
        for (const auto& [child, parent] : std::vector<std::pair<uint64_t, uint64_t>>{
                 {folder_, root_}, {file_, folder_}, {deep, folder_}, {deeper, deep}}) {
            ASSERT_TRUE(at.count(child) && at.count(parent));
            EXPECT_LT(at[parent], at[child]);
        }
        EXPECT_EQ(listed(response->contacts()),
                  (std::vector<std::pair<uint64_t, bool>>{{contact_, true}, {outbox, true}, {sent, true}}));
        ASSERT_NE(response->users(), nullptr);
        ASSERT_EQ(response->users()->size(), 1u);
        EXPECT_EQ(response->users()->Get(0)->handle(), user_);
        EXPECT_EQ(response->accountStatus(), status());
        ASSERT_NE(response->link(), nullptr);
        EXPECT_EQ(response->link()->str(), service_.baseUrl() + "/events/" + service_.accounts().pollToken(sessionA_));
    }
    // The other account sees only its own root.
    const auto* other = getNodes(otherSession_, getNodesMessage(1, 0, 0, 0));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(listed(other->nodes()), (std::vector<std::pair<uint64_t, bool>>{{otherRoot_, true}}));
}

TEST_F(TreeHandlersTest, SubtreeAndSingleNodeAnswerTheAskedNodeFirstToTheLevelsAsked) {
    const uint64_t sub = addNode(folder_, 21);
    const uint64_t leaf = addNode(sub, 20);
    using Listed = std::vector<std::pair<uint64_t, bool>>;
    struct Case {
        const char* name;
        uint64_t parent;
        uint32_t levels;
        uint64_t node;
        int32_t error;
        Listed nodes;  // handle and full flag; the order of siblings is not fixed
    };
    const uint64_t absent = 0x0000ABCDEF012345ull;
    const std::vector<Case> cases = {
        {"one level", folder_, 1, 0, 0, {{folder_, true}, {file_, false}, {sub, false}}},
        {"two levels", root_, 2, 0, 0, {{root_, true}, {folder_, true}, {file_, false}, {sub, false}}},
        {"all levels", folder_, 0, 0, 0, {{folder_, true}, {file_, true}, {sub, true}, {leaf, true}}},
        {"a leaf", leaf, 3, 0, 0, {{leaf, true}}},
        {"an unknown parent", absent, 1, 0, 1, {}},
        {"another account's parent", otherRoot_, 1, 0, 1, {}},
        {"a single node", 0, 0, sub, 0, {{sub, false}}},
        {"an unknown node", 0, 0, absent, 1, {}},
        {"another account's node", 0, 0, otherRoot_, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto* response = getNodes(sessionA_, getNodesMessage(0, c.parent, c.levels, c.node));
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        Listed nodes = listed(response->nodes());
        if (!nodes.empty()) {
            EXPECT_EQ(nodes.front(), c.nodes.front()) << "the asked node comes first";
        }
        std::sort(nodes.begin(), nodes.end());
        Listed expected = c.nodes;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(nodes, expected);
        EXPECT_EQ(response->filesystems(), nullptr);
    }
    // Within a subtree a parent still precedes its children.
    const auto nodes = listed(getNodes(sessionA_, getNodesMessage(0, root_, 0, 0))->nodes());
    std::map<uint64_t, size_t> at;
    for (size_t i = 0; i < nodes.size(); ++i)
        at[nodes[i].first] = i;
    EXPECT_LT(at[sub], at[leaf]);
    EXPECT_LT(at[folder_], at[sub]);
    EXPECT_EQ(batch("0123456789abcdef", {getNodesMessage(1, 0, 0, 0)}).status, 403);
}

// A root added later (the client adds its contacts root so) gets its filesystem record too.
TEST_F(TreeHandlersTest, RootAddedByAddNodesComesWithItsFilesystem) {
    NewNode contacts{0, 0, 7};
    const Response added = ask(otherSession_, addNodesMessage(kClientId, 0, {contacts}));
    const auto* addition = added.as<AddNodesResponse>("ADNR");
    ASSERT_NE(addition, nullptr);
    ASSERT_EQ(addition->error(), 0);
    const uint64_t root = addition->nodes()->Get(0)->handle();

    const auto* response = getNodes(otherSession_, getNodesMessage(1, 0, 0, 0));
    ASSERT_NE(response, nullptr);
    const FilesystemMessage* filesystem = nullptr;
    for (const auto* fs : *response->filesystems()) {
        if (fs->handle() == root << 15) filesystem = fs;
    }
    ASSERT_NE(filesystem, nullptr);
    EXPECT_EQ(filesystem->type(), 7);
    EXPECT_EQ(stringOf(filesystem->filesystemKey()), contacts.attributes);
    EXPECT_EQ(stringOf(filesystem->nodekey()), contacts.nodekey);
    for (const auto* node : *response->nodes()) {
        if (node->handle() == root) {
            EXPECT_EQ(node->attributes(), nullptr);
        }
    }
}

class NewAccountTreeTest : public SignInFixture {};

// The roots a new account is created with come back with the filesystem records the client
// needs to open them, whichever session asks.
TEST_F(NewAccountTreeTest, CreatedRootsHaveTheirFilesystemsInTheTree) {
    NewUser ada = newUser("ada@example.test");
    ada.roots = {0, 1, 3, 7};
    const Created created = registerUser(ada);
    ASSERT_FALSE(created.session.empty());
    BatchReply reply = sendBatch(service_, created.session, {getNodesMessage(1, 0, 0, 0)});
    ASSERT_EQ(reply.responses.size(), 1u);
    const auto* response = reply.responses[0].as<GetNodesResponse>("GENR");
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->error(), 0);
    ASSERT_NE(response->nodes(), nullptr);
    ASSERT_NE(response->filesystems(), nullptr);
    std::map<uint64_t, const FilesystemMessage*> filesystems;
    for (const auto* fs : *response->filesystems())
        filesystems[fs->handle()] = fs;
    std::multiset<int8_t> types;
    for (const auto* root : *response->nodes()) {
        types.insert(root->type());
        ASSERT_EQ(filesystems.count(root->filesystem()), 1u) << "root of type " << int(root->type());
        const auto* fs = filesystems[root->filesystem()];
        EXPECT_EQ(root->filesystem(), root->handle() << 15);
        EXPECT_EQ(fs->type(), root->type());
        ASSERT_NE(fs->nodekey(), nullptr);
        ASSERT_NE(root->nodekey(), nullptr);
        EXPECT_EQ(bytesIn(fs->nodekey()), bytesIn(root->nodekey()));
        // What the root was sent with in place of attributes is its filesystem's key.
        ASSERT_NE(fs->filesystemKey(), nullptr);
        EXPECT_FALSE(bytesIn(fs->filesystemKey()).empty());
        EXPECT_EQ(root->attributes(), nullptr);
    }
    EXPECT_EQ(types, std::multiset<int8_t>(ada.roots.begin(), ada.roots.end()));
    EXPECT_EQ(filesystems.size(), ada.roots.size());
}

}  // namespace
}  // namespace corvane::service::test
