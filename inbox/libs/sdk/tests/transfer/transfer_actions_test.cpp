#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_data.h"
#include "database/transfer_data.h"
#include "support/facade_fixture.h"
#include "support/log_capture.h"
#include "support/run_on_loop.h"
#include "transfer/transfer_manager.h"
#include "transfer/transfer_processor.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;
using service::ChunkFault;

constexpr auto kWait = std::chrono::seconds(120);

// What one transfer action told its listener, in order, as "progress:<current>",
// "error" and "finish:<error>", with the facts of its finish.
class TransferWatch : public ActionListener {
public:
    void onActionProgress(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back("progress:" + std::to_string(action->getCurrentSize()));
        sequenceId_ = action->getSequenceId();
        changed_.notify_all();
    }
    void onActionError(std::shared_ptr<ActionData>) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back("error");
        changed_.notify_all();
    }
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back("finish:" + std::to_string(action->getErrorCode()));
        finished_ = true;
        error_ = action->getErrorCode();
        sequenceId_ = action->getSequenceId();
        flags_ = action->getFlags();
        node_ = action->getNode() ? action->getNode()->getId() : 0;
        name_ = action->getNameString();
        transfer_ = action->getTransfer();
        changed_.notify_all();
    }

    // False when the condition did not come true in time.
    bool waitFor(const std::function<bool(const std::vector<std::string>&)>& condition) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return condition(calls_); });
    }
    bool waitFinish() {
        return waitFor([this](const std::vector<std::string>&) { return finished_; });
    }
    // A progress report with bytes moved.
    bool waitBytes() {
        return waitFor([](const std::vector<std::string>& calls) {
            return std::any_of(calls.begin(), calls.end(), [](const std::string& call) {
                return call.rfind("progress:", 0) == 0 && call != "progress:0";
            });
        });
    }
    bool waitError() {
        return waitFor([](const std::vector<std::string>& calls) {
            return std::find(calls.begin(), calls.end(), "error") != calls.end();
        });
    }

    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    int32_t error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }
    int32_t sequenceId() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sequenceId_;
    }
    int32_t flags() {
        std::lock_guard<std::mutex> lock(mutex_);
        return flags_;
    }
    uint64_t node() {
        std::lock_guard<std::mutex> lock(mutex_);
        return node_;
    }
    std::string name() {
        std::lock_guard<std::mutex> lock(mutex_);
        return name_;
    }
    std::weak_ptr<TransferData> transfer() {
        std::lock_guard<std::mutex> lock(mutex_);
        return transfer_;
    }
    // Finish reports so far, and whether anything was told after the first of them.
    size_t finishes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count_if(
            calls_.begin(), calls_.end(), [](const std::string& call) { return call.rfind("finish:", 0) == 0; }));
    }
    bool finishIsLast() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !calls_.empty() && calls_.back().rfind("finish:", 0) == 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    bool finished_ = false;
    int32_t error_ = -1;
    int32_t sequenceId_ = 0;
    int32_t flags_ = -1;
    uint64_t node_ = 0;
    std::string name_;
    std::weak_ptr<TransferData> transfer_;
};

Bytes patternBytes(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 7;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Open descriptors of this process that name a file under the folder.
std::vector<std::string> openFilesUnder(const std::string& folder) {
    std::vector<std::string> open;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code readError;
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), readError);
        if (!readError && target.string().rfind(folder, 0) == 0) {
            open.push_back(target.string());
        }
    }
    return open;
}

// One signed-in account on a fresh stand-in whose chunk links are trusted, with its tree
// loaded, driven through the facade as the application drives it.
class TransferActionsTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        deployment_.reset();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        ASSERT_EQ(registerUser("ada@example.com", "correct horse battery").error, 0);
        ASSERT_EQ(run(GET_NODES, [](MutableActionData&) {}).error, 0);
        api_ = &test::FacadeAccess::manager(*facade_);
        loop_ = api_->getLoop();
        root_ = test::runOnLoop(*loop_, [this]() -> uint64_t {
            Cloud* cloud = api_->getCloud();
            return cloud->getMainRoot() ? cloud->getMainRoot()->getId() : 0;
        });
        ASSERT_NE(root_, 0u);
        std::filesystem::create_directory(files());
    }

    void TearDown() override {
        service_.clearChunkFaults();
        FacadeFixture::TearDown();
    }

    // The test's files, apart from the account's cache in the data folder, which stays open.
    std::string files() const { return dataDir_.path() + "/files"; }
    std::string path(const std::string& name) const { return files() + "/" + name; }

    void submit(int32_t type, TransferWatch& watch, const Fill& fill) {
        test::FacadeAccess::submit(*facade_, type, &watch, fill);
    }
    void upload(TransferWatch& watch, const std::string& file) {
        submit(UPLOAD, watch, [&](MutableActionData& a) {
            a.setName(file.c_str());
            a.setParentHandle(root_);
        });
    }
    void download(TransferWatch& watch, uint64_t node, const std::string& target) {
        submit(DOWNLOAD, watch, [&](MutableActionData& a) {
            a.setNodeHandle(node);
            a.setName(target.c_str());
        });
    }
    // Uploads the bytes as a new file and returns its node; 0 on failure.
    uint64_t uploadBytes(const std::string& name, const Bytes& bytes) {
        writeFile(path(name), bytes);
        TransferWatch watch;
        upload(watch, path(name));
        const bool finished = watch.waitFinish();
        // The dispatcher still touches the listener after its finish call returns.
        taskManager_.drain();
        if (!finished || watch.error() != 0) {
            return 0;
        }
        return watch.node();
    }

    // The sequence ids of the listed transfer actions and their statuses, as "<id>:<status>".
    std::vector<std::string> listTransfers(int32_t direction, int32_t filter) {
        std::vector<std::string> listed;
        test::OutcomeListener listener;
        std::mutex mutex;
        struct Lister : public ActionListener {
            std::vector<std::string>* out;
            std::mutex* mutex;
            test::OutcomeListener* next;
            void onActionFinish(std::shared_ptr<ActionData> action) override {
                {
                    std::lock_guard<std::mutex> lock(*mutex);
                    if (auto list = action->getTransfers()) {
                        for (const auto& entry : *list) {
                            out->push_back(std::to_string(entry->getSequenceId()) + ":" +
                                           std::to_string(entry->getFlags()));
                        }
                    }
                }
                next->onActionFinish(action);
            }
        } lister;
        lister.out = &listed;
        lister.mutex = &mutex;
        lister.next = &listener;
        test::FacadeAccess::submit(*facade_, GET_TRANSFERS, &lister, [&](MutableActionData& a) {
            a.setValue(direction);
            a.setOption(filter);
        });
        EXPECT_EQ(listener.wait().error, 0);
        taskManager_.drain();
        std::lock_guard<std::mutex> lock(mutex);
        return listed;
    }

    int32_t runWithValue(int32_t type, int32_t value, int32_t option) {
        return run(type,
                   [&](MutableActionData& a) {
                       a.setValue(value);
                       a.setOption(option);
                   })
            .error;
    }

    // Whether the path is gone once the main loop has turned a bounded number of times: a
    // released file is removed on the file loop, which reports back to the main loop.
    bool goneSoon(const std::string& file) {
        for (int turn = 0; turn < 100000; ++turn) {
            if (!std::filesystem::exists(file) && openFilesUnder(files()).empty()) {
                return true;
            }
            test::runOnLoop(*loop_, []() {});
        }
        return false;
    }

    // Every chunk of the direction crawls: its transfer stays ACTIVE for the rest of a test.
    void slowChunks(ChunkFault::Link link) {
        ChunkFault fault;
        fault.link = link;
        fault.kind = ChunkFault::Kind::SlowBody;
        fault.times = -1;
        fault.slowFor = std::chrono::seconds(120);
        service_.addChunkFault(fault);
    }
    // A failed upload waits an hour for its next attempt: it stays RETRYING.
    void holdRetries() {
        test::runOnLoop(*loop_, [this]() {
            TransferRetryPolicy policy;
            policy.delaySeconds = 3600;
            api_->getTransferManager()->setRetryPolicy(policy);
        });
    }
    bool recheckArmed() {
        return test::runOnLoop(*loop_, [this]() { return api_->getTransferManager()->hasRecheckTimer(); });
    }
    // Waits until the action was queued and its sequence id is known.
    int32_t queued(TransferWatch& watch) {
        EXPECT_TRUE(watch.waitFor([](const std::vector<std::string>& calls) { return !calls.empty(); }));
        return watch.sequenceId();
    }

    // Uploads: one RETRYING, one ACTIVE (its chunks crawl), one READY behind it; a download
    // ACTIVE with its partial file open. Returns the partial file's path.
    std::string startMixedTransfers(TransferWatch& retrying, TransferWatch& active, TransferWatch& ready,
                                    TransferWatch& downloading) {
        const uint64_t node = uploadBytes("source.bin", patternBytes(3u << 20, 20));
        EXPECT_NE(node, 0u);
        holdRetries();
        ChunkFault refused;
        refused.link = ChunkFault::Link::Upload;
        refused.kind = ChunkFault::Kind::NotFound;
        service_.addChunkFault(refused);
        writeFile(path("retrying.bin"), patternBytes(200000, 21));
        upload(retrying, path("retrying.bin"));
        EXPECT_TRUE(retrying.waitError());
        service_.clearChunkFaults();
        slowChunks(ChunkFault::Link::Upload);
        slowChunks(ChunkFault::Link::Download);
        writeFile(path("active.bin"), patternBytes(2u << 20, 22));
        upload(active, path("active.bin"));
        EXPECT_TRUE(active.waitBytes());
        writeFile(path("ready.bin"), patternBytes(100000, 23));
        upload(ready, path("ready.bin"));
        queued(ready);
        const std::string partial = path("partial.bin");
        download(downloading, node, partial);
        EXPECT_TRUE(downloading.waitBytes());
        return partial;
    }

    // Each action ended once with 16 and heard nothing after; no file of the test is open or
    // half written, no recheck is armed, and nothing is queued or held by a processor.
    void expectAllEndedCleanly(const std::vector<TransferWatch*>& watches, const std::string& partial) {
        for (TransferWatch* watch : watches) {
            ASSERT_TRUE(watch->waitFinish());
            EXPECT_EQ(watch->error(), CANCELLED);
            EXPECT_EQ(watch->flags(), 4);
        }
        EXPECT_TRUE(goneSoon(partial)) << "the partial download or an open file was left";
        taskManager_.drain();
        for (TransferWatch* watch : watches) {
            EXPECT_EQ(watch->finishes(), 1u);
            EXPECT_TRUE(watch->finishIsLast());
        }
        EXPECT_FALSE(recheckArmed());
        test::runOnLoop(*loop_, [this]() {
            TransferManager* manager = api_->getTransferManager();
            for (int32_t direction = 0; direction < 2; ++direction) {
                EXPECT_EQ(manager->getActions(direction, 6)->size(), 0u);
                for (TransferProcessor* processor : manager->getProcessors(direction)) {
                    EXPECT_EQ(processor->getTransfer(), nullptr);
                }
            }
        });
    }

    SdkApiManager* api_ = nullptr;
    Loop* loop_ = nullptr;
    uint64_t root_ = 0;
};

std::string progressPrefix(const std::string& call) {
    return call.substr(0, call.find(':'));
}

TEST_F(TransferActionsTest, FiveMebibytesGoUpAndComeBackWithProgressBeforeEachFinish) {
    const Bytes content = patternBytes(5u << 20, 1);
    writeFile(path("five.bin"), content);
    TransferWatch up;
    upload(up, path("five.bin"));
    ASSERT_TRUE(up.waitFinish());
    ASSERT_EQ(up.error(), 0);
    ASSERT_NE(up.node(), 0u);
    EXPECT_EQ(up.flags(), 4);

    // The target names a folder: the node's own name goes after it.
    std::filesystem::create_directory(path("back"));
    TransferWatch down;
    download(down, up.node(), path("back") + "/");
    ASSERT_TRUE(down.waitFinish());
    ASSERT_EQ(down.error(), 0);
    EXPECT_EQ(down.name(), path("back") + "/five.bin");
    EXPECT_EQ(readFile(path("back/five.bin")), content);

    for (TransferWatch* watch : {&up, &down}) {
        const std::vector<std::string> calls = watch->calls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls.back(), "finish:0");
        // Told of at once, then of the bytes as they move, all before the finish.
        EXPECT_EQ(calls.front(), "progress:0");
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "finish:0"), 1);
        const auto moved = std::count_if(calls.begin(), calls.end(), [](const std::string& call) {
            return progressPrefix(call) == "progress" && call != "progress:0";
        });
        EXPECT_GE(moved, 2);
        EXPECT_EQ(calls[calls.size() - 2], "progress:" + std::to_string(content.size()));
    }
}

TEST_F(TransferActionsTest, TwoUploadsRunOneAfterTheOtherOnTheOneUploadProcessor) {
    writeFile(path("first.bin"), patternBytes(2500000, 2));
    writeFile(path("second.bin"), patternBytes(2500000, 3));
    std::vector<std::string> order;
    std::mutex mutex;
    struct Ordered : public TransferWatch {
        std::vector<std::string>* order;
        std::mutex* mutex;
        std::string name;
        void onActionProgress(std::shared_ptr<ActionData> action) override {
            if (action->getCurrentSize() != 0) {
                std::lock_guard<std::mutex> lock(*mutex);
                if (order->empty() || order->back() != name + " moves") {
                    order->push_back(name + " moves");
                }
            }
            TransferWatch::onActionProgress(action);
        }
        void onActionFinish(std::shared_ptr<ActionData> action) override {
            {
                std::lock_guard<std::mutex> lock(*mutex);
                order->push_back(name + " ends");
            }
            TransferWatch::onActionFinish(action);
        }
    } first, second;
    first.order = second.order = &order;
    first.mutex = second.mutex = &mutex;
    first.name = "first";
    second.name = "second";
    upload(first, path("first.bin"));
    upload(second, path("second.bin"));
    ASSERT_TRUE(first.waitFinish());
    ASSERT_TRUE(second.waitFinish());
    EXPECT_EQ(first.error(), 0);
    EXPECT_EQ(second.error(), 0);
    EXPECT_NE(first.node(), second.node());
    taskManager_.drain();
    EXPECT_EQ(order, (std::vector<std::string>{"first moves", "first ends", "second moves", "second ends"}));
    EXPECT_EQ(test::runOnLoop(*loop_, [this]() { return api_->getTransferManager()->getProcessors(0).size(); }), 1u);
}

TEST_F(TransferActionsTest, CancellingADownloadMidwayEndsItWithSixteenAndRemovesThePartialFile) {
    const uint64_t node = uploadBytes("whole.bin", patternBytes(3u << 20, 4));
    ASSERT_NE(node, 0u);
    slowChunks(ChunkFault::Link::Download);
    TransferWatch down;
    const std::string partial = path("partial.bin");
    download(down, node, partial);
    ASSERT_TRUE(down.waitBytes());
    ASSERT_TRUE(std::filesystem::exists(partial));
    EXPECT_EQ(runWithValue(CANCEL_TRANSFERS, 4, down.sequenceId()), 0);
    ASSERT_TRUE(down.waitFinish());
    EXPECT_EQ(down.error(), CANCELLED);
    EXPECT_TRUE(goneSoon(partial)) << "the partial file stayed";
    taskManager_.drain();
    EXPECT_EQ(down.finishes(), 1u);
    EXPECT_TRUE(down.finishIsLast());

    // The processor is free again: the same node comes down whole.
    service_.clearChunkFaults();
    TransferWatch again;
    download(again, node, path("again.bin"));
    ASSERT_TRUE(again.waitFinish());
    taskManager_.drain();
    EXPECT_EQ(again.error(), 0);
    EXPECT_EQ(readFile(path("again.bin")), patternBytes(3u << 20, 4));
}

// GET_TRANSFERS over uploads finished, finished, RETRYING, ACTIVE, cancelled, READY and
// downloads finished, ACTIVE; then CLEAR_FINISHED_TRANSFERS takes only finished ones.
TEST_F(TransferActionsTest, ListingFiltersAndClearingOnlyFinishedActions) {
    std::map<std::string, int32_t> ids;
    auto finishedUpload = [&](const std::string& name, size_t size, uint32_t seed) {
        writeFile(path(name), patternBytes(size, seed));
        TransferWatch watch;
        upload(watch, path(name));
        EXPECT_TRUE(watch.waitFinish());
        taskManager_.drain();
        EXPECT_EQ(watch.error(), 0);
        ids[name] = watch.sequenceId();
        return watch.node();
    };
    // Large enough that a crawling download shows its first bytes early.
    const uint64_t node = finishedUpload("A", 1500000, 30);
    finishedUpload("B", 50000, 31);
    TransferWatch fetched;
    download(fetched, node, path("F"));
    ASSERT_TRUE(fetched.waitFinish());
    ids["F"] = fetched.sequenceId();

    holdRetries();
    ChunkFault refused;
    refused.link = ChunkFault::Link::Upload;
    refused.kind = ChunkFault::Kind::NotFound;
    service_.addChunkFault(refused);
    TransferWatch retrying, active, cancelled, ready, downloading;
    writeFile(path("R"), patternBytes(50000, 32));
    upload(retrying, path("R"));
    ASSERT_TRUE(retrying.waitError());
    ids["R"] = retrying.sequenceId();
    service_.clearChunkFaults();
    slowChunks(ChunkFault::Link::Upload);
    slowChunks(ChunkFault::Link::Download);
    writeFile(path("C"), patternBytes(1u << 20, 33));
    upload(active, path("C"));
    ASSERT_TRUE(active.waitBytes());
    ids["C"] = active.sequenceId();
    writeFile(path("D"), patternBytes(50000, 34));
    upload(cancelled, path("D"));
    ids["D"] = queued(cancelled);
    EXPECT_EQ(runWithValue(CANCEL_TRANSFERS, 4, ids["D"]), 0);
    ASSERT_TRUE(cancelled.waitFinish());
    writeFile(path("E"), patternBytes(50000, 35));
    upload(ready, path("E"));
    ids["E"] = queued(ready);
    download(downloading, node, path("G"));
    ASSERT_TRUE(downloading.waitBytes());
    ids["G"] = downloading.sequenceId();

    const std::map<std::string, int32_t> status{{"A", 4}, {"B", 4}, {"R", 2}, {"C", 3},
                                                {"D", 4}, {"E", 1}, {"F", 4}, {"G", 3}};
    auto expected = [&](const std::string& names) {
        std::vector<std::string> listed;
        for (char name : names) {
            const std::string key(1, name);
            listed.push_back(std::to_string(ids[key]) + ":" + std::to_string(status.at(key)));
        }
        return listed;
    };
    struct Case {
        int32_t direction;
        int32_t filter;
        const char* listed;
    };
    const std::vector<Case> cases{
        // The leading run of finished actions goes to the end, newest first.
        {0, 5, "RCDEBA"},
        {0, 6, "RCE"},
        {0, 4, "ABD"},
        {0, 3, "C"},
        {0, 2, "R"},
        {0, 1, "E"},
        {0, 0, ""},
        {1, 5, "GF"},
        {1, 6, "G"},
        {1, 4, "F"},
        // Both directions: uploads, then downloads, in their order.
        {4, 5, "ABRCDEFG"},
        {4, 6, "RCEG"},
        {4, 4, "ABDF"},
        {4, 3, "CG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.direction) + "/" + std::to_string(c.filter));
        EXPECT_EQ(listTransfers(c.direction, c.filter), expected(c.listed));
    }

    EXPECT_EQ(runWithValue(CLEAR_FINISHED_TRANSFERS, 0, 0), 0);
    EXPECT_EQ(listTransfers(4, 5), expected("RCEFG"));
    // One action by its sequence id; an unfinished one stays.
    EXPECT_EQ(runWithValue(CLEAR_FINISHED_TRANSFERS, 4, ids["C"]), 0);
    EXPECT_EQ(runWithValue(CLEAR_FINISHED_TRANSFERS, 4, ids["F"]), 0);
    EXPECT_EQ(listTransfers(4, 5), expected("RCEG"));

    // The watches go with the test: nothing may report to them afterwards.
    EXPECT_EQ(runWithValue(CANCEL_TRANSFERS, 4, 0), 0);
    for (TransferWatch* watch : {&retrying, &active, &ready, &downloading}) {
        EXPECT_TRUE(watch->waitFinish());
    }
    taskManager_.drain();
}

TEST_F(TransferActionsTest, CancelAllWhileRetryingActiveAndReadyLeavesNothingBehind) {
    TransferWatch retrying, active, ready, downloading;
    const std::string partial = startMixedTransfers(retrying, active, ready, downloading);
    EXPECT_TRUE(recheckArmed()) << "the retrying upload waits for the recheck";
    test::LogCapture log;
    EXPECT_EQ(runWithValue(CANCEL_TRANSFERS, 4, 0), 0);
    expectAllEndedCleanly({&retrying, &active, &ready, &downloading}, partial);

    // Cleared, each action is deleted, and with it the last hold on its transfer.
    EXPECT_EQ(runWithValue(CLEAR_FINISHED_TRANSFERS, 4, 0), 0);
    taskManager_.drain();
    EXPECT_EQ(log.count("Deleting SingleTransferAction"), 5u) << "four cancelled and the finished upload";
    for (TransferWatch* watch : {&retrying, &active, &ready, &downloading}) {
        EXPECT_TRUE(watch->transfer().expired());
    }
    EXPECT_TRUE(listTransfers(4, 5).empty());
}

TEST_F(TransferActionsTest, LogoutWhileRetryingActiveAndReadyLeavesNothingBehind) {
    TransferWatch retrying, active, ready, downloading;
    const std::string partial = startMixedTransfers(retrying, active, ready, downloading);
    test::LogCapture log;
    EXPECT_EQ(run(LOGOUT, [](MutableActionData&) {}).error, 0);
    expectAllEndedCleanly({&retrying, &active, &ready, &downloading}, partial);
    // The reset clears what it cancelled.
    EXPECT_EQ(log.count("Deleting SingleTransferAction"), 5u) << "four cancelled and the finished upload";
    for (TransferWatch* watch : {&retrying, &active, &ready, &downloading}) {
        EXPECT_TRUE(watch->transfer().expired());
    }
}

// The rate is read from the action's own progress figures over the steady part of the
// download, after its first second.
TEST_F(TransferActionsTest, ADownloadSpeedLimitHoldsWithinTenPercent) {
    constexpr size_t kSize = 20u << 20;
    constexpr int32_t kLimitKilobytes = 2500;
    const uint64_t node = uploadBytes("twenty.bin", patternBytes(kSize, 40));
    ASSERT_NE(node, 0u);
    ASSERT_EQ(run(SET_TRANSFER_SPEED_LIMIT,
                  [](MutableActionData& a) {
                      a.setNumber(1);
                      a.setOption(kLimitKilobytes);
                  })
                  .error,
              0);
    using Clock = std::chrono::steady_clock;
    struct Timed : public TransferWatch {
        std::mutex samplesMutex;
        std::vector<std::pair<Clock::time_point, uint64_t>> samples;
        void onActionProgress(std::shared_ptr<ActionData> action) override {
            {
                std::lock_guard<std::mutex> lock(samplesMutex);
                samples.emplace_back(Clock::now(), action->getCurrentSize());
            }
            TransferWatch::onActionProgress(action);
        }
    } down;
    download(down, node, path("limited.bin"));
    ASSERT_TRUE(down.waitFinish());
    taskManager_.drain();
    ASSERT_EQ(down.error(), 0);
    EXPECT_EQ(readFile(path("limited.bin")).size(), kSize);

    std::lock_guard<std::mutex> lock(down.samplesMutex);
    auto firstBytes =
        std::find_if(down.samples.begin(), down.samples.end(), [](const auto& sample) { return sample.second != 0; });
    ASSERT_NE(firstBytes, down.samples.end());
    auto from = std::find_if(firstBytes, down.samples.end(), [&](const auto& sample) {
        return sample.first - firstBytes->first >= std::chrono::seconds(1);
    });
    ASSERT_NE(from, down.samples.end());
    const auto& to = down.samples.back();
    const double seconds = std::chrono::duration<double>(to.first - from->first).count();
    ASSERT_GT(seconds, 2.0);
    const double rate = static_cast<double>(to.second - from->second) / seconds;
    const double limit = kLimitKilobytes * 1000.0;
    EXPECT_GT(rate, limit * 0.9);
    EXPECT_LT(rate, limit * 1.1);
}

}  // namespace
}  // namespace corvane
