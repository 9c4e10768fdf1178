#include "account_directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "account_fixture.h"

namespace corvane::service::test {
namespace {

// Accounts kept in a data directory outlive a restart and a new stand-in on the same
// directory; the session check is on again at once.
TEST(AccountDirectoryStore, AccountsOutliveARestartInTheirDataDirectory) {
    curl_global_init(CURL_GLOBAL_ALL);
    char pattern[] = "/tmp/corvane-accounts-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    std::string session;
    uint64_t account = 0, root = 0, status = 0;
    {
        StandInService service;
        service.setDataDirectory(directory);
        ASSERT_TRUE(service.start());
        AccountDirectory& accounts = service.accounts();
        const uint64_t user = accounts.createUser("ada@example.test");
        account = accounts.createAccount(user);
        NodeRecord node;
        node.type = 0;
        node.attributes = randomBytes(16);
        root = accounts.addRoot(account, node, FilesystemRecord{});
        session = accounts.createSession(user, account);
        ASSERT_FALSE(session.empty());
        ASSERT_FALSE(service.answerAs(session, addNodesMessage(1, root, {NewNode{}})).empty());
        status = accounts.accountStatus(account);

        service.stop();
        ASSERT_TRUE(service.start());
        EXPECT_EQ(sendBatch(service, session, {statusMessage()}).status, 200);
    }
    {
        StandInService service;
        service.setDataDirectory(directory);
        ASSERT_TRUE(service.start());
        EXPECT_EQ(service.accounts().accountStatus(account), status);
        EXPECT_EQ(service.accounts().nodes(account).size(), 2u);
        const BatchReply reply = sendBatch(service, session, {eventsMessage(status - 1), statusMessage()});
        ASSERT_EQ(reply.responses.size(), 2u);
        const auto* events = reply.responses[0].as<GetEventsResponse>("GEER");
        ASSERT_NE(events, nullptr);
        EXPECT_FALSE(events->full());
        EXPECT_EQ(sendBatch(service, "0123456789abcdef", {statusMessage()}).status, 403);
    }
    std::remove((directory + "/" + ServiceStore::kFileName).c_str());
    rmdir(directory.c_str());
}

}  // namespace
}  // namespace corvane::service::test
