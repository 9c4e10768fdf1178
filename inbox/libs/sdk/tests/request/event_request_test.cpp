#include "request/event_request.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "add_nodes_response_generated.h"
#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/action_types.h"
#include "delete_node_response_generated.h"
#include "rename_node_response_generated.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::CachedTreeTest;
using test::FinishWaiter;
using test::hasField;
using test::messageOf;
using test::patternKey;
using test::ResponseBuffer;

constexpr uint64_t kOwnClientId = 0x1122334455667788ULL;
constexpr uint64_t kNewStatus = 9;

// A node sealed as the service delivers it: attributes under the node's own key (derived from
// its id), that key wrapped under `kek`.
flatbuffers::Offset<NodeMessage> sealedNode(flatbuffers::FlatBufferBuilder& b, uint64_t id, uint64_t parent,
                                            int8_t type, const char* name, const Bytes& kek, uint64_t filesystem = 0) {
    const Bytes key = patternKey(static_cast<uint8_t>(id));
    const auto attributes = b.CreateVector(test::gcmSeal(key, 32, test::attributesRecord(name)));
    const auto nodeKey = b.CreateVector(test::wrapKey(kek, key));
    NodeMessageBuilder node(b);
    node.add_handle(id);
    node.add_parent(parent);
    node.add_type(type);
    node.add_filesystem(filesystem);
    node.add_nodekey(nodeKey);
    node.add_attributes(attributes);
    return node.Finish();
}

void appendLength(Bytes& out, uint32_t length) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(length >> shift));
    }
}

// The events byte string: each change behind its 4-byte little-endian length.
Bytes changeList(const std::vector<Bytes>& changes) {
    Bytes out;
    for (const Bytes& change : changes) {
        appendLength(out, static_cast<uint32_t>(change.size()));
        out.insert(out.end(), change.begin(), change.end());
    }
    return out;
}

ResponseBuffer changesResponse(const Bytes& events) {
    return ResponseBuffer("GEER", [&](flatbuffers::FlatBufferBuilder& b) {
        const auto vector = b.CreateVector(events);
        GetEventsResponseBuilder response(b);
        response.add_events(vector);
        response.add_accountStatus(kNewStatus);
        return response.Finish();
    });
}

class EventRequestTest : public CachedTreeTest {
protected:
    void SetUp() override {
        CachedTreeTest::SetUp();
        manager.cloud = h.cloud.get();
        manager.clientId = kOwnClientId;
        manager.email = "owner@example.com";
        manager.hookLoop = &h.mainLoop;
        events = std::make_shared<GetEventsRequest>(&manager);
    }

    // One batch's part of the events request: its message taken, its response read and its
    // local phase run; true when it finished.
    bool cycle(const ResponseBuffer& response) {
        h.onLoop([&]() { events->takeMessage(); });
        EXPECT_TRUE(h.onLoop([&]() {
            return events->verify(response.data(), response.size()) &&
                   events->processFlatbuffer(response.data(), response.size());
        }));
        return apply(events);
    }

    bool apply(const std::shared_ptr<NetworkRequest>& request) {
        FinishWaiter waiter;
        request->setListener(&waiter);
        h.mainLoop.post([&]() { request->applyResults(&manager); });
        const bool finished = waiter.wait();
        // Events and hooks posted with the finish run on the same loop; let them pass.
        h.onLoop([]() {});
        h.onLoop([]() {});
        request->setListener(nullptr);
        return finished;
    }

    Bytes addFolder(uint64_t id, const char* name) {
        return ResponseBuffer("ADNR",
                              [&](flatbuffers::FlatBufferBuilder& b) {
                                  std::vector<flatbuffers::Offset<NodeMessage>> tables{
                                      sealedNode(b, id, 10, 21, name, h.masterKey)};
                                  return CreateAddNodesResponse(b, 0, 0, b.CreateVector(tables));
                              })
            .bytes();
    }

    Bytes rename(uint64_t id, const char* name) {
        const Bytes sealed = test::gcmSeal(patternKey(static_cast<uint8_t>(id)), 32, test::attributesRecord(name));
        return ResponseBuffer("RENR",
                              [&](flatbuffers::FlatBufferBuilder& b) {
                                  return CreateRenameNodeResponse(b, 0, 0, id, b.CreateVector(sealed));
                              })
            .bytes();
    }

    static Bytes deletion(int32_t error, uint64_t id) {
        return ResponseBuffer(
                   "DENR", [&](flatbuffers::FlatBufferBuilder& b) { return CreateDeleteNodeResponse(b, error, 0, id); })
            .bytes();
    }

    std::vector<int32_t> eventTypes() const {
        std::vector<int32_t> types;
        for (const auto& event : manager.events) {
            types.push_back(event->getType());
        }
        return types;
    }

    std::string cachedName(uint64_t id) {
        auto node = h.nodeById(id);
        return !node ? "(missing)" : node->getOwnName() != nullptr ? node->getOwnName() : "";
    }

    test::FakeApiManager manager;
    std::shared_ptr<GetEventsRequest> events;
};

TEST_F(EventRequestTest, MessagesCarryTheCachedStateAndTheirApiOnly) {
    struct Case {
        const char* name;
        uint64_t state;
    };
    for (const Case& c : {Case{"no state", 0}, Case{"state 42", 42}}) {
        SCOPED_TRACE(c.name);
        h.call<>([&](Cloud::Callback done) { h.cloud->endTransaction(c.state, done); });
        std::unique_ptr<ByteArray> keep;
        const GetEventsMessage* message =
            h.onLoop([&]() { return messageOf<GetEventsMessage>(*events, keep, "GEEM"); });
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(hasField(message, GetEventsMessage::VT_ACCOUNTSTATUS), c.state != 0);
        EXPECT_EQ(message->accountStatus(), c.state);
        EXPECT_EQ(message->api(), 5);
        EXPECT_EQ(keep->size() % 8, 0u);
    }

    auto status = std::make_shared<GetStatusRequest>(&manager);
    // Idle until first taken; taking the message makes it busy.
    EXPECT_TRUE(status->isFinished());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::unique_ptr<ByteArray> keep;
        const auto* message = messageOf<GetStatusMessage>(*status, keep, "GESM");
        ASSERT_NE(message, nullptr);
        EXPECT_FALSE(status->isFinished());
        EXPECT_EQ(message->api(), 1);
        // The client id is never sent, whatever the manager's.
        EXPECT_FALSE(hasField(message, GetStatusMessage::VT_CLIENTID));
    }
}

TEST_F(EventRequestTest, KnownChangesAroundAnUnknownOneAreAppliedInOrder) {
    const Bytes unknown = ResponseBuffer("ZZZR", [](flatbuffers::FlatBufferBuilder& b) {
                              return CreateDeleteNodeResponse(b, 0, 0, 12);
                          }).bytes();
    test::LogCapture log;
    // The rename finds the folder only if the addition was applied before it.
    ASSERT_TRUE(cycle(changesResponse(changeList({addFolder(100, "first"), unknown, rename(100, "renamed")}))));
    EXPECT_EQ(log.count("External event not recognized"), 1u);
    EXPECT_EQ(eventTypes(), (std::vector<int32_t>{EVENT_NEW_NODES, EVENT_UPDATED_NODE}));
    for (const auto& event : manager.events) {
        EXPECT_TRUE(event->isExternal());
    }
    EXPECT_EQ(cachedName(100), "renamed");
    // The unknown change, though shaped like a deletion, touched nothing.
    EXPECT_EQ(cachedName(12), "b");
    EXPECT_EQ(events->getAccountStatus(), kNewStatus);
    EXPECT_TRUE(log.contains("External events applied. New account status: 9."));
}

TEST_F(EventRequestTest, ACorruptChangeListKeepsTheChangesBeforeTheFault) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
    };
    const std::vector<Case> cases{
        {"length past the end",
         [](Bytes& list) {
             appendLength(list, 1000);
             list.insert(list.end(), 20, 0);
         }},
        {"length cut short",
         [](Bytes& list) {
             list.insert(list.end(), {8, 0});
         }},
    };
    uint64_t id = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.events.clear();
        Bytes list = changeList({addFolder(id, "kept")});
        c.damage(list);
        test::LogCapture log;
        ASSERT_TRUE(cycle(changesResponse(list)));
        EXPECT_EQ(log.count("Corrupt external events"), 1u);
        EXPECT_EQ(eventTypes(), std::vector<int32_t>{EVENT_NEW_NODES});
        EXPECT_EQ(cachedName(id), "kept");
        ++id;
    }
}

TEST_F(EventRequestTest, AChangeFailingVerificationIsSkipped) {
    // A deletion's identifier on bytes that are no deletion response.
    Bytes damaged{12, 0, 0, 0, 'D', 'E', 'N', 'R', 0xff, 0xff, 0xff, 0x7f, 1, 2, 3, 4};
    test::LogCapture log;
    ASSERT_TRUE(cycle(changesResponse(changeList({damaged, addFolder(100, "after")}))));
    EXPECT_TRUE(log.contains("Error verifying event: DeleteNode"));
    EXPECT_EQ(eventTypes(), std::vector<int32_t>{EVENT_NEW_NODES});
    EXPECT_EQ(cachedName(100), "after");
    EXPECT_EQ(cachedName(12), "b");
}

// Whether a change fails inside its applyResults call or later on the loop, the next one is
// applied; a long run of the first kind must not deepen the stack.
TEST_F(EventRequestTest, ChangesWhoseLocalPhaseFailsDoNotStopTheChain) {
    std::vector<Bytes> changes{rename(5000, "unknown node"), deletion(0, 5001)};
    for (int i = 0; i < 1000; ++i) {
        changes.push_back(deletion(2, 12));
    }
    changes.push_back(addFolder(100, "last"));
    ASSERT_TRUE(cycle(changesResponse(changeList(changes))));
    EXPECT_EQ(eventTypes(), std::vector<int32_t>{EVENT_NEW_NODES});
    EXPECT_EQ(cachedName(100), "last");
    EXPECT_EQ(cachedName(12), "b");
    EXPECT_EQ(events->pendingCount(), 0u);
}

TEST_F(EventRequestTest, AnErrorResponseAppliesNothing) {
    manager.backupsInitialized = false;
    test::LogCapture log;
    ASSERT_TRUE(cycle(ResponseBuffer("GEER", [&](flatbuffers::FlatBufferBuilder& b) {
        // Changes beside an error are not read.
        const auto list = b.CreateVector(changeList({deletion(0, 12)}));
        GetEventsResponseBuilder response(b);
        response.add_error(3);
        response.add_events(list);
        return response.Finish();
    })));
    EXPECT_EQ(events->getError(), 3);
    EXPECT_TRUE(log.contains("Error getting external events: 3"));
    EXPECT_EQ(manager.hostCalls, std::vector<std::string>{"begin"});
    EXPECT_EQ(cachedName(12), "b");
}

TEST_F(EventRequestTest, AccountReadyOnlyWhileTheBackupsAreNotSetUp) {
    manager.backupsInitialized = false;
    test::LogCapture log;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        manager.hostCalls.clear();
        ASSERT_TRUE(cycle(changesResponse(Bytes())));
        EXPECT_EQ(manager.hostCalls, round == 0 ? (std::vector<std::string>{"begin", "initializeBackups", "event:8"})
                                                : (std::vector<std::string>{"begin"}));
    }
    EXPECT_EQ(log.count("No external events. Account status: 9"), 2u);
    EXPECT_EQ(log.count("[action][{}] Account ready"), 1u);
    ASSERT_EQ(manager.events.size(), 1u);
    EXPECT_EQ(manager.events.front()->getType(), EVENT_ACCOUNT_READY);
}

// A batch that fails or a reset ends the request without a local phase: nothing may be set
// up or announced then.
TEST_F(EventRequestTest, ARequestLeftWithoutResponseOnlyFinishes) {
    manager.backupsInitialized = false;
    FinishWaiter waiter;
    events->setListener(&waiter);
    h.onLoop([&]() {
        events->takeMessage();
        events->onError(Error(UNKNOWN_ERROR));
    });
    ASSERT_TRUE(waiter.wait());
    h.onLoop([]() {});
    events->setListener(nullptr);
    EXPECT_TRUE(events->isFinished());
    EXPECT_TRUE(manager.hostCalls.empty());
}

class EventSnapshotTest : public EventRequestTest {
protected:
    static constexpr uint64_t kDriveFs = uint64_t{5} << 15;

    ResponseBuffer snapshot(bool withNodes, bool withContacts, bool withFilesystems = true) {
        return ResponseBuffer("GEER", [&](flatbuffers::FlatBufferBuilder& b) {
            std::vector<flatbuffers::Offset<FilesystemMessage>> filesystems;
            if (withFilesystems) {
                const auto wrapped = b.CreateVector(test::wrapKey(h.masterKey, driveNodeKey));
                FilesystemMessageBuilder drive(b);
                drive.add_handle(kDriveFs);
                drive.add_type(8);
                drive.add_nodekey(wrapped);
                filesystems.push_back(drive.Finish());
            }
            std::vector<flatbuffers::Offset<NodeMessage>> nodes;
            if (withNodes) {
                nodes = {sealedNode(b, 200, 0, 0, "", h.masterKey), sealedNode(b, 201, 200, 21, "fresh", h.masterKey),
                         // Opened with its filesystem's key: needs the filesystems first.
                         sealedNode(b, 210, 0, 8, "drive", driveNodeKey, kDriveFs),
                         sealedNode(b, 220, 0, 7, "", h.masterKey)};
            }
            // A contact under the contacts root of the nodes: placed only after them.
            std::vector<flatbuffers::Offset<NodeMessage>> contacts{sealedNode(b, 221, 220, 46, "contact", h.masterKey)};
            const auto filesystemVector = b.CreateVector(filesystems);
            const auto nodeVector = b.CreateVector(nodes);
            const auto contactVector = b.CreateVector(contacts);
            GetEventsResponseBuilder response(b);
            response.add_accountStatus(kNewStatus);
            response.add_full(true);
            response.add_filesystems(filesystemVector);
            if (withNodes) {
                response.add_nodes(nodeVector);
            }
            if (withContacts) {
                response.add_contacts(contactVector);
            }
            return response.Finish();
        });
    }

    const Bytes driveNodeKey = patternKey(150);
};

TEST_F(EventSnapshotTest, AFullSnapshotReplacesTheCacheAndAnnouncesTheReload) {
    test::LogCapture log;
    ASSERT_TRUE(cycle(snapshot(true, true)));
    EXPECT_TRUE(log.contains("Received 4 nodes in 1 filesystems"));
    EXPECT_TRUE(log.contains("[action][{}] Too many pending updates. Starting complete cloud cache reload"));
    EXPECT_TRUE(log.contains("[action][GetEvents] Cloud reloaded from server. Peak Memory: "));
    EXPECT_TRUE(log.contains("[action][GetEvents] Full reload finished"));
    EXPECT_EQ(manager.hostCalls,
              (std::vector<std::string>{"begin", "resetBackups", "initializeBackups", "event:7", "event:8"}));
    // Truncated: the old tree is gone.
    EXPECT_EQ(h.nodeById(12), nullptr);
    EXPECT_EQ(h.nodeById(10), nullptr);
    EXPECT_EQ(cachedName(201), "fresh");
    EXPECT_EQ(cachedName(210), "drive");
    EXPECT_EQ(cachedName(221), "contact");
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getMainRoot()->getId(); }), 200u);
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getFilesystemType(kDriveFs); }), 8);
    // The account record survives the reload.
    EXPECT_EQ(h.onLoop([&]() { return h.cloud->getCloudState(); }), 1u);
}

TEST_F(EventSnapshotTest, ASnapshotWithoutNodesLeavesTheCacheAlone) {
    struct Case {
        const char* name;
        bool withContacts;
        bool withFilesystems;
    };
    manager.backupsInitialized = false;
    for (const Case& c :
         {Case{"filesystems only", false, true}, Case{"contacts only", true, false}, Case{"nothing", false, false}}) {
        SCOPED_TRACE(c.name);
        manager.hostCalls.clear();
        test::LogCapture log;
        ASSERT_TRUE(cycle(snapshot(false, c.withContacts, c.withFilesystems)));
        EXPECT_EQ(events->getError(), UNKNOWN_ERROR);
        EXPECT_TRUE(log.contains("Full reload without nodes ignored"));
        EXPECT_TRUE(log.contains("Error getting external events: 9"));
        EXPECT_EQ(manager.hostCalls, std::vector<std::string>{"begin"});
        EXPECT_EQ(cachedName(12), "b");
        EXPECT_EQ(h.onLoop([&]() { return h.cloud->getMainRoot()->getId(); }), 10u);
    }
}

class StatusRequestTest : public EventRequestTest {
protected:
    bool run(const ResponseBuffer& response) {
        h.onLoop([&]() { status->takeMessage(); });
        EXPECT_TRUE(h.onLoop([&]() {
            return status->verify(response.data(), response.size()) &&
                   status->processFlatbuffer(response.data(), response.size());
        }));
        return apply(status);
    }

    std::shared_ptr<GetStatusRequest> status = std::make_shared<GetStatusRequest>(&manager);
};

TEST_F(StatusRequestTest, TheStatusGoesToTheManagerUnlessTheAnswerIsAnError) {
    struct Case {
        const char* name;
        int32_t error;
        const char* link;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases{
        {"with link", 0, "https://poll.example/ev/1", {"status:7:https://poll.example/ev/1"}},
        {"without link", 0, nullptr, {"status:7:"}},
        {"error", 5, "https://poll.example/ev/1", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.hostCalls.clear();
        test::LogCapture log;
        ASSERT_TRUE(run(ResponseBuffer("GESR", [&](flatbuffers::FlatBufferBuilder& b) {
            return CreateGetStatusResponse(b, c.error, 7, c.link != nullptr ? b.CreateString(c.link) : 0);
        })));
        EXPECT_EQ(manager.hostCalls, c.calls);
        EXPECT_EQ(log.contains("Error getting account status: 5"), c.error != 0);
        EXPECT_EQ(status->getLink(), c.error == 0 && c.link != nullptr ? c.link : "");
    }
}

TEST(EventResponseCheckTest, OnlyTheOwnIdentifierIsAccepted) {
    auto events = std::make_shared<GetEventsRequest>(nullptr);
    auto status = std::make_shared<GetStatusRequest>(nullptr);
    const ResponseBuffer eventsAnswer("GEER", [](auto& b) { return CreateGetEventsResponse(b); });
    const ResponseBuffer statusAnswer("GESR", [](auto& b) { return CreateGetStatusResponse(b, 0, 1); });
    EXPECT_TRUE(events->verify(eventsAnswer.data(), eventsAnswer.size()));
    EXPECT_FALSE(events->verify(statusAnswer.data(), statusAnswer.size()));
    EXPECT_TRUE(status->verify(statusAnswer.data(), statusAnswer.size()));
    EXPECT_FALSE(status->verify(eventsAnswer.data(), eventsAnswer.size()));
    EXPECT_FALSE(events->verify(eventsAnswer.data(), 7));
}

TEST(ChangeReaderTest, EachIdentifierHasItsReader) {
    const std::vector<std::pair<const char*, const char*>> readers{
        {"ADNR", "AddNodes"}, {"ADMR", "AddMetadata"}, {"RENR", "RenameNode"},  {"DENR", "DeleteNode"},
        {"MONR", "MoveNode"}, {"REKR", "RewriteKeys"}, {"ACIR", "AccountInfo"}, {"NSDR", "NewSharedDrive"},
        {"GEER", nullptr},    {"ADNM", nullptr},
    };
    for (const auto& reader : readers) {
        SCOPED_TRACE(reader.first);
        auto request = GetEventsRequest::createChangeReader(reinterpret_cast<const uint8_t*>(reader.first));
        if (reader.second == nullptr) {
            EXPECT_EQ(request, nullptr);
            continue;
        }
        ASSERT_NE(request, nullptr);
        EXPECT_STREQ(request->getName(), reader.second);
        EXPECT_EQ(request->getActionData(), nullptr);
        EXPECT_EQ(request->takeMessage(), nullptr);
    }
}

}  // namespace
}  // namespace corvane
