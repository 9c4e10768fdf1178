// Registration and credentials through the facade against the loopback stand-in over TLS:
// what the SDK sends is checked against the stand-in's store with keys derived here
// independently (OpenSSL PBKDF2, AES key wrap, SHA-256, HMAC-SHA1 for TOTP).
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "support/account_keys.h"
#include "support/facade_fixture.h"
#include "support/log_capture.h"
#include "support/stand_in_client.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kEmail = "ada.lovelace@example.com";
constexpr const char* kPassword = "correct horse battery staple";
constexpr size_t kMasterKeyTextLength = 43;

struct DerivedKeys {
    Bytes auth;
    Bytes password;
};

DerivedKeys derive(const std::string& email, const std::string& password) {
    auto keys = test::signin::deriveUserKeys(email, password);
    return {std::move(keys.first), std::move(keys.second)};
}

Bytes sha256(const Bytes& data) {
    Bytes digest(SHA256_DIGEST_LENGTH);
    SHA256(data.data(), data.size(), digest.data());
    return digest;
}

// A code the authenticator does not show around now.
int32_t wrongCode(const std::string& secret) {
    const std::time_t now = std::time(nullptr);
    std::set<int32_t> near;
    for (int step = -2; step <= 2; ++step) {
        near.insert(test::signin::totpCode(secret, now + step * 30));
    }
    int32_t code = 123456;
    while (near.count(code) != 0) {
        ++code;
    }
    return code;
}

Bytes storedUserKey(service::StandInService& service, const std::string& email) {
    auto user = service.accounts().userByEmail(email);
    return user && user->userKey ? Bytes(user->userKey->begin(), user->userKey->end()) : Bytes();
}

constexpr int8_t kContactsRoot = 7;
constexpr int32_t kRegistrationPin = 1234;  // the PIN registerUser gives
constexpr int32_t kNoCode = -1;
constexpr int32_t kRefused = 5;  // the stand-in's answer to a wrong key

// Top-level contacts roots of the user's main account in the stand-in's store.
size_t contactsRoots(service::StandInService& service, const std::string& email) {
    auto user = service.accounts().userByEmail(email);
    if (!user) {
        return 0;
    }
    size_t count = 0;
    for (const auto& node : service.accounts().nodes(user->mainAccount)) {
        count += node.parent == 0 && node.type == kContactsRoot ? 1 : 0;
    }
    return count;
}

class AccountCreationTest : public test::FacadeFixture {
protected:
    test::ActionOutcome loginWithPassword(const std::string& password) {
        return run(LOGIN, [&](MutableActionData& a) {
            a.setEmail(kEmail);
            a.setPassword(password.c_str());
            a.setValue(kNoCode);
        });
    }

    test::ActionOutcome logout() {
        return run(LOGOUT, [](MutableActionData&) {});
    }
};

TEST_F(AccountCreationTest, ANewUserIsRegisteredWithKeysThatOpenWithThePasswordAndIsSignedIn) {
    const test::ActionOutcome verified = run(VERIFY_EMAIL, [](MutableActionData& a) {
        a.setEmail("Ada.Lovelace@Example.COM");
        a.setName("Ada");
        a.setExtraText("Lovelace");
    });
    ASSERT_EQ(verified.error, 0);
    EXPECT_EQ(verified.email, kEmail) << "the address goes out lower-cased";
    ASSERT_FALSE(verified.text.empty());

    const test::ActionOutcome created = run(CREATE_ACCOUNT, [&](MutableActionData& a) {
        a.setText(verified.text.c_str());
        a.setName("Ada");
        a.setExtraText("Lovelace");
        a.setEmail(kEmail);
        a.setPassword(kPassword);
        a.setOption(1234);
        a.setLink("");  // an empty coupon is left out
    });
    ASSERT_EQ(created.error, 0);
    ASSERT_GT(created.session.size(), kMasterKeyTextLength);

    auto user = service_.accounts().userByEmail(kEmail);
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->firstName, "Ada");
    EXPECT_EQ(user->pin, 1234);
    const DerivedKeys keys = derive(kEmail, kPassword);
    ASSERT_TRUE(user->authHash.has_value());
    EXPECT_EQ(Bytes(user->authHash->begin(), user->authHash->end()), sha256(keys.auth));
    const Bytes masterKey = test::unwrapKey(keys.password, storedUserKey(service_, kEmail));
    ASSERT_EQ(masterKey.size(), 32u);
    // The saved session string ends in the master key's text.
    EXPECT_EQ(created.session.substr(created.session.size() - kMasterKeyTextLength),
              test::signin::base64Url(masterKey));

    // The account's roots, each sent once: drive, backups, 2, register, 4 and contacts.
    std::multiset<int8_t> types;
    for (const auto& node : service_.accounts().nodes(user->mainAccount)) {
        types.insert(node.type);
    }
    EXPECT_EQ(types, (std::multiset<int8_t>{0, 1, 2, 3, 4, 7}));

    // Signed in: the recovery key is the master key's 43-character text, the same each time.
    for (int round = 0; round < 2; ++round) {
        const test::ActionOutcome recovery = run(RECOVERY_KEY, [](MutableActionData&) {});
        EXPECT_EQ(recovery.error, 0);
        EXPECT_EQ(recovery.text.size(), kMasterKeyTextLength);
        EXPECT_EQ(recovery.text, test::signin::base64Url(masterKey));
    }
}

TEST_F(AccountCreationTest, AnAddressAlreadyRegisteredIsRefusedAndTheRegistrationIdStaysUnset) {
    ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
    const test::ActionOutcome again = run(VERIFY_EMAIL, [](MutableActionData& a) {
        a.setEmail("ADA.LOVELACE@EXAMPLE.COM");
        a.setName("Ada");
        a.setExtraText("Lovelace");
    });
    EXPECT_EQ(again.error, 7);
    EXPECT_TRUE(again.text.empty());
}

struct RefusedCase {
    const char* name;
    int32_t type;
    std::function<void(MutableActionData&)> fill;
    int32_t error;
};

// Checked before anything is sent; signed out, so the session checks refuse with 2.
TEST_F(AccountCreationTest, WrongParametersAndMissingSessionsAreRefusedBeforeAnythingIsSent) {
    const std::vector<RefusedCase> cases = {
        {"registration without PIN", CREATE_ACCOUNT,
         [](MutableActionData& a) {
             a.setText("registration");
             a.setName("A");
             a.setExtraText("B");
             a.setEmail(kEmail);
             a.setPassword(kPassword);
             a.setOption(0);
         },
         5},
        {"further account signed out", CREATE_ACCOUNT, [](MutableActionData&) {}, 2},
        {"verification without last name", VERIFY_EMAIL,
         [](MutableActionData& a) {
             a.setEmail(kEmail);
             a.setName("A");
         },
         5},
        {"forgotten password without address", FORGOT_PASSWORD, [](MutableActionData&) {}, 5},
        {"two-factor operation 0", MANAGE_2FA, [](MutableActionData& a) { a.setOption(0); }, 5},
        {"two-factor operation 4", MANAGE_2FA, [](MutableActionData& a) { a.setOption(4); }, 5},
        {"two-factor signed out", MANAGE_2FA, [](MutableActionData& a) { a.setOption(1); }, 2},
        {"new password without password", CHANGE_PASSWORD, [](MutableActionData&) {}, 5},
        {"new password signed out", CHANGE_PASSWORD, [](MutableActionData& a) { a.setPassword("x"); }, 2},
        {"recovery key signed out", RECOVERY_KEY, [](MutableActionData&) {}, 2},
    };
    service_.clearRequests();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c.type, c.fill).error, c.error);
    }
    for (const auto& request : service_.requests()) {
        EXPECT_NE(request.path, "/api");
    }
}

TEST_F(AccountCreationTest, TwoFactorIsSetUpEnabledOnlyWithTheCurrentCodeAndDisabled) {
    ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
    const test::ActionOutcome link = run(MANAGE_2FA, [](MutableActionData& a) {
        a.setOption(1);
        a.setValue(111111);  // no code goes with the set-up link
    });
    ASSERT_EQ(link.error, 0);
    ASSERT_EQ(link.text.rfind("otpauth://totp/", 0), 0u) << link.text;
    const std::string secret = test::signin::secretOfLink(link.text);
    ASSERT_EQ(secret.size(), 20u);

    const auto enable = [&](int32_t code) {
        return run(MANAGE_2FA, [code](MutableActionData& a) {
            a.setOption(2);
            a.setValue(code);
        });
    };
    EXPECT_NE(enable(wrongCode(secret)).error, 0);
    EXPECT_FALSE(service_.accounts().userByEmail(kEmail)->totpEnabled);
    const test::ActionOutcome enabled = enable(test::signin::totpCode(secret));
    EXPECT_EQ(enabled.error, 0);
    EXPECT_TRUE(enabled.text.empty()) << "only the set-up link is stored";
    EXPECT_TRUE(service_.accounts().userByEmail(kEmail)->totpEnabled);

    const auto disable = [&](int32_t code) {
        return run(MANAGE_2FA, [code](MutableActionData& a) {
            a.setOption(3);
            a.setValue(code);
        });
    };
    EXPECT_NE(disable(wrongCode(secret)).error, 0);
    EXPECT_TRUE(service_.accounts().userByEmail(kEmail)->totpEnabled);
    EXPECT_EQ(disable(test::signin::totpCode(secret)).error, 0);
    EXPECT_FALSE(service_.accounts().userByEmail(kEmail)->totpEnabled);
}

TEST_F(AccountCreationTest, ANewPasswordRewrapsTheSameMasterKeyAndReplacesTheProof) {
    ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
    const Bytes masterKey = test::unwrapKey(derive(kEmail, kPassword).password, storedUserKey(service_, kEmail));
    ASSERT_EQ(masterKey.size(), 32u);

    const std::string newPassword = "a new and longer passphrase";
    const test::ActionOutcome changed =
        run(CHANGE_PASSWORD, [&](MutableActionData& a) { a.setPassword(newPassword.c_str()); });
    ASSERT_EQ(changed.error, 0);
    EXPECT_EQ(changed.email, kEmail);

    const DerivedKeys newKeys = derive(kEmail, newPassword);
    const Bytes stored = storedUserKey(service_, kEmail);
    EXPECT_EQ(test::unwrapKey(newKeys.password, stored), masterKey);
    EXPECT_TRUE(test::unwrapKey(derive(kEmail, kPassword).password, stored).empty());
    auto user = service_.accounts().userByEmail(kEmail);
    EXPECT_EQ(Bytes(user->authHash->begin(), user->authHash->end()), sha256(newKeys.auth));
}

TEST_F(AccountCreationTest, RepeatedPasswordSignInsLeaveExactlyOneContactsRoot) {
    ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
    ASSERT_EQ(contactsRoots(service_, kEmail), 1u);
    ASSERT_EQ(logout().error, 0);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const test::ActionOutcome signedIn = loginWithPassword(kPassword);
        EXPECT_EQ(signedIn.error, 0);
        EXPECT_GT(signedIn.session.size(), kMasterKeyTextLength);
        EXPECT_EQ(logout().error, 0);
    }
    EXPECT_EQ(contactsRoots(service_, kEmail), 1u);
}

TEST_F(AccountCreationTest, AfterANewPasswordTheOldOneIsRefusedAndTheNewOneSignsIn) {
    ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
    const std::string newPassword = "a new and longer passphrase";
    ASSERT_EQ(run(CHANGE_PASSWORD, [&](MutableActionData& a) { a.setPassword(newPassword.c_str()); }).error, 0);
    ASSERT_EQ(logout().error, 0);

    const test::ActionOutcome old = loginWithPassword(kPassword);
    EXPECT_EQ(old.error, kRefused);
    EXPECT_TRUE(old.session.empty());
    const test::ActionOutcome signedIn = loginWithPassword(newPassword);
    EXPECT_EQ(signedIn.error, 0);
    EXPECT_GT(signedIn.session.size(), kMasterKeyTextLength);
}

TEST_F(AccountCreationTest, AForgottenPasswordIsBypassedWithTheRecoveryIdAndTheRecoveryKey) {
    ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
    const test::ActionOutcome recovery = run(RECOVERY_KEY, [](MutableActionData&) {});
    ASSERT_EQ(recovery.error, 0);
    ASSERT_EQ(recovery.text.size(), kMasterKeyTextLength);
    ASSERT_EQ(logout().error, 0);

    const test::ActionOutcome forgot = run(FORGOT_PASSWORD, [](MutableActionData& a) { a.setEmail(kEmail); });
    ASSERT_EQ(forgot.error, 0);
    ASSERT_FALSE(forgot.text.empty());

    const test::ActionOutcome signedIn = run(LOGIN, [&](MutableActionData& a) {
        a.setEmail(kEmail);
        a.setPassword(recovery.text.c_str());
        a.setText(forgot.text.c_str());
        a.setOption(kRegistrationPin);
        a.setValue(kNoCode);
    });
    EXPECT_EQ(signedIn.error, 0);
    // The new session carries the same master key.
    ASSERT_GT(signedIn.session.size(), kMasterKeyTextLength);
    EXPECT_EQ(signedIn.session.substr(signedIn.session.size() - kMasterKeyTextLength), recovery.text);
    EXPECT_EQ(run(RECOVERY_KEY, [](MutableActionData&) {}).text, recovery.text);
}

TEST_F(AccountCreationTest, AForgottenPasswordGivesARecoveryIdForAKnownAddressOnly) {
    ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
    const test::ActionOutcome known =
        run(FORGOT_PASSWORD, [](MutableActionData& a) { a.setEmail("Ada.LoveLace@example.com"); });
    EXPECT_EQ(known.error, 0);
    EXPECT_EQ(known.email, kEmail);
    EXPECT_FALSE(known.text.empty());

    const test::ActionOutcome unknown =
        run(FORGOT_PASSWORD, [](MutableActionData& a) { a.setEmail("nobody@example.com"); });
    EXPECT_EQ(unknown.error, 1);
    EXPECT_TRUE(unknown.text.empty());
}

// Registration, a new password and the recovery key with the SDK's log at trace level: no
// password, derived key, master key, session text or saved session string shows in any line.
TEST_F(AccountCreationTest, NoSecretAppearsInTheLogAtTraceLevel) {
    test::LogCapture log(1 << 16);
    const std::string newPassword = "another secret passphrase";
    const test::ActionOutcome created = registerUser(kEmail, kPassword);
    ASSERT_EQ(created.error, 0);
    const test::ActionOutcome recovery = run(RECOVERY_KEY, [](MutableActionData&) {});
    ASSERT_EQ(recovery.error, 0);
    ASSERT_EQ(run(CHANGE_PASSWORD, [&](MutableActionData& a) { a.setPassword(newPassword.c_str()); }).error, 0);

    const DerivedKeys keys = derive(kEmail, kPassword);
    const DerivedKeys newKeys = derive(kEmail, newPassword);
    const std::string sessionText = created.session.substr(0, created.session.size() - kMasterKeyTextLength);
    std::vector<std::string> secrets = {kPassword, newPassword, created.session, sessionText, recovery.text};
    for (const Bytes* key : {&keys.auth, &keys.password, &newKeys.auth, &newKeys.password}) {
        secrets.push_back(test::signin::hexOf(*key));
        secrets.push_back(test::signin::base64Url(*key));
    }
    ASSERT_FALSE(log.lines().empty());
    EXPECT_TRUE(log.contains("[cra] Keys ready"));
    for (const std::string& secret : secrets) {
        ASSERT_GE(secret.size(), 16u);
        EXPECT_FALSE(log.contains(secret)) << "a log line holds a secret";
    }
}

}  // namespace
}  // namespace corvane
