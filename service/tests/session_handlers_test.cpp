#include <gtest/gtest.h>

#include <functional>

#include "sign_in_fixture.h"

namespace corvane::service::test {
namespace {

class SessionHandlersTest : public SignInFixture {
protected:
    void SetUp() override {
        SignInFixture::SetUp();
        ada_ = newUser("ada@example.test");
        created_ = registerUser(ada_);
        ASSERT_FALSE(created_.session.empty());
    }

    NewUser ada_;
    Created created_;
};

TEST_F(SessionHandlersTest, LoginAnswersEachWayWithItsSessionOrError) {
    const uint64_t fixtureUser = service_.accounts().createUser("fixture@example.test");
    service_.accounts().createAccount(fixtureUser);
    struct Case {
        const char* name;
        LoginWay way;
        int32_t error;
        bool sealedSession;  // a new session comes sealed (password and recovery ways)
    };
    std::string wrongKey = ada_.auth;
    wrongKey[0] ^= 1;
    const std::vector<Case> cases = {
        {"e-mail and key", byKey(ada_.email, ada_.auth), 0, true},
        {"e-mail in other case", byKey("ADA@Example.TEST", ada_.auth), 0, true},
        {"wrong key", byKey(ada_.email, wrongKey), 5, false},
        {"key one byte short", byKey(ada_.email, ada_.auth.substr(1)), 5, false},
        {"unknown e-mail", byKey("nobody@example.test", ada_.auth), 5, false},
        {"no key", byKey(ada_.email, ""), 5, false},
        {"user made by a fixture, without password", byKey("fixture@example.test", ada_.auth), 5, false},
        {"another account of the user", byKey(ada_.email, ada_.auth, -1, 0x0000123456789ABCull), 1, false},
        {"saved session text", bySession(created_.session), 0, false},
        {"unknown session text", bySession("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"), 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Response answer = ask("", loginMessage(c.way));
        const auto* response = answer.as<LoginResponse>("LOIR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        if (c.error != 0) {
            EXPECT_EQ(response->session(), nullptr);
            EXPECT_EQ(response->key(), nullptr) << "a refused sign-in tells no keys";
            continue;
        }
        // What the client opens its keys with is what it sent when it registered.
        EXPECT_EQ(bytesIn(response->key()), ada_.userKey);
        EXPECT_EQ(bytesIn(response->privateKey()), ada_.privateKey);
        EXPECT_EQ(bytesIn(response->accountkey()), ada_.accountKey);
        EXPECT_EQ(bytesIn(response->accountPrivateKey()), ada_.accountPrivateKey);
        EXPECT_EQ(bytesIn(response->accountFingerprintKey()), ada_.fingerprintKey);
        EXPECT_EQ(response->user(), created_.user);
        EXPECT_EQ(response->account(), created_.account);
        EXPECT_EQ(response->mainAccount(), created_.account);
        EXPECT_EQ(textOf(response->accountEmail()), ada_.email);
        EXPECT_EQ(response->multiFactorAuth(), 0);
        ASSERT_NE(response->permissions(), nullptr);
        ASSERT_EQ(response->permissions()->size(), 1u);
        EXPECT_EQ(response->permissions()->Get(0)->handle(), created_.account);
        ASSERT_NE(response->users(), nullptr);
        ASSERT_EQ(response->users()->size(), 1u);
        EXPECT_EQ(response->users()->Get(0)->handle(), created_.user);
        EXPECT_EQ(textOf(response->users()->Get(0)->name()), "Ada Lovelace");
        if (!c.sealedSession) {
            EXPECT_EQ(response->session(), nullptr) << "the session way goes on with its own session";
            continue;
        }
        const std::string session = userKey_->openSession(bytesIn(response->session()));
        ASSERT_FALSE(session.empty());
        EXPECT_NE(session, created_.session);
        EXPECT_TRUE(sessionWorks(session));
        EXPECT_EQ(errorIn(ask("", loginMessage(bySession(session)))), 0) << "it signs in again";
    }
}

// The client creates its contacts root when a sign-in answers version 0.
TEST_F(SessionHandlersTest, VersionIsZeroUntilTheAccountHasAContactsRoot) {
    auto version = [&] {
        const Response answer = ask("", loginMessage(bySession(created_.session)));
        const auto* response = answer.as<LoginResponse>("LOIR");
        return response ? static_cast<int64_t>(response->version()) : -1;
    };
    EXPECT_EQ(version(), 0);

    auto addContactsRoot = [&] {
        auto builder = messageBuilder();
        const auto nodekey = builder.CreateVector(std::vector<uint8_t>(40, 7));
        NodeMessageBuilder node(builder);
        node.add_type(7);
        node.add_nodekey(nodekey);
        const std::vector<flatbuffers::Offset<NodeMessage>> nodes{node.Finish()};
        const auto vector = builder.CreateVector(nodes);
        FinishSizePrefixedAddNodesMessageBuffer(builder, CreateAddNodesMessage(builder, 99, 0, vector));
        return ask(created_.session, sizePrefixedMessage(builder));
    };
    const Response added = addContactsRoot();
    const auto* response = added.as<AddNodesResponse>("ADNR");
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->error(), 0);
    ASSERT_EQ(response->nodes()->size(), 1u);
    const auto* root = response->nodes()->Get(0);
    EXPECT_EQ(root->parent(), 0u);
    EXPECT_EQ(root->filesystem(), root->handle() << 15);
    EXPECT_EQ(version(), 1);
    EXPECT_EQ(errorIn(addContactsRoot()), 7) << "an account has one contacts root";
}

TEST_F(SessionHandlersTest, AccountSwitchesRefuseOrFlagTheSignIn) {
    struct Case {
        const char* name;
        bool blocked, invoicing;
        int32_t error;
        bool session;
    };
    const std::vector<Case> cases = {
        {"blocked", true, false, 2, false},
        {"invoicing problem", false, true, 19, true},
        {"both", true, true, 2, false},
        {"neither", false, false, 0, true},
    };
    AccountDirectory& accounts = service_.accounts();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(accounts.setBlocked(created_.account, c.blocked));
        ASSERT_TRUE(accounts.setInvoicingProblem(created_.account, c.invoicing));

        const Response answer = ask("", loginMessage(byKey(ada_.email, ada_.auth)));
        const auto* response = answer.as<LoginResponse>("LOIR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        const std::string session = userKey_->openSession(bytesIn(response->session()));
        EXPECT_EQ(!session.empty(), c.session);
        if (c.session) {
            EXPECT_TRUE(sessionWorks(session));
            EXPECT_EQ(bytesIn(response->accountkey()), ada_.accountKey);
        }
        EXPECT_EQ(errorIn(ask("", loginMessage(bySession(created_.session)))), c.error) << "session way";
    }
    EXPECT_FALSE(accounts.setBlocked(0x0000123456789ABCull, true));
}

TEST_F(SessionHandlersTest, TwoFactorCodeIsNeededOnceEnabled) {
    const std::string& session = created_.session;
    EXPECT_EQ(errorIn(ask(session, manage2faMessage(2, 123456))), 1) << "enabled before any link";

    const Response link = ask(session, manage2faMessage(1));
    const auto* linkResponse = link.as<Manage2faResponse>("MA2R");
    ASSERT_NE(linkResponse, nullptr);
    ASSERT_EQ(linkResponse->error(), 0);
    const std::string url = textOf(linkResponse->url());
    ASSERT_EQ(url.rfind("otpauth://totp/Corvane:ada@example.test?secret=", 0), 0u) << url;
    const size_t start = url.find("secret=") + 7;
    const std::string secret = base32Decoded(url.substr(start, url.find('&', start) - start));
    ASSERT_EQ(secret.size(), 20u);
    const int32_t wrong = (currentCode(secret) + 500000) % 1000000;

    EXPECT_EQ(errorIn(ask(session, manage2faMessage(2, wrong))), 5);
    EXPECT_EQ(errorIn(ask("", loginMessage(byKey(ada_.email, ada_.auth)))), 0) << "not yet enabled";
    EXPECT_EQ(errorIn(ask(session, manage2faMessage(2, currentCode(secret)))), 0);
    EXPECT_EQ(errorIn(ask(session, manage2faMessage(1))), 7) << "a new secret while one is in use";

    struct Case {
        const char* name;
        std::function<int32_t()> code;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"no code", [] { return -1; }, 16},
        {"wrong code", [&] { return wrong; }, 5},
        {"code of the secret handed out", [&] { return currentCode(secret); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Response answer = ask("", loginMessage(byKey(ada_.email, ada_.auth, c.code())));
        const auto* response = answer.as<LoginResponse>("LOIR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        if (c.error == 0) {
            EXPECT_EQ(response->multiFactorAuth(), 1);
            EXPECT_TRUE(sessionWorks(userKey_->openSession(bytesIn(response->session()))));
        }
    }
    EXPECT_EQ(errorIn(ask("", loginMessage(bySession(session)))), 0) << "a session needs no code";

    EXPECT_EQ(errorIn(ask(session, manage2faMessage(3, wrong))), 5);
    EXPECT_EQ(errorIn(ask(session, manage2faMessage(3, currentCode(secret)))), 0);
    EXPECT_EQ(errorIn(ask("", loginMessage(byKey(ada_.email, ada_.auth)))), 0);
    EXPECT_EQ(errorIn(ask(session, manage2faMessage(4))), 5);
}

TEST_F(SessionHandlersTest, SessionsAreListedOpenedAndEnded) {
    const std::string second = signIn(ada_);
    ASSERT_FALSE(second.empty());

    auto list = [&](const std::string& session) {
        const Response answer = ask(session, sessionInfoMessage(), "Tembra/1.0 CorvaneSDK/2.1.0");
        const auto* response = answer.as<SessionInfoResponse>("SEIR");
        EXPECT_NE(response, nullptr);
        std::vector<std::tuple<uint64_t, bool, std::string, std::string>> sessions;
        if (!response || !response->sessions()) return std::make_pair(uint64_t(0), sessions);
        for (const auto* entry : *response->sessions()) {
            EXPECT_GT(entry->creationTime(), 0);
            EXPECT_GE(entry->lastTime(), entry->creationTime());
            sessions.emplace_back(entry->id(), entry->active(), textOf(entry->ip()), textOf(entry->userAgent()));
        }
        return std::make_pair(response->currentId(), sessions);
    };
    const auto [firstId, twoSessions] = list(created_.session);
    ASSERT_EQ(twoSessions.size(), 2u);
    EXPECT_EQ(std::get<0>(twoSessions[0]), firstId);
    EXPECT_NE(std::get<0>(twoSessions[1]), firstId);
    for (const auto& [id, active, ip, userAgent] : twoSessions) {
        EXPECT_TRUE(active);
        EXPECT_EQ(ip, "127.0.0.1");
        EXPECT_EQ(userAgent, "SignInTest/1.0");  // what the batch that opened it carried
    }

    // A further session for the browser.
    const Response fresh = ask(created_.session, newSessionMessage());
    const auto* newSession = fresh.as<NewSessionResponse>("NESR");
    ASSERT_NE(newSession, nullptr);
    ASSERT_EQ(newSession->error(), 0);
    const std::string third = userKey_->openSession(bytesIn(newSession->session()));
    EXPECT_TRUE(sessionWorks(third));
    EXPECT_EQ(list(third).first, newSession->id());
    EXPECT_EQ(errorIn(ask(created_.session, newSessionMessage(0x0000123456789ABCull))), 1) << "not the user's account";

    // Logout ends only the session that sent it.
    EXPECT_EQ(errorIn(ask(second, logoutMessage())), 0);
    EXPECT_EQ(ask(second, getStatusMessage()).size(), 0u);
    EXPECT_EQ(lastStatus_, 403);
    EXPECT_EQ(errorIn(ask("", loginMessage(bySession(second)))), 3);
    EXPECT_TRUE(sessionWorks(created_.session));
    const auto [stillFirst, three] = list(created_.session);
    EXPECT_EQ(stillFirst, firstId);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_FALSE(std::get<1>(three[1])) << "the ended session is listed as inactive";
    EXPECT_TRUE(std::get<1>(three[2]));

    for (const auto& message : {logoutMessage(), newSessionMessage(), sessionInfoMessage()})
        EXPECT_EQ(errorIn(ask("", message)), 3) << "needs a session";
}

TEST_F(SessionHandlersTest, RecoveryIdSignsInOnceWithThePin) {
    auto forgot = [&](const std::string& email) {
        const Response answer = ask("", forgotPasswordMessage(email));
        const auto* response = answer.as<ForgotPasswordResponse>("FOPR");
        EXPECT_NE(response, nullptr);
        return response ? std::make_pair(response->error(), textOf(response->recoveryId()))
                        : std::make_pair(-1, std::string());
    };
    EXPECT_EQ(forgot("nobody@example.test").first, 1);
    const auto [error, recovery] = forgot("Ada@Example.test");
    ASSERT_EQ(error, 0);
    ASSERT_FALSE(recovery.empty());

    auto recover = [&](const std::string& id, int32_t pin) {
        return ask("", loginMessage(byRecovery(ada_.email, id, pin)));
    };
    const Response answer = recover(recovery, ada_.pin);
    const auto* response = answer.as<LoginResponse>("LOIR");
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->error(), 0);
    EXPECT_TRUE(sessionWorks(userKey_->openSession(bytesIn(response->session()))));
    EXPECT_EQ(bytesIn(response->accountkey()), ada_.accountKey);
    EXPECT_EQ(errorIn(recover(recovery, ada_.pin)), 5) << "a recovery id is used once";

    const std::string guessed = forgot(ada_.email).second;
    EXPECT_EQ(errorIn(recover(guessed, ada_.pin + 1)), 5);
    EXPECT_EQ(errorIn(recover(guessed, ada_.pin)), 5) << "a wrong PIN costs the recovery id";
    EXPECT_EQ(errorIn(recover("unknown-id", ada_.pin)), 5);
}

}  // namespace
}  // namespace corvane::service::test
