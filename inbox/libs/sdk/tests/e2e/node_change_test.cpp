// Node change requests through the real request channel against the loopback stand-in: the
// service's answer lands in the cloud cache and raises the SDK event.
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "request/cloud_request.h"
#include "stand_in_service.h"
#include "support/e2e_api_manager.h"
#include "support/event_journal.h"
#include "support/stand_in_account.h"
#include "support/stand_in_deployment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

constexpr uint64_t kClientId = 0x0102030405060708ULL;

class FinishWaiter : public RequestListener {
public:
    void finished(std::shared_ptr<Request>) override { promise_.set_value(); }
    bool wait() { return future_.wait_for(60s) == std::future_status::ready; }

private:
    std::promise<void> promise_;
    std::future<void> future_ = promise_.get_future();
};

class NodeChangeEndToEnd : public test::LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::PinOnly);
        const test::StandInAccount standIn = test::makeStandInAccount(service_.accounts());
        root_ = standIn.root;
        const std::string session = standIn.ours;
        ASSERT_NE(standIn.account, 0u);
        ASSERT_NE(root_, 0u);
        ASSERT_FALSE(session.empty());

        // The same root in the local cache, its filesystem holding a key of the test's own.
        {
            test::CacheFile cache(h.cacheFile());
            test::putCachedRoot(cache, test::CloudHarness::kAccountId, 1, root_);
        }
        h.initialize();
        ASSERT_TRUE(h.loadCache());

        dispatcher_.addEventListener(&events_);
        manager_ = std::make_unique<test::E2eApiManager>(&dispatcher_, &h.mainLoop);
        manager_->cloud = h.cloud.get();
        manager_->clientId = kClientId;
        manager_->email = "ada@example.test";
        h.onLoop([&] { manager_->setSession(session); });
    }

    void TearDown() override {
        // Nothing may run on the main loop while the manager goes away.
        h.mainLoop.stop();
        h.mainLoop.join();
        manager_.reset();
        dispatcher_.removeEventListener(&events_);
        service_.stop();
        deployment_.reset();
    }

    // Sends the request through the channel and waits until its answer has been applied.
    bool send(std::shared_ptr<NetworkRequest> request) {
        FinishWaiter waiter;
        h.mainLoop.post([&] { manager_->enqueueApiRequest(request, &waiter); });
        const bool finished = waiter.wait();
        // The event follows the finish in the same turn of the loop.
        h.onLoop([] {});
        return finished;
    }

    service::StandInService service_;
    std::unique_ptr<test::StandInDeployment> deployment_;
    test::CloudHarness h;
    CallbackDispatcher dispatcher_;
    test::EventJournal events_;
    std::unique_ptr<test::E2eApiManager> manager_;
    uint64_t root_ = 0;
};

TEST_F(NodeChangeEndToEnd, AddedThenRenamedFolderIsCachedWithItsNewName) {
    // A new folder sealed as the SDK seals it: attributes under its own key, the key wrapped
    // under the master key. The service gives it its handle.
    const Bytes key = test::patternKey(60);
    auto folder = test::sealedFolder(root_, key, h.masterKey, "made");

    auto adding = std::make_shared<MutableActionData>(TEST);
    adding->setParentHandle(root_);
    ASSERT_TRUE(send(std::make_shared<AddNodesRequest>(
        adding, std::make_shared<EncryptedNodeList>(EncryptedNodeList{folder}), kClientId)));
    ASSERT_EQ(adding->getErrorCode(), 0);
    ASSERT_NE(adding->getNode(), nullptr);
    const uint64_t made = adding->getNode()->getId();
    EXPECT_NE(made, 0u);
    EXPECT_EQ(adding->getNode()->getParent(), root_);
    auto added = events_.take();
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0]->getType(), EVENT_NEW_NODES);
    EXPECT_FALSE(added[0]->isExternal());
    EXPECT_STREQ(added[0]->getName(), "/made");
    auto cached = h.nodeById(made);
    ASSERT_NE(cached, nullptr);
    EXPECT_STREQ(cached->getOwnName(), "made");

    auto renaming = std::make_shared<MutableActionData>(TEST);
    renaming->setNodeHandle(made);
    const Bytes renamed = test::gcmSeal(key, 32, test::attributesRecord("renamed"));
    renaming->setAttributes(new ByteVector(renamed));
    ASSERT_TRUE(send(std::make_shared<RenameNodeRequest>(renaming, kClientId)));
    ASSERT_EQ(renaming->getErrorCode(), 0);
    ASSERT_NE(renaming->getNode(), nullptr);
    EXPECT_STREQ(renaming->getNode()->getOwnName(), "renamed");
    auto updated = events_.take();
    ASSERT_EQ(updated.size(), 1u);
    EXPECT_EQ(updated[0]->getType(), EVENT_UPDATED_NODE);
    EXPECT_STREQ(updated[0]->getName(), "/made");
    EXPECT_STREQ(updated[0]->getOldName(), "renamed");
    EXPECT_FALSE(updated[0]->isExternal());
    cached = h.nodeById(made);
    ASSERT_NE(cached, nullptr);
    EXPECT_STREQ(cached->getOwnName(), "renamed");
}

TEST_F(NodeChangeEndToEnd, RenameOfANodeTheServiceLacksLeavesTheCacheAndReportsNotFound) {
    auto renaming = std::make_shared<MutableActionData>(TEST);
    renaming->setNodeHandle(root_ + 1000);
    renaming->setAttributes(new ByteVector{1, 2, 3});
    ASSERT_TRUE(send(std::make_shared<RenameNodeRequest>(renaming, kClientId)));
    EXPECT_EQ(renaming->getErrorCode(), NOT_FOUND);
    EXPECT_TRUE(events_.take().empty());
    EXPECT_NE(h.nodeById(root_), nullptr);
}

}  // namespace
}  // namespace corvane
