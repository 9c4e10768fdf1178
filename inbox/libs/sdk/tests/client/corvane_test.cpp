// The facade against the loopback stand-in: creation and destruction, the process-wide set-up,
// the parameters its operations carry, the two-step operations and an SDK instance that
// cannot start.
#include "client/corvane.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/api_client.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/error.h"
#include "execution/callback_dispatcher.h"
#include "loop/threaded_loop.h"
#include "stand_in_service.h"
#include "support/facade_access.h"
#include "support/log_capture.h"
#include "support/recording_listeners.h"
#include "support/stand_in_deployment.h"
#include "support/test_task_manager.h"

namespace corvane {
namespace test {

namespace {

constexpr const char* kAppName = "CorvaneTest";
constexpr int32_t kAppVersion = 7;

// The batches the stand-in received.
std::vector<service::RecordedRequest> batches(const service::StandInService& service) {
    std::vector<service::RecordedRequest> posts;
    for (auto& recorded : service.requests()) {
        if (recorded.path == "/api") {
            posts.push_back(recorded);
        }
    }
    return posts;
}

// The value of a request's header; empty when it has none.
std::string headerOf(const service::RecordedRequest& request, const std::string& name) {
    for (const auto& header : request.headers) {
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0) {
            return header.second;
        }
    }
    return std::string();
}

RecordingActionListener::Options withOwnership(RecordingActionListener::Detail detail = nullptr) {
    RecordingActionListener::Options options;
    options.ownership = true;
    options.detail = std::move(detail);
    return options;
}

std::string typeAndError(const ActionData& action) {
    return std::string(action.getTypeName()) + ":" + std::to_string(action.getErrorCode());
}

// Whether every notification (not the hold and release) came on the thread.
bool notifiedOn(RecordingActionListener& listener, std::thread::id thread) {
    std::lock_guard<std::mutex> guard(listener.mutex);
    for (size_t i = 0; i < listener.calls.size(); ++i) {
        const std::string& call = listener.calls[i];
        if (call != "held" && call != "released" && listener.threads[i] != thread) {
            return false;
        }
    }
    return true;
}

// Every test talks to the stand-in only, with the process-wide resources set up as the
// application sets them up, and torn down again afterwards.
class FacadeTest : public LoopbackTransportTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<StandInDeployment>(service_, StandInDeployment::Trust::PinOnly);
        Corvane::globalInit(kAppName, kAppVersion);
    }

    void TearDown() override {
        Corvane::globalCleanup();
        deployment_.reset();
        service_.stop();
    }

    service::StandInService service_;
    std::unique_ptr<StandInDeployment> deployment_;
    TestTaskManager taskManager_;
};

TEST_F(FacadeTest, CreatedAndDestroyedRepeatedlyLetsItsTaskManagerAndListenersGo) {
    for (int round = 0; round < 5; ++round) {
        RecordingActionListener pending(withOwnership());
        {
            Corvane facade(&taskManager_, nullptr);
            EXPECT_TRUE(taskManager_.held());
            // Still queued or running when the destructor starts.
            facade.getUserInfo(&pending);
            facade.login("user@example.com", "secret", &pending);
        }
        EXPECT_FALSE(taskManager_.held()) << "round " << round;
        EXPECT_EQ(taskManager_.releases(), round + 1);
        taskManager_.drain();
        // Whatever it heard before the shutdown, both registrations ended.
        std::vector<std::string> calls = pending.snapshot();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "held"), 2) << "round " << round;
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "released"), 2) << "round " << round;
    }
}

TEST_F(FacadeTest, TwoFacadesHaveDistinctClientIds) {
    Corvane first(&taskManager_, nullptr);
    Corvane second(&taskManager_, nullptr);
    const uint64_t firstId = FacadeAccess::manager(first).getClientId();
    const uint64_t secondId = FacadeAccess::manager(second).getClientId();
    EXPECT_NE(firstId, 0u);
    EXPECT_NE(secondId, 0u);
    EXPECT_NE(firstId, secondId);
}

TEST_F(FacadeTest, TestActionReachesTheListenerOnTheTaskManagerThread) {
    Corvane facade(&taskManager_, nullptr);
    RecordingActionListener listener(withOwnership(typeAndError));
    FacadeAccess::submit(facade, TEST, &listener);
    listener.waitForFinishes(1);
    taskManager_.drain();

    EXPECT_EQ(listener.snapshot(),
              (std::vector<std::string>{"held", "start:TEST:0", "processed:TEST:0", "finish:TEST:0", "released"}));
    EXPECT_TRUE(notifiedOn(listener, taskManager_.threadId()));
    EXPECT_EQ(batches(service_).size(), 1u);
}

TEST_F(FacadeTest, ActionWithoutListenerStillRunsAndOnlyGlobalListenersHearIt) {
    // Declared first: the facade lets it go when it goes.
    RecordingActionListener global(RecordingActionListener::Options{"", typeAndError});
    Corvane facade(&taskManager_, nullptr);
    FacadeAccess::dispatcher(facade).addGlobalActionListener(&global);
    FacadeAccess::submit(facade, TEST, nullptr);
    global.waitForFinishes(1);
    taskManager_.drain();

    EXPECT_EQ(global.snapshot(), (std::vector<std::string>{"start:TEST:0", "processed:TEST:0", "finish:TEST:0"}));
    EXPECT_EQ(batches(service_).size(), 1u);
}

// The application's part of the User-Agent, as the settings end up after construction.
struct UserAgentCase {
    const char* name;
    // 0: set up as usual; 1: not set up; 2: set up twice, first with "First" and 1.
    int setUp;
    const char* given;
    const char* expected;
    bool warns;
};

const UserAgentCase kUserAgentCases[] = {
    {"GivenAgentIsKept", 0, "Tembra/1.0.0.0", "Tembra/1.0.0.0", false},
    {"EmptyAgentReceivesTheDefault", 0, "", "CorvaneTest/7", false},
    {"BeforeGlobalInitTheNameIsUnknown", 1, "", "Unknown/0", true},
    {"SecondGlobalInitKeepsTheFirstNameAndVersion", 2, "", "First/1", false},
};

void PrintTo(const UserAgentCase& param, std::ostream* out) {
    *out << param.name;
}

class FacadeUserAgentTest : public FacadeTest, public testing::WithParamInterface<UserAgentCase> {};

TEST_P(FacadeUserAgentTest, SettingsCarryTheApplicationAgent) {
    const UserAgentCase& param = GetParam();
    if (param.setUp != 0) {
        Corvane::globalCleanup();
    }
    if (param.setUp == 2) {
        Corvane::globalInit("First", 1);
        Corvane::globalInit("Second", 2);
    }
    LogCapture log;
    CorvaneSettings settings;
    settings.setUserAgent(param.given);
    RecordingActionListener listener;
    {
        Corvane facade(&taskManager_, &settings);
        EXPECT_EQ(settings.getUserAgent(), param.expected);
        // The instance sends what the settings say.
        FacadeAccess::submit(facade, TEST, &listener);
        listener.waitForFinishes(1);
        // The dispatcher lets the listener go only after its finish call has returned.
        taskManager_.drain();
    }
    EXPECT_EQ(log.contains("Global resources not ready"), param.warns);
    std::vector<service::RecordedRequest> posts = batches(service_);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(headerOf(posts[0], "User-Agent").rfind(std::string(param.expected) + " CorvaneSDK/", 0), 0u)
        << headerOf(posts[0], "User-Agent");
}

INSTANTIATE_TEST_SUITE_P(Cases, FacadeUserAgentTest, testing::ValuesIn(kUserAgentCases),
                         [](const testing::TestParamInfo<UserAgentCase>& info) { return info.param.name; });

// What the login operations put into their action.
struct LoginCase {
    const char* name;
    void (*call)(Corvane& facade, ActionListener* listener);
    int32_t value;
};

const LoginCase kLoginCases[] = {
    {"WithoutCodeCarriesMinusOne",
     [](Corvane& facade, ActionListener* listener) { facade.login("user@example.com", "pass word", listener); }, -1},
    {"WithCodeCarriesTheCode",
     [](Corvane& facade, ActionListener* listener) {
         facade.loginWith2fa("user@example.com", "pass word", 123456, listener);
     },
     123456},
};

void PrintTo(const LoginCase& param, std::ostream* out) {
    *out << param.name;
}

class FacadeLoginTest : public FacadeTest, public testing::WithParamInterface<LoginCase> {};

TEST_P(FacadeLoginTest, ActionCarriesEmailPasswordAndValue) {
    Corvane facade(&taskManager_, nullptr);
    RecordingActionListener listener(RecordingActionListener::Options{"", [](const ActionData& action) {
                                                                          return std::string(action.getTypeName()) +
                                                                                 "|" + action.getEmail() + "|" +
                                                                                 action.getPassword() + "|" +
                                                                                 std::to_string(action.getValue());
                                                                      }});
    GetParam().call(facade, &listener);
    listener.waitForFinishes(1);
    taskManager_.drain();
    EXPECT_THAT(listener.snapshot(),
                testing::Contains("finish:LOGIN|user@example.com|pass word|" + std::to_string(GetParam().value)));
}

INSTANTIATE_TEST_SUITE_P(Cases, FacadeLoginTest, testing::ValuesIn(kLoginCases),
                         [](const testing::TestParamInfo<LoginCase>& info) { return info.param.name; });

// The two-step operations when the node's tree cannot be loaded (no session here).
struct TwoStepCase {
    const char* name;
    void (*call)(Corvane& facade, uint64_t node, ActionListener* listener);
    const char* secondType;
    const char* expectedName;
};

constexpr uint64_t kNode = 0x0000A1B2C3D4E5F6ULL;

const TwoStepCase kTwoStepCases[] = {
    {"ShareNode", [](Corvane& facade, uint64_t node, ActionListener* listener) { facade.shareNode(node, listener); },
     "CREATE_LINK", ""},
    {"DownloadNode",
     [](Corvane& facade, uint64_t node, ActionListener* listener) {
         std::string path = "/tmp/somewhere/file.bin";
         facade.downloadNode(node, path.c_str(), listener);
         // The facade keeps its own copy of the path.
         path.assign(path.size(), 'x');
     },
     "DOWNLOAD", "/tmp/somewhere/file.bin"},
};

void PrintTo(const TwoStepCase& param, std::ostream* out) {
    *out << param.name;
}

class FacadeTwoStepTest : public FacadeTest, public testing::WithParamInterface<TwoStepCase> {};

TEST_P(FacadeTwoStepTest, FailedTreeIsReportedAsTheSecondActionAndNothingIsSent) {
    const TwoStepCase& param = GetParam();
    // Sees every action that runs, so a second action that ran would show here.
    RecordingActionListener global(RecordingActionListener::Options{"", typeAndError});
    Corvane facade(&taskManager_, nullptr);
    FacadeAccess::dispatcher(facade).addGlobalActionListener(&global);
    RecordingActionListener listener(withOwnership([](const ActionData& action) {
        return typeAndError(action) + ":" + std::to_string(action.getNodeHandle()) + ":" +
               (action.getName() != nullptr ? action.getName() : "") + (action.isFinished() ? ":finished" : "");
    }));

    param.call(facade, kNode, &listener);
    listener.waitForFinishes(1);
    taskManager_.drain();

    std::vector<std::string> tree = global.snapshot();
    ASSERT_FALSE(tree.empty());
    ASSERT_EQ(tree.back().rfind("finish:GET_NODE_TREE:", 0), 0u) << tree.back();
    const std::string treeError = tree.back().substr(std::string("finish:GET_NODE_TREE:").size());
    EXPECT_NE(treeError, "0");
    for (const std::string& call : tree) {
        EXPECT_NE(call.find("GET_NODE_TREE"), std::string::npos) << call;
    }
    // Told once and let go at once, long before the facade goes.
    EXPECT_EQ(listener.snapshot(),
              (std::vector<std::string>{"held",
                                        "finish:" + std::string(param.secondType) + ":" + treeError + ":" +
                                            std::to_string(kNode) + ":" + param.expectedName + ":finished",
                                        "released"}));
    EXPECT_TRUE(batches(service_).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, FacadeTwoStepTest, testing::ValuesIn(kTwoStepCases),
                         [](const testing::TestParamInfo<TwoStepCase>& info) { return info.param.name; });

// An SDK instance whose main loop (the first start) or one of its module loops (a later one)
// cannot start.
struct StartFailureCase {
    const char* name;
    int failingStart;
    const char* logLine;
};

const StartFailureCase kStartFailureCases[] = {
    {"MainLoop", 1, "SDK main loop could not start"},
    {"ModuleLoop", 2, "SDK instance could not start"},
};

void PrintTo(const StartFailureCase& param, std::ostream* out) {
    *out << param.name;
}

class FacadeStartFailureTest : public FacadeTest, public testing::WithParamInterface<StartFailureCase> {
protected:
    void TearDown() override {
        ThreadedLoop::setThreadStartHook(nullptr);
        FacadeTest::TearDown();
    }
};

TEST_P(FacadeStartFailureTest, EveryOperationEndsWithElevenAndTheFacadeGoesWithoutWaiting) {
    auto starts = std::make_shared<std::atomic<int>>(0);
    const int failing = GetParam().failingStart;
    ThreadedLoop::setThreadStartHook([starts, failing] {
        return ++*starts == failing ? std::make_error_code(std::errc::resource_unavailable_try_again)
                                    : std::error_code();
    });
    LogCapture log;
    auto facade = std::make_unique<Corvane>(&taskManager_, nullptr);
    ThreadedLoop::setThreadStartHook(nullptr);
    EXPECT_GE(starts->load(), failing);
    EXPECT_TRUE(log.contains(GetParam().logLine));

    RecordingActionListener listener(withOwnership(typeAndError));
    facade->login("user@example.com", "secret", &listener);
    facade->shareNode(kNode, &listener);
    FacadeAccess::submit(*facade, TEST, &listener);
    listener.waitForFinishes(3);
    taskManager_.drain();

    std::vector<std::string> calls = listener.snapshot();
    for (const char* finish : {"finish:LOGIN:11", "finish:CREATE_LINK:11", "finish:TEST:11"}) {
        EXPECT_THAT(calls, testing::Contains(finish));
    }
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "held"), 3);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "released"), 3);
    EXPECT_TRUE(notifiedOn(listener, taskManager_.threadId()));
    facade.reset();
    EXPECT_FALSE(taskManager_.held());
    EXPECT_TRUE(batches(service_).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, FacadeStartFailureTest, testing::ValuesIn(kStartFailureCases),
                         [](const testing::TestParamInfo<StartFailureCase>& info) { return info.param.name; });

void writeToStandardError(const char* text) {
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
}

// Sets a variable for the child processes this test starts, and restores it afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& appended) : name_(name) {
        const char* previous = std::getenv(name);
        if (previous != nullptr) {
            previous_ = previous;
        }
        const std::string value = previous_ ? *previous_ + ":" + appended : appended;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (previous_) {
            setenv(name_, previous_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// Faults a child process, never this one: the first callback alone is called.
TEST(FacadeCrashHandlerDeathTest, SecondEnableChangesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The crash handler allocates and logs inside the signal handler, on purpose.
    ScopedEnvironment threadSanitizer("TSAN_OPTIONS", "report_signal_unsafe=0");
    ScopedEnvironment addressSanitizer("ASAN_OPTIONS", "handle_abort=0:detect_leaks=0");
    EXPECT_EXIT(
        {
            Corvane::enableCrashHandler([](std::string, std::string) { writeToStandardError("first callback\n"); });
            Corvane::enableCrashHandler([](std::string, std::string) { writeToStandardError("second callback\n"); });
            std::raise(SIGABRT);
        },
        testing::KilledBySignal(SIGABRT),
        testing::AllOf(testing::HasSubstr("first callback"), testing::Not(testing::HasSubstr("second callback"))));
}

}  // namespace
}  // namespace test
}  // namespace corvane
