// The request channel against the loopback stand-in over TLS with the pinned key.
#include "request/request_channel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/stand_in_deployment.h"
#include "test_message_generated.h"
#include "test_response_generated.h"
#include "util/deployment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using service::Fault;

// A size-prefixed TestMessage carrying the label, built the way the API builds messages.
std::vector<uint8_t> buildMessage(const std::string& label) {
    flatbuffers::FlatBufferBuilder builder(128);
    builder.ForceVectorAlignment(0, 1, 8);
    auto text = builder.CreateString(label);
    TestMessageBuilder message(builder);
    message.add_exampleString(text);
    builder.FinishSizePrefixed(message.Finish(), "TESM");
    return std::vector<uint8_t>(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

// The stand-in's answer to a message: a TestResponse echoing the label.
std::string buildResponse(const std::string& label) {
    flatbuffers::FlatBufferBuilder builder(128);
    auto text = builder.CreateString(label);
    TestResponseBuilder response(builder);
    response.add_exampleString(text);
    builder.Finish(response.Finish(), "TESR");
    return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
}

// The label of a whole size-prefixed TestMessage, or "" when it is none.
std::string labelOf(const std::string& message) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
    flatbuffers::Verifier verifier(bytes, message.size());
    if (!verifier.VerifySizePrefixedBuffer<TestMessage>("TESM")) {
        return "";
    }
    const TestMessage* root = flatbuffers::GetSizePrefixedRoot<TestMessage>(bytes);
    return root->exampleString() ? root->exampleString()->str() : "";
}

// The labels of the messages of a batch body, split by their length prefixes.
std::vector<std::string> labelsOf(const std::string& body) {
    std::vector<std::string> labels;
    size_t position = 0;
    while (position + 4 <= body.size()) {
        const auto* prefix = reinterpret_cast<const uint8_t*>(body.data() + position);
        size_t length = size_t(prefix[0]) | size_t(prefix[1]) << 8 | size_t(prefix[2]) << 16 | size_t(prefix[3]) << 24;
        labels.push_back(labelOf(body.substr(position, 4 + length)));
        position += 4 + length;
    }
    return labels;
}

// A request whose message and response are TestMessage and TestResponse tables carrying its
// label; the response must echo the label to be taken.
class LabelRequest : public NetworkRequest {
public:
    LabelRequest(std::string label, std::shared_ptr<MutableActionData> actionData)
        : NetworkRequest(std::move(actionData)), label_(std::move(label)) {
        message_ = std::make_unique<VectorByteArray>(new std::vector<uint8_t>(buildMessage(label_)));
    }

    const char* getName() const override { return label_.c_str(); }
    std::string messageToString(const uint8_t*) override { return {}; }
    std::string responseToString(const uint8_t*) override { return {}; }
    const char* getMessageSchema() override { return ""; }
    const char* getResponseSchema() override { return ""; }
    bool verify(const uint8_t* bytes, uint32_t length) override {
        if (length < 8 || !flatbuffers::BufferHasIdentifier(bytes, "TESR")) {
            return false;
        }
        flatbuffers::Verifier verifier(bytes, length, 64, 1000000);
        return verifier.VerifyBuffer<TestResponse>("TESR");
    }
    bool processFlatbuffer(const uint8_t* bytes, uint32_t) override {
        const TestResponse* response = flatbuffers::GetRoot<TestResponse>(bytes);
        return response->exampleString() != nullptr && response->exampleString()->str() == label_;
    }

    const std::string label_;
};

// Stands in for the events and status requests: no action data, idle (finished) until its
// message is taken, which builds the message anew, and idle again once its local phase ends.
class PersistentLabelRequest : public LabelRequest {
public:
    explicit PersistentLabelRequest(std::string label) : LabelRequest(std::move(label), nullptr) {}

    bool isFinished() const override { return idle_ && !held; }
    std::unique_ptr<ByteArray> takeMessage() override {
        idle_ = false;
        expectedLength_ = 0;
        return std::make_unique<VectorByteArray>(new std::vector<uint8_t>(buildMessage(label_)));
    }
    void notifyFinished() override {
        if (idle_) {
            return;
        }
        idle_ = true;
        if (RequestListener* listener = getListener()) {
            listener->finished(shared_from_this());
        }
    }

    // Keeps the request busy, as one whose local phase has not ended.
    bool held = false;

private:
    bool idle_ = true;
};

// Plays the execution manager's part for the requests: writes down every notification as
// "processed:<label>" or "finished:<label>:<error>" and runs the local phase at once, unless
// told to hold one. Called on the main loop.
class Journal : public RequestListener {
public:
    void processed(std::shared_ptr<Request> request) override {
        add("processed:" + std::string(request->getName()));
        if (holdLocalPhaseOf == request->getName()) {
            held = request;
            return;
        }
        request->applyResults(nullptr);
    }
    void finished(std::shared_ptr<Request> request) override {
        auto data = request->getActionData();
        add("finished:" + std::string(request->getName()) + ":" + std::to_string(data ? data->getErrorCode() : 0));
        if (onFinished) {
            onFinished(request);
        }
    }

    // Waits until `count` entries start with the prefix.
    bool waitFor(const std::string& prefix, size_t count, std::chrono::milliseconds timeout = 60s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return countLocked(prefix) >= count; });
    }
    size_t count(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return countLocked(prefix);
    }
    bool has(const std::string& entry) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::find(entries_.begin(), entries_.end(), entry) != entries_.end();
    }
    std::vector<std::string> entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }

    std::function<void(const std::shared_ptr<Request>&)> onFinished;
    std::string holdLocalPhaseOf;
    std::shared_ptr<Request> held;

private:
    size_t countLocked(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& entry : entries_) {
            n += entry.compare(0, prefix.size(), prefix) == 0;
        }
        return n;
    }
    void add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(entry);
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
};

// The API manager as the channel meets it: logging out resets the channel; events are kept.
class ChannelManager : public test::FakeApiManager {
public:
    void logout(std::function<void()> completion) override {
        ++logoutCount;
        if (channel != nullptr) {
            channel->reset();
        }
    }
    void onEvent(std::shared_ptr<EventData> event) override { eventTypes.push_back(event->getType()); }

    RequestChannel* channel = nullptr;
    std::vector<int32_t> eventTypes;  // main loop only
};

// The HTTP module's own listener, told of every end before the record's listener: notes, on
// the main loop, what a cancelled batch's record still holds, and how many retired records the
// channel keeps once it has heard of the end too.
class CancelledEnds : public HttpListener {
public:
    void onHttpRequestFinished(HttpRequest* request) override {
        // Off unless a test asks: the channel may already have sent its current record again,
        // and the HTTP loop then writes the fields read here.
        if (!watching || request->status != -1) {
            return;
        }
        // The channel hears of the end right after this, in the same task, and keeps the
        // record until its next send or reset: this test's next step, after this task.
        loop->post([this, request] {
            std::lock_guard<std::mutex> lock(mutex_);
            bodySizes.push_back(request->body.size());
            retiredCounts.push_back(channel != nullptr ? channel->retiredCount() : 0);
            changed_.notify_all();
        });
    }
    bool wait(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] { return retiredCounts.size() >= count; });
    }

    RequestChannel* channel = nullptr;  // set before any send
    Loop* loop = nullptr;               // the main loop, likewise
    std::atomic<bool> watching{false};
    std::vector<size_t> bodySizes;
    std::vector<size_t> retiredCounts;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// One stand-in, a main loop, an HTTP loop with the libcurl transport, and the channel.
class Rig {
public:
    Rig() {
        service_.setBatchHandler("TESM", [this](const std::string& message) {
            std::string label = labelOf(message);
            std::lock_guard<std::mutex> lock(badMutex_);
            // Each marked label gets one unusable response.
            return badLabels_.erase(label) > 0 ? std::string("not a response") : buildResponse(label);
        });
        started = service_.start();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::PinOnly);
        mainLoop_.start();
        httpLoop_.start();
        http_ = std::make_unique<CurlHttp>(&httpLoop_, &cancelledEnds, &mainLoop_);
        channel = std::make_unique<RequestChannel>(&manager, http_.get());
        manager.channel = channel.get();
        cancelledEnds.channel = channel.get();
        cancelledEnds.loop = &mainLoop_;
        // The API manager's part: the end of the status request lets the next batch go.
        journal.onFinished = [this](const std::shared_ptr<Request>& request) {
            if (request == trailing) {
                channel->sendHttpRequest(false);
            }
        };
    }

    ~Rig() {
        httpLoop_.stop();
        httpLoop_.join();
        mainLoop_.stop();
        mainLoop_.join();
        channel.reset();
        http_.reset();
        service_.stop();
        deployment_.reset();
    }

    // Runs the task on the main loop and waits for it.
    void onMain(const std::function<void()>& task) {
        std::promise<void> done;
        mainLoop_.post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }

    std::shared_ptr<LabelRequest> request(const std::string& label) {
        auto made = std::make_shared<LabelRequest>(label, std::make_shared<MutableActionData>(TEST));
        made->setListener(&journal);
        return made;
    }

    // Installs the stand-ins of the events and status requests; on the main loop.
    void setPersistentRequests() {
        leading = std::make_shared<PersistentLabelRequest>("lead");
        trailing = std::make_shared<PersistentLabelRequest>("trail");
        leading->setListener(&journal);
        trailing->setListener(&journal);
        channel->setLeadingRequest(leading);
        channel->setTrailingRequest(trailing);
    }

    // Queues the requests into one batch, by holding the leading request busy meanwhile; on
    // the main loop, with the persistent requests set.
    void queueAsOneBatch(const std::vector<std::shared_ptr<LabelRequest>>& requests) {
        leading->held = true;
        for (const auto& each : requests) {
            channel->queue(each);
        }
        leading->held = false;
        channel->sendHttpRequest(false);
    }

    std::vector<service::RecordedRequest> batches() const {
        std::vector<service::RecordedRequest> posts;
        for (auto& recorded : service_.requests()) {
            if (recorded.path == "/api") {
                posts.push_back(recorded);
            }
        }
        return posts;
    }

    void markBad(const std::string& label) {
        std::lock_guard<std::mutex> lock(badMutex_);
        badLabels_.insert(label);
    }

    service::StandInService service_;
    bool started = false;
    CancelledEnds cancelledEnds;
    ChannelManager manager;
    std::unique_ptr<RequestChannel> channel;
    Journal journal;
    std::shared_ptr<PersistentLabelRequest> leading;
    std::shared_ptr<PersistentLabelRequest> trailing;

private:
    std::unique_ptr<test::StandInDeployment> deployment_;
    LibuvLoop mainLoop_;
    LibuvLoop httpLoop_;
    std::unique_ptr<CurlHttp> http_;
    std::mutex badMutex_;
    std::set<std::string> badLabels_;
};

class RequestChannelTest : public test::LoopbackTransportTest {};

TEST_F(RequestChannelTest, UrlCarriesTheSessionFormAndTheApplicationKey) {
    struct Case {
        const char* name;
        std::function<void(RequestChannel&)> setUp;
        const char* query;
    };
    const std::vector<Case> cases = {
        {"no session", [](RequestChannel&) {}, "a=Wk9xQmLp"},
        {"signed in", [](RequestChannel& channel) { channel.setSession("S3ss10n"); }, "s=S3ss10n&a=Wk9xQmLp"},
        {"link session", [](RequestChannel& channel) { channel.setLinkSession("L1nk"); }, "link=L1nk&a=Wk9xQmLp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ASSERT_TRUE(rig.started);
        std::vector<uint8_t> message = buildMessage("one");
        rig.onMain([&] {
            c.setUp(*rig.channel);
            rig.channel->queue(rig.request("one"));
        });
        ASSERT_TRUE(rig.journal.waitFor("finished:", 1));
        auto posts = rig.batches();
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(posts[0].method, "POST");
        EXPECT_EQ(posts[0].query, c.query);
        EXPECT_EQ(posts[0].body, std::string(message.begin(), message.end()));
        EXPECT_EQ(rig.journal.entries(), (std::vector<std::string>{"processed:one", "finished:one:0"}));
    }
}

TEST_F(RequestChannelTest, QueuedRequestsGoAtMostAHundredToABatchInOrder) {
    for (bool persistent : {false, true}) {
        SCOPED_TRACE(persistent ? "framed by the persistent requests" : "queued only");
        Rig rig;
        ASSERT_TRUE(rig.started);
        // The first batch is held back so that the others queue behind it.
        rig.service_.addFault({"/api", 1, 0, 300ms});
        std::vector<std::shared_ptr<LabelRequest>> queued;
        for (int i = 0; i < 151; ++i) {
            queued.push_back(rig.request("q" + std::to_string(i)));
        }
        rig.onMain([&] {
            if (persistent) {
                rig.setPersistentRequests();
            }
            for (auto& each : queued) {
                rig.channel->queue(each);
            }
        });
        ASSERT_TRUE(rig.journal.waitFor("finished:q", 151));
        if (persistent) {
            ASSERT_TRUE(rig.journal.waitFor("finished:trail", 3));
        }

        auto posts = rig.batches();
        ASSERT_EQ(posts.size(), 3u);
        const std::vector<size_t> sizes = {1, 100, 50};
        int next = 0;
        for (size_t b = 0; b < posts.size(); ++b) {
            std::vector<std::string> labels = labelsOf(posts[b].body);
            if (persistent) {
                ASSERT_GE(labels.size(), 2u);
                EXPECT_EQ(labels.front(), "lead");
                EXPECT_EQ(labels.back(), "trail");
                labels.erase(labels.begin());
                labels.pop_back();
            }
            ASSERT_EQ(labels.size(), sizes[b]) << "batch " << b;
            for (const std::string& label : labels) {
                EXPECT_EQ(label, "q" + std::to_string(next++));
            }
        }
        EXPECT_EQ(rig.journal.count("finished:q"), rig.journal.count("processed:q"));
        for (const auto& each : queued) {
            EXPECT_EQ(each->getActionData()->getErrorCode(), 0);
        }
    }
}

TEST_F(RequestChannelTest, ForcedBatchCarriesThePersistentRequestsAlone) {
    Rig rig;
    ASSERT_TRUE(rig.started);
    test::LogCapture log;
    rig.onMain([&] { rig.channel->sendHttpRequest(true); });
    EXPECT_TRUE(log.contains("No more requests to send"));
    rig.onMain([&] {
        rig.setPersistentRequests();
        rig.channel->sendHttpRequest(true);
    });
    ASSERT_TRUE(rig.journal.waitFor("finished:trail", 1));
    auto posts = rig.batches();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(labelsOf(posts[0].body), (std::vector<std::string>{"lead", "trail"}));
}

TEST_F(RequestChannelTest, NextBatchWaitsForTheTrailingRequestsLocalPhase) {
    Rig rig;
    ASSERT_TRUE(rig.started);
    rig.journal.holdLocalPhaseOf = "trail";
    rig.onMain([&] {
        rig.setPersistentRequests();
        rig.channel->queue(rig.request("first"));
    });
    ASSERT_TRUE(rig.journal.waitFor("processed:trail", 1));
    test::LogCapture log;
    rig.onMain([&] { rig.channel->queue(rig.request("second")); });
    EXPECT_TRUE(log.contains("Waiting for the processing of the trailing request"));
    EXPECT_EQ(rig.batches().size(), 1u);
    rig.onMain([&] {
        rig.journal.holdLocalPhaseOf.clear();
        rig.journal.held->applyResults(nullptr);
    });
    ASSERT_TRUE(rig.journal.waitFor("finished:second:0", 1));
    EXPECT_EQ(rig.batches().size(), 2u);
}

// An answer of status 200 that stops short must still finish every request of its batch, and
// leave the persistent requests idle so that later batches go.
TEST_F(RequestChannelTest, RequestsWithoutUsableResponseFinishWithError9) {
    const std::vector<std::string> batch = {"lead", "r0", "r1", "r2", "r3", "r4", "trail"};
    // Offset of the high byte of the length of the response at the batch position.
    auto lengthHighByte = [&](size_t position) {
        int64_t offset = 0;
        for (size_t k = 0; k < position; ++k) {
            offset += int64_t(4 + buildResponse(batch[k]).size());
        }
        return offset + 3;
    };
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        size_t answered;  // batch positions before the first unusable response
        bool corrupt;     // a response failed verification
    };
    const std::vector<Case> cases = {
        {"no responses at all",
         [](Rig& rig) {
             rig.service_.addFault({"/api", 1, 200});
         },
         0, false},
        {"a length runs past the end",
         [&](Rig& rig) {
             Fault fault{"/api", 1};
             fault.flipByte = lengthHighByte(3);
             rig.service_.addFault(fault);
         },
         3, false},
        {"a queued request's response fails verification", [](Rig& rig) { rig.markBad("r2"); }, 3, true},
        {"the leading response fails verification", [](Rig& rig) { rig.markBad("lead"); }, 0, true},
        {"the trailing response fails verification", [](Rig& rig) { rig.markBad("trail"); }, 6, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ASSERT_TRUE(rig.started);
        test::LogCapture log;
        c.arrange(rig);
        rig.onMain([&] {
            rig.setPersistentRequests();
            std::vector<std::shared_ptr<LabelRequest>> requests;
            for (int i = 0; i < 5; ++i) {
                requests.push_back(rig.request("r" + std::to_string(i)));
            }
            rig.queueAsOneBatch(requests);
        });
        ASSERT_TRUE(rig.journal.waitFor("finished:", batch.size())) << ::testing::PrintToString(rig.journal.entries());
        for (size_t k = 0; k < batch.size(); ++k) {
            const bool persistent = k == 0 || k + 1 == batch.size();
            const bool answered = k < c.answered;
            EXPECT_EQ(rig.journal.has("processed:" + batch[k]), answered) << batch[k];
            // Persistent requests carry no action data: finished means idle again.
            const char* code = answered || persistent ? ":0" : ":9";
            EXPECT_TRUE(rig.journal.has("finished:" + batch[k] + code)) << batch[k];
        }
        EXPECT_EQ(log.contains("Corrupt flatbuffer received"), c.corrupt);

        rig.onMain([&] { rig.channel->queue(rig.request("after")); });
        ASSERT_TRUE(rig.journal.waitFor("finished:after:0", 1)) << ::testing::PrintToString(rig.journal.entries());
        auto posts = rig.batches();
        ASSERT_EQ(posts.size(), 2u);
        EXPECT_EQ(labelsOf(posts[1].body), (std::vector<std::string>{"lead", "after", "trail"}));
    }
}

// A request whose message is given as raw bytes.
class RawRequest : public LabelRequest {
public:
    RawRequest(std::string label, std::vector<uint8_t> bytes)
        : LabelRequest(std::move(label), std::make_shared<MutableActionData>(TEST)) {
        message_ = std::make_unique<VectorByteArray>(new std::vector<uint8_t>(std::move(bytes)));
    }
};

TEST_F(RequestChannelTest, MisalignedMessageIsLoggedAndSentUnchanged) {
    Rig rig;
    ASSERT_TRUE(rig.started);
    test::LogCapture log;
    // 20 bytes: a length of 16, then 16 bytes that hold no known message.
    std::vector<uint8_t> odd = {16, 0, 0, 0, 8, 0, 0, 0, 'O', 'D', 'D', 'M', 0, 0, 0, 0, 0, 0, 0, 0};
    auto request = std::make_shared<RawRequest>("odd", odd);
    request->setListener(&rig.journal);
    rig.onMain([&] { rig.channel->queue(request); });
    ASSERT_TRUE(rig.journal.waitFor("finished:odd", 1));
    EXPECT_TRUE(log.contains("Wrong data alignment for request odd"));
    auto posts = rig.batches();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].body, std::string(odd.begin(), odd.end()));
    // The stand-in answers what it cannot read with a placeholder, which the request refuses.
    EXPECT_TRUE(rig.journal.has("finished:odd:9"));
}

TEST_F(RequestChannelTest, FatalStatusLogsOutAndFinishesEveryRequestWithError2) {
    Rig rig;
    ASSERT_TRUE(rig.started);
    rig.service_.addFault({"/api", 1, 403});
    rig.onMain([&] {
        rig.channel->setSession("S3ss10n");
        rig.setPersistentRequests();
        // One in flight, two queued behind it.
        for (const char* label : {"a0", "a1", "a2"}) {
            rig.channel->queue(rig.request(label));
        }
    });
    ASSERT_TRUE(rig.journal.waitFor("finished:a", 3));
    for (const char* label : {"a0", "a1", "a2"}) {
        EXPECT_TRUE(rig.journal.has(std::string("finished:") + label + ":2")) << label;
    }
    EXPECT_EQ(rig.journal.count("processed:"), 0u);
    rig.onMain([&] {
        EXPECT_EQ(rig.manager.logoutCount, 1);
        EXPECT_EQ(rig.manager.eventTypes, std::vector<int32_t>{EVENT_LOGOUT});
        EXPECT_EQ(rig.channel->queuedCount(), 0u);
        EXPECT_EQ(rig.channel->inFlightCount(), 0u);
    });

    // The channel goes on, without a session and without persistent requests.
    rig.onMain([&] { rig.channel->queue(rig.request("later")); });
    ASSERT_TRUE(rig.journal.waitFor("finished:later:0", 1));
    auto posts = rig.batches();
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].query, "a=Wk9xQmLp");
    EXPECT_EQ(labelsOf(posts[1].body), std::vector<std::string>{"later"});
}

TEST_F(RequestChannelTest, ResetFinishesQueuedAndUnansweredRequestsAndDropsTheAnswer) {
    Rig rig;
    ASSERT_TRUE(rig.started);
    rig.service_.addFault({"/api", 1, 0, 1500ms});
    rig.onMain([&] {
        rig.channel->setSession("S3ss10n");
        rig.setPersistentRequests();
        for (const char* label : {"b0", "b1", "b2"}) {
            rig.channel->queue(rig.request(label));
        }
    });
    for (int spin = 0; spin < 200 && rig.batches().empty(); ++spin) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(rig.batches().size(), 1u);
    test::LogCapture log;
    rig.onMain([&] { rig.channel->reset(); });
    for (const char* label : {"b0", "b1", "b2"}) {
        EXPECT_TRUE(rig.journal.has(std::string("finished:") + label + ":2")) << label;
    }
    EXPECT_TRUE(rig.journal.has("finished:lead:0"));
    EXPECT_TRUE(rig.journal.has("finished:trail:0"));

    rig.onMain([&] { rig.channel->queue(rig.request("later")); });
    ASSERT_TRUE(rig.journal.waitFor("finished:later:0", 1));
    rig.onMain([] {});  // the answer's last log line is written after the request finished
    EXPECT_EQ(rig.journal.count("processed:"), 1u);
    EXPECT_EQ(log.count("[req] Finished"), 1u);
    auto posts = rig.batches();
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].query, "a=Wk9xQmLp");
}

TEST_F(RequestChannelTest, WrongPinGetsNoAnswer) {
    Rig rig;
    ASSERT_TRUE(rig.started);
    Deployment deployment = getDeployment();
    deployment.apiPin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    setDeployment(deployment);
    test::LogCapture log;
    rig.onMain([&] { rig.channel->queue(rig.request("pinned")); });
    // The exchange fails before any HTTP answer and is retried; the stand-in never sees it.
    for (int spin = 0; spin < 500 && !log.contains("will be retried"); ++spin) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(log.contains("will be retried"));
    EXPECT_TRUE(rig.batches().empty());
    rig.onMain([&] { rig.channel->reset(); });
    EXPECT_TRUE(rig.journal.has("finished:pinned:2"));
}

// A batch body can hold keys derived from the password: once the HTTP loop is done with a
// batch that a reset cancelled, its body is gone and its record let go.
TEST_F(RequestChannelTest, CancelledBatchRecordIsWipedAndLetGoOnceTheHttpLoopIsDone) {
    Rig rig;
    ASSERT_TRUE(rig.started);
    // Every record that ends here is one that a reset retired: none is sent again.
    rig.cancelledEnds.watching = true;
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        rig.onMain([&] {
            rig.channel->setSession("S3ss10n");
            rig.channel->queue(rig.request("keys" + std::to_string(round)));
            EXPECT_EQ(rig.channel->inFlightCount(), 1u);
            rig.channel->reset();
        });
        ASSERT_TRUE(rig.cancelledEnds.wait(size_t(round)));
        rig.onMain([] {});
        EXPECT_EQ(rig.cancelledEnds.bodySizes.back(), 0u);
        EXPECT_EQ(rig.cancelledEnds.retiredCounts.back(), 0u);
    }
}

// The session and the link token travel in the URL; log lines show them as a fixed mask.
TEST_F(RequestChannelTest, LogLinesShowTheSessionMasked) {
    struct Case {
        const char* name;
        std::function<void(RequestChannel&)> setSession;
        const char* secret;
        const char* masked;
    };
    const std::vector<Case> cases = {
        {"session", [](RequestChannel& c) { c.setSession("S3ss10nT3xt"); }, "S3ss10nT3xt", "?s=********&"},
        {"link", [](RequestChannel& c) { c.setLinkSession("L1nkT0k3n"); }, "L1nkT0k3n", "?link=********&"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ASSERT_TRUE(rig.started);
        test::LogCapture log;
        const std::string label = std::string("masked-") + c.name;
        rig.onMain([&] {
            c.setSession(*rig.channel);
            rig.channel->queue(rig.request(label));
        });
        ASSERT_TRUE(rig.journal.waitFor("finished:" + label + ":0", 1));
        rig.onMain([] {});
        EXPECT_TRUE(log.contains(c.masked));
        EXPECT_EQ(log.count(c.secret), 0u);
        ASSERT_EQ(rig.batches().size(), 1u);
        EXPECT_NE(rig.batches()[0].query.find(c.secret), std::string::npos) << "the service still gets it";
    }
}

}  // namespace
}  // namespace corvane
