// The API manager that builds and owns every module, against the loopback stand-in: its
// construction and destruction, ids, User-Agent and speed limits, a module loop that cannot
// start, connectivity, sign-out, cache loading, the node-key rewrite and private downloads.
#include "client/sdk_api_manager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "account_directory.h"
#include "add_nodes_response_generated.h"
#include "cloud/cloud.h"
#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "execution/callback_dispatcher.h"
#include "http/http_module.h"
#include "loop/libuv_loop.h"
#include "request/cloud_request.h"
#include "request/event_request.h"
#include "request/metadata_request.h"
#include "rewrite_keys_message_generated.h"
#include "rewrite_keys_response_generated.h"
#include "stand_in_service.h"
#include "support/event_journal.h"
#include "support/log_capture.h"
#include "support/recording_listeners.h"
#include "support/run_on_loop.h"
#include "support/stand_in_account.h"
#include "support/stand_in_deployment.h"
#include "util/deployment.h"

namespace corvane {
namespace {

// A stand-in on loopback with the deployment pointed at it, a running SDK main loop and a
// dispatcher that delivers on it; managers are made and destroyed the way the facade does (the
// main loop stops before its manager goes).
class SdkApiManagerTest : public test::LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::PinOnly);
        ASSERT_FALSE(mainLoop_.start());
        dispatcher_.addEventListener(&events_);
        settings_.setDataPath(dataDir_.path());
    }

    void TearDown() override {
        mainLoop_.stop();
        mainLoop_.join();
        managers_.clear();
        service_.stop();
        deployment_.reset();
    }

    // With the test's data folder, so that caches never land elsewhere.
    SdkApiManager* makeManager() { return makeManager(&settings_); }
    SdkApiManager* makeManager(const CorvaneSettings* settings) {
        managers_.push_back(std::make_unique<SdkApiManager>(&dispatcher_, &mainLoop_, settings));
        return managers_.back().get();
    }

    template <typename Function>
    auto onMain(Function function) -> decltype(function()) {
        return test::runOnLoop(mainLoop_, std::move(function));
    }

    // Runs an operation that takes a completion on the main loop and waits for the completion.
    void callAndWait(const std::function<void(std::function<void()>)>& start) {
        std::promise<void> done;
        mainLoop_.post([&] { start([&done] { done.set_value(); }); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    }

    // A user with an account and a session on the stand-in.
    struct StandInSession {
        uint64_t user = 0;
        uint64_t account = 0;
        std::string id;
    };
    StandInSession makeStandInSession(const std::string& email = "ada@example.test") {
        StandInSession session;
        session.user = service_.accounts().createUser(email);
        session.account = service_.accounts().createAccount(session.user);
        session.id = service_.accounts().createSession(session.user, session.account);
        return session;
    }

    // An account with a cloud drive root and two sessions of its user on the stand-in.
    test::StandInAccount makeStandInAccount() { return test::makeStandInAccount(service_.accounts()); }

    // The long poll is not pinned: the stand-in's certificate is trusted as a CA.
    void trustStandInAsCa() {
        deployment_.reset();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
    }

    // Sends a status request of its own through the manager and waits for its end; its error.
    int32_t askStatus(SdkApiManager* manager) {
        auto status = std::make_shared<GetStatusRequest>(manager);
        struct Waiter : RequestListener {
            std::promise<void> done;
            void finished(std::shared_ptr<Request>) override { done.set_value(); }
        } waiter;
        onMain([&] { manager->enqueueApiRequest(status, &waiter); });
        EXPECT_EQ(waiter.done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        return status->getError();
    }

    // Takes the session over as a sign-in request would.
    void signIn(SdkApiManager* manager, const std::string& session, uint64_t accountId,
                const std::string& email = "ada@example.test") {
        callAndWait([&](std::function<void()> done) {
            manager->setSession(email.c_str(), session.c_str(), test::patternKey(4), test::patternKey(5), masterKey_,
                                fingerprintKey_, accountKey_, 77, accountId, 0, 0, done);
        });
    }

    bool loadCache(SdkApiManager* manager) {
        std::promise<bool> loaded;
        mainLoop_.post([&] { manager->loadCache([&](bool result) { loaded.set_value(result); }); });
        auto future = loaded.get_future();
        EXPECT_EQ(future.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        return future.get();
    }

    const std::vector<uint8_t> masterKey_ = test::patternKey(1);
    const std::vector<uint8_t> accountKey_ = test::patternKey(2);
    const std::vector<uint8_t> fingerprintKey_ = test::patternKey(3);
    test::CloudTempDir dataDir_;
    CorvaneSettings settings_;
    // Outlive the managers, which may still finish actions and raise events as they go.
    test::EventJournal events_;
    test::RecordingActionListener actions_{
        test::RecordingActionListener::Options{"", test::RecordingActionListener::errorCode, false, false, nullptr}};
    service::StandInService service_;
    std::unique_ptr<test::StandInDeployment> deployment_;
    LibuvLoop mainLoop_;
    CallbackDispatcher dispatcher_;
    std::vector<std::unique_ptr<SdkApiManager>> managers_;
};

TEST_F(SdkApiManagerTest, ConstructsAndDestroysRepeatedly) {
    for (int round = 0; round < 5; ++round) {
        SdkApiManager manager(&dispatcher_, &mainLoop_, nullptr);
        EXPECT_FALSE(manager.startError());
        EXPECT_NE(manager.getCloud(), nullptr);
        EXPECT_NE(manager.getExecutionManager(), nullptr);
        EXPECT_NE(manager.getHttpModule(), nullptr);
        EXPECT_EQ(manager.getLoop(), &mainLoop_);
        EXPECT_EQ(manager.getThreadId(), mainLoop_.getThreadId());
        EXPECT_EQ(manager.getAccountStatus(), 0u);
        EXPECT_TRUE(manager.getSession().empty());
    }
}

TEST_F(SdkApiManagerTest, TwoManagersHaveDistinctClientIdsAndShareTheSequenceCounter) {
    SdkApiManager* first = makeManager();
    SdkApiManager* second = makeManager();
    EXPECT_NE(first->getClientId(), second->getClientId());
    for (SdkApiManager* manager : {first, second}) {
        uint64_t id = manager->getClientId();
        EXPECT_EQ(id & 0xFF, 0u) << std::hex << id;
        EXPECT_EQ(id >> 56, 0u) << std::hex << id;
        EXPECT_NE(id, 0u);
    }

    test::RecordingActionListener listener(test::RecordingActionListener::Options{
        "", [](const ActionData& action) { return std::to_string(action.getSequenceId()); }, false, true, nullptr});
    std::vector<std::shared_ptr<MutableActionData>> actions;
    for (int i = 0; i < 4; ++i) {
        actions.push_back(dispatcher_.createAction(TEST, &listener));
    }
    // Alternating managers: the ids keep rising across both.
    onMain([&] {
        first->enqueueAction(actions[0]);
        second->enqueueAction(actions[1]);
        first->enqueueAction(actions[2]);
        second->enqueueAction(actions[3]);
    });
    listener.waitForFinishes(4);
    onMain([] {});
    for (size_t i = 1; i < actions.size(); ++i) {
        EXPECT_GT(actions[i]->getSequenceId(), actions[i - 1]->getSequenceId());
    }
    EXPECT_GT(actions[0]->getSequenceId(), 0);
}

TEST_F(SdkApiManagerTest, UserAgentNamesTheApplicationOnlyWhenGiven) {
    SdkApiManager* bare = makeManager(nullptr);
    const std::string& text = bare->getUserAgent();
    const std::string prefix = "CorvaneSDK/2.1.0 (7438a6d2) Linux/";
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    const std::string suffix = " (x86)";
    ASSERT_GT(text.size(), prefix.size() + suffix.size());
    EXPECT_EQ(text.compare(text.size() - suffix.size(), suffix.size(), suffix), 0) << text;
    // major.minor.build in decimal.
    std::string version = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    int dots = 0;
    for (char c : version) {
        if (c == '.') {
            ++dots;
        } else {
            EXPECT_TRUE(c >= '0' && c <= '9') << version;
        }
    }
    EXPECT_EQ(dots, 2) << version;

    CorvaneSettings settings = settings_;
    settings.setUserAgent("Tembra/1.0.0.0");
    SdkApiManager* named = makeManager(&settings);
    EXPECT_EQ(named->getUserAgent(), "Tembra/1.0.0.0 " + text);
    EXPECT_EQ(named->getSettings().getUserAgent(), "Tembra/1.0.0.0");
}

TEST_F(SdkApiManagerTest, SpeedLimitsAreKilobytesPerSecondPerDirection) {
    SdkApiManager* manager = makeManager();
    manager->setTransferSpeedLimit(1, 500);
    EXPECT_EQ(manager->getHttpModule()->getDownloadSpeedLimit(), 500000u);
    EXPECT_EQ(manager->getTransferSpeedLimit(1), 500u);
    EXPECT_EQ(manager->getTransferSpeedLimit(0), 0u);

    manager->setTransferSpeedLimit(0, 7);
    EXPECT_EQ(manager->getHttpModule()->getUploadSpeedLimit(), 7000u);
    EXPECT_EQ(manager->getTransferSpeedLimit(0), 7u);

    manager->setTransferSpeedLimit(2, 900);
    EXPECT_EQ(manager->getTransferSpeedLimit(2), 0u);
    EXPECT_EQ(manager->getTransferSpeedLimit(1), 500u);
    EXPECT_EQ(manager->getTransferSpeedLimit(0), 7u);

    manager->setTransferSpeedLimit(1, 0);
    EXPECT_EQ(manager->getTransferSpeedLimit(1), 0u);
}

// Each of the five module loops in turn fails to start: the manager says so, ends requests with
// error 11 instead of posting them into a dead loop, and goes away without waiting.
TEST_F(SdkApiManagerTest, ModuleLoopThatCannotStartFailsRequestsAndStopsCleanly) {
    for (int failing = 1; failing <= 5; ++failing) {
        SCOPED_TRACE("failing start " + std::to_string(failing));
        std::atomic<int> starts{0};
        ThreadedLoop::setThreadStartHook([&starts, failing]() -> std::error_code {
            if (++starts == failing) {
                return std::make_error_code(std::errc::resource_unavailable_try_again);
            }
            return {};
        });
        auto manager = std::make_unique<SdkApiManager>(&dispatcher_, &mainLoop_, nullptr);
        ThreadedLoop::setThreadStartHook(nullptr);
        EXPECT_EQ(starts.load(), 5);
        EXPECT_EQ(manager->startError(), std::errc::resource_unavailable_try_again);

        test::RecordingActionListener listener;
        auto action = dispatcher_.createAction(TEST, &listener);
        onMain([&] { manager->enqueueAction(action); });
        listener.waitForFinishes(1);
        onMain([] {});
        EXPECT_EQ(listener.snapshot(), (std::vector<std::string>{"start", "processed", "finish"}));
        EXPECT_EQ(action->getErrorCode(), TEMPORARILY_UNAVAILABLE);
        onMain([&] { manager.reset(); });
    }
}

// What the HTTP notifications of the main transport make of connectivity.
TEST_F(SdkApiManagerTest, ConnectivityIsLostAtTheSixthAttemptWithoutAnswerAndRecoveredByAnyAnswer) {
    struct Step {
        bool end;  // an end notification (counts as 5 retries), else a retry notification
        int32_t retries;
        int32_t status;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {"five failures then the sixth, then an answer 500",
         {{false, 1, 0}, {false, 2, 0}, {false, 3, 0}, {false, 4, 0}, {false, 5, 0}, {false, 6, 0}, {true, 5, 500}},
         {"CONNECTIVITY:0", "CONNECTIVITY:1"}},
        {"an exchange ending without answer while online", {{true, 5, 0}}, {}},
        {"a loss is reported once", {{false, 6, 0}, {false, 7, 0}, {true, 5, 0}}, {"CONNECTIVITY:0"}},
        {"a cancelled attempt says nothing", {{false, 9, -1}, {true, 5, -1}}, {}},
        {"a retry with an answer recovers", {{false, 6, 0}, {false, 7, 503}}, {"CONNECTIVITY:0", "CONNECTIVITY:1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::EventJournal journal;
        dispatcher_.addEventListener(&journal);
        SdkApiManager* manager = makeManager();
        onMain([&] {
            HttpRequest record;
            for (const Step& step : c.steps) {
                if (step.end) {
                    record.status = step.status;
                    manager->onHttpRequestFinished(&record);
                } else {
                    manager->onHttpRequestRetry(&record, step.retries, step.status);
                }
            }
        });
        dispatcher_.removeEventListener(&journal);
        EXPECT_EQ(journal.entries(), c.events);
    }
}

// A stand-in whose key is not the pinned one is never talked to; the attempts without answer
// make the manager report the loss.
TEST_F(SdkApiManagerTest, StandInWithAnotherKeyGetsNoBatchAndConnectivityIsLost) {
    service::StandInService other;
    Deployment deployment = getDeployment();
    deployment.apiPin = other.pin();
    setDeployment(deployment);
    SdkApiManager* manager = makeManager();
    auto action = dispatcher_.createAction(TEST, &actions_);
    onMain([&] { manager->enqueueAction(action); });
    ASSERT_TRUE(events_.waitFor("CONNECTIVITY:0"));
    for (const auto& recorded : service_.requests()) {
        EXPECT_NE(recorded.path, "/api");
    }
    EXPECT_EQ(events_.entries(), (std::vector<std::string>{"CONNECTIVITY:0"}));
}

// A batch answered 403 signs the user out: LOGOUT, the cache file gone, every queued request
// and so every action ended with error 2.
TEST_F(SdkApiManagerTest, ForbiddenBatchLogsOutRemovesTheCacheAndFailsQueuedActions) {
    StandInSession session = makeStandInSession();
    SdkApiManager* manager = makeManager();
    signIn(manager, session.id, session.account);
    const std::string cacheFile = Cloud::cachePath(dataDir_.path(), session.id);
    ASSERT_TRUE(std::filesystem::exists(cacheFile)) << cacheFile;
    EXPECT_EQ(onMain([&] { return manager->getSession(); }), session.id);

    service::Fault forbidden;
    forbidden.pathPrefix = "/api";
    forbidden.status = 403;
    service_.addFault(forbidden);
    std::vector<std::shared_ptr<MutableActionData>> queued;
    for (int i = 0; i < 3; ++i) {
        queued.push_back(dispatcher_.createAction(TEST, &actions_));
    }
    onMain([&] {
        for (const auto& action : queued) {
            manager->enqueueAction(action);
        }
    });
    actions_.waitForFinishes(3);
    ASSERT_TRUE(events_.waitFor("LOGOUT"));
    // The cache goes after the session state; wait until the removal's completion could run.
    onMain([] {});
    for (const auto& action : queued) {
        EXPECT_EQ(action->getErrorCode(), FORBIDDEN);
    }
    EXPECT_EQ(events_.entries(), (std::vector<std::string>{"LOGOUT"}));
    onMain([&] {
        EXPECT_TRUE(manager->getSession().empty());
        EXPECT_TRUE(manager->getEmail().empty());
        EXPECT_EQ(manager->getUserId(), 0u);
        EXPECT_TRUE(manager->getUserKey().empty());
        EXPECT_TRUE(manager->getMasterKey().empty());
    });
    // The removal runs on the database loop; a later operation there completes after it.
    callAndWait([&](std::function<void()> done) { manager->getCloud()->reset(done); });
    EXPECT_FALSE(std::filesystem::exists(cacheFile)) << cacheFile;
}

TEST_F(SdkApiManagerTest, LogoutWithoutCompletionResetsEverythingAndRemovesTheCache) {
    SdkApiManager* manager = makeManager();
    signIn(manager, "session-one", 42);
    const std::string cacheFile = Cloud::cachePath(dataDir_.path(), "session-one");
    ASSERT_TRUE(std::filesystem::exists(cacheFile));
    onMain([&] {
        manager->queueNodeRewrite(3);
        manager->logout({});
    });
    // The removal runs on the database loop; its completion comes back to the main loop.
    callAndWait([&](std::function<void()> done) { manager->getCloud()->reset(done); });
    EXPECT_FALSE(std::filesystem::exists(cacheFile));
    onMain([&] {
        EXPECT_TRUE(manager->getRewriteSet().empty());
        EXPECT_EQ(manager->getAccountStatus(), 0u);
        EXPECT_TRUE(manager->getSession().empty());
    });
    EXPECT_TRUE(events_.entries().empty());
}

// A cache written under a session and read back after the session is taken over again.
class SdkApiManagerCacheTest : public SdkApiManagerTest {
protected:
    // Writes the status into the cache of the session, then closes the cache (file kept) and
    // takes the session over again, as the next start would.
    void writeCache(SdkApiManager* manager, const std::string& session, uint64_t account, uint64_t status) {
        signIn(manager, session, account);
        callAndWait([&](std::function<void()> done) {
            manager->beginCacheTransaction();
            manager->getCloud()->endTransaction(status, done);
        });
        callAndWait([&](std::function<void()> done) { manager->resetSession(done); });
        signIn(manager, session, account);
    }
};

TEST_F(SdkApiManagerCacheTest, CachedStatusZeroMakesTheAccountReadyWithoutABatch) {
    SdkApiManager* manager = makeManager();
    writeCache(manager, "cached-zero", 42, 0);
    ASSERT_TRUE(loadCache(manager));
    EXPECT_EQ(events_.entries(), (std::vector<std::string>{"ACCOUNT_READY"}));
    EXPECT_EQ(onMain([&] { return manager->getAccountStatus(); }), 0u);
    for (const auto& recorded : service_.requests()) {
        EXPECT_NE(recorded.path, "/api");
    }
    // Loaded once per sign-in: a second load finds nothing to load.
    EXPECT_FALSE(loadCache(manager));
}

// A cache that cannot be read is removed and the model starts again empty under the same
// session: the load reports false and the next sign-in finds no cache.
TEST_F(SdkApiManagerCacheTest, UnreadableCacheIsRemovedAndTheModelStartsEmpty) {
    SdkApiManager* manager = makeManager();
    writeCache(manager, "broken-cache", 42, 5);
    const std::string file = Cloud::cachePath(dataDir_.path(), "broken-cache");
    callAndWait([&](std::function<void()> done) { manager->resetSession(done); });
    {
        // The nodes table loses the column the load searches by.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(
            sqlite3_exec(
                db, "DROP INDEX IF EXISTS nodes_parent; DROP TABLE nodes; CREATE TABLE nodes (id INTEGER PRIMARY KEY);",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(db);
    }
    signIn(manager, "broken-cache", 42);
    ASSERT_TRUE(onMain([&] { return manager->getCloud()->isCacheAvailable(); }));
    EXPECT_FALSE(loadCache(manager));
    EXPECT_TRUE(events_.entries().empty());
    EXPECT_EQ(onMain([&] { return manager->getAccountStatus(); }), 0u);
    EXPECT_EQ(onMain([&] { return manager->getCloud()->getCloudState(); }), 0u);
    callAndWait([&](std::function<void()> done) { manager->resetSession(done); });
    signIn(manager, "broken-cache", 42);
    EXPECT_FALSE(onMain([&] { return manager->getCloud()->isCacheAvailable(); }));
}

TEST_F(SdkApiManagerCacheTest, WithoutCacheTheLoadReportsFalse) {
    SdkApiManager* manager = makeManager();
    signIn(manager, "fresh-session", 42);
    EXPECT_FALSE(loadCache(manager));
    EXPECT_TRUE(events_.entries().empty());
}

// Handles are rewritten in ascending order, one at a time: a missing node is skipped, a node
// that encrypts is sent in one RewriteKeys message with the client id.
TEST_F(SdkApiManagerTest, RewriteSendsTheNodesThatExistInOneRequest) {
    struct Case {
        const char* name;
        std::vector<uint64_t> queued;
        std::vector<uint64_t> sent;  // empty: no request at all
    };
    const std::vector<Case> cases = {
        {"a missing node and one that encrypts", {5, 9}, {9}},
        {"only a missing node", {5}, {}},
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::string> messages;
    service_.setBatchHandler("REKM", [&](const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back(message);
        arrived.notify_all();
        // Not found: the request only finishes.
        flatbuffers::FlatBufferBuilder builder;
        builder.Finish(CreateRewriteKeysResponse(builder, NOT_FOUND), "REKR");
        return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> lock(mutex);
            messages.clear();
        }
        SdkApiManager* manager = makeManager();
        signIn(manager, std::string("rewrite-") + std::to_string(c.queued.size()), 42);

        // A filesystem with its node key, its root and one file under it, all in RAM.
        const uint64_t filesystemId = uint64_t{10} << 15;
        const std::vector<uint8_t> filesystemNodeKey = test::patternKey(20);
        const std::vector<uint8_t> rootKey = test::patternKey(30);
        const std::vector<uint8_t> fileKey = test::patternKey(40);
        Cloud* cloud = manager->getCloud();
        std::promise<bool> added;
        mainLoop_.post([&] {
            auto filesystem = test::makeFilesystem(filesystemId, 0, 0, nullptr, nullptr);
            cloud->addFilesystemUsingNodeKey(filesystem, std::make_unique<std::vector<uint8_t>>(filesystemNodeKey),
                                             [&](bool ok) { added.set_value(ok); });
        });
        ASSERT_TRUE(added.get_future().get());
        std::promise<void> placed;
        mainLoop_.post([&] {
            auto root = test::makeNode(10, 0, 0, nullptr, filesystemId);
            root->setKey(&rootKey);
            cloud->updateNode(
                root,
                [&](Cloud::NodePointer) {
                    auto file = test::makeNode(9, 20, 10, "report.pdf", filesystemId);
                    file->setKey(&fileKey);
                    file->setCrypto(1);
                    cloud->updateNode(
                        file, [&](Cloud::NodePointer) { placed.set_value(); }, true);
                },
                true);
        });
        placed.get_future().wait();

        service_.clearRequests();
        onMain([&] {
            for (uint64_t handle : c.queued) {
                manager->queueNodeRewrite(handle);
            }
            manager->rewriteNodes();
            EXPECT_TRUE(manager->getRewriteSet().empty());
        });
        if (c.sent.empty()) {
            // The cloud's loops run in order: once a lookup issued now has come back, the
            // manager's own lookups have come back before it and it has decided.
            std::promise<void> looked;
            mainLoop_.post([&] { cloud->getNodeById(5, [&](Cloud::NodePointer) { looked.set_value(); }); });
            looked.get_future().wait();
            onMain([] {});
            std::lock_guard<std::mutex> lock(mutex);
            EXPECT_TRUE(messages.empty());
            for (const auto& recorded : service_.requests()) {
                EXPECT_NE(recorded.path, "/api");
            }
            continue;
        }
        {
            std::unique_lock<std::mutex> lock(mutex);
            ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(60), [&] { return !messages.empty(); }));
        }
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(messages.size(), 1u);
        std::vector<uint64_t> aligned((messages[0].size() + 7) / 8);
        std::memcpy(aligned.data(), messages[0].data(), messages[0].size());
        const auto* bytes = reinterpret_cast<const uint8_t*>(aligned.data());
        flatbuffers::Verifier verifier(bytes, messages[0].size());
        ASSERT_TRUE(verifier.VerifySizePrefixedBuffer<RewriteKeysMessage>("REKM"));
        const auto* message = flatbuffers::GetSizePrefixedRoot<RewriteKeysMessage>(bytes);
        EXPECT_EQ(message->clientId(), manager->getClientId());
        ASSERT_NE(message->nodes(), nullptr);
        std::vector<uint64_t> sent;
        for (const auto* node : *message->nodes()) {
            sent.push_back(node->handle());
            EXPECT_EQ(node->crypto(), 0);
        }
        EXPECT_EQ(sent, c.sent);
    }
}

TEST_F(SdkApiManagerTest, DownloadOfAMissingFileFailsWithTheAnswerBodyAfterOneAttempt) {
    deployment_.reset();
    deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
    service::Fault missing;
    missing.pathPrefix = "/blob/absent";
    missing.times = -1;
    missing.status = 404;
    missing.body = "no such file";
    service_.addFault(missing);
    SdkApiManager* manager = makeManager();
    struct Result {
        bool success = true;
        std::string body;
    };
    std::promise<Result> outcome;
    const std::string url = service_.baseUrl() + "/blob/absent";
    mainLoop_.post([&] {
        manager->downloadFile(url.c_str(), [&](bool success, const uint8_t* bytes, uint32_t length) {
            outcome.set_value(Result{success, std::string(reinterpret_cast<const char*>(bytes), length)});
        });
    });
    auto future = outcome.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    Result result = future.get();
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.body, "no such file");
    int attempts = 0;
    for (const auto& recorded : service_.requests()) {
        attempts += recorded.path == "/blob/absent" ? 1 : 0;
    }
    EXPECT_EQ(attempts, 1);
}

// A private exchange and the long poll still under way when the manager goes are dropped with
// it, and nothing is called back.
TEST_F(SdkApiManagerTest, ExchangesUnderWayAreDroppedWithTheManager) {
    trustStandInAsCa();
    service::Fault slow;
    slow.pathPrefix = "/blob/slow";
    slow.delay = std::chrono::seconds(30);
    service_.addFault(slow);
    service_.putBlob("slow", "late");
    test::StandInAccount standIn = makeStandInAccount();
    ASSERT_NE(standIn.root, 0u);
    SdkApiManager* manager = makeManager();
    signIn(manager, standIn.ours, standIn.account);
    ASSERT_EQ(askStatus(manager), 0);
    std::atomic<bool> called{false};
    const std::string url = service_.baseUrl() + "/blob/slow";
    onMain([&] { manager->downloadFile(url.c_str(), [&](bool, const uint8_t*, uint32_t) { called = true; }); });
    // Destroyed as the facade does, with the download and the long poll in flight.
    mainLoop_.stop();
    mainLoop_.join();
    managers_.clear();
    EXPECT_FALSE(called);
}

TEST_F(SdkApiManagerTest, DownloadHandsOverTheBytesOfAnAnswer200) {
    deployment_.reset();
    deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
    service_.putBlob("present", std::string("\0binary\xff", 8));
    SdkApiManager* manager = makeManager();
    std::promise<std::pair<bool, std::string>> outcome;
    const std::string url = service_.baseUrl() + "/blob/present";
    mainLoop_.post([&] {
        manager->downloadFile(url.c_str(), [&](bool success, const uint8_t* bytes, uint32_t length) {
            outcome.set_value({success, std::string(reinterpret_cast<const char*>(bytes), length)});
        });
    });
    auto future = outcome.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    auto result = future.get();
    EXPECT_TRUE(result.first);
    EXPECT_EQ(result.second, std::string("\0binary\xff", 8));
}

// The 4-character identifiers of the size-prefixed messages of one batch body, in order.
std::vector<std::string> batchIdentifiers(const std::string& body) {
    std::vector<std::string> identifiers;
    size_t offset = 0;
    while (offset + 12 <= body.size()) {
        uint32_t length = 0;
        std::memcpy(&length, body.data() + offset, 4);
        identifiers.push_back(body.substr(offset + 8, 4));
        offset += 4 + length;
    }
    return identifiers;
}

std::string messageOf(NetworkRequest& request) {
    std::unique_ptr<ByteArray> message = request.takeMessage();
    return std::string(reinterpret_cast<const char*>(message->data()), message->size());
}

// A signed-in account whose cache holds a status: the load switches on the reception of
// external changes once, frames every batch with the events and status requests and opens the
// long poll; what another session changes then arrives through the poll and is raised as
// external events, and a forced snapshot reloads everything.
TEST_F(SdkApiManagerTest, CachedAccountReceivesTheChangesOfAnotherSession) {
    trustStandInAsCa();
    test::LogCapture log;
    service::AccountDirectory& accounts = service_.accounts();
    test::StandInAccount standIn = makeStandInAccount();
    ASSERT_NE(standIn.root, 0u);
    const uint64_t account = standIn.account;
    const uint64_t root = standIn.root;
    const std::string ours = standIn.ours;
    const std::string theirs = standIn.theirs;
    {
        // The account as the last run left it: the root and its filesystem, at today's status.
        test::CacheFile cache(Cloud::cachePath(dataDir_.path(), ours));
        test::putCachedRoot(cache, account, accounts.accountStatus(account), root);
    }

    SdkApiManager* manager = makeManager();
    signIn(manager, ours, account);
    ASSERT_TRUE(loadCache(manager));
    // A request of an action goes out behind the forced batch, once the status answer has been
    // taken over and the long poll opened; its batch is framed too.
    auto action = dispatcher_.createAction(TEST, &actions_);
    onMain([&] { manager->enqueueAction(action); });
    actions_.waitForFinishes(1);
    EXPECT_EQ(action->getErrorCode(), 0);
    std::vector<std::vector<std::string>> batches;
    for (const auto& recorded : service_.requests()) {
        if (recorded.path == "/api") {
            batches.push_back(batchIdentifiers(recorded.body));
        }
    }
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0], (std::vector<std::string>{"GEEM", "GESM"}));
    EXPECT_EQ(batches[1], (std::vector<std::string>{"GEEM", "TESM", "GESM"}));
    EXPECT_EQ(onMain([&] { return manager->getAccountStatus(); }), accounts.accountStatus(account));

    // Another session adds two folders under the root, renames the first, moves it into the
    // second, gives the second a thumbnail and deletes the first.
    constexpr uint64_t kTheirClientId = 0x0000112233445500ULL;
    const std::vector<uint8_t> folderKey = test::patternKey(60);
    const std::vector<uint8_t> targetKey = test::patternKey(61);
    AddNodesRequest adding(std::make_shared<MutableActionData>(TEST),
                           std::make_shared<EncryptedNodeList>(
                               EncryptedNodeList{test::sealedFolder(root, folderKey, masterKey_, "made"),
                                                 test::sealedFolder(root, targetKey, masterKey_, "target")}),
                           kTheirClientId);
    const std::string added = service_.answerAs(theirs, messageOf(adding));
    ASSERT_FALSE(added.empty());
    const auto* addedResponse = flatbuffers::GetRoot<AddNodesResponse>(added.data());
    ASSERT_EQ(addedResponse->error(), 0);
    ASSERT_NE(addedResponse->nodes(), nullptr);
    ASSERT_EQ(addedResponse->nodes()->size(), 2u);
    const uint64_t made = addedResponse->nodes()->Get(0)->handle();
    const uint64_t target = addedResponse->nodes()->Get(1)->handle();

    auto renaming = std::make_shared<MutableActionData>(TEST);
    renaming->setNodeHandle(made);
    renaming->setAttributes(new ByteVector(test::gcmSeal(folderKey, 32, test::attributesRecord("renamed"))));
    RenameNodeRequest rename(renaming, kTheirClientId);
    ASSERT_FALSE(service_.answerAs(theirs, messageOf(rename)).empty());
    auto moving = std::make_shared<MutableActionData>(TEST);
    moving->setNodeHandle(made);
    moving->setParentHandle(target);
    moving->setNumber(root << 15);
    moving->setUserKey(new ByteVector(test::wrapKey(targetKey, folderKey)));
    MoveNodeRequest move(moving, kTheirClientId);
    ASSERT_FALSE(service_.answerAs(theirs, messageOf(move)).empty());
    auto describing = std::make_shared<MutableActionData>(TEST);
    describing->setNodeHandle(target);
    describing->setOption(1);
    describing->setUserKey(new ByteVector(16, 0x5A));
    AddMetadataRequest metadata(describing, kTheirClientId);
    ASSERT_FALSE(service_.answerAs(theirs, messageOf(metadata)).empty());
    auto deleting = std::make_shared<MutableActionData>(TEST);
    deleting->setNodeHandle(made);
    DeleteNodeRequest remove(deleting, kTheirClientId);
    ASSERT_FALSE(service_.answerAs(theirs, messageOf(remove)).empty());

    ASSERT_TRUE(events_.waitFor("DELETED_NODE"));
    const std::vector<int32_t> changeTypes = {EVENT_NEW_NODES, EVENT_UPDATED_NODE, EVENT_MOVED_NODE, EVENT_UPDATED_META,
                                              EVENT_DELETED_NODE};
    std::vector<std::shared_ptr<EventData>> changes;
    for (const auto& event : events_.events()) {
        if (std::find(changeTypes.begin(), changeTypes.end(), event->getType()) != changeTypes.end()) {
            changes.push_back(event);
        }
    }
    ASSERT_EQ(changes.size(), changeTypes.size());
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i]->getType(), changeTypes[i]) << i;
        EXPECT_TRUE(changes[i]->isExternal()) << i;
        EXPECT_EQ(changes[i]->getClientId(), kTheirClientId) << i;
    }
    // Nothing but the long poll asked for the batch that fetched them.
    bool polled = false;
    for (const auto& recorded : service_.requests()) {
        polled = polled || recorded.path.rfind("/events/", 0) == 0;
    }
    EXPECT_TRUE(polled);

    // A snapshot forced on the session replaces the cache on the next batch.
    ASSERT_TRUE(accounts.forceSnapshot(ours));
    const size_t before = events_.entries().size();
    onMain([&] { manager->pollEvents(); });
    ASSERT_TRUE(events_.waitFor("FULL_RELOAD", before));
    size_t reload = before;
    while (events_.entries()[reload] != "FULL_RELOAD") {
        ++reload;
    }
    // The account has no backups root, so every events answer ends with ACCOUNT_READY; the
    // reload's comes right after it.
    ASSERT_TRUE(events_.waitFor("ACCOUNT_READY", reload + 1));
    EXPECT_EQ(events_.entries()[reload + 1], "ACCOUNT_READY");
    EXPECT_EQ(log.count("Enabling the reception of external changes"), 1u);
}

// A fresh sign-in has no status: the first status answer switches on the reception of external
// changes (once), frames the next batches and opens the long poll, whose "1" brings a batch.
TEST_F(SdkApiManagerTest, FirstStatusAnswerSwitchesOnTheReceptionOfExternalChangesOnce) {
    trustStandInAsCa();
    test::LogCapture log;
    test::StandInAccount standIn = makeStandInAccount();
    ASSERT_NE(standIn.root, 0u);
    SdkApiManager* manager = makeManager();
    signIn(manager, standIn.ours, standIn.account);
    EXPECT_EQ(onMain([&] { return manager->getAccountStatus(); }), 0u);

    // Two status answers, as requests of their own: only the first switches anything on.
    for (int answer = 0; answer < 2; ++answer) {
        ASSERT_EQ(askStatus(manager), 0);
        EXPECT_EQ(onMain([&] { return manager->getAccountStatus(); }),
                  service_.accounts().accountStatus(standIn.account));
    }
    EXPECT_EQ(log.count("Enabling the reception of external changes"), 1u);

    // The account's snapshot is forced on the session and the poll told that changes wait: only
    // the poll's answer can bring the batch that reloads.
    ASSERT_TRUE(service_.accounts().forceSnapshot(standIn.ours));
    service_.setEventsPending(service_.accounts().pollToken(standIn.ours));
    ASSERT_TRUE(events_.waitFor("FULL_RELOAD"));
    std::vector<std::vector<std::string>> batches;
    for (const auto& recorded : service_.requests()) {
        if (recorded.path == "/api") {
            batches.push_back(batchIdentifiers(recorded.body));
        }
    }
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0], (std::vector<std::string>{"GESM"}));
    EXPECT_EQ(batches[1], (std::vector<std::string>{"GEEM", "GESM", "GESM"}));
    EXPECT_EQ(batches[2], (std::vector<std::string>{"GEEM", "GESM"}));
}

// The proxy test asks the API endpoint on a transport of its own: it succeeds when the endpoint
// answers 200 through the given route, and a proxy that cannot be reached fails it.
TEST_F(SdkApiManagerTest, ProxyTestSucceedsOnlyWhenTheEndpointAnswersThroughIt) {
    trustStandInAsCa();
    struct Case {
        const char* name;
        bool noProxy;
        const char* host;
        bool success;
        int reached;
    };
    const std::vector<Case> cases = {
        {"direct", true, nullptr, true, 1},
        // Nothing listens on port 1 of the loopback.
        {"unreachable proxy", false, "127.0.0.1:1", false, 0},
    };
    SdkApiManager* manager = makeManager();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearRequests();
        std::promise<bool> outcome;
        mainLoop_.post([&] {
            manager->testProxy(c.noProxy, c.host, "user", nullptr,
                               [&](bool success, const uint8_t*, uint32_t) { outcome.set_value(success); });
        });
        auto future = outcome.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_EQ(future.get(), c.success);
        int reached = 0;
        for (const auto& recorded : service_.requests()) {
            if (recorded.path == "/api") {
                ++reached;
                EXPECT_EQ(recorded.query, "a=Wk9xQmLp");
            }
        }
        EXPECT_EQ(reached, c.reached);
    }
}

TEST_F(SdkApiManagerTest, LinkSessionSignsTheBatchesWithTheTokenAndHoldsNoAccount) {
    SdkApiManager* manager = makeManager();
    signIn(manager, "account-session", 42);
    const std::vector<uint8_t> linkKey = test::patternKey(70);
    callAndWait([&](std::function<void()> done) { manager->setLinkSession("L1nkT0k3n", nullptr, &linkKey, done); });
    onMain([&] {
        EXPECT_EQ(manager->getSession(), "L1nkT0k3n");
        EXPECT_TRUE(manager->getEmail().empty());
        EXPECT_EQ(manager->getUserId(), 0u);
        EXPECT_TRUE(manager->getUserKey().empty());
        EXPECT_TRUE(manager->getMasterKey().empty());
        EXPECT_TRUE(manager->getRsaPrivateKey().empty());
        EXPECT_TRUE(manager->getAccountKey().empty());
    });
    auto action = dispatcher_.createAction(TEST, &actions_);
    onMain([&] { manager->enqueueAction(action); });
    actions_.waitForFinishes(1);
    std::vector<std::string> queries;
    for (const auto& recorded : service_.requests()) {
        if (recorded.path == "/api") {
            queries.push_back(recorded.query);
        }
    }
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_NE(queries[0].find("link=L1nkT0k3n"), std::string::npos) << queries[0];
    EXPECT_EQ(queries[0].find("s="), std::string::npos) << queries[0];
}

// Signing out drops the persistent requests from the channel; the first status of the next
// sign-in installs them again.
TEST_F(SdkApiManagerTest, AfterSignOutTheNextFirstStatusSwitchesTheReceptionOnAgain) {
    trustStandInAsCa();
    test::LogCapture log;
    test::StandInAccount standIn = makeStandInAccount();
    ASSERT_NE(standIn.root, 0u);
    SdkApiManager* manager = makeManager();
    signIn(manager, standIn.ours, standIn.account);
    ASSERT_EQ(askStatus(manager), 0);
    callAndWait([&](std::function<void()> done) { manager->logout(done); });
    EXPECT_EQ(onMain([&] { return manager->getAccountStatus(); }), 0u);

    service_.clearRequests();
    auto unframed = dispatcher_.createAction(TEST, &actions_);
    onMain([&] { manager->enqueueAction(unframed); });
    actions_.waitForFinishes(1);

    signIn(manager, standIn.theirs, standIn.account);
    ASSERT_EQ(askStatus(manager), 0);
    EXPECT_EQ(log.count("Enabling the reception of external changes"), 2u);
    auto framed = dispatcher_.createAction(TEST, &actions_);
    onMain([&] { manager->enqueueAction(framed); });
    actions_.waitForFinishes(2);
    EXPECT_EQ(framed->getErrorCode(), 0);

    std::vector<std::vector<std::string>> batches;
    for (const auto& recorded : service_.requests()) {
        if (recorded.path == "/api") {
            batches.push_back(batchIdentifiers(recorded.body));
        }
    }
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0], (std::vector<std::string>{"TESM"}));
    EXPECT_EQ(batches[1], (std::vector<std::string>{"GESM"}));
    EXPECT_EQ(batches[2], (std::vector<std::string>{"GEEM", "TESM", "GESM"}));
}

}  // namespace
}  // namespace corvane
