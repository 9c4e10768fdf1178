// Account and user information, access levels, access revocation and account deletion,
// through the facade against the loopback stand-in: two users registered there with keys made
// independently, the second also a member of the first one's account.
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
#include "corvane/handle.h"
#include "corvane/mutable_action_data.h"
#include "stand_in_service.h"
#include "support/account_keys.h"
#include "support/event_journal.h"
#include "support/facade_access.h"
#include "support/run_on_loop.h"
#include "support/stand_in_client.h"
#include "support/stand_in_deployment.h"
#include "support/test_task_manager.h"
#include "util/deployment.h"

namespace corvane {
namespace test {
namespace {

using signin::AccountKeys;

constexpr int32_t kPin = 4321;
constexpr uint8_t kReadOnly = 1;

// Hears the end of one action and keeps it.
class FinishListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> guard(mutex_);
        action_ = std::dynamic_pointer_cast<MutableActionData>(action);
        done_ = true;
        condition_.notify_all();
    }
    std::shared_ptr<MutableActionData> wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [&] { return done_; });
        return action_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool done_ = false;
    std::shared_ptr<MutableActionData> action_;
};

std::vector<uint8_t> bytesOf(const ByteVector* bytes) {
    return bytes != nullptr ? *bytes : std::vector<uint8_t>();
}

class AccountSettingsTest : public LoopbackTransportTest {
protected:
    static void SetUpTestSuite() {
        LoopbackTransportTest::SetUpTestSuite();
        ada_ = new AccountKeys("ada@example.test", "analytical engine");
        bo_ = new AccountKeys("bo@example.test", "difference engine");
    }
    static void TearDownTestSuite() {
        delete ada_;
        delete bo_;
        ada_ = bo_ = nullptr;
        LoopbackTransportTest::TearDownTestSuite();
    }

    void SetUp() override {
        ASSERT_TRUE(service_.start());
        // The long poll, which brings the pushed account records, checks the certificate itself.
        deployment_ = std::make_unique<StandInDeployment>(service_, StandInDeployment::Trust::CaFile);
        Corvane::globalInit("CorvaneAccountSettingsTest", 1);
        char pattern[] = "/tmp/corvane-account-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dataRoot_ = pattern;
        a_ = signin::registerUser(service_, *ada_, kPin);
        b_ = signin::registerUser(service_, *bo_, kPin);
        ASSERT_NE(a_.account, 0u);
        ASSERT_NE(b_.account, 0u);
    }

    void TearDown() override {
        for (size_t i = 0; i < facades_.size(); ++i) {
            facades_[i]->removeEventListener(journals_[i].get());
        }
        facades_.clear();
        journals_.clear();
        taskManager_.drain();
        Corvane::globalCleanup();
        deployment_.reset();
        service_.stop();
        std::system(("rm -rf '" + dataRoot_ + "'").c_str());
    }

    // A new SDK instance with a data folder of its own and a journal of its events.
    Corvane& newFacade() {
        auto settings = std::make_unique<CorvaneSettings>();
        settings->setDataPath(dataRoot_ + "/" + std::to_string(facades_.size()));
        std::system(("mkdir -p '" + settings->getDataPath() + "'").c_str());
        facades_.push_back(std::make_unique<Corvane>(&taskManager_, settings.get()));
        settings_.push_back(std::move(settings));
        journals_.push_back(std::make_unique<EventJournal>());
        facades_.back()->addEventListener(journals_.back().get());
        return *facades_.back();
    }
    EventJournal& journalOf(Corvane& facade) {
        for (size_t i = 0; i < facades_.size(); ++i) {
            if (facades_[i].get() == &facade) {
                return *journals_[i];
            }
        }
        return *journals_.front();
    }

    std::shared_ptr<MutableActionData> submit(
        Corvane& facade, int32_t type, std::function<void(MutableActionData&)> fill = [](MutableActionData&) {}) {
        FinishListener listener;
        FacadeAccess::submit(facade, type, &listener, fill);
        auto action = listener.wait();
        taskManager_.drain();
        return action;
    }

    // Signs the user in with the password, into the account when one is given.
    std::shared_ptr<MutableActionData> login(Corvane& facade, const AccountKeys& keys, uint64_t account = 0) {
        return submit(facade, LOGIN, [&](MutableActionData& a) {
            a.setEmail(keys.email.c_str());
            a.setPassword(keys.password.c_str());
            a.setAccountHandle(account);
        });
    }

    // A user registered through the SDK's own VERIFY_EMAIL and CREATE_ACCOUNT, whose account
    // has its roots; signed in on the facade. Returns the account's handle, 0 on failure.
    uint64_t registerThroughSdk(Corvane& facade, const char* email, const char* password) {
        auto verified = submit(facade, VERIFY_EMAIL, [&](MutableActionData& a) {
            a.setEmail(email);
            a.setName("Carol");
            a.setExtraText("Shaw");
        });
        if (verified->getErrorCode() != 0) {
            return 0;
        }
        auto created = submit(facade, CREATE_ACCOUNT, [&](MutableActionData& a) {
            a.setText(verified->getText());
            a.setName("Carol");
            a.setExtraText("Shaw");
            a.setEmail(email);
            a.setPassword(password);
            a.setOption(kPin);
        });
        if (created->getErrorCode() != 0) {
            return 0;
        }
        auto info = submit(facade, ACCOUNT_INFO);
        return info->getErrorCode() == 0 ? info->getAccountHandle() : 0;
    }

    // Bo joins the account with its key wrapped under bo's master key.
    void addBoTo(uint64_t account, const std::vector<uint8_t>& accountKey) {
        const auto wrapped = signin::wrapKey(accountKey, bo_->masterKey);
        ASSERT_TRUE(service_.accounts().addMember(account, b_.user, 0, std::string(wrapped.begin(), wrapped.end())));
    }

    void addBoToAdasAccount() { addBoTo(a_.account, ada_->accountKey); }

    size_t messagesSent(const char* identifier) {
        size_t count = 0;
        for (const auto& request : service_.requests()) {
            for (size_t at = request.body.find(identifier); at != std::string::npos;
                 at = request.body.find(identifier, at + 4)) {
                ++count;
            }
        }
        return count;
    }

    static std::string sessionText(const std::string& saved) { return saved.substr(0, saved.size() - 43); }

    static AccountKeys* ada_;
    static AccountKeys* bo_;
    service::StandInService service_;
    std::unique_ptr<StandInDeployment> deployment_;
    TestTaskManager taskManager_;
    std::string dataRoot_;
    signin::Registered a_, b_;
    std::vector<std::unique_ptr<CorvaneSettings>> settings_;
    std::vector<std::unique_ptr<Corvane>> facades_;
    std::vector<std::unique_ptr<EventJournal>> journals_;
};

AccountKeys* AccountSettingsTest::ada_ = nullptr;
AccountKeys* AccountSettingsTest::bo_ = nullptr;

TEST_F(AccountSettingsTest, AccountAndUserInformationOfTheOwnAndOtherAccountsAndUsers) {
    Corvane& facade = newFacade();
    ASSERT_EQ(login(facade, *ada_)->getErrorCode(), 0);

    auto own = submit(facade, ACCOUNT_INFO);
    ASSERT_EQ(own->getErrorCode(), 0);
    EXPECT_EQ(own->getAccountHandle(), a_.account);
    EXPECT_EQ(own->getNameString(), "Ada Lovelace");
    EXPECT_EQ(own->getEmailString(), ada_->email);
    EXPECT_EQ(own->getLinkString(), getDeployment().webAddress + "/account/" + getHandleText(a_.account));
    ASSERT_NE(own->getAccountInfo(), nullptr);
    EXPECT_EQ(own->getAccountInfo()->getId(), a_.account);
    ASSERT_EQ(own->getUsers()->size(), 1u);
    EXPECT_EQ(own->getUsers()->front()->getId(), a_.user);

    // By link: the address in front does not matter, and no session is needed.
    Corvane& signedOut = newFacade();
    for (Corvane* asking : {&facade, &signedOut}) {
        SCOPED_TRACE(asking == &facade ? "signed in" : "signed out");
        const std::string link = "https://elsewhere.example/account/" + getHandleText(b_.account);
        auto other = submit(*asking, ACCOUNT_INFO, [&](MutableActionData& a) { a.setLink(link.c_str()); });
        ASSERT_EQ(other->getErrorCode(), 0);
        EXPECT_EQ(other->getAccountHandle(), b_.account);
        EXPECT_EQ(other->getNameString(), "Ada Lovelace");
        EXPECT_EQ(bytesOf(other->getPublicKey()), bo_->accountRsa.publicKey);
        EXPECT_EQ(other->getLinkString(), link);
        EXPECT_EQ(other->getAccountInfo(), nullptr);
    }
    EXPECT_EQ(submit(signedOut, ACCOUNT_INFO)->getErrorCode(), 2) << "the own account needs a session";

    auto self = submit(facade, USER_INFO);
    ASSERT_EQ(self->getErrorCode(), 0);
    ASSERT_NE(self->getUserInfo(), nullptr);
    EXPECT_EQ(self->getUserInfo()->getId(), a_.user);
    EXPECT_EQ(self->getUserInfo()->getEmail(), ada_->email);
    EXPECT_EQ(self->getUserHandle(), a_.user);
    EXPECT_EQ(self->getAccountHandle(), a_.account);
    EXPECT_EQ(bytesOf(self->getPublicKey()), ada_->userRsa.publicKey);
    EXPECT_EQ(bytesOf(self->getUserPrivateKey()), ada_->sealedUserRsa);
    ASSERT_EQ(self->getPermissions()->size(), 1u);
    EXPECT_EQ(self->getPermissions()->front()->getId(), a_.account);

    auto byEmail = submit(facade, USER_INFO, [](MutableActionData& a) { a.setEmail("BO@example.test"); });
    ASSERT_EQ(byEmail->getErrorCode(), 0);
    EXPECT_EQ(byEmail->getUserHandle(), b_.user);
    EXPECT_EQ(byEmail->getAccountHandle(), b_.account);
    EXPECT_EQ(bytesOf(byEmail->getPublicKey()), bo_->userRsa.publicKey);
    EXPECT_TRUE(bytesOf(byEmail->getUserPrivateKey()).empty()) << "another user's private key is never told";

    auto unknown = submit(facade, USER_INFO, [](MutableActionData& a) { a.setEmail("nobody@example.test"); });
    EXPECT_EQ(unknown->getErrorCode(), 1);
    EXPECT_EQ(unknown->getUserInfo(), nullptr);
}

TEST_F(AccountSettingsTest, ReadOnlyAccessReachesTheOtherUsersSessionAndRefusesItsWrites) {
    Corvane& carol = newFacade();
    const uint64_t account = registerThroughSdk(carol, "carol@example.test", "tabulating machine");
    ASSERT_NE(account, 0u);
    // A password sign-in holds the account key as the account's users unwrap it (the manager
    // keeps it as its user key).
    ASSERT_EQ(submit(carol, LOGIN,
                     [](MutableActionData& a) {
                         a.setEmail("carol@example.test");
                         a.setPassword("tabulating machine");
                     })
                  ->getErrorCode(),
              0);
    const auto accountKey =
        runOnLoop(*FacadeAccess::manager(carol).getLoop(), [&]() { return FacadeAccess::manager(carol).getUserKey(); });
    ASSERT_EQ(accountKey.size(), 32u);
    addBoTo(account, accountKey);
    Corvane& bo = newFacade();
    ASSERT_EQ(login(bo, *bo_, account)->getErrorCode(), 0);
    // The tree's load turns on the reception of the account's changes.
    ASSERT_EQ(submit(bo, GET_NODES)->getErrorCode(), 0);
    ASSERT_EQ(submit(bo, ACCOUNT_INFO)->getAccountHandle(), account);
    EXPECT_EQ(submit(bo, SET_ACCOUNT_VALUE, [](MutableActionData& a) { a.setOption(2); })->getErrorCode(), 0)
        << "a full user may write";

    const size_t boEvents = journalOf(bo).entries().size();
    const size_t carolEvents = journalOf(carol).entries().size();
    auto set = submit(carol, SET_ACCESS_LEVEL, [&](MutableActionData& a) {
        a.setUserHandle(b_.user);
        a.setOption(kReadOnly);
    });
    ASSERT_EQ(set->getErrorCode(), 0);
    ASSERT_TRUE(journalOf(bo).waitFor("ACCOUNT_INFO", boEvents));
    EXPECT_EQ(FacadeAccess::manager(bo).getAccessLevel(), kReadOnly);

    const size_t sentBefore = messagesSent("SAVM");
    for (int32_t type : {SET_ACCOUNT_VALUE, DELETE_ACCOUNT, SET_ACCESS_LEVEL}) {
        SCOPED_TRACE(getActionTypeName(type));
        auto refused = submit(bo, type, [&](MutableActionData& a) {
            a.setOption(0);
            a.setText("");
            a.setUserHandle(b_.user);
        });
        EXPECT_EQ(refused->getErrorCode(), 2);
    }
    EXPECT_EQ(messagesSent("SAVM"), sentBefore) << "refused before anything is sent";
    EXPECT_EQ(submit(bo, ACCOUNT_INFO)->getErrorCode(), 0) << "reading still works";
    EXPECT_EQ(FacadeAccess::manager(carol).getAccessLevel(), 0);
    const auto carolEntries = journalOf(carol).entries();
    for (size_t i = carolEvents; i < carolEntries.size(); ++i) {
        EXPECT_NE(carolEntries[i], "ACCOUNT_INFO") << "the administrator's own change is not pushed back";
    }
}

TEST_F(AccountSettingsTest, RevokingAccessEndsTheOtherUsersSessionAndTheOwnSignsOutEvenWhenRefused) {
    addBoToAdasAccount();
    Corvane& ada = newFacade();
    Corvane& bo = newFacade();
    ASSERT_EQ(login(ada, *ada_)->getErrorCode(), 0);
    auto boIn = login(bo, *bo_, a_.account);
    ASSERT_EQ(boIn->getErrorCode(), 0);
    const std::string boSession = sessionText(boIn->getSessionString());

    auto revoked = submit(ada, REVOKE_ACCOUNT_ACCESS, [&](MutableActionData& a) { a.setUserHandle(b_.user); });
    ASSERT_EQ(revoked->getErrorCode(), 0);
    EXPECT_EQ(revoked->getAccountHandle(), b_.account) << "bo's main account";
    EXPECT_EQ(submit(ada, CURRENT_EMAIL)->getErrorCode(), 0) << "the administrator stays signed in";
    EXPECT_FALSE(service_.accounts().session(boSession).has_value());
    EXPECT_EQ(login(newFacade(), *bo_, a_.account)->getErrorCode(), 1);

    // Ada's main account cannot be left: the service refuses, and the session ends anyway.
    auto own = submit(ada, REVOKE_ACCOUNT_ACCESS);
    EXPECT_EQ(own->getErrorCode(), 2);
    EXPECT_EQ(submit(ada, CURRENT_EMAIL)->getErrorCode(), 2);
}

TEST_F(AccountSettingsTest, DeletingTheAccountEndsTheSessionAndTheServicesDataOfIt) {
    Corvane& facade = newFacade();
    const uint64_t account = registerThroughSdk(facade, "carol@example.test", "tabulating machine");
    ASSERT_NE(account, 0u);
    auto signedIn = submit(facade, LOGIN, [](MutableActionData& a) {
        a.setEmail("carol@example.test");
        a.setPassword("tabulating machine");
    });
    ASSERT_EQ(signedIn->getErrorCode(), 0);
    const std::string session = sessionText(signedIn->getSessionString());
    ASSERT_FALSE(service_.accounts().nodes(account).empty());
    ASSERT_FALSE(service_.accounts().filesystems(account).empty());

    auto deleted = submit(facade, DELETE_ACCOUNT, [](MutableActionData& a) { a.setText(""); });
    ASSERT_EQ(deleted->getErrorCode(), 0);
    EXPECT_EQ(submit(facade, CURRENT_EMAIL)->getErrorCode(), 2) << "signed out by the time it finished";
    EXPECT_FALSE(service_.accounts().session(session).has_value());
    EXPECT_TRUE(service_.accounts().nodes(account).empty());
    EXPECT_TRUE(service_.accounts().filesystems(account).empty());
    EXPECT_EQ(submit(newFacade(), LOGIN,
                     [](MutableActionData& a) {
                         a.setEmail("carol@example.test");
                         a.setPassword("tabulating machine");
                     })
                  ->getErrorCode(),
              1);
    EXPECT_EQ(login(newFacade(), *bo_)->getErrorCode(), 0) << "another account is untouched";
}

}  // namespace
}  // namespace test
}  // namespace corvane
