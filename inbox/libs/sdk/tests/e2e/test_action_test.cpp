// The TEST action from the dispatcher through the execution manager and the request channel
// to the loopback stand-in over TLS with the pinned key, and back.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "stand_in_service.h"
#include "support/e2e_api_manager.h"
#include "support/e2e_fixture.h"
#include "support/stand_in_deployment.h"
#include "test_message_generated.h"
#include "util/deployment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// Writes down what the application hears about its action.
class ActionJournal : public ActionListener {
public:
    void onActionStart(std::shared_ptr<ActionData> action) override { add("start", action); }
    void onActionProcessed(std::shared_ptr<ActionData> action) override { add("processed", action); }
    void onActionError(std::shared_ptr<ActionData> action) override { add("error", action); }
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        add("finish", action);
        std::lock_guard<std::mutex> lock(mutex_);
        errorCode_ = action->getErrorCode();
        finished_ = true;
        changed_.notify_all();
    }

    bool waitFinished(std::chrono::milliseconds timeout = 60s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return finished_; });
    }
    std::vector<std::string> entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    int32_t errorCode() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return errorCode_;
    }

private:
    void add(const char* kind, const std::shared_ptr<ActionData>& action) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::string(kind) + ":" + action->getTypeName());
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
    bool finished_ = false;
    int32_t errorCode_ = -1;
};

using TestActionEndToEnd = test::EndToEndTest;

TEST_F(TestActionEndToEnd, FinishesWithoutErrorAndTheServiceSeesAllFiveFields) {
    ActionJournal journal;
    mainLoop_.post([&] { manager_->enqueueAction(dispatcher_.createAction(TEST, &journal)); });
    ASSERT_TRUE(journal.waitFinished());
    // The dispatcher still touches the listener after its finish call returns.
    std::promise<void> idle;
    mainLoop_.post([&] { idle.set_value(); });
    idle.get_future().wait();
    EXPECT_EQ(journal.errorCode(), 0);
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"start:TEST", "processed:TEST", "finish:TEST"}));

    std::vector<service::RecordedRequest> posts;
    for (auto& recorded : service_.requests()) {
        if (recorded.path == "/api") {
            posts.push_back(recorded);
        }
    }
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].method, "POST");
    EXPECT_EQ(posts[0].query, "a=Wk9xQmLp");
    // One size-prefixed message, read from an aligned copy.
    const std::string& body = posts[0].body;
    ASSERT_GE(body.size(), 12u);
    EXPECT_EQ(body.size() % 8, 0u);
    std::vector<uint64_t> aligned((body.size() + 7) / 8);
    std::memcpy(aligned.data(), body.data(), body.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(aligned.data());
    EXPECT_EQ(size_t(flatbuffers::GetPrefixedSize(bytes)) + 4, body.size());
    flatbuffers::Verifier verifier(bytes, body.size());
    ASSERT_TRUE(verifier.VerifySizePrefixedBuffer<TestMessage>("TESM"));
    const TestMessage* message = flatbuffers::GetSizePrefixedRoot<TestMessage>(bytes);
    // Every value differs from its schema default, so each field must be present.
    const auto* table = reinterpret_cast<const flatbuffers::Table*>(message);
    for (auto field : {TestMessage::VT_EXAMPLEUINT8, TestMessage::VT_EXAMPLEINT16, TestMessage::VT_EXAMPLEINT32,
                       TestMessage::VT_EXAMPLEUINT64, TestMessage::VT_EXAMPLESTRING}) {
        EXPECT_TRUE(table->CheckField(field)) << "field at " << field;
    }
    EXPECT_EQ(message->exampleUint8(), 80);
    EXPECT_EQ(message->exampleInt16(), -160);
    EXPECT_EQ(message->exampleInt32(), -320);
    EXPECT_EQ(message->exampleUint64(), 646464646464640ULL);
    ASSERT_NE(message->exampleString(), nullptr);
    EXPECT_EQ(message->exampleString()->str(), "TestString");
}

// The owner of a loop that cannot start learns it from start, ends the work it is given with
// an error instead of posting it into a dead loop, and goes away without waiting.
TEST_F(TestActionEndToEnd, OwnerWhoseHttpLoopCannotStartFailsTheActionAndStopsCleanly) {
    std::unique_ptr<test::E2eApiManager> owner;
    ThreadedLoop::setThreadStartHook([] { return std::make_error_code(std::errc::resource_unavailable_try_again); });
    owner = std::make_unique<test::E2eApiManager>(&dispatcher_, &mainLoop_);
    ThreadedLoop::setThreadStartHook(nullptr);
    EXPECT_EQ(owner->httpLoopStart(), std::errc::resource_unavailable_try_again);

    ActionJournal journal;
    mainLoop_.post([&] { owner->enqueueAction(dispatcher_.createAction(TEST, &journal)); });
    ASSERT_TRUE(journal.waitFinished());
    std::promise<void> idle;
    mainLoop_.post([&] { idle.set_value(); });
    idle.get_future().wait();
    EXPECT_EQ(journal.errorCode(), TEMPORARILY_UNAVAILABLE);
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"start:TEST", "processed:TEST", "finish:TEST"}));
    // Torn down by the fixture, after the main loop, as the working one would be.
    manager_ = std::move(owner);
}

}  // namespace
}  // namespace corvane
