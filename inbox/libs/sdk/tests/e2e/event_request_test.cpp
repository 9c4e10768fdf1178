// The events and status requests framing real batches against the loopback stand-in: a change
// made through another session reaches this session's cloud cache.
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
constexpr uint64_t kOtherClientId = 0x0a0b0c0d0e0f1011ULL;

// Counts finished requests; waits for a given count.
class FinishCounter : public RequestListener {
public:
    void finished(std::shared_ptr<Request>) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    bool waitFor(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

class EventsEndToEnd : public test::LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::PinOnly);
        service::AccountDirectory& accounts = service_.accounts();
        const test::StandInAccount standIn = test::makeStandInAccount(accounts);
        account_ = standIn.account;
        root_ = standIn.root;
        session_ = standIn.ours;
        ASSERT_NE(account_, 0u);
        ASSERT_NE(root_, 0u);
        const std::string other = standIn.theirs;
        ASSERT_FALSE(session_.empty());
        ASSERT_FALSE(other.empty());

        // This session's cache is up to date with the account: the same root, the same status.
        {
            test::CacheFile cache(h.cacheFile());
            test::putCachedRoot(cache, test::CloudHarness::kAccountId, accounts.accountStatus(account_), root_);
        }
        h.initialize();
        ASSERT_TRUE(h.loadCache());

        dispatcher_.addEventListener(&events_);
        manager_ = std::make_unique<test::E2eApiManager>(&dispatcher_, &h.mainLoop);
        manager_->cloud = h.cloud.get();
        manager_->clientId = kClientId;
        manager_->email = "ada@example.test";
        // The other session only sends: it has no cache of its own here.
        otherManager_ = std::make_unique<test::E2eApiManager>(&otherDispatcher_, &h.mainLoop);
        otherManager_->clientId = kOtherClientId;
        h.onLoop([&] {
            manager_->setSession(session_);
            manager_->installPersistentRequests(&statusFinishes_);
            otherManager_->setSession(other);
        });
    }

    void TearDown() override {
        h.mainLoop.stop();
        h.mainLoop.join();
        otherManager_.reset();
        manager_.reset();
        dispatcher_.removeEventListener(&events_);
        service_.stop();
        deployment_.reset();
    }

    // One batch of this session with nothing queued; waits until its status request ended.
    bool poll(int batch) {
        h.mainLoop.post([&] { manager_->pollEvents(); });
        const bool done = statusFinishes_.waitFor(batch);
        h.onLoop([] {});
        return done;
    }

    service::StandInService service_;
    std::unique_ptr<test::StandInDeployment> deployment_;
    test::CloudHarness h;
    CallbackDispatcher dispatcher_;
    CallbackDispatcher otherDispatcher_;
    test::EventJournal events_;
    FinishCounter statusFinishes_;
    std::unique_ptr<test::E2eApiManager> manager_;
    std::unique_ptr<test::E2eApiManager> otherManager_;
    std::string session_;
    uint64_t account_ = 0;
    uint64_t root_ = 0;
};

TEST_F(EventsEndToEnd, AFolderAddedThroughAnotherSessionReachesThisCache) {
    h.onLoop([&] { manager_->backupsInitialized = false; });
    // Sealed for this user: attributes under the folder's key, the key under the master key.
    const Bytes key = test::patternKey(60);
    auto folder = test::sealedFolder(root_, key, h.masterKey, "elsewhere");
    auto adding = std::make_shared<MutableActionData>(TEST);
    adding->setParentHandle(root_);
    FinishCounter added;
    h.mainLoop.post([&] {
        otherManager_->enqueueApiRequest(
            std::make_shared<AddNodesRequest>(adding, std::make_shared<EncryptedNodeList>(EncryptedNodeList{folder}),
                                              kOtherClientId),
            &added);
    });
    ASSERT_TRUE(added.waitFor(1));
    const uint64_t status = service_.accounts().accountStatus(account_);

    ASSERT_TRUE(poll(1));
    auto events = events_.take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->getType(), EVENT_NEW_NODES);
    EXPECT_TRUE(events[0]->isExternal());
    EXPECT_EQ(events[0]->getClientId(), kOtherClientId);
    EXPECT_STREQ(events[0]->getName(), "/elsewhere");
    ASSERT_NE(events[0]->getNode(), nullptr);
    const uint64_t made = events[0]->getNode()->getId();
    // The first cycle with the backups not set up announces the account.
    EXPECT_EQ(events[1]->getType(), EVENT_ACCOUNT_READY);
    auto cached = h.nodeById(made);
    ASSERT_NE(cached, nullptr);
    EXPECT_STREQ(cached->getOwnName(), "elsewhere");
    EXPECT_EQ(h.onLoop([&] { return h.cloud->getCloudState(); }), status);
    EXPECT_EQ(h.onLoop([&] { return manager_->accountStatus; }), status);
    EXPECT_NE(h.onLoop([&] { return manager_->pollLink; }).find("/events/"), std::string::npos);

    // Nothing new: the next batch changes nothing and announces nothing.
    ASSERT_TRUE(poll(2));
    EXPECT_TRUE(events_.take().empty());
    EXPECT_EQ(test::CacheFile(h.cacheFile()).account(test::CloudHarness::kAccountId)->getStatus(), status);
}

TEST_F(EventsEndToEnd, ASnapshotWithoutNodesLeavesTheCacheAsItWas) {
    h.onLoop([&] { manager_->backupsInitialized = false; });
    ASSERT_TRUE(service_.accounts().forceSnapshot(session_, service::Snapshot::Empty));
    ASSERT_TRUE(poll(1));
    EXPECT_TRUE(events_.take().empty());
    EXPECT_NE(h.nodeById(root_), nullptr);
    EXPECT_EQ(h.onLoop([&] { return h.cloud->getMainRoot() ? h.cloud->getMainRoot()->getId() : 0; }), root_);
}

}  // namespace
}  // namespace corvane
