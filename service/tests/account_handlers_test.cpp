#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <functional>
#include <set>

#include "sign_in_fixture.h"

namespace corvane::service::test {
namespace {

class AccountHandlersTest : public SignInFixture {};

TEST_F(AccountHandlersTest, VerifyEmailGivesNewAddressesARegistrationId) {
    const std::string first = verify("new@example.test");
    const std::string second = verify("other@example.test");
    EXPECT_GE(first.size(), 16u);
    EXPECT_NE(first, second);

    NewUser ada = newUser("ada@example.test");
    ASSERT_FALSE(registerUser(ada).session.empty());
    struct Case {
        const char* name;
        std::string email;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"known address", "ada@example.test", 7},
        {"known address in other case", "ADA@example.test", 7},
        {"empty address", "", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Response answer = ask("", verifyEmailMessage(c.email));
        const auto* response = answer.as<VerifyEmailResponse>("VEER");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        EXPECT_EQ(response->registrationId(), nullptr);
    }
}

TEST_F(AccountHandlersTest, CreateAccountRefusesWhatItCannotTake) {
    NewUser used = newUser("used@example.test");
    ASSERT_FALSE(registerUser(used).session.empty());
    struct Case {
        const char* name;
        std::function<void(NewUser&)> change;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"unknown registration", [](NewUser& u) { u.registration = "no-such-registration"; }, 1},
        {"used registration",
         [&](NewUser& u) {
             u.registration = used.registration;
             u.email = used.email;
         },
         7},
        {"another address than verified", [](NewUser& u) { u.email = "else@example.test"; }, 5},
        {"public key not a key", [](NewUser& u) { u.publicKey = secretBytes(400); }, 5},
        {"public key cut short", [](NewUser& u) { u.publicKey.pop_back(); }, 5},
        {"account public key not a key", [](NewUser& u) { u.accountPublicKey = "x"; }, 5},
        {"authentication key of 31 bytes", [](NewUser& u) { u.auth.pop_back(); }, 5},
        {"no account key", [](NewUser& u) { u.accountKey.clear(); }, 5},
        {"a root of a file's type",
         [](NewUser& u) {
             u.roots = {0, 20};
         },
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewUser user = newUser("bo@example.test");
        user.registration = verify(user.email);
        c.change(user);
        const Response answer = ask("", createAccountMessage(user));
        const auto* response = answer.as<CreateAccountResponse>("CRAR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        EXPECT_EQ(response->session(), nullptr);
        EXPECT_FALSE(service_.accounts().userByEmail("bo@example.test")) << "nothing is kept of a refusal";
    }
    // The registration a refusal left unused still works.
    NewUser user = newUser("bo@example.test");
    EXPECT_FALSE(registerUser(user).session.empty());
}

TEST_F(AccountHandlersTest, CreateAccountKeepsWhatWasSentAndSealsAWorkingSession) {
    NewUser ada = newUser("Ada@Example.test");
    ada.roots = {0, 1, 3};
    const Created created = registerUser(ada);
    ASSERT_FALSE(created.session.empty());
    EXPECT_EQ(created.session.size(), 43u);  // 32 random bytes
    EXPECT_TRUE(sessionWorks(created.session));

    const auto user = service_.accounts().user(created.user);
    ASSERT_TRUE(user);
    EXPECT_EQ(user->email, ada.email);
    EXPECT_EQ(user->firstName, "Ada");
    EXPECT_EQ(user->mainAccount, created.account);
    EXPECT_EQ(user->publicKey, ada.publicKey);
    // Only a hash of the authentication key is kept.
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(ada.auth.data()), ada.auth.size(), digest);
    EXPECT_EQ(user->authHash, std::string(reinterpret_cast<const char*>(digest), sizeof digest));

    const auto roots = service_.accounts().nodes(created.account);
    std::multiset<int8_t> types;
    for (const auto& root : roots) {
        types.insert(root.type);
        EXPECT_EQ(root.parent, 0u);
        EXPECT_EQ(root.filesystem, root.handle << 15);
        EXPECT_TRUE(root.nodekey && root.nodekey->size() == 40);
    }
    EXPECT_EQ(types, std::multiset<int8_t>(ada.roots.begin(), ada.roots.end()));
    const auto session = service_.accounts().session(created.session);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->user, created.user);
    EXPECT_EQ(session->account, created.account);

    // A further account of the signed-in user gets a session of its own.
    NewUser further = ada;
    further.accountKey = secretBytes(40);
    further.roots = {0};
    const Response answer = ask(created.session, createAccountMessage(further, false));
    const auto* response = answer.as<CreateAccountResponse>("CRAR");
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->error(), 0);
    EXPECT_EQ(response->user(), created.user);
    EXPECT_NE(response->account(), created.account);
    const std::string second = userKey_->openSession(bytesIn(response->session()));
    EXPECT_TRUE(sessionWorks(second));
    const Response login = ask("", loginMessage(byKey(ada.email, ada.auth, -1, response->account())));
    const auto* loginResponse = login.as<LoginResponse>("LOIR");
    ASSERT_NE(loginResponse, nullptr);
    EXPECT_EQ(loginResponse->error(), 0);
    EXPECT_EQ(bytesIn(loginResponse->accountkey()), further.accountKey);
    EXPECT_EQ(loginResponse->mainAccount(), created.account);
    EXPECT_EQ(loginResponse->permissions()->size(), 2u);
    EXPECT_EQ(errorIn(ask("", createAccountMessage(further, false))), 3) << "a further account needs a session";
}

TEST_F(AccountHandlersTest, ChangePasswordReplacesTheKeyAndWrappedMasterKey) {
    NewUser ada = newUser("ada@example.test");
    const Created created = registerUser(ada);
    ASSERT_FALSE(created.session.empty());
    const std::string newAuth = secretBytes(32), newUserKey = secretBytes(40);

    EXPECT_EQ(errorIn(ask(created.session, changePasswordMessage(newUserKey, newAuth.substr(1)))), 5);
    EXPECT_EQ(errorIn(ask(created.session, changePasswordMessage("", newAuth))), 5);
    EXPECT_EQ(errorIn(ask("", changePasswordMessage(newUserKey, newAuth))), 3);
    EXPECT_EQ(errorIn(ask(created.session, changePasswordMessage(newUserKey, newAuth))), 0);

    EXPECT_EQ(errorIn(ask("", loginMessage(byKey(ada.email, ada.auth)))), 5) << "the old key";
    const Response answer = ask("", loginMessage(byKey(ada.email, newAuth)));
    const auto* response = answer.as<LoginResponse>("LOIR");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->error(), 0);
    EXPECT_EQ(bytesIn(response->key()), newUserKey);
    EXPECT_TRUE(sessionWorks(created.session)) << "the sessions open stay";
}

TEST_F(AccountHandlersTest, UserInfoTellsTheCallerAllAndOthersAllButTheirPrivateKeyAndAccounts) {
    NewUser ada = newUser("ada@example.test");
    const Created created = registerUser(ada);
    NewUser bo = newUser("bo@example.test");
    bo.firstName = "Bo";
    const Created other = registerUser(bo);
    ASSERT_FALSE(created.session.empty());

    for (const auto& message :
         {userInfoMessage(), userInfoMessage(created.user), userInfoMessage(0, "ADA@example.test")}) {
        const Response answer = ask(created.session, message);
        const auto* response = answer.as<UserInfoResponse>("USIR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), 0);
        EXPECT_EQ(response->handle(), created.user);
        EXPECT_EQ(textOf(response->email()), ada.email);
        EXPECT_EQ(textOf(response->firstName()), "Ada");
        EXPECT_EQ(textOf(response->lastName()), "Lovelace");
        EXPECT_GT(response->creationTime(), 0);
        EXPECT_EQ(bytesIn(response->publicKey()), ada.publicKey);
        EXPECT_EQ(bytesIn(response->privateKey()), ada.privateKey);
        EXPECT_EQ(response->mainAccount(), created.account);
        ASSERT_NE(response->permissions(), nullptr);
        EXPECT_EQ(response->permissions()->size(), 1u);
    }

    const Response answer = ask(created.session, userInfoMessage(0, bo.email));
    const auto* response = answer.as<UserInfoResponse>("USIR");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->error(), 0);
    EXPECT_EQ(response->handle(), other.user);
    EXPECT_EQ(textOf(response->email()), bo.email);
    EXPECT_EQ(textOf(response->firstName()), "Bo");
    EXPECT_EQ(response->mainAccount(), other.account);
    EXPECT_EQ(response->privateKey(), nullptr);
    EXPECT_EQ(response->permissions(), nullptr);
    EXPECT_EQ(bytesIn(response->publicKey()), bo.publicKey);
    EXPECT_NE(other.user, 0u);

    EXPECT_EQ(errorIn(ask(created.session, userInfoMessage(0, "nobody@example.test"))), 1);
    EXPECT_EQ(errorIn(ask("", userInfoMessage())), 3);
}

}  // namespace
}  // namespace corvane::service::test
