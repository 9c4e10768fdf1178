// The node changing actions through one facade against the loopback stand-in over TLS, with a
// second facade signed in to the same account: after every change the stand-in's store, the
// actor's cache and the other session's cache agree, and only the other session's events are
// flagged external.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "corvane/action_types.h"
#include "corvane/event_data.h"
#include "corvane/node_data.h"
#include "database/mutable_node_data.h"
#include "support/event_journal.h"
#include "support/facade_fixture.h"

namespace corvane {
namespace {

constexpr const char* kEmail = "grace.hopper@example.com";
constexpr const char* kPassword = "a ship in harbour is safe";
constexpr int32_t kNoCode = -1;
constexpr int32_t kRecycleBin = 2;
constexpr size_t kSubtreeSize = 50;

// What a node action left: its error and the node it reports.
struct NodeOutcome {
    int32_t error = -1;
    uint64_t node = 0;
    uint64_t parent = 0;
    std::string name;
};

class NodeOutcomeListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        outcome_.error = action->getErrorCode();
        if (auto node = action->getNode()) {
            outcome_.node = node->getId();
            outcome_.parent = node->getParent();
            outcome_.name = node->getName() != nullptr ? node->getName() : "";
        }
        finished_ = true;
        changed_.notify_all();
    }

    std::optional<NodeOutcome> wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(120), [&] { return finished_; })) {
            return std::nullopt;
        }
        return outcome_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    NodeOutcome outcome_;
};

class NodeChangeAgreementTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        // The long poll is not pinned: the stand-in's certificate is trusted as a CA, and the
        // facade is made again so that it reads that.
        facade_.reset();
        deployment_.reset();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        facade_ = std::make_unique<Corvane>(&taskManager_, &settings_);
        ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
        auto user = service_.accounts().userByEmail(kEmail);
        ASSERT_TRUE(user.has_value());
        account_ = user->mainAccount;
        facade_->addEventListener(&actorEvents_);
        ASSERT_EQ(run(GET_NODES, [](MutableActionData&) {}).error, 0);

        peerSettings_.setDataPath(peerDir_.path());
        peer_ = std::make_unique<Corvane>(&taskManager_, &peerSettings_);
        peer_->addEventListener(&peerEvents_);
        ASSERT_EQ(run(*peer_, LOGIN,
                      [](MutableActionData& a) {
                          a.setEmail(kEmail);
                          a.setPassword(kPassword);
                          a.setValue(kNoCode);
                      })
                      .error,
                  0);
        ASSERT_EQ(run(*peer_, GET_NODES, [](MutableActionData&) {}).error, 0);
        mainRoot_ = node(*facade_, GET_ROOT, [](MutableActionData& a) { a.setOption(0); }).node;
        recycleBin_ = node(*facade_, GET_ROOT, [](MutableActionData& a) { a.setOption(kRecycleBin); }).node;
        ASSERT_NE(mainRoot_, 0u);
        ASSERT_NE(recycleBin_, 0u);
    }

    void TearDown() override {
        if (peer_) {
            peer_->removeEventListener(&peerEvents_);
            peer_.reset();
        }
        facade_->removeEventListener(&actorEvents_);
        FacadeFixture::TearDown();
    }

    NodeOutcome node(Corvane& facade, int32_t type, const Fill& fill) {
        NodeOutcomeListener listener;
        test::FacadeAccess::submit(facade, type, &listener, fill);
        std::optional<NodeOutcome> outcome = listener.wait();
        taskManager_.drain();
        EXPECT_TRUE(outcome.has_value()) << getActionTypeName(type) << " never finished";
        return outcome.value_or(NodeOutcome());
    }

    NodeOutcome change(int32_t type, const Fill& fill) { return node(*facade_, type, fill); }

    NodeOutcome cached(Corvane& facade, uint64_t handle) {
        return node(facade, GET_NODE, [handle](MutableActionData& a) { a.setNodeHandle(handle); });
    }

    size_t storedChildren(uint64_t parent) {
        size_t count = 0;
        for (const auto& stored : service_.accounts().nodes(account_)) {
            count += stored.parent == parent ? 1 : 0;
        }
        return count;
    }

    // The node under the parent with the name in both caches, and under the parent in the
    // stand-in's store.
    void expectAgreed(uint64_t handle, uint64_t parent, const std::string& name) {
        auto stored = service_.accounts().node(account_, handle);
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->parent, parent);
        for (Corvane* facade : {facade_.get(), peer_.get()}) {
            SCOPED_TRACE(facade == peer_.get() ? "other session" : "actor");
            const NodeOutcome found = cached(*facade, handle);
            EXPECT_EQ(found.error, 0);
            EXPECT_EQ(found.parent, parent);
            EXPECT_EQ(found.name, name);
        }
    }

    void expectGone(uint64_t handle) {
        EXPECT_FALSE(service_.accounts().node(account_, handle).has_value());
        EXPECT_EQ(storedChildren(handle), 0u);
        for (Corvane* facade : {facade_.get(), peer_.get()}) {
            SCOPED_TRACE(facade == peer_.get() ? "other session" : "actor");
            EXPECT_EQ(cached(*facade, handle).error, NOT_FOUND);
        }
    }

    // Waits for the event on both sides: the other session's is external, the actor's not.
    // Returns the other session's.
    std::shared_ptr<EventData> expectEvent(const std::string& type, size_t& actorFrom, size_t& peerFrom) {
        EXPECT_TRUE(actorEvents_.waitFor(type, actorFrom)) << "the actor heard no " << type;
        EXPECT_TRUE(peerEvents_.waitFor(type, peerFrom)) << "the other session heard no " << type;
        auto find = [&](test::EventJournal& journal, size_t& from) -> std::shared_ptr<EventData> {
            const auto events = journal.events();
            std::shared_ptr<EventData> found;
            for (size_t i = from; i < events.size(); ++i) {
                if (events[i]->getTypeName() == type) {
                    found = events[i];
                    from = i + 1;
                    break;
                }
            }
            return found;
        };
        auto actor = find(actorEvents_, actorFrom);
        auto peer = find(peerEvents_, peerFrom);
        if (actor) {
            EXPECT_FALSE(actor->isExternal()) << type;
        }
        if (peer) {
            EXPECT_TRUE(peer->isExternal()) << type;
        }
        return peer;
    }

    static Fill addition(uint64_t parent, std::vector<std::shared_ptr<NodeData>> nodes) {
        auto list = std::make_shared<NodeList>(std::move(nodes));
        return [parent, list](MutableActionData& a) {
            a.setParentHandle(parent);
            a.setNodes(list);
        };
    }

    static std::shared_ptr<NodeData> newFolder(uint64_t id, uint64_t parent, const std::string& name) {
        auto folder = std::make_shared<MutableNodeData>();
        folder->setId(id);
        folder->setType(21);
        folder->setParent(parent);
        folder->setName(name.c_str());
        return folder;
    }

    test::CloudTempDir peerDir_;
    CorvaneSettings peerSettings_;
    std::unique_ptr<Corvane> peer_;
    test::EventJournal actorEvents_;
    test::EventJournal peerEvents_;
    uint64_t account_ = 0;
    uint64_t mainRoot_ = 0;
    uint64_t recycleBin_ = 0;
};

TEST_F(NodeChangeAgreementTest, EveryChangeReachesTheStandInBothCachesAndTheOtherSessionAsExternal) {
    size_t actorFrom = actorEvents_.events().size();
    size_t peerFrom = peerEvents_.events().size();

    // A folder, then a folder with 49 subfolders in one addition.
    const NodeOutcome top = change(ADD_NODES, addition(mainRoot_, {newFolder(0, mainRoot_, "top")}));
    ASSERT_EQ(top.error, 0);
    expectEvent("NEW_NODES", actorFrom, peerFrom);
    expectAgreed(top.node, mainRoot_, "top");

    std::vector<std::shared_ptr<NodeData>> subtree{newFolder(1, mainRoot_, "source")};
    for (uint64_t id = 2; id <= kSubtreeSize; ++id) {
        subtree.push_back(newFolder(id, 1, "item " + std::to_string(id)));
    }
    const NodeOutcome source = change(ADD_NODES, addition(mainRoot_, subtree));
    ASSERT_EQ(source.error, 0);
    auto added = expectEvent("NEW_NODES", actorFrom, peerFrom);
    ASSERT_NE(added, nullptr);
    ASSERT_NE(added->getNodes(), nullptr);
    EXPECT_EQ(added->getNodes()->size(), kSubtreeSize);
    expectAgreed(source.node, mainRoot_, "source");
    EXPECT_EQ(storedChildren(source.node), kSubtreeSize - 1);

    const NodeOutcome renamed = change(RENAME_NODE, [&](MutableActionData& a) {
        a.setNodeHandle(source.node);
        a.setName("renamed");
    });
    ASSERT_EQ(renamed.error, 0);
    expectEvent("UPDATED_NODE", actorFrom, peerFrom);
    expectAgreed(source.node, mainRoot_, "renamed");

    const NodeOutcome moved = change(MOVE_NODE, [&](MutableActionData& a) {
        a.setNodeHandle(source.node);
        a.setParentHandle(top.node);
    });
    ASSERT_EQ(moved.error, 0);
    expectEvent("MOVED_NODE", actorFrom, peerFrom);
    expectAgreed(source.node, top.node, "renamed");

    const NodeOutcome copied = change(COPY_NODE, [&](MutableActionData& a) {
        a.setNodeHandle(source.node);
        a.setParentHandle(mainRoot_);
    });
    ASSERT_EQ(copied.error, 0);
    ASSERT_NE(copied.node, source.node);
    auto copies = expectEvent("NEW_NODES", actorFrom, peerFrom);
    ASSERT_NE(copies, nullptr);
    ASSERT_NE(copies->getNodes(), nullptr);
    EXPECT_EQ(copies->getNodes()->size(), kSubtreeSize);
    expectAgreed(copied.node, mainRoot_, "renamed");
    EXPECT_EQ(storedChildren(copied.node), kSubtreeSize - 1);
    // The original stays where it was.
    expectAgreed(source.node, top.node, "renamed");

    // Into the recycle bin first; from there, for good.
    const NodeOutcome binned = change(DELETE_NODE, [&](MutableActionData& a) {
        a.setNodeHandle(copied.node);
        a.setValue(1);
    });
    ASSERT_EQ(binned.error, 0);
    expectEvent("MOVED_NODE", actorFrom, peerFrom);
    expectAgreed(copied.node, recycleBin_, "renamed");
    EXPECT_EQ(storedChildren(copied.node), kSubtreeSize - 1);

    const NodeOutcome deleted = change(DELETE_NODE, [&](MutableActionData& a) {
        a.setNodeHandle(copied.node);
        a.setValue(1);
    });
    ASSERT_EQ(deleted.error, 0);
    expectEvent("DELETED_NODE", actorFrom, peerFrom);
    expectGone(copied.node);
    expectAgreed(source.node, top.node, "renamed");
}

}  // namespace
}  // namespace corvane
