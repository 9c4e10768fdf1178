// The credential and account-creation processors over a synchronous crypto manager: what
// they leave in the record and send, and where a key chain must stop.
#include "action/account_action.h"

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/sealed_node_fixture.h"
#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "request/account_request.h"
#include "request/account_settings_request.h"
#include "request/credential_request.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

// An API manager with keys of a signed-in user and a crypto manager whose completions run
// before the call returns.
class KeyedManager : public test::FakeApiManager {
public:
    CryptoManager* getCryptoManager() override { return &cryptoManager; }
    ByteVector getRsaPrivateKey() const override { return rsaPrivateKey; }

    CryptoppCrypto crypto{nullptr, nullptr};
    CryptoManager cryptoManager{&crypto};
    Bytes rsaPrivateKey;
};

Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 13);
    }
    return bytes;
}

class AccountActionTest : public ::testing::Test {
protected:
    std::shared_ptr<MutableActionData> record(int32_t type) {
        auto data = std::make_shared<MutableActionData>(type);
        data->setSequenceId(7);
        return data;
    }

    test::LogCapture log;
    KeyedManager manager;
};

// A further account whose keys cannot be sealed under the signed-in user's keys is not
// registered: the chain stops at the first missing key with 4 and sends nothing.
TEST_F(AccountActionTest, AFurtherAccountStopsWithError4WhenAKeyCannotBeMade) {
    struct Case {
        const char* name;
        Bytes masterKey;
        Bytes rsaPrivateKey;
    };
    const std::vector<Case> cases = {
        {"master key one byte short", pattern(31, 1), pattern(64, 2)},
        {"no master key", Bytes(), pattern(64, 2)},
        {"no RSA private key", pattern(32, 1), Bytes()},
    };
    CreateAccountAction processor(&manager, &manager.loop, &manager);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        manager.notifications.clear();
        manager.requests.clear();
        manager.masterKey = c.masterKey;
        manager.rsaPrivateKey = c.rsaPrivateKey;
        auto data = record(CREATE_ACCOUNT);
        processor.process(data);
        manager.loop.runTasks();
        EXPECT_EQ(manager.notifications, (std::vector<std::string>{"processed:7:4", "finish:7:4"}));
        EXPECT_TRUE(manager.requests.empty());
        EXPECT_EQ(data->getAccountKey(), nullptr) << "nothing half-made is left to send";
    }
}

TEST_F(AccountActionTest, TheRecoveryKeyIsTheMasterKeysUrlTextAndNeedsAMasterKey) {
    RecoveryKeyAction processor(&manager, &manager.loop, &manager);
    // 32 bytes 0xfb use both URL-safe characters ("+/v7" in the standard alphabet), unpadded.
    manager.masterKey = Bytes(32, 0xfb);
    auto data = record(RECOVERY_KEY);
    processor.process(data);
    manager.loop.runTasks();
    EXPECT_EQ(data->getTextString(), "-_v7-_v7-_v7-_v7-_v7-_v7-_v7-_v7-_v7-_v7-_s");
    EXPECT_EQ(manager.notifications, (std::vector<std::string>{"processed:7:0", "finish:7:0"}));

    // A link session holds a session but no master key.
    manager.notifications.clear();
    manager.masterKey.clear();
    auto linkSession = record(RECOVERY_KEY);
    processor.process(linkSession);
    manager.loop.runTasks();
    EXPECT_EQ(linkSession->getText(), nullptr);
    EXPECT_EQ(manager.notifications, (std::vector<std::string>{"processed:7:2", "finish:7:2"}));
}

TEST_F(AccountActionTest, ANewPasswordRewrapsTheMasterKeyAndSendsOnlyDerivedValues) {
    ChangePasswordAction processor(&manager, &manager.loop, &manager);
    manager.masterKey = pattern(32, 5);
    manager.email = "Ada@Example.com";
    const std::string password = "the new password";
    auto data = record(CHANGE_PASSWORD);
    data->setPassword(password.c_str());
    processor.process(data);
    manager.loop.runTasks();
    EXPECT_EQ(manager.notifications, (std::vector<std::string>{"processed:7:0"}));
    ASSERT_EQ(manager.requests.size(), 1u);
    EXPECT_STREQ(data->getEmail(), "Ada@Example.com");

    // PBKDF2-HMAC-SHA512 over the folded address, computed here.
    const std::string salt = std::string("ada@example.com") + " ___TORQUIN___ ";
    Bytes derived(64);
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                      reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()), 150000,
                      EVP_sha512(), 64, derived.data());
    ASSERT_NE(data->getAuthKey(), nullptr);
    ASSERT_NE(data->getUserKey(), nullptr);
    EXPECT_EQ(*data->getAuthKey(), Bytes(derived.begin(), derived.begin() + 32));
    EXPECT_EQ(test::unwrapKey(Bytes(derived.begin() + 32, derived.end()), *data->getUserKey()), manager.masterKey);

    auto* request = dynamic_cast<ChangePasswordRequest*>(manager.requests[0].get());
    ASSERT_NE(request, nullptr);
    std::unique_ptr<ByteArray> message = request->takeMessage();
    ASSERT_NE(message, nullptr);
    const std::string bytes(reinterpret_cast<const char*>(message->data()), message->size());
    EXPECT_EQ(bytes.find(password), std::string::npos);
}

// Without a master key there is nothing to re-wrap: the service must not get a key that
// opens nothing in place of the user's.
TEST_F(AccountActionTest, ANewPasswordWithoutAMasterKeyEndsWithError4AndSendsNothing) {
    ChangePasswordAction processor(&manager, &manager.loop, &manager);
    manager.email = "ada@example.com";
    auto data = record(CHANGE_PASSWORD);
    data->setPassword("the new password");
    processor.process(data);
    manager.loop.runTasks();
    EXPECT_EQ(manager.notifications, (std::vector<std::string>{"processed:7:4", "finish:7:4"}));
    EXPECT_TRUE(manager.requests.empty());
    EXPECT_EQ(data->getUserKey(), nullptr);
}

// Only A to Z fold; digits, dots and the bytes of other letters stay as they are.
TEST_F(AccountActionTest, AddressesAreLowerCasedByteByByteBeforeTheyAreSent) {
    const std::string given = "MiXeD.Case9@\xC3\x89XAMPLE.com";
    const std::string sent = "mixed.case9@\xC3\x89xample.com";
    ForgotPasswordAction forgot(&manager, &manager.loop, &manager);
    VerifyEmailAction verify(&manager, &manager.loop, &manager);
    for (ActionProcessor* processor :
         {static_cast<ActionProcessor*>(&forgot), static_cast<ActionProcessor*>(&verify)}) {
        SCOPED_TRACE(processor->getName());
        manager.requests.clear();
        auto data = record(processor->getType());
        data->setEmail(given.c_str());
        processor->process(data);
        EXPECT_EQ(std::string(data->getEmail()), sent);
        EXPECT_EQ(manager.requests.size(), 1u);
    }
}

// Everything after the first "/account/" is the handle's text, whatever address comes first.
TEST_F(AccountActionTest, AnAccountLinkNamesTheAccountOrEndsWith5WithoutARequest) {
    struct Case {
        const char* name;
        const char* link;
        bool sent;
        const char* handleText;
    };
    const std::vector<Case> cases = {
        {"eight handle characters", "https://web.example/account/AQAAAAAA", true, "AQAAAAAA"},
        {"only the path", "/account/AQAAAAAA", true, "AQAAAAAA"},
        {"first occurrence counts", "x/account/AQAAAAAA/account/BBBBBBBB", true, "AQAAAAAA/account/BBBBBBBB"},
        {"nothing after the path", "https://web.example/account/", false, nullptr},
        {"shorter than the path", "/account", false, nullptr},
        {"another path", "https://web.example/inbox/AQAAAAAA", false, nullptr},
    };
    AccountInfoAction processor(&manager, &manager.loop, &manager);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        manager.notifications.clear();
        manager.requests.clear();
        auto data = record(ACCOUNT_INFO);
        data->setLink(c.link);
        processor.process(data);
        manager.loop.runTasks();
        if (!c.sent) {
            EXPECT_EQ(manager.notifications, (std::vector<std::string>{"processed:7:5", "finish:7:5"}));
            EXPECT_TRUE(manager.requests.empty());
            continue;
        }
        EXPECT_EQ(manager.notifications, (std::vector<std::string>{"processed:7:0"}));
        EXPECT_EQ(data->getAccountHandleText(), c.handleText);
        ASSERT_EQ(manager.requests.size(), 1u);
        auto request = std::dynamic_pointer_cast<AccountInfoRequest>(manager.requests.front());
        ASSERT_NE(request, nullptr);
        std::unique_ptr<ByteArray> keep;
        const auto* message = test::messageOf<AccountInfoMessage>(*request, keep, "ACIM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->account(), data->getAccountHandle());
    }
}

// The two account-value actions differ only in the kind they put in the number field.
TEST_F(AccountActionTest, AccountValueActionsSendTheirKind) {
    SetAccountValueAction setValue(&manager, &manager.loop, &manager);
    DeleteAccountAction deleteAccount(&manager, &manager.loop, &manager);
    struct Case {
        ActionProcessor* processor;
        int32_t kind;
    };
    for (const Case& c : {Case{&setValue, SetAccountValueRequest::kCrypto},
                          Case{&deleteAccount, SetAccountValueRequest::kDeleteAccount}}) {
        SCOPED_TRACE(c.processor->getName());
        manager.requests.clear();
        auto data = record(c.processor->getType());
        data->setOption(2);
        data->setText("reason");
        c.processor->process(data);
        ASSERT_EQ(manager.requests.size(), 1u);
        auto request = std::dynamic_pointer_cast<SetAccountValueRequest>(manager.requests.front());
        ASSERT_NE(request, nullptr);
        std::unique_ptr<ByteArray> keep;
        const auto* message = test::messageOf<SetAccountValueMessage>(*request, keep, "SAVM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->type(), c.kind);
        EXPECT_EQ(message->intValue(), c.kind == SetAccountValueRequest::kCrypto ? 2 : 0);
        EXPECT_EQ(message->textValue() != nullptr, c.kind == SetAccountValueRequest::kDeleteAccount);
    }
}

}  // namespace
}  // namespace corvane
