#include <gtest/gtest.h>

#include "account_fixture.h"
#include "link_handlers.h"

#include "create_link_message_generated.h"
#include "create_link_response_generated.h"
#include "delete_link_message_generated.h"
#include "delete_link_response_generated.h"
#include "download_message_generated.h"
#include "download_response_generated.h"

namespace corvane::service::test {
namespace {

std::string createLinkMessage(uint64_t node) {
    auto builder = messageBuilder();
    FinishSizePrefixedCreateLinkMessageBuffer(builder, CreateCreateLinkMessage(builder, node));
    return sizePrefixedMessage(builder);
}

std::string deleteLinkMessage(const std::string& pubhandle) {
    auto builder = messageBuilder();
    const auto handle = bytesOf(builder, pubhandle);
    FinishSizePrefixedDeleteLinkMessageBuffer(builder, CreateDeleteLinkMessage(builder, handle));
    return sizePrefixedMessage(builder);
}

std::string publicDownloadMessage(const std::string& pubhandle) {
    auto builder = messageBuilder();
    const auto handle = bytesOf(builder, pubhandle);
    FinishSizePrefixedDownloadMessageBuffer(builder, CreateDownloadMessage(builder, 0, handle));
    return sizePrefixedMessage(builder);
}

class LinkHandlersTest : public AccountFixture {
protected:
    // The handle CreateLink answers ("" when none), its error in *error.
    std::string createLink(const std::string& session, uint64_t node, int32_t* error = nullptr) {
        const Response answer = ask(session, createLinkMessage(node));
        const auto* response = answer.as<CreateLinkResponse>("CRLR");
        if (error) *error = response ? response->error() : -1;
        return response && response->pubhandle() ? stringOf(response->pubhandle()) : std::string();
    }

    int32_t deleteLink(const std::string& session, const std::string& pubhandle) {
        const Response answer = ask(session, deleteLinkMessage(pubhandle));
        const auto* response = answer.as<DeleteLinkResponse>("DELR");
        return response ? response->error() : -1;
    }

    // A Download by the public handle without a session: the error, the node type in *type.
    int32_t openLink(const std::string& pubhandle, int8_t* type = nullptr) {
        const BatchReply reply = batch("", {publicDownloadMessage(pubhandle)});
        if (reply.responses.size() != 1) return -1;
        const auto* response = reply.responses[0].as<DownloadResponse>("DOWR");
        if (!response) return -1;
        if (type) *type = response->type();
        return response->error();
    }
};

TEST_F(LinkHandlersTest, EveryLinkKindOpensWithoutASessionUntilItIsDeleted) {
    const uint64_t drive = addRoot(account_, 8);
    const uint64_t sharedFolders = addRoot(account_, 4);
    const uint64_t copy = addNode(sharedFolders, 45);
    const uint64_t inbox = addNode(root_, 43);
    struct Case {
        const char* name;
        uint64_t node;
        int8_t type;
    };
    for (const Case& c :
         {Case{"file", file_, 20}, Case{"folder copy", copy, 45}, Case{"drive", drive, 8}, Case{"inbox", inbox, 43}}) {
        SCOPED_TRACE(c.name);
        int32_t error = -1;
        const std::string handle = createLink(sessionA_, c.node, &error);
        EXPECT_EQ(error, 0);
        ASSERT_EQ(handle.size(), kPublicHandleBytes);
        // Asking again, from any session of the account, keeps the handle.
        EXPECT_EQ(createLink(sessionB_, c.node), handle);
        EXPECT_EQ(*service_.accounts().node(account_, c.node)->pubhandle, handle);

        int8_t type = -1;
        EXPECT_EQ(openLink(handle, &type), 0);
        EXPECT_EQ(type, c.type);

        EXPECT_EQ(deleteLink(sessionA_, handle), 0);
        EXPECT_EQ(openLink(handle), 1);
        EXPECT_EQ(deleteLink(sessionA_, handle), 1);
        // A new link after a deletion is a new handle.
        const std::string again = createLink(sessionA_, c.node);
        EXPECT_EQ(again.size(), kPublicHandleBytes);
        EXPECT_NE(again, handle);
    }
}

TEST_F(LinkHandlersTest, LinksOfDifferentNodesDiffer) {
    EXPECT_NE(createLink(sessionA_, file_), createLink(sessionA_, folder_));
}

TEST_F(LinkHandlersTest, RefusalsChangeNothing) {
    const std::string handle = createLink(sessionA_, file_);
    ASSERT_EQ(handle.size(), kPublicHandleBytes);
    struct Case {
        const char* name;
        std::string session;
        uint64_t node;
        int32_t error;
    };
    for (const Case& c : {Case{"unknown node", sessionA_, 0x123456, 1}, Case{"no node", sessionA_, 0, 1},
                          Case{"another account's node", otherSession_, file_, 1}, Case{"no session", "", file_, 3}}) {
        SCOPED_TRACE(c.name);
        int32_t error = -1;
        EXPECT_EQ(createLink(c.session, c.node, &error), "");
        EXPECT_EQ(error, c.error);
    }
    struct DeleteCase {
        const char* name;
        std::string session;
        std::string pubhandle;
        int32_t error;
    };
    for (const DeleteCase& c :
         {DeleteCase{"unknown handle", sessionA_, randomBytes(kPublicHandleBytes), 1},
          DeleteCase{"empty handle", sessionA_, "", 1}, DeleteCase{"another account", otherSession_, handle, 1},
          DeleteCase{"no session", "", handle, 3}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(deleteLink(c.session, c.pubhandle), c.error);
    }
    EXPECT_EQ(openLink(handle), 0);
    EXPECT_EQ(openLink(""), 1);
}

}  // namespace
}  // namespace corvane::service::test
