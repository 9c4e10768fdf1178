// The account reading and settings requests on the stand-in: two registered users, the second
// also a member of the first one's account.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sign_in_fixture.h"

#include "account_info_message_generated.h"
#include "account_info_response_generated.h"
#include "add_contact_message_generated.h"
#include "add_contact_response_generated.h"
#include "get_events_message_generated.h"
#include "get_events_response_generated.h"
#include "revoke_account_access_message_generated.h"
#include "revoke_account_access_response_generated.h"
#include "set_access_level_message_generated.h"
#include "set_access_level_response_generated.h"
#include "set_account_value_message_generated.h"
#include "set_account_value_response_generated.h"
#include "set_default_account_message_generated.h"
#include "set_default_account_response_generated.h"

namespace corvane::service::test {
namespace {

std::string accountInfoMessage(uint64_t account = 0) {
    auto builder = messageBuilder();
    FinishSizePrefixedAccountInfoMessageBuffer(builder, CreateAccountInfoMessage(builder, account));
    return sizePrefixedMessage(builder);
}

std::string setAccessLevelMessage(uint64_t user, int32_t level) {
    auto builder = messageBuilder();
    FinishSizePrefixedSetAccessLevelMessageBuffer(builder, CreateSetAccessLevelMessage(builder, user, level));
    return sizePrefixedMessage(builder);
}

std::string revokeMessage(uint64_t user) {
    auto builder = messageBuilder();
    FinishSizePrefixedRevokeAccountAccessMessageBuffer(builder, CreateRevokeAccountAccessMessage(builder, user));
    return sizePrefixedMessage(builder);
}

std::string setValueMessage(int32_t type, int64_t intValue, const char* text) {
    auto builder = messageBuilder();
    FinishSizePrefixedSetAccountValueMessageBuffer(builder,
                                                   CreateSetAccountValueMessageDirect(builder, type, intValue, text));
    return sizePrefixedMessage(builder);
}

std::string setDefaultMessage(uint64_t account) {
    auto builder = messageBuilder();
    FinishSizePrefixedSetDefaultAccountMessageBuffer(builder, CreateSetDefaultAccountMessage(builder, account));
    return sizePrefixedMessage(builder);
}

std::string addContactMessage(const std::string& email) {
    auto builder = messageBuilder();
    FinishSizePrefixedAddContactMessageBuffer(builder, CreateAddContactMessageDirect(builder, email.c_str()));
    return sizePrefixedMessage(builder);
}

std::string eventsAfter(uint64_t status) {
    auto builder = messageBuilder();
    FinishSizePrefixedGetEventsMessageBuffer(builder, CreateGetEventsMessage(builder, status, 5));
    return sizePrefixedMessage(builder);
}

int32_t errorOf(const Response& response) {
    const std::string id = response.identifier();
#define CORVANE_ERROR_OF(Type, identifier) \
    if (id == identifier) return response.as<Type>(identifier) ? response.as<Type>(identifier)->error() : -1;
    CORVANE_ERROR_OF(AccountInfoResponse, "ACIR")
    CORVANE_ERROR_OF(SetAccessLevelResponse, "SALR")
    CORVANE_ERROR_OF(RevokeAccountAccessResponse, "RAAR")
    CORVANE_ERROR_OF(SetAccountValueResponse, "SAVR")
    CORVANE_ERROR_OF(SetDefaultAccountResponse, "SDAR")
    CORVANE_ERROR_OF(AddContactResponse, "ADCR")
#undef CORVANE_ERROR_OF
    return errorIn(response);
}

class AccountSettingsHandlersTest : public SignInFixture {
protected:
    void SetUp() override {
        SignInFixture::SetUp();
        ada_ = newUser("ada@example.test");
        bo_ = newUser("bo@example.test");
        bo_.firstName = "Bo";
        a_ = registerUser(ada_);
        b_ = registerUser(bo_);
        ASSERT_FALSE(a_.session.empty());
        ASSERT_FALSE(b_.session.empty());
        ASSERT_TRUE(service_.accounts().addMember(a_.account, b_.user, 0, secretBytes(40)));
        const Response answer = ask("", loginMessage(byKey(bo_.email, bo_.auth, -1, a_.account)));
        const auto* login = answer.as<LoginResponse>("LOIR");
        ASSERT_NE(login, nullptr);
        ASSERT_EQ(login->error(), 0);
        boInAda_ = userKey_->openSession(bytesIn(login->session()));
        ASSERT_FALSE(boInAda_.empty());
    }

    // The account records pushed to a session after the given account status.
    std::vector<Response> pushedRecords(const std::string& session, uint64_t after) {
        const Response answer = ask(session, eventsAfter(after));
        const auto* events = answer.as<GetEventsResponse>("GEER");
        std::vector<Response> changes;
        if (events == nullptr || events->events() == nullptr) return changes;
        EXPECT_TRUE(splitChanges(events->events()->data(), events->events()->size(), changes));
        std::vector<Response> records;
        for (const auto& change : changes)
            if (change.identifier() == "ACIR") records.push_back(change);
        return records;
    }

    uint8_t levelOf(uint64_t user) {
        const Response answer = ask(a_.session, accountInfoMessage());
        const auto* info = answer.as<AccountInfoResponse>("ACIR");
        if (info == nullptr || info->users() == nullptr) return 0xff;
        for (const auto* entry : *info->users())
            if (entry->handle() == user) return static_cast<uint8_t>(entry->accessLevel());
        return 0xff;
    }

    NewUser ada_, bo_;
    Created a_, b_;
    std::string boInAda_;
};

TEST_F(AccountSettingsHandlersTest, AccountInfoTellsMembersTheRecordAndAnyoneANameAndKey) {
    const Response own = ask(a_.session, accountInfoMessage());
    const auto* info = own.as<AccountInfoResponse>("ACIR");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->error(), 0);
    EXPECT_EQ(info->handle(), a_.account);
    EXPECT_EQ(textOf(info->name()), "Ada Lovelace");
    EXPECT_EQ(textOf(info->accountEmail()), ada_.email);
    EXPECT_GT(info->storageTotal(), 0u);
    EXPECT_EQ(info->publicKey(), nullptr);
    ASSERT_NE(info->users(), nullptr);
    ASSERT_EQ(info->users()->size(), 2u);
    EXPECT_EQ(info->users()->Get(0)->handle(), a_.user) << "the caller's entry leads";
    EXPECT_EQ(info->users()->Get(1)->handle(), b_.user);
    EXPECT_EQ(textOf(info->users()->Get(1)->name()), "Bo Lovelace");

    for (const std::string& session : {std::string(), a_.session}) {
        SCOPED_TRACE(session.empty() ? "without session" : "signed in");
        const Response other = ask(session, accountInfoMessage(b_.account));
        const auto* record = other.as<AccountInfoResponse>("ACIR");
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->error(), 0);
        EXPECT_EQ(record->handle(), b_.account);
        EXPECT_EQ(textOf(record->name()), "Bo Lovelace");
        EXPECT_EQ(bytesIn(record->publicKey()), bo_.accountPublicKey);
        EXPECT_EQ(record->users(), nullptr) << "nothing more of another account";
        EXPECT_EQ(record->accountEmail(), nullptr);
    }
    EXPECT_EQ(errorOf(ask("", accountInfoMessage(0x1234))), 1);
    EXPECT_EQ(errorOf(ask("", accountInfoMessage())), 3);
}

TEST_F(AccountSettingsHandlersTest, AccessLevelsAreTheAdministratorsAndReachTheUsersSessions) {
    const uint64_t before = service_.accounts().accountStatus(a_.account);
    struct Case {
        const char* name;
        const std::string* session;
        uint64_t user;
        int32_t level;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"level out of range", &a_.session, b_.user, 2, 5},
        {"not a member", &a_.session, 0x4242, 1, 1},
        {"administrator makes bo read-only", &a_.session, b_.user, 1, 0},
        {"read-only user cannot change levels", &boInAda_, a_.user, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorOf(ask(*c.session, setAccessLevelMessage(c.user, c.level))), c.error);
    }
    EXPECT_EQ(levelOf(b_.user), 1);
    EXPECT_EQ(levelOf(a_.user), 0);

    // Bo's session learns it from a record led by bo's own entry; the administrator's does not.
    const auto records = pushedRecords(boInAda_, before);
    ASSERT_EQ(records.size(), 1u);
    const auto* pushed = records.front().as<AccountInfoResponse>("ACIR");
    ASSERT_NE(pushed, nullptr);
    EXPECT_EQ(pushed->handle(), a_.account);
    ASSERT_NE(pushed->users(), nullptr);
    EXPECT_EQ(pushed->users()->Get(0)->handle(), b_.user);
    EXPECT_EQ(pushed->users()->Get(0)->accessLevel(), 1);
    EXPECT_TRUE(pushedRecords(a_.session, before).empty());
}

TEST_F(AccountSettingsHandlersTest, RevokingAccessEndsTheUsersSessionsInTheAccount) {
    ASSERT_EQ(errorOf(ask(a_.session, setAccessLevelMessage(b_.user, 1))), 0);
    struct Case {
        const char* name;
        const std::string* session;
        uint64_t user;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"read-only user takes another's access", &boInAda_, a_.user, 2},
        {"unknown user", &a_.session, 0x4242, 1},
        // A user's own main account cannot be left.
        {"the administrator's own main account", &a_.session, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorOf(ask(*c.session, revokeMessage(c.user))), c.error);
    }
    const Response answer = ask(a_.session, revokeMessage(b_.user));
    const auto* revoked = answer.as<RevokeAccountAccessResponse>("RAAR");
    ASSERT_NE(revoked, nullptr);
    EXPECT_EQ(revoked->error(), 0);
    EXPECT_EQ(revoked->mainAccount(), b_.account);
    EXPECT_FALSE(sessionWorks(boInAda_));
    EXPECT_TRUE(sessionWorks(b_.session)) << "bo's own account stays";
    EXPECT_TRUE(sessionWorks(a_.session));
    EXPECT_EQ(levelOf(b_.user), 0xff);
    const Response again = ask("", loginMessage(byKey(bo_.email, bo_.auth, -1, a_.account)));
    EXPECT_EQ(errorIn(again), 1);
}

TEST_F(AccountSettingsHandlersTest, BoLeavesAnAccountByRevokingItsOwnAccess) {
    const Response answer = ask(boInAda_, revokeMessage(0));
    const auto* revoked = answer.as<RevokeAccountAccessResponse>("RAAR");
    ASSERT_NE(revoked, nullptr);
    EXPECT_EQ(revoked->error(), 0);
    EXPECT_EQ(revoked->mainAccount(), b_.account);
    EXPECT_FALSE(sessionWorks(boInAda_));
    EXPECT_EQ(levelOf(b_.user), 0xff);
}

TEST_F(AccountSettingsHandlersTest, AccountValuesSetTheCryptoSchemeOrDeleteTheAccount) {
    struct Case {
        const char* name;
        int32_t type;
        int64_t value;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"crypto 2", 0, 2, 0},
        {"crypto out of a byte", 0, 256, 5},
        {"unknown kind", 7, 0, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorOf(ask(a_.session, setValueMessage(c.type, c.value, nullptr))), c.error);
    }
    const Response info = ask(a_.session, accountInfoMessage());
    ASSERT_NE(info.as<AccountInfoResponse>("ACIR"), nullptr);
    EXPECT_EQ(info.as<AccountInfoResponse>("ACIR")->crypto(), 2);

    ASSERT_EQ(errorOf(ask(a_.session, setAccessLevelMessage(b_.user, 1))), 0);
    EXPECT_EQ(errorOf(ask(boInAda_, setValueMessage(1, 0, "bye"))), 2) << "read-only users cannot delete";
    EXPECT_EQ(errorOf(ask(a_.session, setValueMessage(1, 0, nullptr))), 5) << "a deletion names its reason";
    ASSERT_FALSE(service_.accounts().nodes(a_.account).empty());

    EXPECT_EQ(errorOf(ask(a_.session, setValueMessage(1, 0, ""))), 0);
    EXPECT_FALSE(sessionWorks(a_.session));
    EXPECT_FALSE(sessionWorks(boInAda_)) << "every session in the account ends";
    EXPECT_TRUE(sessionWorks(b_.session));
    EXPECT_TRUE(service_.accounts().nodes(a_.account).empty());
    EXPECT_TRUE(service_.accounts().filesystems(a_.account).empty());
    EXPECT_EQ(errorOf(ask("", accountInfoMessage(a_.account))), 1);
    EXPECT_EQ(errorIn(ask("", loginMessage(byKey(ada_.email, ada_.auth)))), 1);
}

TEST_F(AccountSettingsHandlersTest, DefaultAccountAndContacts) {
    EXPECT_EQ(errorOf(ask(b_.session, setDefaultMessage(0x4242))), 1);
    EXPECT_EQ(errorOf(ask(b_.session, setDefaultMessage(a_.account))), 0);
    ASSERT_TRUE(service_.accounts().user(b_.user));
    EXPECT_EQ(service_.accounts().user(b_.user)->mainAccount, a_.account);

    struct Case {
        const char* email;
        int32_t error;
    };
    for (const Case& c : {Case{"Carl@Example.test", 0}, Case{"carl@example.test", 0}, Case{"", 5}, Case{"carl", 5}}) {
        SCOPED_TRACE(c.email);
        EXPECT_EQ(errorOf(ask(a_.session, addContactMessage(c.email))), c.error);
    }
    EXPECT_EQ(errorOf(ask("", addContactMessage("carl@example.test"))), 3);
}

}  // namespace
}  // namespace corvane::service::test
