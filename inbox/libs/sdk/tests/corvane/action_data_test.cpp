#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "corvane/mutable_action_data.h"

namespace corvane {
namespace {

TEST(ActionDataTest, NewRecordIsEmpty) {
    MutableActionData action(LOGIN);
    EXPECT_EQ(action.getType(), LOGIN);
    EXPECT_STREQ(action.getTypeName(), "LOGIN");
    EXPECT_EQ(action.getId(), 0);
    EXPECT_EQ(action.getSequenceId(), 0);
    EXPECT_EQ(action.getEmail(), nullptr);
    EXPECT_EQ(action.getLink(), nullptr);
    EXPECT_EQ(action.getEmailString(), "");
    EXPECT_EQ(action.getSessionString(), "");
    EXPECT_FALSE(action.isFinished());
    EXPECT_FALSE(action.isProcessed());
    EXPECT_EQ(action.getErrorCode(), 0);
    EXPECT_STREQ(action.getErrorMessage(), "Success");
    EXPECT_EQ(action.getNodeHandle(), 0u);
    EXPECT_EQ(action.getNodeHandleText(), "");
    EXPECT_EQ(action.getAccountHandleText(), "");
    EXPECT_EQ(action.getNode(), nullptr);
    EXPECT_EQ(action.getTransfer(), nullptr);
    EXPECT_EQ(action.getAccountInfo(), nullptr);
    EXPECT_TRUE(action.getBuffer().empty());
}

TEST(ActionDataTest, TypeNameAndErrorMessageOutsideTheTables) {
    EXPECT_STREQ(MutableActionData(105).getTypeName(), "MANAGE_MEETINGS");
    EXPECT_STREQ(MutableActionData(106).getTypeName(), "INVALID");
    EXPECT_STREQ(MutableActionData(-1).getTypeName(), "INVALID");

    MutableActionData action(TEST);
    action.setError(Error(INCOMPLETE));
    EXPECT_STREQ(action.getErrorMessage(), "Incomplete");
    action.setError(Error(22));
    EXPECT_STREQ(action.getErrorMessage(), "INVALID");
    EXPECT_EQ(action.getError(), Error(22));
}

TEST(ActionDataTest, StringSettersKeepOwnedCopies) {
    MutableActionData action(LOGIN);
    std::vector<char> buffer(64);
    using Setter = void (MutableActionData::*)(const char*);
    using Getter = const char* (ActionData::*)() const;
    const std::vector<std::pair<Setter, Getter>> fields = {
        {&MutableActionData::setEmail, &ActionData::getEmail},
        {&MutableActionData::setPassword, &ActionData::getPassword},
        {&MutableActionData::setText, &ActionData::getText},
        {&MutableActionData::setSession, &ActionData::getSession},
        {&MutableActionData::setName, &ActionData::getName},
        {&MutableActionData::setExtraText, &ActionData::getExtraText},
        {&MutableActionData::setLink, &ActionData::getLink},
    };
    for (size_t i = 0; i < fields.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "field " << i);
        std::strcpy(buffer.data(), "value");
        (action.*fields[i].first)(buffer.data());
        // The caller's buffer is changed and then freed; the record keeps its text.
        std::strcpy(buffer.data(), "other");
        const char* stored = (action.*fields[i].second)();
        ASSERT_NE(stored, nullptr);
        EXPECT_NE(stored, buffer.data());
        EXPECT_STREQ(stored, "value");
    }
    buffer.clear();
    buffer.shrink_to_fit();
    EXPECT_EQ(action.getEmailString(), "value");
    EXPECT_EQ(action.getTextString(), "value");
    EXPECT_EQ(action.getNameString(), "value");
    EXPECT_EQ(action.getLinkString(), "value");

    action.setEmail(nullptr);
    EXPECT_EQ(action.getEmail(), nullptr);
    EXPECT_EQ(action.getEmailString(), "");
}

TEST(ActionDataTest, UnsetListsAreFreshEmptyLists) {
    MutableActionData action(GET_CHILDREN);
    auto first = action.getNodes();
    auto second = action.getNodes();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(first->empty());
    EXPECT_NE(first.get(), second.get());
    // Filling one fresh list does not reach the record.
    first->push_back(std::make_shared<NodeData>());
    EXPECT_TRUE(action.getNodes()->empty());

    EXPECT_TRUE(action.getTransfers()->empty());
    EXPECT_TRUE(action.getReferralsInfo()->empty());
    EXPECT_TRUE(action.getReferrals()->empty());
    EXPECT_TRUE(action.getSubscriptionOptions()->empty());
    EXPECT_TRUE(action.getActiveSessions()->empty());
    EXPECT_TRUE(action.getInactiveSessions()->empty());
    EXPECT_TRUE(action.getCoupons()->empty());
    EXPECT_TRUE(action.getPermissions()->empty());
    EXPECT_TRUE(action.getUsers()->empty());
}

TEST(ActionDataTest, SetListsAreSharedNotCopied) {
    MutableActionData action(GET_CHILDREN);
    auto nodes = std::make_shared<NodeList>();
    nodes->push_back(std::make_shared<NodeData>());
    action.setNodes(nodes);
    EXPECT_EQ(action.getNodes(), nodes);

    auto transfers = std::make_shared<ActionDataList>();
    transfers->push_back(std::make_shared<MutableActionData>(UPLOAD));
    action.setTransfers(transfers);
    EXPECT_EQ(action.getTransfers()->size(), 1u);
}

TEST(ActionDataTest, ResultsAreReleasedWithTheRecord) {
    auto node = std::make_shared<NodeData>();
    auto account = std::make_shared<AccountInfoData>();
    auto sessions = std::make_shared<SessionInfoList>();
    {
        MutableActionData action(ACCOUNT_INFO);
        action.setNode(node);
        action.setAccountInfo(account);
        action.setActiveSessions(sessions);
        EXPECT_EQ(node.use_count(), 2);
        EXPECT_EQ(action.getAccountInfo(), account);
    }
    EXPECT_EQ(node.use_count(), 1);
    EXPECT_EQ(account.use_count(), 1);
    EXPECT_EQ(sessions.use_count(), 1);
}

TEST(ActionDataTest, StreamBufferIsTheRecordsOwn) {
    auto action = std::make_shared<MutableActionData>(STREAM);
    std::shared_ptr<ActionData> reader = action;
    action->getBuffer().assign(16, 0x5A);
    EXPECT_EQ(reader->getBuffer().size(), 16u);
    EXPECT_EQ(&reader->getBuffer(), &action->getBuffer());
}

}  // namespace
}  // namespace corvane
