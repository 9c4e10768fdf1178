// The execution manager's queues against the real request channel over the loopback stand-in:
// a request the channel ends early, from the middle of a batch, must not shift the others.
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "request/utils_request.h"
#include "stand_in_service.h"
#include "support/e2e_api_manager.h"
#include "support/e2e_fixture.h"
#include "support/log_capture.h"
#include "support/stand_in_deployment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// The issuing processor's part: writes down each request's notifications, on the main loop.
class RequestJournal : public RequestListener {
public:
    void processed(std::shared_ptr<Request> request) override { add(request, "processed"); }
    void finished(std::shared_ptr<Request> request) override {
        add(request, "finished");
        std::lock_guard<std::mutex> lock(mutex_);
        ++finishedCount_;
        changed_.notify_all();
    }

    void name(const std::shared_ptr<Request>& request, const std::string& label) {
        std::lock_guard<std::mutex> lock(mutex_);
        labels_[request.get()] = label;
    }
    bool waitFinished(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] { return finishedCount_ >= count; });
    }
    std::vector<std::string> entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }

private:
    void add(const std::shared_ptr<Request>& request, const char* what) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(labels_[request.get()] + ":" + what);
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<const Request*, std::string> labels_;
    std::vector<std::string> entries_;
    size_t finishedCount_ = 0;
};

using RequestQueueEndToEnd = test::EndToEndTest;

// "first" goes out alone and keeps the channel busy, so the next three wait for one batch;
// "gone" has lost its message, so the channel ends it with 9 while "before" stands ahead of
// it in the API queue. The ones around it must be taken off in their own turn, and nothing
// may stay queued once every request has finished.
TEST_F(RequestQueueEndToEnd, RequestEndedInTheMiddleOfTheApiQueueLeavesTheOthersInOrder) {
    test::LogCapture log;
    RequestJournal journal;
    const std::vector<std::string> labels = {"first", "before", "gone", "after", "later"};
    std::vector<std::shared_ptr<MutableActionData>> actions;
    std::vector<std::weak_ptr<Request>> released;
    std::shared_ptr<TestRequest> later;
    onMain([&] {
        for (const std::string& label : labels) {
            auto action = std::make_shared<MutableActionData>(TEST);
            auto request = std::make_shared<TestRequest>(action);
            if (label == "gone") {
                request->takeMessage();
            }
            journal.name(request, label);
            actions.push_back(action);
            released.push_back(request);
            if (label == "later") {
                later = request;
            } else {
                manager_->enqueueApiRequest(request, &journal);
            }
        }
    });
    ASSERT_TRUE(journal.waitFinished(4));
    // One more request after the early end: it would meet whatever the early end left behind.
    onMain([&] { manager_->enqueueApiRequest(std::move(later), &journal); });
    ASSERT_TRUE(journal.waitFinished(5));
    onMain([] {});

    EXPECT_EQ(actions[2]->getErrorCode(), UNKNOWN_ERROR);
    for (size_t i : {0u, 1u, 3u, 4u}) {
        EXPECT_EQ(actions[i]->getErrorCode(), 0) << labels[i];
    }
    std::vector<std::string> entries = journal.entries();
    for (std::string label : {"first", "before", "after", "later"}) {
        size_t processed = 0, finished = 0;
        for (const std::string& entry : entries) {
            processed += entry == label + ":processed";
            finished += entry == label + ":finished";
        }
        EXPECT_EQ(processed, 1u) << label;
        EXPECT_EQ(finished, 1u) << label;
    }
    // Every request is let go once finished: none is held in a queue for good.
    for (size_t i = 0; i < released.size(); ++i) {
        EXPECT_TRUE(released[i].expired()) << labels[i] << " is still held";
    }
    EXPECT_EQ(log.count("Request mismatch"), 0u);
    EXPECT_EQ(log.count("Request unexpectedly finished"), 0u);
}

}  // namespace
}  // namespace corvane
