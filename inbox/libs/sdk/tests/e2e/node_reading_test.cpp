// Reading the account's tree through the facade against the loopback stand-in over TLS: the
// whole tree from the service and then from the cache, folders whose children the cache does
// not hold yet, the sort orders, paths resolved in part. Nodes are sealed here with the account
// key that the password opens (OpenSSL key wrap, Crypto++ GCM) and placed in the stand-in's
// store directly, so that no change announces them.
#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "corvane/event_data.h"
#include "database/mutable_node_data.h"
#include "get_nodes_message_generated.h"
#include "support/account_keys.h"
#include "support/event_journal.h"
#include "support/facade_fixture.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kEmail = "grace.hopper@example.com";
constexpr const char* kPassword = "cobol and compilers";
constexpr int32_t kFilesOnly = 1;
constexpr int32_t kFoldersOnly = 2;

// Keeps the whole record of one finished action.
class KeepingListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        action_ = std::move(action);
        finished_.notify_all();
    }
    std::shared_ptr<ActionData> wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait_for(lock, std::chrono::seconds(120), [&] { return action_ != nullptr; });
        return action_;
    }

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    std::shared_ptr<ActionData> action_;
};

// One GetNodes message as the stand-in received it.
struct SentGetNodes {
    uint64_t parent = 0;
    uint32_t levels = 0;
    uint64_t node = 0;
    uint32_t mode = 0;
    bool operator==(const SentGetNodes& o) const {
        return parent == o.parent && levels == o.levels && node == o.node && mode == o.mode;
    }
};

std::ostream& operator<<(std::ostream& out, const SentGetNodes& m) {
    return out << "{parent " << m.parent << ", levels " << m.levels << ", node " << m.node << ", mode " << m.mode
               << "}";
}

std::vector<std::string> namesOf(const std::shared_ptr<NodeList>& nodes) {
    std::vector<std::string> names;
    if (nodes) {
        for (const auto& node : *nodes) {
            names.push_back(node->getName());
        }
    }
    return names;
}

class NodeReadingTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        facade_->addEventListener(&journal_);
        const test::ActionOutcome created = registerUser(kEmail, kPassword);
        ASSERT_EQ(created.error, 0);
        saved_ = created.session;
        auto user = service_.accounts().userByEmail(kEmail);
        ASSERT_TRUE(user && user->userKey);
        account_ = user->mainAccount;
        const Bytes passwordKey = test::signin::deriveUserKeys(kEmail, kPassword).second;
        const Bytes masterKey = test::unwrapKey(passwordKey, Bytes(user->userKey->begin(), user->userKey->end()));
        ASSERT_EQ(masterKey.size(), 32u);
        auto membership = service_.accounts().membership(account_, user->handle);
        ASSERT_TRUE(membership && membership->accountKey);
        accountKey_ = test::unwrapKey(masterKey, Bytes(membership->accountKey->begin(), membership->accountKey->end()));
        ASSERT_EQ(accountKey_.size(), 32u);
        for (const auto& node : service_.accounts().nodes(account_)) {
            if (node.parent == 0 && node.type == 0) {
                root_ = node.handle;
            }
        }
        ASSERT_NE(root_, 0u);
    }

    // A node sealed as the SDK seals one (its key wrapped under the account key), stored
    // without announcing it.
    uint64_t seed(uint64_t parent, int8_t type, const std::string& name, uint32_t ctime = 0) {
        const Bytes key = test::patternKey(static_cast<uint8_t>(++seeded_));
        const Bytes wrapped = test::wrapKey(accountKey_, key);
        const Bytes attributes = test::gcmSeal(key, 32, test::attributesRecord(name));
        service::NodeRecord node;
        node.parent = parent;
        node.type = type;
        node.ctime = ctime;
        node.nodekey = std::string(wrapped.begin(), wrapped.end());
        node.attributes = std::string(attributes.begin(), attributes.end());
        const uint64_t handle = service_.accounts().addNode(account_, node);
        EXPECT_NE(handle, 0u);
        return handle;
    }

    std::shared_ptr<ActionData> act(
        int32_t type, const Fill& fill = [](MutableActionData&) {}) {
        KeepingListener listener;
        test::FacadeAccess::submit(*facade_, type, &listener, fill);
        auto action = listener.wait();
        taskManager_.drain();
        return action;
    }

    // A new SDK instance on the same data folder, signed in with the saved session string.
    void restart() {
        facade_.reset();
        taskManager_.drain();
        facade_ = std::make_unique<Corvane>(&taskManager_, &settings_);
        facade_->addEventListener(&journal_);
        KeepingListener listener;
        facade_->loginWithSession(saved_.c_str(), &listener);
        auto signedIn = listener.wait();
        taskManager_.drain();
        ASSERT_TRUE(signedIn);
        ASSERT_EQ(signedIn->getErrorCode(), 0);
    }

    // The GetNodes messages the stand-in was sent since the record was last cleared.
    std::vector<SentGetNodes> sentGetNodes() {
        std::vector<SentGetNodes> sent;
        for (const auto& request : service_.requests()) {
            const std::string& body = request.body;
            for (size_t at = body.find("GENM"); at != std::string::npos; at = body.find("GENM", at + 4)) {
                if (at < 8) {
                    continue;
                }
                const size_t start = at - 8;
                uint32_t length = 0;
                std::memcpy(&length, body.data() + start, sizeof length);
                if (start + 4 + length > body.size()) {
                    continue;
                }
                std::vector<uint64_t> aligned((length + 4 + 7) / 8);
                std::memcpy(aligned.data(), body.data() + start, length + 4);
                const auto* bytes = reinterpret_cast<const uint8_t*>(aligned.data());
                flatbuffers::Verifier verifier(bytes, length + 4);
                if (!verifier.VerifySizePrefixedBuffer<GetNodesMessage>("GENM")) {
                    continue;
                }
                const auto* message = flatbuffers::GetSizePrefixedRoot<GetNodesMessage>(bytes);
                EXPECT_EQ(message->api(), 5);
                sent.push_back({message->parent(), message->levels(), message->node(), message->mode()});
            }
        }
        return sent;
    }

    size_t accountReadyEvents() {
        size_t count = 0;
        for (const auto& event : journal_.take()) {
            count += event->getType() == EVENT_ACCOUNT_READY ? 1 : 0;
        }
        return count;
    }

    // Runs SQL on the account cache of the stopped facade.
    void editCache(const std::string& sql) {
        std::string file;
        for (const auto& entry : std::filesystem::directory_iterator(dataDir_.path())) {
            if (entry.path().filename().string().rfind("cloud-v31-", 0) == 0 && entry.path().extension().empty()) {
                file = entry.path().string();
            }
        }
        ASSERT_FALSE(file.empty());
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }

    test::EventJournal journal_;
    std::string saved_;
    uint64_t account_ = 0;
    uint64_t root_ = 0;
    Bytes accountKey_;
    int seeded_ = 0;
};

TEST_F(NodeReadingTest, TheTreeLoadsFromTheServiceOnceThenFromTheCacheAfterARestart) {
    const uint64_t docs = seed(root_, 21, "docs");
    const uint64_t a = seed(docs, 21, "a");
    const uint64_t report = seed(a, 20, "report");
    journal_.take();
    service_.clearRequests();

    auto loaded = act(GET_NODES);
    ASSERT_EQ(loaded->getErrorCode(), 0);
    ASSERT_TRUE(loaded->getNode());
    EXPECT_EQ(loaded->getNode()->getId(), root_);
    EXPECT_EQ(loaded->getNode()->getType(), 0);
    EXPECT_EQ(sentGetNodes(), (std::vector<SentGetNodes>{{0, 0, 0, 1}}));
    EXPECT_EQ(accountReadyEvents(), 1u);

    // The caller's root is a copy: the cache's own record may change under it.
    auto root = act(GET_ROOT, [](MutableActionData& d) { d.setOption(0); });
    ASSERT_EQ(root->getErrorCode(), 0);
    auto cached = std::dynamic_pointer_cast<MutableNodeData>(root->getNode());
    ASSERT_TRUE(cached);
    cached->setExtraNumber(77);
    EXPECT_EQ(loaded->getNode()->getExtraNumber(), 0u);
    EXPECT_EQ(act(GET_ROOT, [](MutableActionData& d) { d.setOption(0); })->getNode()->getExtraNumber(), 77u);

    // Everything arrived with its children: reading sends nothing more.
    service_.clearRequests();
    auto children = act(GET_CHILDREN, [&](MutableActionData& d) {
        d.setParentHandle(a);
        d.setValue(1);
    });
    ASSERT_EQ(children->getErrorCode(), 0);
    EXPECT_EQ(namesOf(children->getNodes()), (std::vector<std::string>{"report"}));
    auto path = act(GET_PATH, [&](MutableActionData& d) { d.setNodeHandle(report); });
    ASSERT_EQ(path->getErrorCode(), 0);
    EXPECT_EQ(path->getTextString(), "/docs/a/report");
    auto byPath = act(GET_NODE, [](MutableActionData& d) { d.setText("/docs/a/report"); });
    ASSERT_EQ(byPath->getErrorCode(), 0);
    EXPECT_EQ(byPath->getNode()->getId(), report);
    EXPECT_TRUE(sentGetNodes().empty());

    restart();
    journal_.take();
    service_.clearRequests();
    auto reloaded = act(GET_NODES);
    ASSERT_EQ(reloaded->getErrorCode(), 0);
    ASSERT_TRUE(reloaded->getNode());
    EXPECT_EQ(reloaded->getNode()->getId(), root_);
    auto again = act(GET_CHILDREN, [&](MutableActionData& d) { d.setParentHandle(docs); });
    ASSERT_EQ(again->getErrorCode(), 0);
    EXPECT_EQ(namesOf(again->getNodes()), (std::vector<std::string>{"a"}));
    EXPECT_EQ(act(GET_PATH, [&](MutableActionData& d) { d.setNodeHandle(report); })->getTextString(), "/docs/a/report");
    EXPECT_TRUE(sentGetNodes().empty()) << "the cache answers after a restart";

    // GET_NODE_TREE asks for the subtree, as deep as the caller says; on a file it asks nothing.
    auto tree = act(GET_NODE_TREE, [&](MutableActionData& d) { d.setParentHandle(docs); });
    EXPECT_EQ(tree->getErrorCode(), 0);
    auto twoLevels = act(GET_NODE_TREE, [&](MutableActionData& d) {
        d.setParentHandle(root_);
        d.setSize(2);
    });
    EXPECT_EQ(twoLevels->getErrorCode(), 0);
    auto onFile = act(GET_NODE_TREE, [&](MutableActionData& d) { d.setParentHandle(report); });
    EXPECT_EQ(onFile->getErrorCode(), 0);
    EXPECT_EQ(sentGetNodes(), (std::vector<SentGetNodes>{{docs, 0, 0, 0}, {root_, 2, 0, 0}}));
    EXPECT_EQ(act(GET_PATH, [&](MutableActionData& d) { d.setNodeHandle(0x7777); })->getErrorCode(), 1);

    // Every root, and an empty answer without error for an index the cache holds no root of.
    auto roots = act(GET_ROOT, [](MutableActionData& d) { d.setOption(9); });
    ASSERT_EQ(roots->getErrorCode(), 0);
    std::vector<uint64_t> rootIds;
    for (const auto& node : *roots->getNodes()) {
        if (node) {
            rootIds.push_back(node->getId());
        }
    }
    EXPECT_NE(std::find(rootIds.begin(), rootIds.end(), root_), rootIds.end());
    auto none = act(GET_ROOT, [](MutableActionData& d) { d.setOption(6); });
    EXPECT_EQ(none->getErrorCode(), 0);
    EXPECT_EQ(none->getNode(), nullptr);
    // A file has no children to list; it is still the answer's node.
    auto ofFile = act(GET_CHILDREN, [&](MutableActionData& d) { d.setParentHandle(report); });
    EXPECT_EQ(ofFile->getErrorCode(), 5);
    ASSERT_TRUE(ofFile->getNode());
    EXPECT_EQ(ofFile->getNode()->getId(), report);
}

TEST_F(NodeReadingTest, WhatTheCacheLacksIsFetchedOnceAndThenListedInEveryOrder) {
    const uint64_t sorts = seed(root_, 21, "sorts");
    seed(sorts, 21, "beta", 3);
    seed(sorts, 21, "Alpha", 1);
    seed(sorts, 20, "item 10", 2);
    seed(sorts, 20, "Item 9", 4);
    const uint64_t docs = seed(root_, 21, "docs");
    const uint64_t a = seed(docs, 21, "a");
    const uint64_t b = seed(a, 21, "b");
    ASSERT_EQ(act(GET_NODES)->getErrorCode(), 0);

    // A cache that holds the folders but not their children, as partial loads leave it.
    facade_.reset();
    taskManager_.drain();
    editCache("UPDATE nodes SET full = 0 WHERE id = " + std::to_string(sorts) + ";" +
              "DELETE FROM nodes WHERE parent = " + std::to_string(sorts) + ";" + "DELETE FROM nodes WHERE id IN (" +
              std::to_string(a) + "," + std::to_string(b) + ");");
    restart();
    service_.clearRequests();
    ASSERT_EQ(act(GET_NODES)->getErrorCode(), 0);
    ASSERT_TRUE(sentGetNodes().empty());

    auto first = act(GET_CHILDREN, [&](MutableActionData& d) {
        d.setParentHandle(sorts);
        d.setValue(1);
    });
    ASSERT_EQ(first->getErrorCode(), 0);
    EXPECT_EQ(first->getNode()->getId(), sorts);
    EXPECT_EQ(namesOf(first->getNodes()), (std::vector<std::string>{"Alpha", "beta", "Item 9", "item 10"}));
    EXPECT_EQ(sentGetNodes(), (std::vector<SentGetNodes>{{sorts, 1, 0, 0}}));

    struct Case {
        const char* name;
        int32_t option;
        int32_t order;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"natural name, descending", 0, -1, {"beta", "Alpha", "item 10", "Item 9"}},
        {"case-insensitive bytes", 0, 3, {"Alpha", "beta", "item 10", "Item 9"}},
        {"files by creation", kFilesOnly, 4, {"item 10", "Item 9"}},
        {"folders by creation, descending", kFoldersOnly, -5, {"beta", "Alpha"}},
        {"files by name", kFilesOnly, 2, {"Item 9", "item 10"}},
    };
    service_.clearRequests();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto listed = act(GET_CHILDREN, [&](MutableActionData& d) {
            d.setParentHandle(sorts);
            d.setOption(c.option);
            d.setValue(c.order);
        });
        ASSERT_EQ(listed->getErrorCode(), 0);
        EXPECT_EQ(namesOf(listed->getNodes()), c.names);
    }
    EXPECT_TRUE(sentGetNodes().empty()) << "a full folder is listed from the cache";

    // The cache reaches docs only: exactly the two missing levels are fetched below it.
    auto deep = act(GET_NODE, [](MutableActionData& d) { d.setText("/docs/a/b"); });
    ASSERT_EQ(deep->getErrorCode(), 0);
    ASSERT_TRUE(deep->getNode());
    EXPECT_EQ(deep->getNode()->getId(), b);
    EXPECT_EQ(sentGetNodes(), (std::vector<SentGetNodes>{{docs, 2, 0, 0}}));
    service_.clearRequests();
    auto cachedNow = act(GET_NODE, [](MutableActionData& d) { d.setText("/docs/a/b"); });
    EXPECT_EQ(cachedNow->getErrorCode(), 0);
    EXPECT_EQ(act(GET_PATH, [&](MutableActionData& d) { d.setNodeHandle(b); })->getTextString(), "/docs/a/b");
    EXPECT_TRUE(sentGetNodes().empty());

    // A name the service does not have either: one level asked for, then not found.
    auto missing = act(GET_NODE, [](MutableActionData& d) { d.setText("/docs/a/b/nothing"); });
    EXPECT_EQ(missing->getErrorCode(), 1);
    EXPECT_EQ(sentGetNodes(), (std::vector<SentGetNodes>{{b, 1, 0, 0}}));
}

}  // namespace
}  // namespace corvane
