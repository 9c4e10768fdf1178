// Signing in and the sessions, through the facade against the loopback stand-in: a user
// registered there with keys made independently, signed in with the password, a saved
// session string, the recovery key and a two-factor code, its sessions listed and ended.
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "client/corvane.h"
#include "corvane/action_data.h"
#include "corvane/action_types.h"
#include "corvane/corvane_settings.h"
#include "corvane/error.h"
#include "stand_in_service.h"
#include "support/account_keys.h"
#include "support/facade_access.h"
#include "support/log_capture.h"
#include "support/stand_in_client.h"
#include "support/stand_in_deployment.h"
#include "support/test_task_manager.h"

namespace corvane {
namespace test {
namespace {

using signin::AccountKeys;
using signin::base64Url;
using signin::hexOf;

constexpr int32_t kPin = 4321;
constexpr int8_t kContactsRoot = 7;

// Hears the end of one action and keeps it.
class FinishListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> guard(mutex_);
        action_ = std::move(action);
        condition_.notify_all();
    }
    std::shared_ptr<ActionData> wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [&] { return action_ != nullptr; });
        return action_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    std::shared_ptr<ActionData> action_;
};

std::string textOf(const char* text) {
    return text != nullptr ? text : std::string();
}

class SignInTest : public LoopbackTransportTest {
protected:
    static void SetUpTestSuite() { keys_ = new AccountKeys("Ada.Lovelace@Example.test", "analytical engine"); }
    static void TearDownTestSuite() {
        delete keys_;
        keys_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(service_.start());
        deployment_ = std::make_unique<StandInDeployment>(service_, StandInDeployment::Trust::PinOnly);
        Corvane::globalInit("CorvaneSignInTest", 1);
        char pattern[] = "/tmp/corvane-signin-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dataRoot_ = pattern;
        registered_ = signin::registerUser(service_, *keys_, kPin);
        ASSERT_NE(registered_.account, 0u);
    }

    void TearDown() override {
        facades_.clear();
        Corvane::globalCleanup();
        deployment_.reset();
        service_.stop();
        std::system(("rm -rf '" + dataRoot_ + "'").c_str());
    }

    // A new SDK instance with a data folder of its own, as after a restart.
    Corvane& newFacade() {
        auto settings = std::make_unique<CorvaneSettings>();
        settings->setDataPath(dataRoot_ + "/" + std::to_string(facades_.size()));
        std::system(("mkdir -p '" + settings->getDataPath() + "'").c_str());
        facades_.push_back(std::make_unique<Corvane>(&taskManager_, settings.get()));
        settings_.push_back(std::move(settings));
        return *facades_.back();
    }

    template <class Operation>
    std::shared_ptr<ActionData> run(Operation operation) {
        FinishListener listener;
        operation(&listener);
        auto action = listener.wait();
        taskManager_.drain();
        return action;
    }

    std::shared_ptr<ActionData> submit(
        Corvane& facade, int32_t type, std::function<void(MutableActionData&)> fill = [](MutableActionData&) {}) {
        return run([&](ActionListener* l) { FacadeAccess::submit(facade, type, l, fill); });
    }

    std::shared_ptr<ActionData> login(Corvane& facade, const std::string& password = keys_->password) {
        return run([&](ActionListener* l) { facade.login(keys_->email.c_str(), password.c_str(), l); });
    }

    std::shared_ptr<ActionData> loginWithSession(Corvane& facade, const std::string& session) {
        return run([&](ActionListener* l) { facade.loginWithSession(session.c_str(), l); });
    }

    std::shared_ptr<ActionData> loginWithRecovery(Corvane& facade, const std::string& recoveryId,
                                                  const std::string& recoveryKey) {
        return submit(facade, LOGIN, [&](MutableActionData& a) {
            a.setEmail(keys_->email.c_str());
            a.setPassword(recoveryKey.c_str());
            a.setText(recoveryId.c_str());
            a.setOption(kPin);
            a.setValue(-1);
        });
    }

    // The session text of a saved session string.
    static std::string sessionText(const std::string& saved) { return saved.substr(0, saved.size() - 43); }

    size_t contactsRoots() {
        size_t count = 0;
        for (const auto& node : service_.accounts().nodes(registered_.account)) {
            count += node.parent == 0 && node.type == kContactsRoot ? 1 : 0;
        }
        return count;
    }

    // The AddNodes messages the stand-in was sent.
    size_t rootRequests() {
        size_t count = 0;
        for (const auto& request : service_.requests()) {
            for (size_t at = request.body.find("ADNM"); at != std::string::npos;
                 at = request.body.find("ADNM", at + 4)) {
                ++count;
            }
        }
        return count;
    }

    static AccountKeys* keys_;
    service::StandInService service_;
    std::unique_ptr<StandInDeployment> deployment_;
    TestTaskManager taskManager_;
    std::string dataRoot_;
    signin::Registered registered_;
    std::vector<std::unique_ptr<CorvaneSettings>> settings_;
    std::vector<std::unique_ptr<Corvane>> facades_;
};

AccountKeys* SignInTest::keys_ = nullptr;

TEST_F(SignInTest, PasswordSignInsCreateOneContactsRootAndTheSavedSessionSurvivesARestart) {
    Corvane& first = newFacade();
    std::string saved;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto signedIn = login(first);
        ASSERT_EQ(signedIn->getErrorCode(), 0);
        saved = textOf(signedIn->getSession());
        EXPECT_EQ(saved.size(), 43u + 43u);
        EXPECT_EQ(saved.substr(saved.size() - 43), keys_->recoveryKey());
        auto email = submit(first, CURRENT_EMAIL);
        EXPECT_EQ(email->getErrorCode(), 0);
        EXPECT_EQ(textOf(email->getEmail()), keys_->email);
        // Each answered after the contacts root's request, which went out before them: a
        // root request that started another would have sent that one by now.
        for (int exchange = 0; exchange < 3; ++exchange) {
            EXPECT_EQ(submit(first, SESSION_INFO)->getErrorCode(), 0);
        }
        EXPECT_EQ(contactsRoots(), 1u);
        EXPECT_EQ(rootRequests(), 1u);
        if (round < 2) {
            EXPECT_EQ(submit(first, LOGOUT)->getErrorCode(), 0);
        }
    }

    Corvane& restarted = newFacade();
    auto again = loginWithSession(restarted, saved);
    ASSERT_EQ(again->getErrorCode(), 0);
    EXPECT_EQ(textOf(again->getSession()), saved);
    auto email = submit(restarted, CURRENT_EMAIL);
    EXPECT_EQ(email->getErrorCode(), 0);
    EXPECT_EQ(textOf(email->getEmail()), keys_->email);
    EXPECT_EQ(contactsRoots(), 1u);
}

TEST_F(SignInTest, SessionListShowsBothSessionsAndTheNewSessionSignsInAnotherInstance) {
    Corvane& first = newFacade();
    ASSERT_EQ(login(first)->getErrorCode(), 0);
    auto opened = run([&](ActionListener* l) { first.newSession(l); });
    ASSERT_EQ(opened->getErrorCode(), 0);
    const std::string second = textOf(opened->getSession());
    EXPECT_EQ(second.size(), 86u);
    EXPECT_EQ(second.substr(second.size() - 43), keys_->recoveryKey());
    EXPECT_EQ(opened->getAccountHandle(), registered_.account);

    auto listed = submit(first, SESSION_INFO);
    ASSERT_EQ(listed->getErrorCode(), 0);
    ASSERT_NE(listed->getActiveSessions(), nullptr);
    // Registering opened a session too; this sign-in's and the new one are both active.
    bool currentListed = false;
    bool newOneListed = false;
    for (const auto& session : *listed->getActiveSessions()) {
        currentListed |= session->getId() == listed->getNodeHandle();
        newOneListed |= session->getId() == opened->getNodeHandle();
    }
    EXPECT_TRUE(currentListed);
    EXPECT_TRUE(newOneListed);
    EXPECT_NE(listed->getNodeHandle(), opened->getNodeHandle());
    EXPECT_EQ(listed->getNodeHandleText().size(), 11u);

    Corvane& other = newFacade();
    ASSERT_EQ(loginWithSession(other, second)->getErrorCode(), 0);
    auto current = submit(other, SESSION_INFO);
    ASSERT_EQ(current->getErrorCode(), 0);
    EXPECT_EQ(current->getNodeHandle(), opened->getNodeHandle());
}

TEST_F(SignInTest, LogoutEndsTheSessionOnTheServiceAndLocally) {
    Corvane& facade = newFacade();
    auto signedIn = login(facade);
    ASSERT_EQ(signedIn->getErrorCode(), 0);
    const std::string session = sessionText(textOf(signedIn->getSession()));
    EXPECT_EQ(signin::postBatch(service_, session, {}).status, 200);

    EXPECT_EQ(submit(facade, LOGOUT)->getErrorCode(), 0);
    EXPECT_EQ(signin::postBatch(service_, session, {}).status, 403);
    EXPECT_NE(submit(facade, CURRENT_EMAIL)->getErrorCode(), 0);
    EXPECT_NE(submit(facade, SESSION_INFO)->getErrorCode(), 0);
}

struct Refusal {
    const char* name;
    std::function<void(MutableActionData&)> fill;
    int32_t error;
};

TEST_F(SignInTest, RefusedSignInsEndWithTheirErrorAndLeaveNoSession) {
    const std::string key = keys_->recoveryKey();
    const std::vector<Refusal> cases = {
        {"wrong password",
         [](MutableActionData& a) {
             a.setEmail(keys_->email.c_str());
             a.setPassword("difference engine");
             a.setValue(-1);
         },
         WRONG_PARAMETERS},
        {"unknown e-mail",
         [](MutableActionData& a) {
             a.setEmail("nobody@example.test");
             a.setPassword(keys_->password.c_str());
             a.setValue(-1);
         },
         WRONG_PARAMETERS},
        {"session string of the key text alone", [key](MutableActionData& a) { a.setSession(key.c_str()); },
         WRONG_PARAMETERS},
        {"unknown session text", [key](MutableActionData& a) { a.setSession(("no-such-session" + key).c_str()); },
         SESSION_NOT_VALID},
        {"garbage", [](MutableActionData& a) { a.setSession(std::string(200, '%').c_str()); }, SESSION_NOT_VALID},
    };
    Corvane& facade = newFacade();
    for (const auto& refusal : cases) {
        SCOPED_TRACE(refusal.name);
        auto action = submit(facade, LOGIN, refusal.fill);
        EXPECT_EQ(action->getErrorCode(), refusal.error);
        EXPECT_NE(submit(facade, CURRENT_EMAIL)->getErrorCode(), 0);
    }
}

// The service knows the session text, but the key text after it opens nothing.
TEST_F(SignInTest, SavedSessionWithAMangledKeyTextIsACryptographicError) {
    Corvane& first = newFacade();
    auto signedIn = login(first);
    ASSERT_EQ(signedIn->getErrorCode(), 0);
    const std::string saved = textOf(signedIn->getSession());
    std::string mangled = saved;
    mangled[mangled.size() - 10] = mangled[mangled.size() - 10] == 'A' ? 'B' : 'A';
    for (const std::string& broken : {sessionText(saved) + std::string(43, '*'), mangled}) {
        Corvane& other = newFacade();
        EXPECT_EQ(loginWithSession(other, broken)->getErrorCode(), CRYPTOGRAPHIC_ERROR);
        EXPECT_NE(submit(other, CURRENT_EMAIL)->getErrorCode(), 0);
    }
}

TEST_F(SignInTest, BlockedAccountIsRefusedAndInvoicingProblemSignsInWith19) {
    Corvane& facade = newFacade();
    ASSERT_TRUE(service_.accounts().setBlocked(registered_.account, true));
    EXPECT_EQ(login(facade)->getErrorCode(), FORBIDDEN);
    ASSERT_TRUE(service_.accounts().setBlocked(registered_.account, false));

    ASSERT_TRUE(service_.accounts().setInvoicingProblem(registered_.account, true));
    auto signedIn = login(facade);
    EXPECT_EQ(signedIn->getErrorCode(), INVOICING_INFO_ERROR);
    EXPECT_EQ(textOf(signedIn->getSession()).size(), 86u);
    // The session is installed all the same.
    auto email = submit(facade, CURRENT_EMAIL);
    EXPECT_EQ(email->getErrorCode(), 0);
    EXPECT_EQ(textOf(email->getEmail()), keys_->email);
    EXPECT_EQ(submit(facade, SESSION_INFO)->getErrorCode(), 0);
}

TEST_F(SignInTest, TwoFactorSignInNeedsTheCurrentCode) {
    Corvane& facade = newFacade();
    auto signedIn = login(facade);
    ASSERT_EQ(signedIn->getErrorCode(), 0);
    const std::string session = sessionText(textOf(signedIn->getSession()));
    auto link = signin::manageTwoFactor(service_, session, 1, -1);
    ASSERT_EQ(link.first, 0);
    const std::string secret = signin::secretOfLink(link.second);
    ASSERT_FALSE(secret.empty());
    ASSERT_EQ(signin::manageTwoFactor(service_, session, 2, signin::totpCode(secret)).first, 0);

    Corvane& other = newFacade();
    EXPECT_EQ(login(other)->getErrorCode(), CANCELLED);
    const int32_t wrong = (signin::totpCode(secret) + 500000) % 1000000;
    auto refused =
        run([&](ActionListener* l) { other.loginWith2fa(keys_->email.c_str(), keys_->password.c_str(), wrong, l); });
    EXPECT_EQ(refused->getErrorCode(), WRONG_PARAMETERS);
    auto accepted = run([&](ActionListener* l) {
        other.loginWith2fa(keys_->email.c_str(), keys_->password.c_str(), signin::totpCode(secret), l);
    });
    ASSERT_EQ(accepted->getErrorCode(), 0);
    EXPECT_EQ(accepted->getOption(), 1);

    ASSERT_EQ(signin::manageTwoFactor(service_, session, 3, signin::totpCode(secret)).first, 0);
    EXPECT_EQ(login(newFacade())->getErrorCode(), 0);
}

TEST_F(SignInTest, RecoveryKeySignsInWithoutThePassword) {
    const std::string recoveryId = signin::askRecovery(service_, keys_->email);
    ASSERT_FALSE(recoveryId.empty());
    Corvane& facade = newFacade();
    auto signedIn = loginWithRecovery(facade, recoveryId, keys_->recoveryKey());
    ASSERT_EQ(signedIn->getErrorCode(), 0);
    EXPECT_EQ(textOf(signedIn->getSession()).substr(43), keys_->recoveryKey());
    EXPECT_EQ(submit(facade, CURRENT_EMAIL)->getErrorCode(), 0);
}

// Every way in, watched at trace level: no line carries a secret in any of its text forms.
TEST_F(SignInTest, NoSecretReachesTheLog) {
    LogCapture log(1 << 17);
    Corvane& facade = newFacade();
    auto signedIn = login(facade);
    ASSERT_EQ(signedIn->getErrorCode(), 0);
    const std::string saved = textOf(signedIn->getSession());
    auto opened = run([&](ActionListener* l) { facade.newSession(l); });
    ASSERT_EQ(opened->getErrorCode(), 0);
    const std::string second = textOf(opened->getSession());
    ASSERT_EQ(loginWithSession(newFacade(), saved)->getErrorCode(), 0);
    ASSERT_EQ(loginWithRecovery(newFacade(), signin::askRecovery(service_, keys_->email), keys_->recoveryKey())
                  ->getErrorCode(),
              0);
    ASSERT_EQ(login(newFacade(), "wrong password!")->getErrorCode(), WRONG_PARAMETERS);
    facades_.clear();

    std::vector<std::pair<std::string, std::string>> secrets = {
        {"password", keys_->password},    {"wrong password", "wrong password!"},
        {"saved session", saved},         {"session text", sessionText(saved)},
        {"second saved session", second}, {"second session text", sessionText(second)},
    };
    for (const auto& key :
         {std::make_pair("auth key", keys_->authKey), std::make_pair("password key", keys_->passwordKey),
          std::make_pair("master key", keys_->masterKey), std::make_pair("account key", keys_->accountKey),
          std::make_pair("fingerprint key", keys_->fingerprintKey)}) {
        std::string hex = hexOf(key.second);
        secrets.push_back({std::string(key.first) + " hex", hex});
        for (char& c : hex) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        secrets.push_back({std::string(key.first) + " HEX", hex});
        // As a message's text form would list it.
        std::string listed = std::to_string(key.second[0]);
        for (size_t i = 1; i < 8; ++i) {
            listed += ", " + std::to_string(key.second[i]);
        }
        secrets.push_back({std::string(key.first) + " listed", listed});
        secrets.push_back({std::string(key.first) + " Base64URL", base64Url(key.second)});
    }
    const auto lines = log.lines();
    ASSERT_GT(lines.size(), 20u);
    for (const auto& line : lines) {
        for (const auto& secret : secrets) {
            EXPECT_EQ(line.find(secret.second), std::string::npos) << secret.first << " in: " << line;
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace corvane
