// The event long poll against the loopback stand-in over TLS.
#include "event/event_receiver.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "support/log_capture.h"
#include "support/stand_in_deployment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using service::Fault;

constexpr auto kWait = 60s;

// Runs the function on the loop thread and waits for it, so that everything posted there
// before has run too.
template <typename Function>
void runOn(Loop& loop, Function function) {
    std::mutex mutex;
    std::condition_variable ran;
    bool done = false;
    loop.post([&] {
        function();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        ran.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    ran.wait(lock, [&] { return done; });
}

// One attempt as the transport was asked to make it.
struct Attempt {
    std::string name;
    std::string url;
    uint32_t timeout;
    int32_t maxRetries;
    size_t bodySize;
    std::string pinnedKey;
};

// The real transport, with every attempt and every abort recorded on the way in.
class RecordingCurlHttp : public CurlHttp {
public:
    using CurlHttp::CurlHttp;

    bool waitAttempts(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return attempts_.size() >= count; });
    }

    bool waitAborts(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return aborts_ >= count; });
    }

    std::vector<Attempt> attempts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return attempts_;
    }

protected:
    void sendHttpRequest(HttpRequest* request) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            attempts_.push_back({request->name, request->url, request->timeout, request->maxRetries,
                                 request->body.size(), request->pinnedKey});
            changed_.notify_all();
        }
        CurlHttp::sendHttpRequest(request);
    }

    void abortHttpRequest(HttpRequest* request) override {
        CurlHttp::abortHttpRequest(request);
        std::lock_guard<std::mutex> lock(mutex_);
        ++aborts_;
        changed_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Attempt> attempts_;
    size_t aborts_ = 0;
};

// Stands in for the API manager: counts the batches asked for.
class RecordingPollTarget : public EventPollTarget {
public:
    void pollEvents() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++polls_;
        changed_.notify_all();
    }

    bool waitPolls(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return polls_ >= count; });
    }

    int polls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return polls_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int polls_ = 0;
};

class EventReceiverTest : public test::LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        // The long poll is not pinned: the stand-in's certificate must verify.
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        httpLoop_.start();
        mainLoop_.start();
        http_ = std::make_unique<RecordingCurlHttp>(&httpLoop_, nullptr, &mainLoop_);
        receiver_ = std::make_unique<EventReceiver>(http_.get(), &target_);
    }

    void TearDown() override {
        runOn(mainLoop_, [this] { receiver_->reset(); });
        runOn(httpLoop_, [] {});
        httpLoop_.stop();
        httpLoop_.join();
        mainLoop_.stop();
        mainLoop_.join();
        receiver_.reset();
        http_.reset();
        service_.stop();
        deployment_.reset();
    }

    std::string link(const std::string& path) const { return service_.baseUrl() + path; }

    void setUrl(const std::string& url) {
        runOn(mainLoop_, [this, url] { receiver_->setUrl(url.c_str()); });
    }

    // Lets every report already under way arrive: what the HTTP loop has posted to the main
    // loop runs before the main loop's turn here.
    void settle() {
        runOn(mainLoop_, [] {});
        runOn(httpLoop_, [] {});
        runOn(mainLoop_, [] {});
    }

    service::StandInService service_;
    std::unique_ptr<test::StandInDeployment> deployment_;
    LibuvLoop httpLoop_;
    LibuvLoop mainLoop_;
    std::unique_ptr<RecordingCurlHttp> http_;
    RecordingPollTarget target_;
    std::unique_ptr<EventReceiver> receiver_;
};

TEST_F(EventReceiverTest, PollGoesToTheLinkWithTheSessionQuery) {
    struct Case {
        const char* name;
        const char* session;  // null: none set
        const char* query;
    };
    // Without a session first: the receiver keeps a session once it has one.
    int polls = 0;
    for (const Case& c : {Case{"no session", nullptr, ""}, Case{"session", "abc", "s=abc"}}) {
        SCOPED_TRACE(c.name);
        test::LogCapture logs;
        service_.clearRequests();
        const size_t before = http_->attempts().size();
        const std::string token = std::string("token") + std::to_string(polls);
        service_.setEventsPending(token);
        if (c.session) {
            runOn(mainLoop_, [&] { receiver_->setSession(c.session); });
        }
        setUrl(link("/events/" + token));
        ASSERT_TRUE(target_.waitPolls(++polls));

        std::vector<Attempt> attempts = http_->attempts();
        ASSERT_EQ(attempts.size(), before + 1);
        const Attempt& attempt = attempts.back();
        EXPECT_EQ(attempt.url, link("/events/" + token) + (c.session ? std::string("?") + c.query : ""));
        EXPECT_EQ(attempt.name, "event");
        EXPECT_EQ(attempt.timeout, 40u);
        EXPECT_EQ(attempt.maxRetries, 10);
        EXPECT_EQ(attempt.bodySize, 0u);
        EXPECT_EQ(attempt.pinnedKey, "");
        auto recorded = service_.requests();
        ASSERT_EQ(recorded.size(), 1u);
        EXPECT_EQ(recorded[0].method, "POST");
        EXPECT_EQ(recorded[0].path, "/events/" + token);
        EXPECT_EQ(recorded[0].query, c.query);
        EXPECT_EQ(recorded[0].body, "");
        // The session id travels in the query, never in a log line of the receiver.
        EXPECT_TRUE(logs.contains("[evtr] HTTP request: " + link("/events/" + token)));
        if (c.session) {
            for (const std::string& line : logs.lines()) {
                if (line.find("[evtr]") != std::string::npos) {
                    EXPECT_EQ(line.find(c.session), std::string::npos) << line;
                }
            }
        }
    }
}

TEST_F(EventReceiverTest, AnswerOneAsksForOneBatchAndWaitsForTheNextLink) {
    test::LogCapture logs;
    service_.setEventsPending("token");
    setUrl(link("/events/token"));
    ASSERT_TRUE(target_.waitPolls(1));
    settle();
    EXPECT_EQ(target_.polls(), 1);
    EXPECT_EQ(http_->attempts().size(), 1u);
    EXPECT_TRUE(logs.contains("[evtr] HTTP response: 1 (Events available)"));

    // The batch's status response hands over the next link, which starts the next poll.
    service_.setEventsPending("next");
    setUrl(link("/events/next"));
    ASSERT_TRUE(target_.waitPolls(2));
    std::vector<Attempt> attempts = http_->attempts();
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[1].url, link("/events/next"));
}

TEST_F(EventReceiverTest, AnswerZeroPollsTheSameLinkAgainAtOnce) {
    test::LogCapture logs;
    service_.setPollTimeout(20ms);
    setUrl(link("/events/token"));
    ASSERT_TRUE(http_->waitAttempts(3));
    EXPECT_EQ(target_.polls(), 0);
    EXPECT_GE(logs.count("[evtr] HTTP response: 0 (No new events)"), 2u);

    service_.setEventsPending("token");
    ASSERT_TRUE(target_.waitPolls(1));
    for (const Attempt& attempt : http_->attempts()) {
        EXPECT_EQ(attempt.url, link("/events/token"));
    }
}

TEST_F(EventReceiverTest, AnswerItDoesNotUnderstandIsLoggedAndPolledAgain) {
    struct Case {
        const char* name;
        const char* path;
        const char* log;
    };
    service_.putBlob("two", "01");
    service_.putBlob("letter", "x");
    for (const Case& c : {Case{"two bytes", "/blob/two", "[evtr] Unexpected HTTP response: 2 bytes"},
                          Case{"empty", "/data/0", "[evtr] Unexpected HTTP response: 0 bytes"},
                          Case{"other byte", "/blob/letter", "[evtr] Unexpected HTTP response: x"}}) {
        SCOPED_TRACE(c.name);
        test::LogCapture logs;
        const size_t before = http_->attempts().size();
        setUrl(link(c.path));
        ASSERT_TRUE(http_->waitAttempts(before + 2));
        runOn(mainLoop_, [this] { receiver_->reset(); });
        settle();
        EXPECT_EQ(target_.polls(), 0);
        EXPECT_TRUE(logs.contains(c.log));
        std::vector<Attempt> attempts = http_->attempts();
        EXPECT_EQ(attempts[before + 1].url, link(c.path));
        EXPECT_FALSE(logs.contains("[evtr] HTTP response:"));
    }
}

TEST_F(EventReceiverTest, NewLinkDuringAPollIsPolledWhenThatPollEnds) {
    setUrl(link("/events/first"));
    ASSERT_TRUE(http_->waitAttempts(1));
    setUrl(link("/events/second"));
    settle();
    EXPECT_EQ(http_->attempts().size(), 1u);

    // The first poll's "1" is not looked at: the new link is polled instead.
    service_.setEventsPending("first");
    ASSERT_TRUE(http_->waitAttempts(2));
    EXPECT_EQ(http_->attempts()[1].url, link("/events/second"));
    settle();
    EXPECT_EQ(target_.polls(), 0);

    service_.setEventsPending("second");
    ASSERT_TRUE(target_.waitPolls(1));
    settle();
    EXPECT_EQ(target_.polls(), 1);
    EXPECT_EQ(http_->attempts().size(), 2u);
}

TEST_F(EventReceiverTest, ResetCancelsThePollAndNothingIsReportedAfterwards) {
    test::LogCapture logs;
    runOn(mainLoop_, [this] { receiver_->setSession("abc"); });
    setUrl(link("/events/token"));
    ASSERT_TRUE(http_->waitAttempts(1));
    runOn(mainLoop_, [this] { receiver_->reset(); });
    ASSERT_TRUE(http_->waitAborts(1));
    service_.setEventsPending("token");
    settle();
    EXPECT_EQ(target_.polls(), 0);
    EXPECT_EQ(http_->attempts().size(), 1u);
    EXPECT_TRUE(logs.contains("[evtr] Stopping event receiver"));
    EXPECT_EQ(logs.count("[evtr]"), 2u);
}

// A new sign-in may bring a session and a link right after a logout, while the cancelled poll
// is still being taken down on the HTTP loop: the new link must still be polled, and the
// cancelled poll's end must not be taken for the new poll's.
TEST_F(EventReceiverTest, NewLinkRightAfterResetStartsAFreshPoll) {
    test::LogCapture logs;
    runOn(mainLoop_, [this] { receiver_->setSession("abc"); });
    setUrl(link("/events/old"));
    ASSERT_TRUE(http_->waitAttempts(1));
    const std::string next = link("/events/new");
    runOn(mainLoop_, [this, next] {
        receiver_->reset();
        receiver_->setSession("def");
        receiver_->setUrl(next.c_str());
    });
    ASSERT_TRUE(http_->waitAttempts(2));
    EXPECT_EQ(http_->attempts()[1].url, next + "?s=def");

    service_.setEventsPending("new");
    ASSERT_TRUE(target_.waitPolls(1));
    settle();
    EXPECT_EQ(target_.polls(), 1);
    EXPECT_FALSE(logs.contains("[evtr] HTTP request cancelled"));
    EXPECT_FALSE(logs.contains("[evtr] HTTP request received after reset"));
}

// Failed attempts are the HTTP module's to retry; when it gives up, the receiver asks for a
// batch instead of polling again, so that the batch's status response restarts the poll.
TEST_F(EventReceiverTest, FailedPollsAreRetriedAndAFinalFailureAsksForABatch) {
    struct Case {
        const char* name;
        Fault fault;
        size_t attempts;
        const char* log;
    };
    // Cut after the headers: libcurl itself resends on a reused connection that closes before
    // answering, so only a started answer reaches the module as a failed attempt.
    Fault cut;
    cut.pathPrefix = "/blob/one";
    cut.drop = Fault::Drop::AfterHeaders;
    const std::vector<Case> cases = {
        {"unavailable, then answered", Fault{"/blob/one", 1, 503}, 2, "[evtr] HTTP response: 1 (Events available)"},
        {"cut short, then answered", cut, 2, "[evtr] HTTP response: 1 (Events available)"},
        {"forbidden", Fault{"/blob/one", 1, 403}, 1, "[evtr] HTTP request error (4)"},
        {"not found", Fault{"/blob/one", 1, 404}, 1, "[evtr] HTTP request error (4)"},
        {"bad request", Fault{"/blob/one", 1, 400}, 1, "[evtr] HTTP request error (4)"},
    };
    // A fixed "1": the stand-in's long poll hands pending events out once, and a cut answer
    // would take them with it.
    service_.putBlob("one", "1");
    int polls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture logs;
        const size_t before = http_->attempts().size();
        service_.addFault(c.fault);
        setUrl(link("/blob/one"));
        ASSERT_TRUE(target_.waitPolls(++polls));
        settle();
        EXPECT_EQ(target_.polls(), polls);
        std::vector<Attempt> attempts = http_->attempts();
        ASSERT_EQ(attempts.size(), before + c.attempts);
        EXPECT_EQ(attempts.back().url, link("/blob/one"));
        EXPECT_TRUE(logs.contains(c.log));
        service_.clearFaults();
    }
}

}  // namespace
}  // namespace corvane
