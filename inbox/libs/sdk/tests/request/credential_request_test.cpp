#include "request/credential_request.h"

#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "request/account_creation_request.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

std::shared_ptr<MutableActionData> owner(int32_t type) {
    return std::make_shared<MutableActionData>(type);
}

TEST(Manage2faMessageTest, TheCodeGoesOnlyWithEnableAndDisableAndOnlyWhenGiven) {
    struct Case {
        int32_t option;
        int32_t value;
        bool operation;
        bool code;
    };
    const std::vector<Case> cases = {
        {1, 123456, true, false}, {2, -1, true, false},      {2, 0, true, true},
        {3, 123456, true, true},  {0, 123456, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "option " << c.option << " value " << c.value);
        auto data = owner(MANAGE_2FA);
        data->setOption(c.option);
        data->setValue(c.value);
        Manage2faRequest request(data);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<Manage2faMessage>(request, keep, "MA2M");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, Manage2faMessage::VT_OPERATION), c.operation);
        EXPECT_EQ(message->operation(), c.option);
        EXPECT_EQ(hasField(message, Manage2faMessage::VT_CODE), c.code);
        if (c.code) {
            EXPECT_EQ(message->code(), c.value);
        }
    }
}

ResponseBuffer twoFactorAnswer(int32_t error, const char* url) {
    return ResponseBuffer("MA2R", [&](flatbuffers::FlatBufferBuilder& b) {
        const auto link = url != nullptr ? b.CreateString(url) : flatbuffers::Offset<flatbuffers::String>();
        return CreateManage2faResponse(b, error, link);
    });
}

// The set-up link is kept only for operation 1; an operation-1 answer without a link is no answer.
TEST(Manage2faReadingTest, OnlyTheSetUpLinkIsKept) {
    struct Case {
        int32_t option;
        int32_t error;
        const char* url;
        int32_t ownerError;
        const char* text;
    };
    const std::vector<Case> cases = {
        {1, 0, "otpauth://totp/x", 0, "otpauth://totp/x"},
        {3, 0, "otpauth://totp/x", 0, nullptr},
        {2, 5, nullptr, 5, nullptr},
        {1, 0, nullptr, 9, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "option " << c.option << " error " << c.error);
        auto data = owner(MANAGE_2FA);
        data->setOption(c.option);
        Manage2faRequest request(data);
        const ResponseBuffer answer = twoFactorAnswer(c.error, c.url);
        ASSERT_TRUE(request.verify(answer.data(), answer.size()));
        EXPECT_TRUE(request.processFlatbuffer(answer.data(), answer.size()));
        EXPECT_EQ(data->getErrorCode(), c.ownerError);
        if (c.text == nullptr) {
            EXPECT_EQ(data->getText(), nullptr);
        } else {
            EXPECT_STREQ(data->getText(), c.text);
        }
    }
}

TEST(ChangePasswordMessageTest, BothKeysAlwaysTravelEvenEmpty) {
    auto data = owner(CHANGE_PASSWORD);
    ChangePasswordRequest empty(data);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<ChangePasswordMessage>(empty, keep, "CHPM");
    ASSERT_NE(message, nullptr);
    ASSERT_NE(message->key(), nullptr);
    ASSERT_NE(message->auth(), nullptr);
    EXPECT_EQ(message->key()->size(), 0u);
    EXPECT_EQ(message->auth()->size(), 0u);

    data->setUserKey(new ByteVector(40, 7));
    data->setAuthKey(new ByteVector(32, 9));
    ChangePasswordRequest filled(data);
    message = messageOf<ChangePasswordMessage>(filled, keep, "CHPM");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(ByteVector(message->key()->begin(), message->key()->end()), ByteVector(40, 7));
    EXPECT_EQ(ByteVector(message->auth()->begin(), message->auth()->end()), ByteVector(32, 9));
}

TEST(VerifyEmailMessageTest, AddressAndBothNamesTravel) {
    auto data = owner(VERIFY_EMAIL);
    data->setEmail("ada@example.com");
    data->setName("Ada");
    data->setExtraText("Lovelace");
    VerifyEmailRequest request(data);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<VerifyEmailMessage>(request, keep, "VEEM");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->email()->str(), "ada@example.com");
    EXPECT_EQ(message->firstName()->str(), "Ada");
    EXPECT_EQ(message->lastName()->str(), "Lovelace");

    data->setEmail("bob@example.com");
    ForgotPasswordRequest forgot(data);
    const auto* forgotten = messageOf<ForgotPasswordMessage>(forgot, keep, "FOPM");
    ASSERT_NE(forgotten, nullptr);
    EXPECT_EQ(forgotten->email()->str(), "bob@example.com");
}

// Both share the reading of an error, else one text.
TEST(IdReadingTest, AnIdGoesToTheTextAnErrorLeavesItAndAMissingIdIsError9) {
    struct Case {
        const char* name;
        int32_t error;
        const char* id;
        int32_t ownerError;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"answered", 0, "reg-id", 0, "reg-id"},
        {"already registered", 7, nullptr, 7, "before"},
        {"error with an id", 1, "reg-id", 1, "before"},
        {"no id", 0, nullptr, 9, "before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto verifyOwner = owner(VERIFY_EMAIL);
        verifyOwner->setText("before");
        VerifyEmailRequest verify(verifyOwner);
        const ResponseBuffer verifyAnswer("VEER", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateVerifyEmailResponseDirect(b, c.error, c.id);
        });
        ASSERT_TRUE(verify.verify(verifyAnswer.data(), verifyAnswer.size()));
        verify.processFlatbuffer(verifyAnswer.data(), verifyAnswer.size());
        EXPECT_EQ(verifyOwner->getErrorCode(), c.ownerError);
        EXPECT_STREQ(verifyOwner->getText(), c.text);

        auto forgotOwner = owner(FORGOT_PASSWORD);
        forgotOwner->setText("before");
        ForgotPasswordRequest forgot(forgotOwner);
        const ResponseBuffer forgotAnswer("FOPR", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateForgotPasswordResponseDirect(b, c.error, c.id);
        });
        ASSERT_TRUE(forgot.verify(forgotAnswer.data(), forgotAnswer.size()));
        forgot.processFlatbuffer(forgotAnswer.data(), forgotAnswer.size());
        EXPECT_EQ(forgotOwner->getErrorCode(), c.ownerError);
        EXPECT_STREQ(forgotOwner->getText(), c.text);
    }
}

std::shared_ptr<EncryptedNodeData> root(int32_t type) {
    auto node = std::make_shared<EncryptedNodeData>();
    node->setType(type);
    node->setId(0x99);
    node->setParent(0x98);
    const ByteVector nodeKey(40, static_cast<uint8_t>(type + 1));
    const ByteVector childKey(40, 0x22);
    const ByteVector attributes(48, 0x33);
    node->setEncryptedNodeKey(nodeKey.data(), nodeKey.size());
    node->setEncryptedChildKey(childKey.data(), childKey.size());
    node->setEncryptedAttributes(attributes.data(), attributes.size());
    return node;
}

void fillAccountKeys(MutableActionData& data) {
    data.setAccountKey(new ByteVector(40, 1));
    data.setAccountPublicKey(new ByteVector(300, 2));
    data.setAccountPrivateKey(new ByteVector(1800, 3));
    data.setFingerprintKey(new ByteVector(40, 4));
}

TEST(CreateAccountMessageTest, ANewUserSendsUserAndAccountKeysRootsPinCouponAndPlan) {
    auto data = owner(CREATE_ACCOUNT);
    data->setText("registration");
    data->setName("Ada");
    data->setExtraText("Lovelace");
    data->setEmail("ada@example.com");
    data->setAuthKey(new ByteVector(32, 5));
    data->setUserKey(new ByteVector(40, 6));
    data->setPublicKey(new ByteVector(300, 7));
    data->setPrivateKey(new ByteVector(1800, 8));
    data->setOption(1234);
    data->setLink("COUPON");
    data->setFlags(3);
    fillAccountKeys(*data);
    auto roots = std::make_shared<EncryptedNodeList>(EncryptedNodeList{root(0), root(-1), root(7)});
    CreateAccountRequest request(data, roots);
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<CreateAccountMessage>(request, keep, "CRAM");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->registrationId()->str(), "registration");
    EXPECT_EQ(message->firstName()->str(), "Ada");
    EXPECT_EQ(message->lastName()->str(), "Lovelace");
    EXPECT_EQ(message->email()->str(), "ada@example.com");
    EXPECT_EQ(message->auth()->size(), 32u);
    EXPECT_EQ(message->userKey()->size(), 40u);
    EXPECT_EQ(message->publicKey()->size(), 300u);
    EXPECT_EQ(message->privateKey()->size(), 1800u);
    EXPECT_EQ(message->pin(), 1234);
    EXPECT_EQ(message->accountKey()->Get(0), 1);
    EXPECT_EQ(message->accountPublicKey()->Get(0), 2);
    EXPECT_EQ(message->accountPrivateKey()->Get(0), 3);
    EXPECT_EQ(message->accountFingerprintKey()->Get(0), 4);
    EXPECT_EQ(message->coupon()->str(), "COUPON");
    EXPECT_EQ(message->plan(), 3);

    ASSERT_EQ(message->nodes()->size(), 3u);
    const std::vector<bool> typed = {true, false, true};
    for (flatbuffers::uoffset_t i = 0; i < 3; ++i) {
        const NodeMessage* node = message->nodes()->Get(i);
        SCOPED_TRACE(i);
        // Only type (unless -1), node key, child key and attributes.
        EXPECT_EQ(hasField(node, NodeMessage::VT_TYPE), typed[i]);
        EXPECT_FALSE(hasField(node, NodeMessage::VT_HANDLE));
        EXPECT_FALSE(hasField(node, NodeMessage::VT_PARENT));
        EXPECT_EQ(node->nodekey()->size(), 40u);
        EXPECT_EQ(node->childkey()->size(), 40u);
        EXPECT_EQ(node->attributes()->size(), 48u);
    }
    EXPECT_EQ(message->nodes()->Get(2)->type(), 7);
}

TEST(CreateAccountMessageTest, AFurtherAccountSendsOnlyTheAccountFieldsAndAnEmptyRootList) {
    auto data = owner(CREATE_ACCOUNT);
    data->setEmail("ada@example.com");
    data->setAuthKey(new ByteVector(32, 5));
    data->setOption(1234);
    fillAccountKeys(*data);
    CreateAccountRequest request(data, std::make_shared<EncryptedNodeList>());
    std::unique_ptr<ByteArray> keep;
    const auto* message = messageOf<CreateAccountMessage>(request, keep, "CRAM");
    ASSERT_NE(message, nullptr);
    for (flatbuffers::voffset_t absent :
         {CreateAccountMessage::VT_REGISTRATIONID, CreateAccountMessage::VT_FIRSTNAME, CreateAccountMessage::VT_EMAIL,
          CreateAccountMessage::VT_AUTH, CreateAccountMessage::VT_PIN, CreateAccountMessage::VT_COUPON,
          CreateAccountMessage::VT_PLAN}) {
        EXPECT_FALSE(hasField(message, absent)) << absent;
    }
    EXPECT_EQ(message->accountKey()->size(), 40u);
    ASSERT_NE(message->nodes(), nullptr);
    EXPECT_EQ(message->nodes()->size(), 0u);
}

// Errors other than 0 and 19 stop the reading; 19 is kept and still signs in.
TEST(CreateAccountReadingTest, Error19IsKeptWithTheSessionAndOthersStop) {
    for (int32_t error : {0, 19, 7}) {
        SCOPED_TRACE(error);
        auto data = owner(CREATE_ACCOUNT);
        fillAccountKeys(*data);
        CreateAccountRequest request(data, nullptr);
        const ResponseBuffer answer("CRAR", [&](flatbuffers::FlatBufferBuilder& b) {
            const auto session = b.CreateVector(ByteVector(384, 1));
            return CreateCreateAccountResponse(b, error, 0x11, session, 0x22);
        });
        ASSERT_TRUE(request.verify(answer.data(), answer.size()));
        request.processFlatbuffer(answer.data(), answer.size());
        EXPECT_EQ(data->getErrorCode(), error);
        const bool signsIn = error != 7;
        EXPECT_EQ(request.getUser(), signsIn ? 0x11u : 0u);
        EXPECT_EQ(request.getAccount(), signsIn ? 0x22u : 0u);
    }
}

}  // namespace
}  // namespace corvane
