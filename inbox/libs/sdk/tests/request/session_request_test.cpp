#include "request/session_request.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "support/account_keys.h"
#include "support/log_capture.h"
#include "support/manager_modules.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::hasField;
using test::messageOf;
using test::ResponseBuffer;
using test::signin::AccountKeys;
using test::signin::base64Url;
using test::signin::KeyBytes;

constexpr uint64_t kUser = 0x1111;
constexpr uint64_t kAccount = 0x2222;

// The part of the API manager a sign-in reaches: the real crypto manager, and the session
// reset, install and logout written down with what they were given.
class SignInHost : public test::LoopApiManager {
public:
    SignInHost(Loop* mainLoop, CryptoManager* crypto)
        : LoopApiManager(mainLoop), mainLoop_(mainLoop), crypto_(crypto) {}

    CryptoManager* getCryptoManager() override { return crypto_; }
    ByteVector getMasterKey() const override { return masterKey; }
    ByteVector getRsaPrivateKey() const override { return rsaPrivateKey; }

    void resetSession(std::function<void()> completion) override {
        calls.push_back("reset");
        mainLoop_->post(std::move(completion));
    }
    void logout(std::function<void()> completion) override {
        calls.push_back("logout");
        mainLoop_->post(std::move(completion));
    }
    void setSession(const char* email, const char* sessionId, const ByteVector& master, const ByteVector& userRsa,
                    const ByteVector& userKey, const ByteVector& fingerprintKey, const ByteVector& accountKey,
                    uint64_t userId, uint64_t accountId, uint8_t accountCrypto, int32_t accessLevel,
                    std::function<void()> completion) override {
        calls.push_back("set");
        installed = Installed{email,      sessionId, master,    userRsa,       userKey,    fingerprintKey,
                              accountKey, userId,    accountId, accountCrypto, accessLevel};
        mainLoop_->post(std::move(completion));
    }

    struct Installed {
        std::string email, session;
        ByteVector masterKey, userRsa, accountKey, fingerprintKey, accountRsa;
        uint64_t user = 0, account = 0;
        uint8_t crypto = 0;
        int32_t accessLevel = 0;
    };
    std::vector<std::string> calls;
    Installed installed;
    ByteVector masterKey;
    ByteVector rsaPrivateKey;

private:
    Loop* mainLoop_;
    CryptoManager* crypto_;
};

std::shared_ptr<MutableActionData> loginData() {
    auto data = std::make_shared<MutableActionData>(LOGIN);
    data->setValue(-1);
    data->setOption(-1);
    return data;
}

// --- the message of each way ---

struct WayCase {
    const char* name;
    std::function<void(MutableActionData&)> fill;
    std::vector<flatbuffers::voffset_t> present;
    std::vector<flatbuffers::voffset_t> absent;
};

std::string repeat(char c, size_t count) {
    return std::string(count, c);
}

const std::vector<WayCase>& wayCases() {
    static const std::vector<WayCase> cases = {
        {"PasswordSendsOnlyTheProof",
         [](MutableActionData& d) {
             d.setEmail("ada@example.test");
             d.setPassword("secret");
             d.setAuthKey(new ByteVector(32, 7));
         },
         {LoginMessage::VT_EMAIL, LoginMessage::VT_AUTH},
         {LoginMessage::VT_SESSION, LoginMessage::VT_RECOVERYID, LoginMessage::VT_PIN, LoginMessage::VT_CODE,
          LoginMessage::VT_ACCOUNT}},
        {"PasswordWithCodeAndAccount",
         [](MutableActionData& d) {
             d.setEmail("ada@example.test");
             d.setPassword("secret");
             d.setAuthKey(new ByteVector(32, 7));
             d.setValue(123456);
             d.setAccountHandle(77);
         },
         {LoginMessage::VT_EMAIL, LoginMessage::VT_AUTH, LoginMessage::VT_CODE, LoginMessage::VT_ACCOUNT},
         {LoginMessage::VT_SESSION, LoginMessage::VT_RECOVERYID, LoginMessage::VT_PIN}},
        {"RecoveryWithPin",
         [](MutableActionData& d) {
             d.setEmail("ada@example.test");
             d.setPassword("recovery key text");
             d.setText("recovery-id");
             d.setOption(4321);
         },
         {LoginMessage::VT_EMAIL, LoginMessage::VT_RECOVERYID, LoginMessage::VT_PIN},
         {LoginMessage::VT_AUTH, LoginMessage::VT_SESSION, LoginMessage::VT_CODE}},
        {"RecoveryWithoutPin",
         [](MutableActionData& d) {
             d.setEmail("ada@example.test");
             d.setPassword("recovery key text");
             d.setText("recovery-id");
         },
         {LoginMessage::VT_EMAIL, LoginMessage::VT_RECOVERYID},
         {LoginMessage::VT_PIN, LoginMessage::VT_AUTH, LoginMessage::VT_CODE}},
        {"SavedSessionSendsOnlyTheSessionText",
         [](MutableActionData& d) {
             d.setSession((repeat('s', 17) + repeat('k', 43)).c_str());
             d.setEmail("ada@example.test");
             d.setValue(5);
         },
         {LoginMessage::VT_SESSION},
         {LoginMessage::VT_EMAIL, LoginMessage::VT_AUTH, LoginMessage::VT_CODE, LoginMessage::VT_RECOVERYID}},
        // A session of 43 characters holds no session text: the password way goes on.
        {"TooShortSessionFallsBackToThePassword",
         [](MutableActionData& d) {
             d.setSession(repeat('k', 43).c_str());
             d.setEmail("ada@example.test");
             d.setPassword("secret");
             d.setAuthKey(new ByteVector(32, 7));
         },
         {LoginMessage::VT_EMAIL, LoginMessage::VT_AUTH},
         {LoginMessage::VT_SESSION}},
    };
    return cases;
}

class LoginMessageTest : public testing::TestWithParam<WayCase> {};

TEST_P(LoginMessageTest, CarriesTheFieldsOfItsWay) {
    auto data = loginData();
    GetParam().fill(*data);
    LoginRequest request(data);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<LoginMessage>(request, keep, "LOIM");
    ASSERT_NE(message, nullptr);
    for (auto field : GetParam().present) {
        EXPECT_TRUE(hasField(message, field)) << "field " << field;
    }
    for (auto field : GetParam().absent) {
        EXPECT_FALSE(hasField(message, field)) << "field " << field;
    }
    if (message->session() != nullptr) {
        EXPECT_EQ(message->session()->str(), repeat('s', 17));
    }
    if (message->auth() != nullptr) {
        EXPECT_EQ(message->auth()->size(), 32u);
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, LoginMessageTest, testing::ValuesIn(wayCases()),
                         [](const testing::TestParamInfo<WayCase>& info) { return info.param.name; });

// --- reading and applying against keys made independently ---

struct Answer {
    int32_t error = 0;
    bool withSession = true;
    uint32_t version = 0;
};

class LoginApplyTest : public testing::Test {
protected:
    static void SetUpTestSuite() { keys_ = new AccountKeys("Ada@Example.test", "correct horse"); }
    static void TearDownTestSuite() {
        delete keys_;
        keys_ = nullptr;
    }

    void SetUp() override { host_ = std::make_unique<SignInHost>(&modules_.mainLoop, modules_.cryptoManager.get()); }

    // A complete response for the keys; `edit` may spoil one of its vectors first.
    ResponseBuffer answer(const Answer& a, std::function<void(AccountKeys&)> edit = nullptr) {
        AccountKeys keys = *keys_;
        if (edit) {
            edit(keys);
        }
        KeyBytes sealed = test::signin::sealForPublicKey(secret_, keys.userRsa.publicKey);
        return ResponseBuffer("LOIR", [&](flatbuffers::FlatBufferBuilder& b) {
            const auto session = b.CreateVector(sealed);
            const auto key = b.CreateVector(keys.wrappedMasterKey);
            const auto privateKey = b.CreateVector(keys.sealedUserRsa);
            const auto accountkey = b.CreateVector(keys.wrappedAccountKey);
            const auto accountPrivateKey = b.CreateVector(keys.sealedAccountRsa);
            const auto fingerprintKey = b.CreateVector(keys.wrappedFingerprintKey);
            const auto accountEmail = b.CreateString("owner@example.test");
            std::vector<flatbuffers::Offset<PermissionMessage>> users = {
                CreatePermissionMessage(b, kUser, b.CreateString("Ada"), 9, 3)};
            const auto userVector = b.CreateVector(users);
            LoginResponseBuilder response(b);
            response.add_error(a.error);
            if (a.withSession) {
                response.add_session(session);
            }
            response.add_key(key);
            response.add_privateKey(privateKey);
            response.add_accountkey(accountkey);
            response.add_accountPrivateKey(accountPrivateKey);
            response.add_accountFingerprintKey(fingerprintKey);
            response.add_user(kUser);
            response.add_account(kAccount);
            response.add_multiFactorAuth(1);
            response.add_mainAccount(kAccount);
            response.add_accountEmail(accountEmail);
            response.add_users(userVector);
            response.add_features(6);
            response.add_version(a.version);
            response.add_crypto(2);
            response.add_accessLevel(1);
            return response.Finish();
        });
    }

    std::shared_ptr<MutableActionData> passwordWay() {
        auto data = loginData();
        data->setEmail(keys_->email.c_str());
        data->setPassword(keys_->password.c_str());
        data->setAuthKey(new ByteVector(keys_->authKey));
        data->setPasswordKey(new ByteVector(keys_->passwordKey));
        return data;
    }

    std::shared_ptr<MutableActionData> recoveryWay(const std::string& recoveryKey) {
        auto data = loginData();
        data->setEmail(keys_->email.c_str());
        data->setPassword(recoveryKey.c_str());
        data->setText("recovery-id");
        data->setOption(4321);
        return data;
    }

    bool run(const std::shared_ptr<MutableActionData>& data, const ResponseBuffer& response) {
        auto request = std::make_shared<LoginRequest>(data);
        return test::readAndApply(modules_.mainLoop, host_.get(), request, response);
    }

    // The keys that reach the API manager are the ones made here.
    void expectInstalled(const std::string& sessionText) {
        const auto& installed = host_->installed;
        EXPECT_EQ(installed.session, sessionText);
        EXPECT_EQ(installed.masterKey, keys_->masterKey);
        EXPECT_EQ(installed.userRsa, keys_->userRsa.privateKey);
        EXPECT_EQ(installed.accountKey, keys_->accountKey);
        EXPECT_EQ(installed.fingerprintKey, keys_->fingerprintKey);
        EXPECT_EQ(installed.accountRsa, keys_->accountRsa.privateKey);
        EXPECT_EQ(installed.user, kUser);
        EXPECT_EQ(installed.account, kAccount);
        EXPECT_EQ(installed.crypto, 2);
        EXPECT_EQ(installed.accessLevel, 1);
        EXPECT_EQ(installed.email, "owner@example.test");
    }

    static AccountKeys* keys_;
    test::ManagerModules modules_;
    std::unique_ptr<SignInHost> host_;
    KeyBytes secret_ = test::signin::randomKeyBytes(32);
};

AccountKeys* LoginApplyTest::keys_ = nullptr;

TEST_F(LoginApplyTest, PasswordWayOpensEveryKeyAndLeavesTheSavedSession) {
    for (int32_t error : {0, 19}) {
        SCOPED_TRACE(error);
        host_->calls.clear();
        auto data = passwordWay();
        ASSERT_TRUE(run(data, answer({error})));
        EXPECT_EQ(data->getErrorCode(), error);
        EXPECT_EQ(host_->calls, (std::vector<std::string>{"reset", "set"}));
        expectInstalled(base64Url(secret_));
        ASSERT_NE(data->getSession(), nullptr);
        EXPECT_EQ(std::string(data->getSession()), base64Url(secret_) + keys_->recoveryKey());
        EXPECT_EQ(std::string(data->getSession()).size(), base64Url(secret_).size() + 43);
        EXPECT_EQ(data->getOption(), 1);
        EXPECT_EQ(data->getAccountHandle(), kAccount);
        EXPECT_EQ(data->getFlags(), 6);
        EXPECT_EQ(data->getValue(), 0);
        ASSERT_NE(data->getUsers(), nullptr);
        ASSERT_EQ(data->getUsers()->size(), 1u);
        EXPECT_EQ(data->getUsers()->front()->getId(), kUser);
        ASSERT_NE(data->getPermissions(), nullptr);
        EXPECT_TRUE(data->getPermissions()->empty());
    }
}

TEST_F(LoginApplyTest, RecoveryWayOpensTheKeysWithTheRecoveryKey) {
    auto data = recoveryWay(keys_->recoveryKey());
    ASSERT_TRUE(run(data, answer({})));
    EXPECT_EQ(data->getErrorCode(), 0);
    expectInstalled(base64Url(secret_));
}

TEST_F(LoginApplyTest, ShortRecoveryKeyIsACryptographicError) {
    test::LogCapture log;
    auto data = recoveryWay(keys_->recoveryKey().substr(0, 40));
    ASSERT_TRUE(run(data, answer({})));
    EXPECT_EQ(data->getErrorCode(), CRYPTOGRAPHIC_ERROR);
    EXPECT_TRUE(host_->calls.empty());
    EXPECT_EQ(log.count("Invalid master key. Wrong size: 30"), 1u);
}

TEST_F(LoginApplyTest, SavedSessionWayOpensTheAccountKeysWithItsMasterKey) {
    const std::string saved = "the-session-text" + keys_->recoveryKey();
    auto data = loginData();
    data->setSession(saved.c_str());
    ASSERT_TRUE(run(data, answer({0, false})));
    EXPECT_EQ(data->getErrorCode(), 0);
    EXPECT_EQ(host_->calls, (std::vector<std::string>{"reset", "set"}));
    expectInstalled("the-session-text");
    EXPECT_EQ(std::string(data->getSession()), saved);
}

// A saved string whose last 43 characters do not decode to a whole key installs nothing.
TEST_F(LoginApplyTest, SavedSessionWithABrokenKeyTextIsACryptographicError) {
    const std::string saved = "the-session-text" + keys_->recoveryKey().substr(0, 20) + std::string(23, '!');
    auto data = loginData();
    data->setSession(saved.c_str());
    ASSERT_TRUE(run(data, answer({0, false})));
    EXPECT_EQ(data->getErrorCode(), CRYPTOGRAPHIC_ERROR);
    EXPECT_EQ(host_->calls, (std::vector<std::string>{"reset"}));
}

struct Spoiled {
    const char* name;
    std::function<void(AccountKeys&)> edit;
};

TEST_F(LoginApplyTest, AKeyThatDoesNotOpenEndsWithError4AndInstallsNothing) {
    const std::vector<Spoiled> cases = {
        {"wrong password key",
         [](AccountKeys& k) { k.wrappedMasterKey = test::signin::wrapKey(k.masterKey, KeyBytes(32, 1)); }},
        {"tampered account key", [](AccountKeys& k) { k.wrappedAccountKey[5] ^= 1; }},
        {"empty fingerprint key", [](AccountKeys& k) { k.wrappedFingerprintKey.clear(); }},
        {"tampered account RSA key", [](AccountKeys& k) { k.sealedAccountRsa.back() ^= 1; }},
        {"user RSA key under another key",
         [](AccountKeys& k) { k.sealedUserRsa = test::signin::sealGcm(k.userRsa.privateKey, k.accountKey); }},
        {"session for another key", [](AccountKeys& k) { k.userRsa.publicKey = k.accountRsa.publicKey; }},
    };
    for (const auto& spoiled : cases) {
        SCOPED_TRACE(spoiled.name);
        host_->calls.clear();
        auto data = passwordWay();
        ASSERT_TRUE(run(data, answer({}, spoiled.edit)));
        EXPECT_EQ(data->getErrorCode(), CRYPTOGRAPHIC_ERROR);
        EXPECT_EQ(host_->calls, std::vector<std::string>{});
        EXPECT_EQ(data->getSession(), nullptr);
    }
}

TEST_F(LoginApplyTest, RefusedLoginReadsAndInstallsNothing) {
    auto data = passwordWay();
    data->setValue(-7);
    ASSERT_TRUE(run(data, answer({SESSION_NOT_VALID})));
    EXPECT_EQ(data->getErrorCode(), SESSION_NOT_VALID);
    EXPECT_EQ(data->getValue(), -7);
    EXPECT_TRUE(data->getPermissions() == nullptr || data->getPermissions()->empty());
    EXPECT_TRUE(data->getUsers() == nullptr || data->getUsers()->empty());
    EXPECT_TRUE(host_->calls.empty());
}

TEST_F(LoginApplyTest, AnswerWithoutSessionToAPasswordLoginIsError9) {
    auto data = passwordWay();
    ASSERT_TRUE(run(data, answer({0, false})));
    EXPECT_EQ(data->getErrorCode(), UNKNOWN_ERROR);
    EXPECT_TRUE(host_->calls.empty());
}

// --- logout, new session, session list ---

TEST_F(LoginApplyTest, LogoutEndsTheLocalSessionWhateverTheAnswer) {
    for (int32_t error : {0, 3}) {
        SCOPED_TRACE(error);
        host_->calls.clear();
        auto data = std::make_shared<MutableActionData>(LOGOUT);
        auto request = std::make_shared<LogoutRequest>(data);
        std::unique_ptr<ByteArray> keep;
        ASSERT_NE(messageOf<LogoutMessage>(*request, keep, "LOOM"), nullptr);
        ResponseBuffer response("LOOR",
                                [&](flatbuffers::FlatBufferBuilder& b) { return CreateLogoutResponse(b, error); });
        ASSERT_TRUE(test::readAndApply(modules_.mainLoop, host_.get(), request, response));
        EXPECT_EQ(data->getErrorCode(), error);
        EXPECT_EQ(host_->calls, std::vector<std::string>{"logout"});
    }
}

TEST_F(LoginApplyTest, NewSessionGivesASavedSessionStringOfTheSignedInUser) {
    host_->masterKey = keys_->masterKey;
    host_->rsaPrivateKey = keys_->userRsa.privateKey;
    const KeyBytes sealed = test::signin::sealForPublicKey(secret_, keys_->userRsa.publicKey);
    struct Case {
        KeyBytes session;
        int32_t error;
    };
    for (const Case& c : {Case{sealed, 0}, Case{KeyBytes(sealed.size(), 9), CRYPTOGRAPHIC_ERROR}}) {
        SCOPED_TRACE(c.error);
        auto data = std::make_shared<MutableActionData>(NEW_SESSION);
        data->setAccountHandle(kAccount);
        auto request = std::make_shared<NewSessionRequest>(data);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<NewSessionMessage>(*request, keep, "NESM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->account(), kAccount);
        ResponseBuffer response("NESR", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateNewSessionResponse(b, 0, 0xABCD, b.CreateVector(c.session));
        });
        ASSERT_TRUE(test::readAndApply(modules_.mainLoop, host_.get(), request, response));
        EXPECT_EQ(data->getErrorCode(), c.error);
        if (c.error == 0) {
            EXPECT_EQ(std::string(data->getSession()), base64Url(secret_) + keys_->recoveryKey());
            EXPECT_EQ(data->getNodeHandle(), 0xABCDu);
        } else {
            EXPECT_EQ(data->getSession(), nullptr);
        }
    }
    EXPECT_TRUE(host_->calls.empty());
}

TEST(SessionInfoRequestTest, SplitsTheSessionsByActivityInResponseOrder) {
    auto data = std::make_shared<MutableActionData>(SESSION_INFO);
    SessionInfoRequest request(data);
    std::unique_ptr<ByteArray> keep;
    ASSERT_NE(messageOf<SessionInfoMessage>(request, keep, "SEIM"), nullptr);
    ResponseBuffer response("SEIR", [](flatbuffers::FlatBufferBuilder& b) {
        std::vector<flatbuffers::Offset<SessionMessage>> sessions = {
            CreateSessionMessage(b, 1, 10, 11, b.CreateString("10.0.0.1"), b.CreateString("first"), false),
            CreateSessionMessage(b, 2, 20, 21, 0, 0, true),
            CreateSessionMessage(b, 3, 30, 31, b.CreateString("10.0.0.3"), b.CreateString("third"), false),
        };
        return CreateSessionInfoResponse(b, 0, b.CreateVector(sessions), 0x0102030405060708ULL);
    });
    ASSERT_TRUE(request.verify(response.data(), response.size()));
    ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
    ASSERT_NE(data->getActiveSessions(), nullptr);
    ASSERT_NE(data->getInactiveSessions(), nullptr);
    ASSERT_EQ(data->getActiveSessions()->size(), 1u);
    EXPECT_EQ(data->getActiveSessions()->at(0)->getId(), 2u);
    ASSERT_EQ(data->getInactiveSessions()->size(), 2u);
    EXPECT_EQ(data->getInactiveSessions()->at(0)->getId(), 1u);
    EXPECT_EQ(data->getInactiveSessions()->at(1)->getId(), 3u);
    EXPECT_EQ(data->getNodeHandle(), 0x0102030405060708ULL);
    EXPECT_EQ(std::string(data->getNodeHandleText()).size(), 11u);
}

TEST(SessionInfoRequestTest, WithoutSessionsBothListsAreSetAndEmpty) {
    auto data = std::make_shared<MutableActionData>(SESSION_INFO);
    SessionInfoRequest request(data);
    ResponseBuffer response("SEIR", [](flatbuffers::FlatBufferBuilder& b) {
        SessionInfoResponseBuilder table(b);
        table.add_currentId(5);
        return table.Finish();
    });
    ASSERT_TRUE(request.verify(response.data(), response.size()));
    ASSERT_TRUE(request.processFlatbuffer(response.data(), response.size()));
    ASSERT_NE(data->getActiveSessions(), nullptr);
    ASSERT_NE(data->getInactiveSessions(), nullptr);
    EXPECT_TRUE(data->getActiveSessions()->empty());
    EXPECT_TRUE(data->getInactiveSessions()->empty());
}

}  // namespace
}  // namespace corvane
