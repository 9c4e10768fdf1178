// Contact, outbox and sent-record actions on a real cloud model: what they refuse, and what
// they hand the service (request kind, node tables, sealed keys and attributes, opened here
// with OpenSSL's key unwrap and Crypto++'s GCM).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "action/inbox_action.h"
#include "add_contact_message_generated.h"
#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/node_type.h"
#include "request/account_settings_request.h"
#include "request/cloud_request.h"
#include "support/fake_api_manager.h"
#include "support/link_text.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::makeNode;
using test::patternKey;
using test::unwrapKey;

constexpr uint64_t kFs = uint64_t{10} << 15;
constexpr uint64_t kAccount = 0x1122334455667788ULL;
constexpr const char* kAddress = "https://web.example";

const Bytes kInboxId = test::patternBytes(1, 16);
const Bytes kInboxKey = test::patternBytes(2, 32);
const Bytes kRecordHandle = test::patternBytes(3, 16);
const Bytes kRecordKey = test::patternBytes(4, 32);

class CapturingApiManager : public test::FakeApiManager {
public:
    void enqueueApiRequest(std::shared_ptr<NetworkRequest> request, RequestListener*) override {
        std::lock_guard<std::mutex> lock(mutex);
        sent.push_back(std::move(request));
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<NetworkRequest>> sent;
};

class EndListener : public ActionListener {
public:
    explicit EndListener(CapturingApiManager* manager) : manager_(manager) {}
    void onActionFinish(std::shared_ptr<ActionData>) override {
        std::lock_guard<std::mutex> lock(manager_->mutex);
        ++finished;
        manager_->changed.notify_all();
    }
    int finished = 0;

private:
    CapturingApiManager* manager_;
};

// A cached tree whose nodes carry keys:
//   10 cloud drive root: 11 folder "a"
//   40 contacts root: 41 contact "Ada" (account kAccount): 42 outbox "desk" (inbox kInboxId
//   with kInboxKey): 43 sent record (kRecordHandle)
class ContactActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.initialize();
        manager.cloud = h.cloud.get();
        manager.clientId = 5;
        manager.email = "ada@example.test";
        auto filesystem = test::makeFilesystem(kFs, 0, 0, nullptr, nullptr);
        ASSERT_TRUE(std::get<0>(h.call<bool>([&](Cloud::BoolCallback done) {
            h.cloud->addFilesystemUsingNodeKey(filesystem, std::make_unique<Bytes>(patternKey(20)), done);
        })));
        put(makeNode(10, CLOUD_DRIVE_ROOT, 0, nullptr, kFs));
        put(makeNode(40, CONTACTS_ROOT, 0, nullptr, kFs));
        h.children(10);
        h.children(40);
        put(makeNode(11, FOLDER_NODE, 10, "a", kFs));
        auto contact = makeNode(41, CONTACT_NODE, 40, "Ada", kFs);
        contact->setExtraNumber(kAccount);
        put(contact);
        h.children(41);
        auto outbox = makeNode(42, OUTBOX_NODE, 41, "desk", kFs);
        outbox->setExtraData(&kInboxId);
        outbox->setInboxKey(kInboxKey);
        put(outbox);
        h.children(42);
        auto sent = makeNode(43, RECORD_NODE, 42, nullptr, kFs);
        sent->setPublicHandle(&kRecordHandle);
        put(sent);
    }

    static Bytes keyOf(uint64_t id) { return patternKey(static_cast<uint8_t>(id)); }

    void put(Cloud::NodePointer node) {
        const Bytes key = keyOf(node->getId());
        node->setKey(&key);
        h.call<Cloud::NodePointer>(
            [&, node](Cloud::MutableNodeCallback done) { h.cloud->updateNode(node, done, true); });
    }

    // Runs the action's process on the SDK main loop until it has sent a request or finished.
    template <class Processor>
    void run(const std::shared_ptr<MutableActionData>& data) {
        EndListener listener(&manager);
        Processor processor(&manager, &h.mainLoop, &listener);
        ASSERT_TRUE(processor.validate(data));
        {
            std::lock_guard<std::mutex> lock(manager.mutex);
            manager.sent.clear();
        }
        h.mainLoop.post([&] { processor.process(data); });
        std::unique_lock<std::mutex> lock(manager.mutex);
        ASSERT_TRUE(manager.changed.wait_for(lock, std::chrono::seconds(60),
                                             [&] { return !manager.sent.empty() || listener.finished > 0; }));
        lock.unlock();
        h.onLoop([] {});
    }

    void runAny(const std::shared_ptr<MutableActionData>& data) {
        switch (data->getType()) {
            case MANAGE_CONTACTS:
                run<ManageContactsAction>(data);
                break;
            case MANAGE_OUTBOXES:
                run<ManageOutboxesAction>(data);
                break;
            default:
                run<ManageSentRecordsAction>(data);
                break;
        }
    }

    std::shared_ptr<NetworkRequest> onlySent() {
        std::lock_guard<std::mutex> lock(manager.mutex);
        EXPECT_EQ(manager.sent.size(), 1u);
        return manager.sent.empty() ? nullptr : manager.sent.front();
    }

    size_t sentCount() {
        std::lock_guard<std::mutex> lock(manager.mutex);
        return manager.sent.size();
    }

    // The one node of the AddNodes request that was sent, under the expected parent.
    const NodeMessage* addedNode(std::unique_ptr<ByteArray>& keep, uint64_t parent) {
        auto request = onlySent();
        EXPECT_NE(std::dynamic_pointer_cast<AddNodesRequest>(request), nullptr);
        if (!request) {
            return nullptr;
        }
        const auto* message = test::messageOf<AddNodesMessage>(*request, keep, "ADNM");
        EXPECT_NE(message, nullptr);
        if (message == nullptr || message->nodes() == nullptr || message->nodes()->size() != 1) {
            ADD_FAILURE() << "not one node";
            return nullptr;
        }
        EXPECT_EQ(message->parent(), parent);
        const NodeMessage* node = message->nodes()->Get(0);
        EXPECT_EQ(node->parent(), parent);
        return node;
    }

    // The opened attributes record of a sent node whose key is wrapped under its parent's.
    const NodeAttributes* openedAttributes(const NodeMessage& node, uint64_t parent, Bytes* record,
                                           Bytes* key = nullptr) {
        if (node.childkey() == nullptr || node.attributes() == nullptr) {
            return nullptr;
        }
        const Bytes nodeKey = unwrapKey(keyOf(parent), Bytes(node.childkey()->begin(), node.childkey()->end()));
        if (key != nullptr) {
            *key = nodeKey;
        }
        if (!test::gcmOpen(nodeKey, 32, Bytes(node.attributes()->begin(), node.attributes()->end()), record)) {
            return nullptr;
        }
        flatbuffers::Verifier verifier(record->data(), record->size());
        return verifier.VerifyBuffer<NodeAttributes>(nullptr) ? flatbuffers::GetRoot<NodeAttributes>(record->data())
                                                              : nullptr;
    }

    test::CloudHarness h;
    CapturingApiManager manager;
};

std::shared_ptr<MutableActionData> action(int32_t type, uint64_t node, const std::string& name = "",
                                          const std::string& link = "", uint64_t account = 0) {
    auto data = std::make_shared<MutableActionData>(type);
    data->setNodeHandle(node);
    data->setAccountHandle(account);
    if (!name.empty()) {
        data->setName(name.c_str());
    }
    if (!link.empty()) {
        data->setLink(link.c_str());
    }
    return data;
}

TEST_F(ContactActionTest, RefusalsEndWithTheirCodeAndSendNothing) {
    const std::string inbox = test::inboxLink(kAddress, kInboxId, kInboxKey);
    const std::string record = test::recordLink(kAddress, kRecordHandle, kRecordKey);
    const std::string filed = test::recordLink(kAddress, kRecordHandle, kRecordKey);
    struct Case {
        const char* name;
        std::shared_ptr<MutableActionData> data;
        int32_t error;
        uint64_t existing;
    };
    const std::vector<Case> cases{
        {"contact for an account already filed", action(MANAGE_CONTACTS, 0, "Ada again", "", kAccount), ALREADY_EXISTS,
         41},
        {"rename of an unknown contact", action(MANAGE_CONTACTS, 999, "x"), NOT_FOUND, 0},
        {"rename of a folder as a contact", action(MANAGE_CONTACTS, 11, "x"), WRONG_PARAMETERS, 0},
        {"delete of an outbox as a contact", action(MANAGE_CONTACTS, 42), WRONG_PARAMETERS, 0},
        {"outbox under an unknown contact", action(MANAGE_OUTBOXES, 999, "x", inbox), NOT_FOUND, 0},
        {"outbox under an outbox", action(MANAGE_OUTBOXES, 42, "x", inbox), WRONG_PARAMETERS, 0},
        {"outbox for an inbox already filed, another address",
         action(MANAGE_OUTBOXES, 41, "x", test::inboxLink("https://elsewhere", kInboxId, kInboxKey)), ALREADY_EXISTS,
         42},
        {"outbox from a link without path word", action(MANAGE_OUTBOXES, 41, "x", "https://web.example/"),
         WRONG_PARAMETERS, 0},
        {"outbox from a truncated inbox link", action(MANAGE_OUTBOXES, 41, "x", inbox.substr(0, inbox.size() - 50)),
         WRONG_PARAMETERS, 0},
        {"outbox from a record link", action(MANAGE_OUTBOXES, 41, "x", record), WRONG_PARAMETERS, 0},
        {"outbox from an inbox link with an empty key",
         action(MANAGE_OUTBOXES, 41, "x", test::inboxLink(kAddress, test::patternBytes(9, 16), {}) + "#"),
         WRONG_PARAMETERS, 0},
        {"rename of a contact as an outbox", action(MANAGE_OUTBOXES, 41, "x"), WRONG_PARAMETERS, 0},
        {"sent record under a contact", action(MANAGE_SENT_RECORDS, 41, "", record), WRONG_PARAMETERS, 0},
        {"sent record under an unknown outbox", action(MANAGE_SENT_RECORDS, 999, "", record), NOT_FOUND, 0},
        {"sent record already filed", action(MANAGE_SENT_RECORDS, 42, "", filed), ALREADY_EXISTS, 43},
        {"sent record from an inbox link", action(MANAGE_SENT_RECORDS, 42, "", inbox), WRONG_PARAMETERS, 0},
        {"sent record with a one-character key",
         action(MANAGE_SENT_RECORDS, 42, "",
                std::string(kAddress) + "/record/" + test::base64Url(kRecordHandle) + "#A"),
         WRONG_PARAMETERS, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runAny(c.data);
        EXPECT_EQ(c.data->getErrorCode(), c.error);
        EXPECT_EQ(sentCount(), 0u);
        if (c.existing != 0) {
            ASSERT_NE(c.data->getNode(), nullptr);
            EXPECT_EQ(c.data->getNode()->getId(), c.existing);
        }
    }
}

TEST_F(ContactActionTest, ANewContactCarriesItsAccountAndName) {
    constexpr uint64_t kOther = 0xfedcba9876543210ULL;
    auto data = action(MANAGE_CONTACTS, 0, "Grace", "", kOther);
    run<ManageContactsAction>(data);
    std::unique_ptr<ByteArray> keep;
    const NodeMessage* node = addedNode(keep, 40);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->type(), CONTACT_NODE);
    EXPECT_EQ(node->extraNumber(), kOther);
    Bytes record;
    const NodeAttributes* attributes = openedAttributes(*node, 40, &record);
    ASSERT_NE(attributes, nullptr);
    ASSERT_NE(attributes->name(), nullptr);
    EXPECT_EQ(attributes->name()->str(), "Grace");
}

TEST_F(ContactActionTest, ANewOutboxCarriesTheInboxIdentifierAndKeyWhenTheLinkHasOne) {
    const Bytes otherInbox = test::patternBytes(9, 16);
    struct Case {
        const char* name;
        std::string link;
        bool key;
    };
    const std::vector<Case> cases{
        {"with key", test::inboxLink(kAddress, otherInbox, kInboxKey), true},
        {"without '#'", test::inboxLink(kAddress, otherInbox, {}), false},
        // The same inbox without its key is another link.
        {"a filed inbox without its key", test::inboxLink(kAddress, kInboxId, {}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = action(MANAGE_OUTBOXES, 41, "front desk", c.link);
        run<ManageOutboxesAction>(data);
        std::unique_ptr<ByteArray> keep;
        const NodeMessage* node = addedNode(keep, 41);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->type(), OUTBOX_NODE);
        ASSERT_NE(node->extraData(), nullptr);
        EXPECT_EQ(Bytes(node->extraData()->begin(), node->extraData()->end()),
                  c.link.find(test::base64Url(kInboxId)) != std::string::npos ? kInboxId : otherInbox);
        Bytes record;
        const NodeAttributes* attributes = openedAttributes(*node, 41, &record);
        ASSERT_NE(attributes, nullptr);
        EXPECT_EQ(attributes->name()->str(), "front desk");
        const auto* outbox = attributes->extended_as_OutboxAttributes();
        ASSERT_NE(outbox, nullptr);
        if (c.key) {
            ASSERT_NE(outbox->inboxKey(), nullptr);
            EXPECT_EQ(Bytes(outbox->inboxKey()->begin(), outbox->inboxKey()->end()), kInboxKey);
        } else {
            EXPECT_TRUE(outbox->inboxKey() == nullptr || outbox->inboxKey()->size() == 0);
        }
    }
}

TEST_F(ContactActionTest, ASentRecordIsSealedUnderTheRecordKeyWithItsPublicHandle) {
    const Bytes otherHandle = test::patternBytes(8, 16);
    auto data = action(MANAGE_SENT_RECORDS, 42, "", test::recordLink(kAddress, otherHandle, kRecordKey));
    run<ManageSentRecordsAction>(data);
    std::unique_ptr<ByteArray> keep;
    const NodeMessage* node = addedNode(keep, 42);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->type(), RECORD_NODE);
    ASSERT_NE(node->pubhandle(), nullptr);
    EXPECT_EQ(Bytes(node->pubhandle()->begin(), node->pubhandle()->end()), otherHandle);
    Bytes record;
    Bytes key;
    EXPECT_NE(openedAttributes(*node, 42, &record, &key), nullptr);
    EXPECT_EQ(key, kRecordKey);
}

// The node's own extra number goes back whole with the new name: the service stores what a
// rename carries, and a contact without it would no longer stand for its account.
TEST_F(ContactActionTest, RenamesSealTheNewNameAndKeepTheWholeExtraNumber) {
    struct Case {
        int32_t type;
        uint64_t node;
        uint64_t extraNumber;
    };
    for (const Case& c : {Case{MANAGE_CONTACTS, 41, kAccount}, Case{MANAGE_OUTBOXES, 42, 0}}) {
        SCOPED_TRACE(getActionTypeName(c.type));
        auto data = action(c.type, c.node, "renamed");
        runAny(data);
        auto request = onlySent();
        ASSERT_NE(std::dynamic_pointer_cast<RenameNodeRequest>(request), nullptr);
        std::unique_ptr<ByteArray> keep;
        const auto* message = test::messageOf<RenameNodeMessage>(*request, keep, "RENM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->node(), c.node);
        EXPECT_EQ(message->extraNumber(), c.extraNumber);
        ASSERT_NE(message->attributes(), nullptr);
        Bytes opened;
        ASSERT_TRUE(test::gcmOpen(keyOf(c.node), 32,
                                  Bytes(message->attributes()->begin(), message->attributes()->end()), &opened));
        EXPECT_EQ(test::recordName(opened), "renamed");
        EXPECT_EQ(data->getOption(), 0);
        ASSERT_NE(data->getNode(), nullptr);
        EXPECT_EQ(data->getNode()->getExtraNumber(), c.extraNumber);
    }
}

TEST_F(ContactActionTest, DeletionsSealTheKeyForTheParent) {
    struct Case {
        int32_t type;
        uint64_t node;
        uint64_t parent;
    };
    for (const Case& c : {Case{MANAGE_CONTACTS, 41, 40}, Case{MANAGE_OUTBOXES, 42, 41}}) {
        SCOPED_TRACE(getActionTypeName(c.type));
        auto data = action(c.type, c.node);
        runAny(data);
        auto request = onlySent();
        ASSERT_NE(std::dynamic_pointer_cast<DeleteNodeRequest>(request), nullptr);
        std::unique_ptr<ByteArray> keep;
        const auto* message = test::messageOf<DeleteNodeMessage>(*request, keep, "DENM");
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->node(), c.node);
        EXPECT_EQ(message->filesystem(), kFs);
        ASSERT_NE(message->childkey(), nullptr);
        EXPECT_EQ(unwrapKey(keyOf(c.parent), Bytes(message->childkey()->begin(), message->childkey()->end())),
                  keyOf(c.node));
    }
}

TEST_F(ContactActionTest, AddContactFoldsOnlyAsciiCapitals) {
    auto data = std::make_shared<MutableActionData>(ADD_CONTACT);
    data->setEmail("Ada.LOVELACE+\xC3\x89t\xC3\xA9@Example.COM");
    run<AddContactAction>(data);
    auto request = onlySent();
    ASSERT_NE(std::dynamic_pointer_cast<AddContactRequest>(request), nullptr);
    std::unique_ptr<ByteArray> keep;
    const auto* message = test::messageOf<AddContactMessage>(*request, keep, "ADCM");
    ASSERT_NE(message, nullptr);
    ASSERT_NE(message->email(), nullptr);
    EXPECT_EQ(message->email()->str(), "ada.lovelace+\xC3\x89t\xC3\xA9@example.com");
}

}  // namespace
}  // namespace corvane
