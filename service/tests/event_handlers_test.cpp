#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <thread>

#include "account_fixture.h"

#include "account_info_response_generated.h"
#include "new_shared_drive_response_generated.h"

namespace corvane::service::test {
namespace {

using namespace std::chrono_literals;

constexpr uint64_t kClientId = 0x0102030405060708ull;

struct EventsAnswer {
    bool ok = false;
    bool full = false;
    uint64_t accountStatus = 0;
    std::vector<Response> changes;
    std::vector<uint64_t> filesystems, nodes, nodeParents, contacts;
    std::vector<std::string> users;
    bool nodesPresent = false;
};

class EventHandlersTest : public AccountFixture {
protected:
    // One batch framed as the client frames it: events first, status last.
    EventsAnswer sync(const std::string& session, uint64_t known, const std::vector<std::string>& queued = {}) {
        std::vector<std::string> messages{eventsMessage(known)};
        messages.insert(messages.end(), queued.begin(), queued.end());
        messages.push_back(statusMessage());
        BatchReply reply = batch(session, messages);
        EventsAnswer answer;
        if (reply.responses.size() != messages.size()) return answer;
        const auto* events = reply.responses.front().as<GetEventsResponse>("GEER");
        const auto* status = reply.responses.back().as<GetStatusResponse>("GESR");
        if (!events || !status || events->error() != 0 || status->error() != 0) return answer;
        answer.full = events->full();
        answer.accountStatus = events->accountStatus();
        if (events->events() && !splitChanges(events->events()->data(), events->events()->size(), answer.changes))
            return answer;
        if (events->filesystems())
            for (const auto* fs : *events->filesystems())
                answer.filesystems.push_back(fs->handle());
        answer.nodesPresent = events->nodes() != nullptr;
        if (events->nodes()) {
            for (const auto* node : *events->nodes()) {
                answer.nodes.push_back(node->handle());
                answer.nodeParents.push_back(node->parent());
            }
        }
        if (events->contacts())
            for (const auto* node : *events->contacts())
                answer.contacts.push_back(node->handle());
        if (events->users())
            for (const auto* user : *events->users())
                answer.users.push_back(user->email() ? user->email()->str() : "");
        links_[session] = status->link() ? status->link()->str() : "";
        answer.ok = status->accountStatus() == answer.accountStatus ||
                    status->accountStatus() == service_.accounts().accountStatus(account_);
        return answer;
    }

    std::string poll(const std::string& session) {
        Call call;
        call.url = links_[session] + "?s=" + session;
        call.caFile = service_.certificatePath();
        call.timeoutMs = 60000;
        const Reply reply = perform(call);
        return reply.status == 200 ? reply.body : "status " + std::to_string(reply.status);
    }

    // Waits until the service has received `count` requests (a long poll is then open).
    bool waitForRequests(size_t count) {
        for (int i = 0; i < 500; ++i) {
            if (service_.requests().size() >= count) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    static std::vector<std::string> identifiers(const std::vector<Response>& changes) {
        std::vector<std::string> ids;
        for (const auto& change : changes)
            ids.push_back(change.identifier());
        return ids;
    }

    std::string accountInfoResponse() {
        auto builder = messageBuilder();
        const auto name = builder.CreateString("Ada's office");
        AccountInfoResponseBuilder response(builder);
        response.add_handle(account_);
        response.add_name(name);
        builder.Finish(response.Finish(), AccountInfoResponseIdentifier());
        return sizePrefixedBody(builder);
    }

    std::string newSharedDriveResponse() {
        auto builder = messageBuilder();
        const uint64_t drive = 0x00000A0B0C0D0E0Full;
        const auto fs = CreateFilesystemMessage(builder, drive << 15, 8, 0, bytesOf(builder, randomBytes(32)),
                                                bytesOf(builder, randomBytes(32)));
        const auto node = CreateNodeMessage(builder, drive, 0, 0, 0, 8, 0, false, bytesOf(builder, randomBytes(32)),
                                            bytesOf(builder, ""), drive << 15, bytesOf(builder, randomBytes(48)));
        builder.Finish(CreateNewSharedDriveResponse(builder, fs, node, 0, 0), NewSharedDriveResponseIdentifier());
        return sizePrefixedBody(builder);
    }

    static std::string sizePrefixedBody(flatbuffers::FlatBufferBuilder& builder) {
        return std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize());
    }

    std::map<std::string, std::string> links_;
};

TEST_F(EventHandlersTest, StatusAnswersTheAccountStatusAndALinkOfEachSessionsOwn) {
    const EventsAnswer a = sync(sessionA_, status());
    const EventsAnswer b = sync(sessionB_, status());
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.accountStatus, 1u) << "a new account starts at 1, so the client turns on its changes";
    const std::string prefix = service_.baseUrl() + "/events/";
    EXPECT_EQ(links_[sessionA_].rfind(prefix, 0), 0u) << links_[sessionA_];
    EXPECT_EQ(links_[sessionB_].rfind(prefix, 0), 0u) << links_[sessionB_];
    EXPECT_NE(links_[sessionA_], links_[sessionB_]);
    EXPECT_EQ(links_[sessionA_].find(sessionA_), std::string::npos) << "the link does not carry the session";
}

TEST_F(EventHandlersTest, LongPollAnswersOneOnlyToSessionsNotYetToldOfAChange) {
    const uint64_t start = status();
    ASSERT_TRUE(sync(sessionA_, start).ok);
    ASSERT_TRUE(sync(sessionB_, start).ok);
    service_.setPollTimeout(300ms);
    EXPECT_EQ(poll(sessionA_), "0");
    EXPECT_EQ(poll(sessionB_), "0");

    // A waits; B's change wakes it at once, well within the poll's time.
    service_.setPollTimeout(30s);
    const size_t before = service_.requests().size();
    auto waiting = std::async(std::launch::async, [&] { return poll(sessionA_); });
    ASSERT_TRUE(waitForRequests(before + 1));
    const EventsAnswer changed = sync(sessionB_, start, {addNodesMessage(kClientId, folder_, {NewNode{}})});
    ASSERT_TRUE(changed.ok);
    ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), "1");

    service_.setPollTimeout(300ms);
    EXPECT_EQ(poll(sessionB_), "0") << "the session that made the change is not woken by it";
    EXPECT_EQ(poll(sessionA_), "1") << "still waiting until A is told";
    const EventsAnswer told = sync(sessionA_, start);
    ASSERT_TRUE(told.ok);
    EXPECT_EQ(told.changes.size(), 1u);
    EXPECT_EQ(poll(sessionA_), "0");

    // A change logged outside every session reaches both.
    service_.accounts().logChange(account_, accountInfoResponse());
    EXPECT_EQ(poll(sessionA_), "1");
    EXPECT_EQ(poll(sessionB_), "1");
    // The other account's session hears nothing of it.
    ASSERT_TRUE(sync(otherSession_, service_.accounts().accountStatus(otherAccount_)).ok);
    EXPECT_EQ(poll(otherSession_), "0");
}

TEST_F(EventHandlersTest, EventsListOtherSessionsChangesInOrderWithTheirLengths) {
    const uint64_t start = status();
    const BatchReply made = batch(sessionB_, {
                                                 addNodesMessage(kClientId, folder_, {NewNode{}}),
                                                 renameNodeMessage(kClientId, file_, randomBytes(40)),
                                                 moveNodeMessage(kClientId, file_, root_, randomBytes(16)),
                                                 deleteNodeMessage(kClientId, file_),
                                                 rewriteKeysMessage(kClientId, {Rekey{folder_}}),
                                                 addMetadataMessage(kClientId, folder_, 1),
                                             });
    ASSERT_EQ(made.responses.size(), 6u);
    const uint64_t middle = status();
    EXPECT_EQ(middle, start + 6);
    service_.accounts().logChange(account_, accountInfoResponse());
    service_.accounts().logChange(account_, newSharedDriveResponse());

    const EventsAnswer a = sync(sessionA_, start);
    ASSERT_TRUE(a.ok);
    EXPECT_FALSE(a.full);
    EXPECT_EQ(a.accountStatus, status());
    EXPECT_EQ(identifiers(a.changes),
              (std::vector<std::string>{"ADNR", "RENR", "MONR", "DENR", "REKR", "ADMR", "ACIR", "NSDR"}));
    // Each is the very response the acting session got, readable by its own table.
    for (size_t i = 0; i < made.responses.size() && i < a.changes.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(a.changes[i].size(), made.responses[i].size());
        EXPECT_EQ(std::memcmp(a.changes[i].data(), made.responses[i].data(), a.changes[i].size()), 0);
        EXPECT_EQ(errorOf(a.changes[i]), 0);
    }
    ASSERT_EQ(a.changes.size(), 8u);
    EXPECT_NE(a.changes[6].as<AccountInfoResponse>("ACIR"), nullptr);
    EXPECT_NE(a.changes[7].as<NewSharedDriveResponse>("NSDR"), nullptr);
    const auto* added = a.changes[0].as<AddNodesResponse>("ADNR");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->clientId(), kClientId);
    EXPECT_EQ(added->accountStatus(), start + 1);

    // The acting session is not told its own changes again; what others did reaches it.
    const EventsAnswer b = sync(sessionB_, start);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(identifiers(b.changes), (std::vector<std::string>{"ACIR", "NSDR"}));

    // From a later status only the later changes come, and none from the present one.
    EXPECT_EQ(identifiers(sync(sessionA_, middle).changes), (std::vector<std::string>{"ACIR", "NSDR"}));
    const EventsAnswer current = sync(sessionA_, status());
    EXPECT_TRUE(current.ok);
    EXPECT_FALSE(current.full);
    EXPECT_TRUE(current.changes.empty());
}

TEST_F(EventHandlersTest, SnapshotHoldsTheAccountWithParentsFirst) {
    // A folder made after `folder_` becomes its parent: the store's order alone would put the
    // child first.
    const uint64_t later = addNode(root_, 21);
    ASSERT_EQ(errorOf(ask(sessionB_, moveNodeMessage(kClientId, folder_, later, randomBytes(16)))), 0);

    const EventsAnswer a = sync(sessionA_, 0);
    ASSERT_TRUE(a.ok);
    EXPECT_TRUE(a.full);
    EXPECT_EQ(a.accountStatus, status());
    EXPECT_TRUE(a.changes.empty());
    EXPECT_EQ(a.filesystems.size(), 2u);
    EXPECT_EQ(a.users, std::vector<std::string>{"ada@example.test"});
    EXPECT_EQ(a.contacts, std::vector<uint64_t>{contact_});
    std::set<uint64_t> seen;
    for (size_t i = 0; i < a.nodes.size(); ++i) {
        EXPECT_TRUE(a.nodeParents[i] == 0 || seen.count(a.nodeParents[i])) << "node " << a.nodes[i];
        seen.insert(a.nodes[i]);
    }
    EXPECT_EQ(seen, (std::set<uint64_t>{root_, contactsRoot_, later, folder_, file_}));
}

TEST_F(EventHandlersTest, SnapshotComesForUnknownOrForgottenStatusesAndWhenForced) {
    const uint64_t start = status();
    ASSERT_TRUE(sync(sessionB_, start).ok);
    EXPECT_TRUE(sync(sessionA_, start + 5).full) << "a status beyond the account's";
    EXPECT_FALSE(sync(sessionA_, start).full);

    // Forced: the poll says so, the next events answer is a snapshot, the one after is not.
    ASSERT_TRUE(service_.accounts().forceSnapshot(sessionA_));
    service_.setPollTimeout(300ms);
    EXPECT_EQ(poll(sessionA_), "1");
    EXPECT_EQ(poll(sessionB_), "0") << "forced on one session only";
    EXPECT_TRUE(sync(sessionA_, start).full);
    EXPECT_FALSE(sync(sessionA_, start).full);
    EXPECT_EQ(poll(sessionA_), "0");

    ASSERT_TRUE(service_.accounts().forceSnapshot(sessionA_, Snapshot::Empty));
    const EventsAnswer empty = sync(sessionA_, start);
    EXPECT_TRUE(empty.full);
    EXPECT_TRUE(empty.nodesPresent);
    EXPECT_TRUE(empty.nodes.empty());
    EXPECT_TRUE(empty.contacts.empty());
    EXPECT_EQ(empty.filesystems.size(), 2u);

    // Only the latest two changes are kept: older statuses get a snapshot.
    service_.accounts().setKeptChanges(2);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(errorOf(ask(sessionB_, renameNodeMessage(kClientId, file_, randomBytes(40)))), 0);
    EXPECT_TRUE(sync(sessionA_, start).full);
    const EventsAnswer kept = sync(sessionA_, start + 1);
    EXPECT_FALSE(kept.full);
    EXPECT_EQ(identifiers(kept.changes), (std::vector<std::string>{"RENR", "RENR"}));
}

// Two sessions change the account at once while a third keeps syncing: each batch's status
// covers exactly the changes its events carried, so the third sees every change once.
TEST_F(EventHandlersTest, ConcurrentChangesReachAThirdSessionEachExactlyOnce) {
    const std::string sessionC = service_.accounts().createSession(user_, account_);
    ASSERT_FALSE(sessionC.empty());
    constexpr int kBatches = 15;
    auto writer = [&](const std::string& session) {
        std::vector<uint64_t> made;
        for (int i = 0; i < kBatches; ++i) {
            BatchReply reply = batch(session, {addNodesMessage(kClientId, folder_, {NewNode{}})});
            const auto* added = reply.responses.size() == 1 ? reply.responses[0].as<AddNodesResponse>("ADNR") : nullptr;
            if (added && added->nodes() && added->nodes()->size() == 1)
                made.push_back(added->nodes()->Get(0)->handle());
        }
        return made;
    };
    uint64_t known = status();
    auto first = std::async(std::launch::async, writer, sessionB_);
    auto second = std::async(std::launch::async, writer, sessionC);
    std::vector<uint64_t> seen;
    auto collect = [&] {
        const EventsAnswer answer = sync(sessionA_, known);
        ASSERT_TRUE(answer.ok);
        ASSERT_FALSE(answer.full);
        for (const auto& change : answer.changes) {
            const auto* added = change.as<AddNodesResponse>("ADNR");
            ASSERT_NE(added, nullptr);
            for (const auto* node : *added->nodes())
                seen.push_back(node->handle());
        }
        known = answer.accountStatus;
    };
    while (first.wait_for(0s) != std::future_status::ready || second.wait_for(0s) != std::future_status::ready) {
        collect();
    }
    collect();
    std::vector<uint64_t> made = first.get();
    const std::vector<uint64_t> more = second.get();
    made.insert(made.end(), more.begin(), more.end());
    ASSERT_EQ(made.size(), size_t(2 * kBatches));
    std::sort(made.begin(), made.end());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, made);
    EXPECT_EQ(known, status());
}

TEST_F(EventHandlersTest, ChangeMadeThroughTheHookReachesTheOtherSessions) {
    const uint64_t start = status();
    ASSERT_TRUE(sync(sessionA_, start).ok);
    const Response made(service_.answerAs(sessionB_, addNodesMessage(0, folder_, {NewNode{}})));
    const auto* added = made.as<AddNodesResponse>("ADNR");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->error(), 0);
    service_.setPollTimeout(300ms);
    EXPECT_EQ(poll(sessionA_), "1");
    EXPECT_EQ(identifiers(sync(sessionA_, start).changes), std::vector<std::string>{"ADNR"});
    EXPECT_TRUE(service_.answerAs("unknown", addNodesMessage(0, folder_, {NewNode{}})).empty());
}

}  // namespace
}  // namespace corvane::service::test
