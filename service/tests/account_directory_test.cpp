#include "account_directory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>

#include "account_fixture.h"
#include "sign_in_fixture.h"

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
    std::remove((directory + "/certificate.pem").c_str());
    std::remove((directory + "/key.pem").c_str());
    rmdir(directory.c_str());
}

// A data directory written before users had credentials keeps its sessions, and its users can
// be joined by new ones that register and sign in.
TEST(AccountDirectoryStore, DirectoryFromBeforeCredentialsKeepsWorking) {
    curl_global_init(CURL_GLOBAL_ALL);
    char pattern[] = "/tmp/corvane-accounts-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string path = directory + "/" + ServiceStore::kFileName;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const char* old = R"sql(
CREATE TABLE users (handle INTEGER PRIMARY KEY, email TEXT NOT NULL, status INTEGER NOT NULL);
CREATE TABLE accounts (handle INTEGER PRIMARY KEY, status INTEGER NOT NULL, floor INTEGER NOT NULL);
CREATE TABLE account_users (account INTEGER NOT NULL, user INTEGER NOT NULL, PRIMARY KEY (account, user));
CREATE TABLE sessions (id TEXT PRIMARY KEY, poll_token TEXT NOT NULL UNIQUE, user INTEGER NOT NULL,
  account INTEGER NOT NULL, told INTEGER NOT NULL, snapshot INTEGER NOT NULL);
INSERT INTO users VALUES (5, 'old@example.test', 0);
INSERT INTO accounts VALUES (6, 1, 1);
INSERT INTO account_users VALUES (6, 5);
INSERT INTO sessions VALUES ('0123456789abcdef', 'fedcba9876543210', 5, 6, 0, 0);
)sql";
        ASSERT_EQ(sqlite3_exec(db, old, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    {
        StandInService service;
        service.setDataDirectory(directory);
        ASSERT_TRUE(service.start());
        EXPECT_EQ(sendBatch(service, "0123456789abcdef", {statusMessage()}).status, 200);
        const BatchReply verified = sendBatch(service, "", {verifyEmailMessage("new@example.test")});
        ASSERT_EQ(verified.responses.size(), 1u);
        const auto* response = verified.responses[0].as<VerifyEmailResponse>("VEER");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), 0);
        const BatchReply known = sendBatch(service, "", {verifyEmailMessage("old@example.test")});
        ASSERT_EQ(known.responses.size(), 1u);
        EXPECT_EQ(errorIn(known.responses[0]), 7);
        EXPECT_TRUE(service.accounts().setBlocked(6, true));
    }
    std::remove(path.c_str());
    std::remove((directory + "/certificate.pem").c_str());
    std::remove((directory + "/key.pem").c_str());
    rmdir(directory.c_str());
}

}  // namespace
}  // namespace corvane::service::test
