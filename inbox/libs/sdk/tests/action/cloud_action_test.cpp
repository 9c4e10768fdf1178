// The node changing actions on a real cloud model: what they refuse, and what they hand the
// service (request kind, handles, and keys opened here with OpenSSL's key unwrap).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "action/cloud_action.h"
#include "action/public_link_action.h"
#include "cloud/cloud_test_support.h"
#include "cloud/sealed_node_fixture.h"
#include "corvane/node_type.h"
#include "request/cloud_request.h"
#include "request/public_link_request.h"
#include "support/fake_api_manager.h"
#include "support/request_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::makeNode;
using test::patternKey;
using test::unwrapKey;

constexpr uint64_t kFs = uint64_t{10} << 15;
constexpr uint64_t kDrive = uint64_t{0x500} << 15;

// Keeps the requests the actions send and wakes the test when one arrives.
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
//   10 cloud drive root: 11 folder "a" (12 file "b", 13 folder "c" (14 file "d")), 15 file "e"
//   30 recycle bin: 31 file "binned"      20 register root: 21 inbox      40 contacts: 41 contact
//   50 backups root: 51 backup            kDrive shared-drive root       60 record without parent
//   16 public folder copy under 10, whose root (shared folders) the cache lacks
class CloudActionTest : public ::testing::Test {
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
        for (uint64_t root : {10, 30, 20, 40, 50}) {
            const int32_t type = root == 10   ? CLOUD_DRIVE_ROOT
                                 : root == 30 ? RECYCLE_BIN_ROOT
                                 : root == 20 ? REGISTER_ROOT
                                 : root == 40 ? CONTACTS_ROOT
                                              : BACKUPS_ROOT;
            put(makeNode(root, type, 0, nullptr, kFs));
            h.children(root);
        }
        put(makeNode(kDrive, SHARED_DRIVE_ROOT, 0, "drive", kFs));
        put(makeNode(60, RECORD_NODE, 0, "orphan", kFs));
        put(makeNode(11, FOLDER_NODE, 10, "a", kFs));
        put(makeNode(15, FILE_NODE, 10, "e", kFs));
        h.children(11);
        put(makeNode(12, FILE_NODE, 11, "b", kFs));
        put(makeNode(13, FOLDER_NODE, 11, "c", kFs));
        h.children(13);
        put(makeNode(14, FILE_NODE, 13, "d", kFs));
        put(makeNode(31, FILE_NODE, 30, "binned", kFs));
        put(makeNode(21, INBOX_NODE, 20, "inbox", kFs));
        put(makeNode(41, CONTACT_NODE, 40, "contact", kFs));
        put(makeNode(51, BACKUP_NODE, 50, "backup", kFs));
        // Its root (shared folders) is not in this cache.
        put(makeNode(16, LINK_COPY_NODE, 10, "public copy", kFs));
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
        // Let the posted notifications run before the processor goes away.
        h.onLoop([] {});
    }

    std::shared_ptr<MutableActionData> record(int32_t type, uint64_t node, uint64_t parent = 0) {
        auto data = std::make_shared<MutableActionData>(type);
        data->setNodeHandle(node);
        data->setParentHandle(parent);
        return data;
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

    test::CloudHarness h;
    CapturingApiManager manager;
};

TEST_F(CloudActionTest, RefusalsEndWithTheirCodeAndSendNothing) {
    struct Case {
        const char* name;
        int32_t type;
        uint64_t node;
        uint64_t parent;
        int32_t error;
    };
    const std::vector<Case> cases{
        {"delete of an unknown node", DELETE_NODE, 999, 0, NOT_FOUND},
        {"delete of the recycle bin", DELETE_NODE, 30, 0, FORBIDDEN},
        {"delete of the cloud drive root", DELETE_NODE, 10, 0, FORBIDDEN},
        {"delete of a record without parent", DELETE_NODE, 60, 0, FORBIDDEN},
        {"delete into a root the cache lacks", DELETE_NODE, 16, 0, NOT_FOUND},
        {"rename of an unknown node", RENAME_NODE, 999, 0, NOT_FOUND},
        {"rename of the cloud drive root", RENAME_NODE, 10, 0, FORBIDDEN},
        {"move to the present parent", MOVE_NODE, 12, 11, FORBIDDEN},
        {"move of a root", MOVE_NODE, 30, 11, FORBIDDEN},
        {"move into its own subtree", MOVE_NODE, 11, 13, FORBIDDEN},
        {"move to an unknown parent", MOVE_NODE, 12, 999, NOT_FOUND},
        {"copy of a root", COPY_NODE, 10, 11, FORBIDDEN},
        {"copy to an unknown parent", COPY_NODE, 12, 999, NOT_FOUND},
        {"add under an unknown parent", ADD_NODES, 0, 999, NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = record(c.type, c.node, c.parent);
        data->setName("new name");
        data->setValue(1);
        data->setNodes(std::make_shared<NodeList>(NodeList{makeNode(0, FOLDER_NODE, 0, "fresh")}));
        switch (c.type) {
            case DELETE_NODE:
                run<DeleteNodeAction>(data);
                break;
            case RENAME_NODE:
                run<RenameNodeAction>(data);
                break;
            case MOVE_NODE:
                run<MoveNodeAction>(data);
                break;
            case COPY_NODE:
                run<CopyNodeAction>(data);
                break;
            default:
                run<AddNodesAction>(data);
                break;
        }
        EXPECT_EQ(data->getErrorCode(), c.error);
        EXPECT_EQ(sentCount(), 0u);
    }
}

// Each deleted node's key is sealed for the root it goes to; a node in the cloud drive goes
// into the recycle bin by a move unless the caller wants it gone, and one already in the bin
// is deleted.
TEST_F(CloudActionTest, DeletionSealsTheKeyForTheTargetRootAndChoosesMoveOrDelete) {
    struct Case {
        const char* name;
        uint64_t node;
        int32_t value;
        uint64_t root;
        bool move;
    };
    const std::vector<Case> cases{
        {"file to the recycle bin", 15, 1, 30, true},
        {"file deleted at once", 15, 0, 30, false},
        {"file already in the recycle bin", 31, 1, 30, false},
        {"inbox", 21, 1, 20, false},
        {"contact", 41, 1, 40, false},
        {"backup", 51, 1, 50, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = record(DELETE_NODE, c.node);
        data->setValue(c.value);
        run<DeleteNodeAction>(data);
        auto request = onlySent();
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(std::dynamic_pointer_cast<MoveNodeRequest>(request) != nullptr, c.move);
        EXPECT_EQ(std::dynamic_pointer_cast<DeleteNodeRequest>(request) != nullptr, !c.move);
        if (c.move) {
            EXPECT_EQ(data->getParentHandle(), c.root);
        }
        EXPECT_EQ(data->getNumber(), kFs);
        ASSERT_NE(data->getUserKey(), nullptr);
        EXPECT_EQ(unwrapKey(keyOf(c.root), *data->getUserKey()), keyOf(c.node));
        ASSERT_NE(data->getNode(), nullptr);
        EXPECT_EQ(data->getNode()->getId(), c.node);
    }
}

TEST_F(CloudActionTest, DeletingASharedDriveRootSendsItsFilesystemWithoutAChildKey) {
    auto data = record(DELETE_NODE, kDrive);
    data->setValue(1);
    run<DeleteNodeAction>(data);
    auto request = std::dynamic_pointer_cast<DeleteNodeRequest>(onlySent());
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(data->getNumber(), kFs);
    EXPECT_EQ(data->getUserKey(), nullptr);
}

TEST_F(CloudActionTest, MoveSealsTheKeyForTheNewParent) {
    auto data = record(MOVE_NODE, 12, 13);
    run<MoveNodeAction>(data);
    ASSERT_NE(std::dynamic_pointer_cast<MoveNodeRequest>(onlySent()), nullptr);
    EXPECT_EQ(data->getNumber(), kFs);
    ASSERT_NE(data->getUserKey(), nullptr);
    EXPECT_EQ(unwrapKey(keyOf(13), *data->getUserKey()), keyOf(12));
    // The node as it was, for the request to report the former parent.
    ASSERT_NE(data->getNode(), nullptr);
    EXPECT_EQ(data->getNode()->getParent(), 11u);
}

// The extra number goes back whole: contact handles and drive ids above 32 bits survive.
TEST_F(CloudActionTest, RenameSealsTheNewNameAndKeepsTheWholeExtraNumber) {
    struct Case {
        const char* name;
        uint64_t node;
        uint64_t extraNumber;
    };
    const std::vector<Case> cases{
        {"record with status 1", 21, 1},
        {"handle of 2^31", 41, uint64_t{1} << 31},
        {"handle above 32 bits", 12, 0x123456789aULL},
        {"no extra number", 15, 0},
        {"shared drive root", kDrive, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto cached = std::make_shared<MutableNodeData>(*h.nodeById(c.node));
        cached->setExtraNumber(c.extraNumber);
        h.call<Cloud::NodePointer>(
            [&, cached](Cloud::MutableNodeCallback done) { h.cloud->updateNode(cached, done, true); });
        auto data = record(RENAME_NODE, c.node);
        data->setName("renamed");
        run<RenameNodeAction>(data);
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
        // The cached node keeps its name until the service has answered.
        EXPECT_STRNE(h.nodeById(c.node)->getOwnName(), "renamed");
        ASSERT_NE(data->getNode(), nullptr);
        EXPECT_STREQ(data->getNode()->getOwnName(), "renamed");
    }
}

TEST_F(CloudActionTest, AddRefusesANameClashButSendsTwinNewNodesWithTheAccountScheme) {
    auto clash = record(ADD_NODES, 0, 11);
    clash->setNodes(
        std::make_shared<NodeList>(NodeList{makeNode(0, FOLDER_NODE, 11, "new"), makeNode(0, FOLDER_NODE, 11, "c")}));
    run<AddNodesAction>(clash);
    EXPECT_EQ(clash->getErrorCode(), ALREADY_EXISTS);
    EXPECT_EQ(sentCount(), 0u);
    ASSERT_NE(clash->getNode(), nullptr);
    EXPECT_EQ(clash->getNode()->getId(), 13u);

    auto twins = record(ADD_NODES, 0, 11);
    auto first = makeNode(0, FOLDER_NODE, 11, "twin");
    auto second = makeNode(0, FOLDER_NODE, 11, "twin");
    first->setCrypto(2);
    second->setCrypto(1);
    twins->setNodes(std::make_shared<NodeList>(NodeList{first, second}));
    run<AddNodesAction>(twins);
    auto request = onlySent();
    ASSERT_NE(std::dynamic_pointer_cast<AddNodesRequest>(request), nullptr);
    std::unique_ptr<ByteArray> keep;
    const auto* message = test::messageOf<AddNodesMessage>(*request, keep, "ADNM");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->parent(), 11u);
    ASSERT_NE(message->nodes(), nullptr);
    ASSERT_EQ(message->nodes()->size(), 2u);
    const uint8_t accountCrypto = h.onLoop([&] { return h.cloud->getAccountCrypto(); });
    for (const auto* node : *message->nodes()) {
        EXPECT_EQ(node->crypto(), accountCrypto);
        ASSERT_NE(node->childkey(), nullptr);
    }
}

TEST_F(CloudActionTest, CopySendsTheWholeSubtreeInOneAddition) {
    auto data = record(COPY_NODE, 11, 10);
    run<CopyNodeAction>(data);
    auto request = onlySent();
    ASSERT_NE(std::dynamic_pointer_cast<AddNodesRequest>(request), nullptr);
    std::unique_ptr<ByteArray> keep;
    const auto* message = test::messageOf<AddNodesMessage>(*request, keep, "ADNM");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->parent(), 10u);
    ASSERT_NE(message->nodes(), nullptr);
    std::vector<uint64_t> handles;
    for (const auto* node : *message->nodes()) {
        handles.push_back(node->handle());
    }
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(handles, (std::vector<uint64_t>{11, 12, 13, 14}));
    // The file keeps its key: its content is shared, not copied.
    for (const auto* node : *message->nodes()) {
        if (node->handle() == 12) {
            ASSERT_NE(node->childkey(), nullptr);
        }
    }
}

// CREATE_LINK: what it refuses after the lookup, and what the create-link request is given.
TEST_F(CloudActionTest, CreateLinkPublishesOnlyLinkableNodes) {
    // A file whose key the cache does not hold.
    h.call<Cloud::NodePointer>([&](Cloud::MutableNodeCallback done) {
        auto keyless = makeNode(17, FILE_NODE, 10, "keyless", kFs);
        keyless->setKey(static_cast<const Bytes*>(nullptr));
        h.cloud->updateNode(keyless, done, true);
    });
    struct Case {
        const char* name;
        uint64_t node;
        uint64_t number;
        int32_t error;       // -1: the create-link request goes out
        uint64_t published;  // the node handed to the request
        int32_t option;
    };
    const std::vector<Case> cases{
        {"file", 15, 0, -1, 15, FILE_NODE},
        {"inbox", 21, 0, -1, 21, INBOX_NODE},
        {"register root by number", 0, 1, -1, 20, 0},
        {"register root by handle", 20, 0, -1, 20, 0},
        {"shared drive", kDrive, 2, -1, kDrive, 0},
        {"record", 60, 0, WRONG_PARAMETERS, 0, 0},
        {"contact", 41, 0, WRONG_PARAMETERS, 0, 0},
        {"public copy given directly", 16, 0, WRONG_PARAMETERS, 0, 0},
        {"shared drive without number 2", kDrive, 0, WRONG_PARAMETERS, 0, 0},
        {"file with number 2", 15, 2, WRONG_PARAMETERS, 0, 0},
        {"unknown node", 999, 0, NOT_FOUND, 0, 0},
        {"file without key", 17, 0, CRYPTOGRAPHIC_ERROR, 0, 0},
        // The cache holds no shared-folders root to copy the folder under.
        {"folder without shared folders", 11, 0, NOT_FOUND, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = record(CREATE_LINK, c.node);
        data->setNumber(c.number);
        run<CreateLinkAction>(data);
        if (c.error >= 0) {
            EXPECT_EQ(data->getErrorCode(), c.error);
            EXPECT_EQ(sentCount(), 0u);
            continue;
        }
        auto request = std::dynamic_pointer_cast<CreateLinkRequest>(onlySent());
        ASSERT_NE(request, nullptr);
        ASSERT_NE(data->getNode(), nullptr);
        EXPECT_EQ(data->getNode()->getId(), c.published);
        EXPECT_EQ(data->getNodeHandle(), c.published);
        EXPECT_EQ(data->getOption(), c.option);
        if (c.option == FILE_NODE || c.option == INBOX_NODE) {
            ASSERT_NE(data->getKey(), nullptr);
            EXPECT_EQ(*data->getKey(), keyOf(c.published));
        }
    }
}

}  // namespace
}  // namespace corvane
