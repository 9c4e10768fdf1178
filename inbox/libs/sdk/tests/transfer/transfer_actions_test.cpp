#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_data.h"
#include "database/transfer_data.h"
#include "support/facade_fixture.h"
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
    }

    void TearDown() override {
        service_.clearChunkFaults();
        FacadeFixture::TearDown();
    }

    std::string path(const std::string& name) const { return dataDir_.path() + "/" + name; }

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
        if (!watch.waitFinish() || watch.error() != 0) {
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
            if (!std::filesystem::exists(file) && openFilesUnder(dataDir_.path()).empty()) {
                return true;
            }
            test::runOnLoop(*loop_, []() {});
        }
        return false;
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

}  // namespace
}  // namespace corvane
