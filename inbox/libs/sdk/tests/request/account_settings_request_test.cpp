#include "request/account_settings_request.h"

#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "cloud/cloud_test_support.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "support/fake_api_manager.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

constexpr uint64_t kOwnUser = 0x5151;

TEST(SetAccountValueMessageTest, TheKindDecidesWhichValueTravels) {
    struct Case {
        const char* name;
        uint64_t number;
        int32_t option;
        const char* text;
        bool hasType;
        int32_t type;
        bool hasInt;
        int64_t intValue;
        const char* textValue;
    };
    const std::vector<Case> cases{
        // Kind 0 and value 0 are both defaults: an empty table.
        {"crypto 0", 0, 0, "ignored", false, 0, false, 0, nullptr},
        {"crypto 2", 0, 2, nullptr, false, 0, true, 2, nullptr},
        {"negative option keeps its sign", 0, -3, nullptr, false, 0, true, -3, nullptr},
        {"deletion with a reason", 1, 7, "moving on", true, 1, false, 0, "moving on"},
        {"deletion with an empty reason", 1, 0, "", true, 1, false, 0, ""},
        {"deletion without a text sends an empty one", 1, 0, nullptr, true, 1, false, 0, ""},
        {"other kind carries no value", 5, 9, "x", true, 5, false, 0, nullptr},
        // The kind is the number's low 32 bits.
        {"kind cut to 32 bits", (uint64_t{1} << 32) | 1, 0, "r", true, 1, false, 0, "r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(SET_ACCOUNT_VALUE);
        owner->setNumber(c.number);
        owner->setOption(c.option);
        owner->setText(c.text);
        SetAccountValueRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<SetAccountValueMessage>(request, keep, "SAVM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, SetAccountValueMessage::VT_TYPE), c.hasType);
        EXPECT_EQ(message->type(), c.type);
        EXPECT_EQ(hasField(message, SetAccountValueMessage::VT_INTVALUE), c.hasInt);
        EXPECT_EQ(message->intValue(), c.intValue);
        if (c.textValue == nullptr) {
            EXPECT_EQ(message->textValue(), nullptr);
        } else {
            ASSERT_NE(message->textValue(), nullptr);
            EXPECT_EQ(message->textValue()->str(), c.textValue);
        }
    }
}

TEST(AccountSettingsMessageTest, EachMessageCarriesItsFieldsAndLeavesZerosOut) {
    {
        auto owner = std::make_shared<MutableActionData>(DEFAULT_ACCOUNT);
        owner->setAccountHandle(0xabcdef);
        SetDefaultAccountRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<SetDefaultAccountMessage>(request, keep, "SDAM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->account(), 0xabcdefu);
    }
    for (int32_t level : {0, 1}) {
        SCOPED_TRACE(level);
        auto owner = std::make_shared<MutableActionData>(SET_ACCESS_LEVEL);
        owner->setUserHandle(0x99);
        owner->setOption(level);
        SetAccessLevelRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<SetAccessLevelMessage>(request, keep, "SALM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->userHandle(), 0x99u);
        EXPECT_EQ(hasField(message, SetAccessLevelMessage::VT_ACCESSLEVEL), level != 0);
        EXPECT_EQ(message->accessLevel(), level);
    }
    for (uint64_t user : {uint64_t{0}, uint64_t{0x99}}) {
        SCOPED_TRACE(user);
        auto owner = std::make_shared<MutableActionData>(REVOKE_ACCOUNT_ACCESS);
        owner->setUserHandle(user);
        RevokeAccountAccessRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<RevokeAccountAccessMessage>(request, keep, "RAAM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, RevokeAccountAccessMessage::VT_USER), user != 0);
        EXPECT_EQ(message->user(), user);
    }
    for (const char* email : {"bob@example.com", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(email != nullptr ? email : "none");
        auto owner = std::make_shared<MutableActionData>(ADD_CONTACT);
        owner->setEmail(email);
        AddContactRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<AddContactMessage>(request, keep, "ADCM");
        ASSERT_NE(message, nullptr);
        // Always written, empty when the owner has none.
        ASSERT_NE(message->email(), nullptr);
        EXPECT_EQ(message->email()->str(), email != nullptr ? email : "");
    }
}

// An API manager whose sign-out completes on the SDK main loop, as the real one does.
class SigningOutHost : public test::FakeApiManager {
public:
    explicit SigningOutHost(Loop* mainLoop) : mainLoop_(mainLoop) {}
    void logout(std::function<void()> completion) override {
        ++logoutCount;
        mainLoop_->post(std::move(completion));
    }

private:
    Loop* mainLoop_;
};

class AccountSettingsApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.initialize();
        host.cloud = h.cloud.get();
        host.userHandle = kOwnUser;
        h.onLoop([&]() {
            h.cloud->updateAccountInfo(test::CloudHarness::kAccountId, 1, "cached", 0, 0, 0, 0, 0, 0, 0, false, false,
                                       "", "", "", 0, 0, false, 0, 1, 0);
        });
    }

    uint8_t cachedCrypto() {
        return h.onLoop([&]() { return h.cloud->getAccountCrypto(); });
    }

    static ResponseBuffer errorAnswer(const char* identifier, int32_t error) {
        return ResponseBuffer(identifier, [&](flatbuffers::FlatBufferBuilder& b) {
            flatbuffers::uoffset_t start = b.StartTable();
            b.AddElement<int32_t>(4, error, 0);
            return flatbuffers::Offset<void>(b.EndTable(start));
        });
    }

    static ResponseBuffer revokeAnswer(int32_t error, uint64_t mainAccount) {
        return ResponseBuffer("RAAR", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateRevokeAccountAccessResponse(b, error, mainAccount);
        });
    }

    test::CloudHarness h;
    SigningOutHost host{&h.mainLoop};
};

TEST_F(AccountSettingsApplyTest, SetAccountValueChangesStateOnlyAfterSuccess) {
    struct Case {
        const char* name;
        uint64_t kind;
        int32_t option;
        int32_t error;
        uint8_t crypto;
        int logouts;
    };
    const std::vector<Case> cases{
        {"crypto 2", 0, 2, 0, 2, 0},
        {"crypto 0", 0, 0, 0, 0, 0},
        // Stored as the option's low 8 bits.
        {"crypto from a negative option", 0, -254, 0, 2, 0},
        {"refused crypto", 0, 2, 2, 1, 0},
        {"deletion", 1, 0, 0, 1, 1},
        {"refused deletion", 1, 0, 2, 1, 0},
        {"other kind", 5, 2, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        h.onLoop([&]() { h.cloud->updateAccountCrypto(1); });
        host.logoutCount = 0;
        auto owner = std::make_shared<MutableActionData>(SET_ACCOUNT_VALUE);
        owner->setNumber(c.kind);
        owner->setOption(c.option);
        owner->setText("");
        auto request = std::make_shared<SetAccountValueRequest>(owner);
        ASSERT_TRUE(test::readAndApply(h.mainLoop, &host, request, errorAnswer("SAVR", c.error)));
        EXPECT_EQ(owner->getErrorCode(), c.error);
        EXPECT_EQ(cachedCrypto(), c.crypto);
        EXPECT_EQ(host.logoutCount, c.logouts);
    }
}

TEST_F(AccountSettingsApplyTest, RevokingTheOwnAccessSignsOutWhateverTheAnswer) {
    struct Case {
        const char* name;
        uint64_t user;
        int32_t error;
        uint64_t mainAccount;
        int32_t expectedError;
        uint64_t expectedAccount;
        int logouts;
    };
    const std::vector<Case> cases{
        {"another user", 0x99, 0, 0x4444, 0, 0x4444, 0},
        {"another user refused", 0x99, 2, 0, 2, 0x1, 0},
        {"another user, no main account", 0x99, 0, 0, UNKNOWN_ERROR, 0x1, 0},
        {"the caller by handle", kOwnUser, 0, 0x4444, 0, 0x4444, 1},
        {"the caller by 0", 0, 0, 0x4444, 0, 0x4444, 1},
        {"the caller refused", kOwnUser, 2, 0, 2, 0x1, 1},
        {"the caller by 0 refused", 0, 8, 0, 8, 0x1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.logoutCount = 0;
        auto owner = std::make_shared<MutableActionData>(REVOKE_ACCOUNT_ACCESS);
        owner->setUserHandle(c.user);
        owner->setAccountHandle(0x1);
        auto request = std::make_shared<RevokeAccountAccessRequest>(owner);
        ASSERT_TRUE(test::readAndApply(h.mainLoop, &host, request, revokeAnswer(c.error, c.mainAccount)));
        EXPECT_EQ(owner->getErrorCode(), c.expectedError);
        EXPECT_EQ(owner->getAccountHandle(), c.expectedAccount);
        EXPECT_EQ(host.logoutCount, c.logouts);
    }
}

TEST_F(AccountSettingsApplyTest, ErrorOnlyAnswersReachTheOwner) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<NetworkRequest>(std::shared_ptr<MutableActionData>)> make;
        const char* identifier;
    };
    const std::vector<Case> cases{
        {"default account", [](auto o) { return std::make_shared<SetDefaultAccountRequest>(o); }, "SDAR"},
        {"access level", [](auto o) { return std::make_shared<SetAccessLevelRequest>(o); }, "SALR"},
        {"contact", [](auto o) { return std::make_shared<AddContactRequest>(o); }, "ADCR"},
    };
    for (const Case& c : cases) {
        for (int32_t error : {0, 7}) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(error));
            auto owner = std::make_shared<MutableActionData>(SET_ACCESS_LEVEL);
            auto request = c.make(owner);
            ASSERT_TRUE(test::readAndApply(h.mainLoop, &host, request, errorAnswer(c.identifier, error)));
            EXPECT_EQ(owner->getErrorCode(), error);
            EXPECT_EQ(cachedCrypto(), 1);
            EXPECT_EQ(host.logoutCount, 0);
        }
    }
}

}  // namespace
}  // namespace corvane
