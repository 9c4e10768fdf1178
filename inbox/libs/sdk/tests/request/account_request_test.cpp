#include "request/account_request.h"

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
#include "util/deployment.h"

namespace corvane {
namespace {

using test::hasField;
using test::messageOf;
using test::ResponseBuffer;

// Handle 1: the low 6 bytes 01 00 00 00 00 00 read "AQAAAAAA" in Base64URL.
constexpr uint64_t kAccount = 1;
constexpr const char* kAccountText = "AQAAAAAA";
constexpr uint64_t kOwnUser = 0x5151;

TEST(AccountInfoMessageTest, TheAccountGoesOutOnlyWhenOneIsAsked) {
    for (uint64_t account : {uint64_t{0}, uint64_t{0x55}}) {
        SCOPED_TRACE(account);
        auto owner = std::make_shared<MutableActionData>(ACCOUNT_INFO);
        owner->setAccountHandle(account);
        AccountInfoRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<AccountInfoMessage>(request, keep, "ACIM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, AccountInfoMessage::VT_ACCOUNT), account != 0);
        EXPECT_EQ(message->account(), account);
    }
    EXPECT_EQ(AccountInfoRequest().takeMessage(), nullptr);
}

struct Answer {
    int32_t error = 0;
    uint64_t handle = kAccount;
    const char* name = "Acme";
    int64_t creationTime = (int64_t{1} << 32) + 5;
    std::vector<std::pair<uint64_t, int32_t>> users;
    uint8_t accessLevel = 2;
    bool withPublicKey = false;
};

ResponseBuffer accountAnswer(const Answer& a) {
    return ResponseBuffer("ACIR", [&](flatbuffers::FlatBufferBuilder& b) {
        const auto name = a.name != nullptr ? b.CreateString(a.name) : flatbuffers::Offset<flatbuffers::String>();
        const auto plan = b.CreateString("pro");
        const auto email = b.CreateString("boss@acme.example");
        std::vector<flatbuffers::Offset<PermissionMessage>> users;
        for (const auto& user : a.users) {
            users.push_back(CreatePermissionMessage(b, user.first, b.CreateString("someone"), 3, user.second));
        }
        const auto userVector = b.CreateVector(users);
        const auto publicKey = b.CreateVector(std::vector<uint8_t>{1, 2, 3});
        AccountInfoResponseBuilder response(b);
        response.add_error(a.error);
        response.add_handle(a.handle);
        response.add_type(4);
        if (!name.IsNull()) {
            response.add_name(name);
        }
        response.add_creationTime(a.creationTime);
        response.add_storageTotal(1000);
        response.add_storageUsed(10);
        response.add_plan(plan);
        response.add_accountEmail(email);
        response.add_users(userVector);
        response.add_accessLevel(a.accessLevel);
        if (a.withPublicKey) {
            response.add_publicKey(publicKey);
        }
        return response.Finish();
    });
}

class AccountInfoApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.initialize();
        manager.cloud = h.cloud.get();
        manager.userHandle = kOwnUser;
        seedRecord();
    }

    // A record to see whether an answer changed it.
    void seedRecord() {
        h.onLoop([&]() {
            h.cloud->updateAccountInfo(test::CloudHarness::kAccountId, 1, "cached", 0, 0, 0, 0, 0, 0, 0, false, false,
                                       "", "", "", 0, 0, false, 0, 0, 3);
        });
    }

    bool run(const std::shared_ptr<AccountInfoRequest>& request, const Answer& answer) {
        return test::readAndApply(h.mainLoop, &manager, request, accountAnswer(answer),
                                  [this]() { eventsAtFinish = manager.events.size(); });
    }

    std::shared_ptr<MutableAccountInfoData> record() {
        return h.onLoop([&]() { return h.cloud->getAccountInfo(); });
    }

    test::CloudHarness h;
    test::FakeApiManager manager;
    size_t eventsAtFinish = 0;
};

TEST_F(AccountInfoApplyTest, OwnAccountRefreshesTheCachedRecordAndTheOwner) {
    for (const char* link : {static_cast<const char*>(nullptr), "kept"}) {
        SCOPED_TRACE(link != nullptr ? link : "no link");
        auto owner = std::make_shared<MutableActionData>(ACCOUNT_INFO);
        owner->setLink(link);
        Answer answer;
        answer.users = {{kOwnUser, 1}};
        ASSERT_TRUE(run(std::make_shared<AccountInfoRequest>(owner), answer));
        EXPECT_EQ(owner->getErrorCode(), 0);
        EXPECT_EQ(owner->getNodeHandle(), kAccount);
        EXPECT_EQ(owner->getOption(), 4);
        EXPECT_STREQ(owner->getName(), "Acme");
        // Only the low 32 bits of the creation time fit.
        EXPECT_EQ(owner->getValue(), 5);
        EXPECT_EQ(owner->getTotalSize(), 1000u);
        EXPECT_EQ(owner->getCurrentSize(), 10u);
        EXPECT_EQ(owner->getEmailString(), "boss@acme.example");
        ASSERT_NE(owner->getUsers(), nullptr);
        ASSERT_EQ(owner->getUsers()->size(), 1u);
        EXPECT_EQ(owner->getUsers()->front()->getId(), kOwnUser);
        EXPECT_EQ(owner->getAccountHandle(), kAccount);
        ASSERT_NE(owner->getAccountInfo(), nullptr);
        EXPECT_EQ(owner->getAccountInfo()->getName(), "Acme");
        EXPECT_EQ(owner->getLinkString(),
                  link != nullptr ? std::string(link) : getDeployment().webAddress + "/account/" + kAccountText);
        auto cached = record();
        EXPECT_EQ(cached->getId(), kAccount);
        EXPECT_EQ(cached->getPlan(), "pro");
        EXPECT_EQ(cached->getStorageTotal(), 1000);
        // The owner's form takes the answered access level, not the user entry's.
        EXPECT_EQ(cached->getAccessLevel(), 2);
        EXPECT_TRUE(manager.events.empty());
    }
}

TEST_F(AccountInfoApplyTest, AnotherAccountOnlyReachesTheOwner) {
    struct Case {
        const char* name;
        uint64_t answeredHandle;
        bool withPublicKey;
        int32_t error;
    };
    // An answer that names no account, or brings no key, ends with 9: it is neither taken for
    // the own account's record nor handed on as that account's.
    const std::vector<Case> cases{
        {"named", 0x88, true, 0},
        {"unnamed", 0, true, UNKNOWN_ERROR},
        {"without its key", 0x88, false, UNKNOWN_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(ACCOUNT_INFO);
        owner->setAccountHandle(0x77);
        Answer answer;
        answer.handle = c.answeredHandle;
        answer.name = nullptr;
        answer.withPublicKey = c.withPublicKey;
        ASSERT_TRUE(run(std::make_shared<AccountInfoRequest>(owner), answer));
        EXPECT_EQ(owner->getErrorCode(), c.error);
        if (c.error == 0) {
            EXPECT_EQ(owner->getAccountHandle(), c.answeredHandle);
            ASSERT_NE(owner->getPublicKey(), nullptr);
            EXPECT_EQ(*owner->getPublicKey(), (std::vector<uint8_t>{1, 2, 3}));
            EXPECT_STREQ(owner->getName(), "");
            EXPECT_EQ(owner->getLinkString(), getDeployment().webAddress + "/account/" + owner->getAccountHandleText());
        } else {
            EXPECT_EQ(owner->getAccountHandle(), 0x77u);
            EXPECT_EQ(owner->getPublicKey(), nullptr);
            EXPECT_EQ(owner->getLink(), nullptr);
        }
        EXPECT_EQ(owner->getAccountInfo(), nullptr);
        EXPECT_EQ(record()->getName(), "cached");
        EXPECT_EQ(record()->getId(), test::CloudHarness::kAccountId);
    }
}

TEST_F(AccountInfoApplyTest, AnAnswerWithoutItsAccountEndsWith9AndLeavesTheCache) {
    for (bool withOwner : {true, false}) {
        SCOPED_TRACE(withOwner ? "asked" : "pushed");
        manager.events.clear();
        auto owner = withOwner ? std::make_shared<MutableActionData>(ACCOUNT_INFO) : nullptr;
        auto request = withOwner ? std::make_shared<AccountInfoRequest>(owner) : std::make_shared<AccountInfoRequest>();
        Answer answer;
        answer.handle = 0;
        answer.users = {{kOwnUser, 1}};
        ASSERT_TRUE(run(request, answer));
        if (owner) {
            EXPECT_EQ(owner->getErrorCode(), UNKNOWN_ERROR);
            EXPECT_EQ(owner->getAccountInfo(), nullptr);
            EXPECT_EQ(owner->getName(), nullptr);
            EXPECT_TRUE(owner->getUsers()->empty());
            EXPECT_EQ(owner->getLink(), nullptr);
        }
        auto cached = record();
        EXPECT_EQ(cached->getId(), test::CloudHarness::kAccountId);
        EXPECT_EQ(cached->getName(), "cached");
        EXPECT_EQ(cached->getAccessLevel(), 3);
        EXPECT_TRUE(manager.events.empty());
    }
}

TEST(UserInfoMessageTest, AsksByIdElseByAddressElseForTheCaller) {
    struct Case {
        const char* name;
        int32_t value;
        const char* email;
        bool hasUser;
        uint64_t user;
        const char* sentEmail;
    };
    const std::vector<Case> cases{
        {"id wins over the address", 0x1234, "a@example.com", true, 0x1234, nullptr},
        // A negative id keeps its sign in the 64-bit field.
        {"negative id", -2, nullptr, true, 0xfffffffffffffffeull, nullptr},
        {"address", 0, "a@example.com", false, 0, "a@example.com"},
        {"empty address still travels", 0, "", false, 0, ""},
        {"the caller", 0, nullptr, false, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(USER_INFO);
        owner->setValue(c.value);
        owner->setEmail(c.email);
        UserInfoRequest request(owner);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<UserInfoMessage>(request, keep, "USIM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, UserInfoMessage::VT_USER), c.hasUser);
        EXPECT_EQ(message->user(), c.user);
        if (c.sentEmail == nullptr) {
            EXPECT_EQ(message->email(), nullptr);
        } else {
            ASSERT_NE(message->email(), nullptr);
            EXPECT_EQ(message->email()->str(), c.sentEmail);
        }
    }
}

struct UserAnswer {
    int32_t error = 0;
    uint64_t handle = 0x4242;
    bool withNames = true;
    bool withPublicKey = true;
    bool withPrivateKey = true;
    uint64_t mainAccount = 0x77;
};

ResponseBuffer userAnswer(const UserAnswer& a) {
    return ResponseBuffer("USIR", [&](flatbuffers::FlatBufferBuilder& b) {
        const auto email = b.CreateString("ann@example.com");
        const auto first = b.CreateString("Ann");
        const auto last = b.CreateString("Lee");
        const auto publicKey = b.CreateVector(std::vector<uint8_t>{7, 8});
        const auto privateKey = b.CreateVector(std::vector<uint8_t>{9});
        std::vector<flatbuffers::Offset<PermissionMessage>> entries{
            CreatePermissionMessage(b, 0x77, b.CreateString("Acme"), 11, 1)};
        const auto permissions = b.CreateVector(entries);
        UserInfoResponseBuilder response(b);
        response.add_error(a.error);
        response.add_handle(a.handle);
        response.add_creationTime(int64_t{1} << 40);
        if (a.withNames) {
            response.add_email(email);
            response.add_firstName(first);
            response.add_lastName(last);
        }
        response.add_multiFactorAuth(3);
        if (a.withPublicKey) {
            response.add_publicKey(publicKey);
        }
        if (a.withPrivateKey) {
            response.add_privateKey(privateKey);
        }
        response.add_mainAccount(a.mainAccount);
        response.add_permissions(permissions);
        return response.Finish();
    });
}

TEST(UserInfoReadingTest, TheAnswerGoesToTheOwner) {
    struct Case {
        const char* name;
        UserAnswer answer;
    };
    UserAnswer bare;
    bare.withNames = false;
    // Another user's answer brings no private key: an empty one, not a stale one.
    bare.withPrivateKey = false;
    for (const Case& c : {Case{"full", UserAnswer()}, Case{"without names or private key", bare}}) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(USER_INFO);
        owner->setUserPrivateKey(new ByteVector{1, 1, 1});
        auto request = std::make_shared<UserInfoRequest>(owner);
        const ResponseBuffer response = userAnswer(c.answer);
        ASSERT_TRUE(request->verify(response.data(), response.size()));
        ASSERT_TRUE(request->processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getErrorCode(), 0);
        ASSERT_NE(owner->getUserInfo(), nullptr);
        const auto& user = *owner->getUserInfo();
        EXPECT_EQ(user.getId(), 0x4242u);
        EXPECT_EQ(user.getCreationTime(), int64_t{1} << 40);
        EXPECT_EQ(user.getEmail(), c.answer.withNames ? "ann@example.com" : "");
        EXPECT_EQ(user.getFirstName(), c.answer.withNames ? "Ann" : "");
        EXPECT_EQ(user.getLastName(), c.answer.withNames ? "Lee" : "");
        EXPECT_EQ(user.getMultiFactorAuth(), 1);
        EXPECT_EQ(owner->getUserHandle(), 0x4242u);
        EXPECT_EQ(owner->getAccountHandle(), 0x77u);
        ASSERT_NE(owner->getPublicKey(), nullptr);
        EXPECT_EQ(*owner->getPublicKey(), (std::vector<uint8_t>{7, 8}));
        ASSERT_NE(owner->getUserPrivateKey(), nullptr);
        EXPECT_EQ(*owner->getUserPrivateKey(),
                  c.answer.withPrivateKey ? std::vector<uint8_t>{9} : std::vector<uint8_t>{});
        ASSERT_NE(owner->getPermissions(), nullptr);
        ASSERT_EQ(owner->getPermissions()->size(), 1u);
        EXPECT_EQ(owner->getPermissions()->front()->getId(), 0x77u);
        EXPECT_EQ(owner->getPermissions()->front()->getAccessLevel(), 1);
    }
}

TEST(UserInfoReadingTest, AnErrorOrAnIncompleteAnswerLeavesTheOwnerUnfilled) {
    struct Case {
        const char* name;
        UserAnswer answer;
        int32_t error;
    };
    std::vector<Case> cases(4);
    cases[0] = {"refused", UserAnswer(), 1};
    cases[0].answer.error = 1;
    cases[1] = {"no handle", UserAnswer(), UNKNOWN_ERROR};
    cases[1].answer.handle = 0;
    cases[2] = {"no public key", UserAnswer(), UNKNOWN_ERROR};
    cases[2].answer.withPublicKey = false;
    cases[3] = {"no main account", UserAnswer(), UNKNOWN_ERROR};
    cases[3].answer.mainAccount = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<MutableActionData>(USER_INFO);
        auto request = std::make_shared<UserInfoRequest>(owner);
        const ResponseBuffer response = userAnswer(c.answer);
        ASSERT_TRUE(request->verify(response.data(), response.size()));
        ASSERT_TRUE(request->processFlatbuffer(response.data(), response.size()));
        EXPECT_EQ(owner->getErrorCode(), c.error);
        EXPECT_EQ(owner->getUserInfo(), nullptr);
        EXPECT_EQ(owner->getUserHandle(), 0u);
        EXPECT_EQ(owner->getAccountHandle(), 0u);
        EXPECT_EQ(owner->getPublicKey(), nullptr);
        EXPECT_EQ(owner->getUserPrivateKey(), nullptr);
        EXPECT_TRUE(owner->getPermissions()->empty());
    }
}

TEST_F(AccountInfoApplyTest, PushedAccountInformationFollowsTheFirstUserEntry) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint64_t, int32_t>> users;
        bool updated;
        uint8_t accessLevel;
    };
    const std::vector<Case> cases{
        {"this user first", {{kOwnUser, 1}, {0x99, 5}}, true, 1},
        {"another user first", {{0x99, 5}, {kOwnUser, 1}}, false, 3},
        {"no users", {}, true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seedRecord();
        manager.events.clear();
        Answer answer;
        answer.users = c.users;
        answer.accessLevel = 7;
        ASSERT_TRUE(run(std::make_shared<AccountInfoRequest>(), answer));
        auto cached = record();
        EXPECT_EQ(cached->getName(), c.updated ? "Acme" : "cached");
        EXPECT_EQ(cached->getAccessLevel(), c.accessLevel);
        ASSERT_EQ(manager.events.size(), c.updated ? 1u : 0u);
        if (c.updated) {
            EXPECT_EQ(eventsAtFinish, 0u) << "the event comes after the finish";
            const auto& event = manager.events.front();
            EXPECT_EQ(event->getType(), EVENT_ACCOUNT_INFO);
            EXPECT_TRUE(event->isExternal());
            EXPECT_EQ(event->getAccountInfo(), cached);
        }
    }
}

TEST_F(AccountInfoApplyTest, AnErrorAnswerChangesNothing) {
    for (bool withOwner : {true, false}) {
        SCOPED_TRACE(withOwner);
        auto owner = withOwner ? std::make_shared<MutableActionData>(ACCOUNT_INFO) : nullptr;
        auto request = withOwner ? std::make_shared<AccountInfoRequest>(owner) : std::make_shared<AccountInfoRequest>();
        Answer answer;
        answer.error = 2;
        ASSERT_TRUE(run(request, answer));
        if (owner) {
            EXPECT_EQ(owner->getErrorCode(), 2);
            EXPECT_EQ(owner->getLink(), nullptr);
        }
        EXPECT_EQ(record()->getName(), "cached");
        EXPECT_TRUE(manager.events.empty());
    }
}

}  // namespace
}  // namespace corvane
