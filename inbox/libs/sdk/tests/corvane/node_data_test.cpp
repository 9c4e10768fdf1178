#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "corvane/node_data.h"
#include "util/deployment.h"

namespace corvane {
namespace {

// Reaches the protected fields the way the writable record does.
class TestNode : public NodeData {
public:
    explicit TestNode(int32_t type = -1) { type_ = type; }

    void setName(const char* name) {
        delete[] name_;
        name_ = nullptr;
        if (name != nullptr) {
            name_ = new char[std::strlen(name) + 1];
            std::strcpy(name_, name);
        }
    }
    void setParent(uint64_t parent) { parent_ = parent; }
    void setExtraNumber(uint64_t value) { extraNumber_ = value; }
    void setExtraData(std::vector<uint8_t> data) { extraData_ = std::make_unique<ByteVector>(std::move(data)); }
    void setKey(std::vector<uint8_t> key) { key_ = std::make_unique<ByteVector>(std::move(key)); }
    void setMetadata(const std::vector<uint8_t>& bytes) {
        delete[] metadata_;
        metadata_ = new uint8_t[bytes.size()];
        std::memcpy(metadata_, bytes.data(), bytes.size());
        metadataCount_ = static_cast<uint8_t>(bytes.size() / kMetadataEntrySize);
    }
    BackupInfo& backup() {
        if (!backupInfo_) backupInfo_ = std::make_unique<BackupInfo>();
        return *backupInfo_;
    }
    SnapshotInfo& snapshot() {
        if (!snapshotInfo_) snapshotInfo_ = std::make_unique<SnapshotInfo>();
        return *snapshotInfo_;
    }
    InboxInfo& inbox() {
        if (!inboxInfo_) inboxInfo_ = std::make_unique<InboxInfo>();
        return *inboxInfo_;
    }
    RecordInfo& record() {
        if (!recordInfo_) recordInfo_ = std::make_unique<RecordInfo>();
        return *recordInfo_;
    }
};

// 10-byte entry: kind, an unused byte, the handle little-endian.
std::vector<uint8_t> metadataEntry(uint8_t kind, uint64_t handle) {
    std::vector<uint8_t> entry = {kind, 0xEE};
    for (int i = 0; i < 8; ++i) {
        entry.push_back(static_cast<uint8_t>(handle >> (8 * i)));
    }
    return entry;
}

TEST(NodeDataTest, NewNodeDefaults) {
    NodeData node;
    EXPECT_EQ(node.getType(), -1);
    EXPECT_EQ(node.getId(), 0u);
    EXPECT_EQ(node.getIdText(), "");
    EXPECT_EQ(node.getOwnName(), nullptr);
    EXPECT_EQ(node.getKey(), nullptr);
    EXPECT_EQ(node.getHash(), nullptr);
    EXPECT_EQ(node.getKeyText(), "");
    EXPECT_EQ(node.getError().getCode(), 0);
}

struct NameCase {
    int32_t type;
    const char* name;
    const char* expected;
};

TEST(NodeDataTest, DefaultNamesByType) {
    const std::vector<NameCase> cases = {
        {0, nullptr, "Cloud Drive"},
        {1, nullptr, "Backups"},
        {2, nullptr, "Recycle Bin"},
        {3, nullptr, "Electronic Register"},
        {4, nullptr, "Shared Folders"},
        {5, nullptr, "Invalid name"},
        {7, nullptr, "Contacts"},
        {20, nullptr, "Unknown file name"},
        {21, nullptr, "Unknown folder name"},
        {43, nullptr, "Invalid name"},
        {-1, nullptr, "Invalid name"},
        {2, "My bin", "My bin"},
        {20, "report.pdf", "report.pdf"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type);
        TestNode node(c.type);
        node.setName(c.name);
        EXPECT_STREQ(node.getName(), c.expected);
        EXPECT_STREQ(node.getSubject(), c.expected);
        EXPECT_EQ(node.getNameString(), c.expected);
    }
}

struct RootCase {
    int32_t type;
    uint64_t parent;
    bool root;
    bool filesystemRoot;
};

TEST(NodeDataTest, RootTests) {
    const std::vector<RootCase> cases = {
        {0, 0, true, false},   {6, 0, true, true},   {8, 5, true, true},    {9, 0, false, false},
        {20, 0, false, false}, {21, 0, true, false}, {21, 7, false, false}, {44, 0, true, false},
        {44, 7, false, false}, {45, 0, true, false}, {45, 7, false, false}, {43, 0, false, false},
    };
    for (const RootCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " parent " << c.parent);
        TestNode node(c.type);
        node.setParent(c.parent);
        EXPECT_EQ(node.isRoot(), c.root);
        EXPECT_EQ(node.isFilesystemRoot(), c.filesystemRoot);
        EXPECT_EQ(node.isFile(), c.type == 20);
        EXPECT_EQ(node.isContainer(), c.type != 20);
    }
}

TEST(NodeDataTest, MetadataEntries) {
    TestNode node(20);
    std::vector<uint8_t> bytes = metadataEntry(1, 0x1122334455667788ull);
    std::vector<uint8_t> second = metadataEntry(2, 42);
    bytes.insert(bytes.end(), second.begin(), second.end());
    std::vector<uint8_t> third = metadataEntry(1, 99);
    bytes.insert(bytes.end(), third.begin(), third.begin() + 5);  // 25 bytes: 2 whole entries
    node.setMetadata(bytes);

    EXPECT_EQ(node.getMetadataCount(), 2);
    EXPECT_EQ(node.getMetadata(1), 0x1122334455667788ull);  // the first entry of the kind
    EXPECT_EQ(node.getMetadata(2), 42u);
    EXPECT_TRUE(node.hasMetadata(2));
    EXPECT_FALSE(node.hasMetadata(3));
    EXPECT_EQ(node.getMetadata(3), 0u);
    EXPECT_FALSE(NodeData().hasMetadata(0));
}

TEST(NodeDataTest, FirstEntryOfAKindWins) {
    TestNode node(20);
    std::vector<uint8_t> bytes = metadataEntry(2, 7);
    std::vector<uint8_t> again = metadataEntry(2, 8);
    bytes.insert(bytes.end(), again.begin(), again.end());
    node.setMetadata(bytes);
    EXPECT_EQ(node.getMetadata(2), 7u);
}

TEST(NodeDataTest, StatusByType) {
    TestNode record(44);
    record.setExtraNumber(3);
    record.backup().setStatus(9);
    EXPECT_EQ(record.getStatus(), 3);
    EXPECT_FALSE(record.isEnabled());
    EXPECT_FALSE(record.isPending());

    TestNode bareBackup(40);
    EXPECT_EQ(bareBackup.getStatus(), 0);
    EXPECT_TRUE(bareBackup.isEnabled());
    EXPECT_FALSE(bareBackup.isPending());

    TestNode backup(40);
    backup.backup().setStatus(2);
    backup.backup().setMaxSnapshots(7);
    backup.snapshot().setStatus(1);
    EXPECT_EQ(backup.getStatus(), 2);
    EXPECT_TRUE(backup.isPending());
    EXPECT_EQ(backup.getStatusFlags(), 7);

    TestNode snapshot(42);
    snapshot.snapshot().setStatus(1);
    snapshot.backup().setStatus(2);
    EXPECT_EQ(snapshot.getStatus(), 1);
    EXPECT_FALSE(snapshot.isEnabled());
}

TEST(NodeDataTest, ScheduleFieldsComeFromTheDetailOfTheType) {
    TestNode snapshot(42);
    snapshot.snapshot().setCron("0 3 * * *");
    snapshot.snapshot().setLocalPath("/snap");
    snapshot.snapshot().setStartTime(11);
    snapshot.snapshot().setFinishTime(12);
    snapshot.snapshot().setFolderCount(300);
    snapshot.backup().setCron("backup cron");
    EXPECT_STREQ(snapshot.getCron(), "0 3 * * *");
    EXPECT_STREQ(snapshot.getLocalPath(), "/snap");
    EXPECT_EQ(snapshot.getStartTime(), 11);
    EXPECT_EQ(snapshot.getFinishTime(), 12);
    EXPECT_EQ(snapshot.getFolderCount(), 300u);

    TestNode backup(41);
    backup.backup().setCron("*/5 * * * *");
    backup.backup().setDevice("laptop");
    backup.snapshot().setCron("snapshot cron");
    EXPECT_STREQ(backup.getCron(), "*/5 * * * *");
    EXPECT_STREQ(backup.getDevice(), "laptop");
    EXPECT_EQ(backup.getLocalPath(), nullptr);

    TestNode bare(41);
    EXPECT_EQ(bare.getCron(), nullptr);
    EXPECT_EQ(bare.getDevice(), nullptr);
    EXPECT_EQ(bare.getFileCount(), 0u);
}

TEST(NodeDataTest, MessagesOfInboxesAndRecords) {
    TestNode inbox(43);
    inbox.inbox().setMessage("drop here");
    inbox.record().setMessage("not this");
    EXPECT_STREQ(inbox.getMessage(), "drop here");
    EXPECT_STREQ(inbox.getInboxDescription(), "drop here");

    TestNode record(44);
    record.record().setMessage("hello");
    record.record().setContact("ana@example.com");
    record.record().setInbox("target");
    EXPECT_STREQ(record.getMessage(), "hello");
    EXPECT_STREQ(record.getContact(), "ana@example.com");
    EXPECT_STREQ(record.getInbox(), "target");

    TestNode folder(21);
    folder.inbox().setMessage("ignored");
    EXPECT_EQ(folder.getMessage(), nullptr);
}

TEST(NodeDataTest, ContactHandleOnlyForContacts) {
    TestNode contact(46);
    contact.setExtraNumber(77);
    EXPECT_EQ(contact.getContactHandle(), 77u);
    TestNode record(44);
    record.setExtraNumber(77);
    EXPECT_EQ(record.getContactHandle(), 0u);
}

class InboxLinkTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = getDeployment();
        Deployment deployment = saved_;
        deployment.webAddress = "https://web.example.test";
        setDeployment(deployment);
    }
    void TearDown() override { setDeployment(saved_); }

    Deployment saved_;
};

TEST_F(InboxLinkTest, OutboxLinkWithAndWithoutKey) {
    TestNode outbox(47);
    outbox.setExtraData({0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(outbox.getInboxLinkString(), "https://web.example.test/inbox/AQAAAAAA");

    outbox.inbox().setInboxKey(nullptr, 0);
    EXPECT_EQ(outbox.getInboxLinkString(), "https://web.example.test/inbox/AQAAAAAA");
    const std::vector<uint8_t> emptyKey;
    outbox.inbox().setInboxKey(&emptyKey);
    EXPECT_EQ(outbox.getInboxLinkString(), "https://web.example.test/inbox/AQAAAAAA");

    const uint8_t key[] = {0xFB, 0xFF};
    outbox.inbox().setInboxKey(key, sizeof(key));
    EXPECT_EQ(outbox.getInboxLinkString(), "https://web.example.test/inbox/AQAAAAAA#-_8");
    std::unique_ptr<char[]> link = outbox.getInboxLink();
    ASSERT_NE(link, nullptr);
    EXPECT_STREQ(link.get(), "https://web.example.test/inbox/AQAAAAAA#-_8");
}

TEST_F(InboxLinkTest, NoLinkForOtherNodesOrWithoutExtraData) {
    TestNode inbox(43);
    inbox.setExtraData({1, 2, 3});
    EXPECT_EQ(inbox.getInboxLink(), nullptr);
    EXPECT_EQ(inbox.getInboxLinkString(), "");

    TestNode outbox(47);
    EXPECT_EQ(outbox.getInboxLink(), nullptr);
}

TEST(NodeDataTest, KeyTextAndHashChoice) {
    TestNode node(20);
    node.setKey(std::vector<uint8_t>(32, 0));
    EXPECT_EQ(node.getKeyText(), std::string(43, 'A'));
}

TEST(NodeDataTest, FullConstructorAndCopiesAreDeep) {
    std::vector<uint8_t> key = {1, 2, 3};
    std::vector<uint8_t> sparse = {4};
    std::vector<uint8_t> full = {5};
    std::vector<uint8_t> extra = {6, 7};
    std::vector<uint8_t> metadata = metadataEntry(1, 500);
    char name[] = "photo.jpg";
    BackupInfo backup;
    backup.setDevice("desk");
    backup.setMaxSnapshots(4);
    SnapshotInfo snapshot;
    snapshot.setFileCount(9);
    InboxInfo inbox;
    inbox.setMessage("inbox message");
    RecordInfo record;
    record.setContact("someone");

    auto node = std::make_unique<NodeData>(1, 20, name, &key, metadata.data(), 1, &sparse, &full, 1234, 0x10000, 3, 100,
                                           200, 2, true, true, 8, &extra, nullptr, 4, true, Error(16), &backup,
                                           &snapshot, &inbox, &record);
    // The sources change or go away; the node keeps its own copies.
    name[0] = 'X';
    key[0] = 0xAA;
    metadata[0] = 9;
    backup.setDevice("changed");
    record.setContact(nullptr);

    EXPECT_EQ(node->getIdText(), "AQAAAAAA");
    EXPECT_EQ(node->getParentText(), "AAABAAAA");
    EXPECT_STREQ(node->getName(), "photo.jpg");
    EXPECT_EQ(*node->getKey(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(*node->getHash(), sparse);
    EXPECT_EQ(node->getMetadata(1), 500u);
    EXPECT_STREQ(node->getDevice(), "desk");
    EXPECT_EQ(node->getStatusFlags(), 4);
    EXPECT_EQ(node->getFileCount(), 9u);
    EXPECT_STREQ(node->getContact(), "someone");
    EXPECT_EQ(node->getError().getCode(), 16);
    EXPECT_TRUE(node->getNodeFlag());
    EXPECT_TRUE(node->isFull());
    EXPECT_TRUE(node->isExternal());
    EXPECT_EQ(node->getPublicHandle(), nullptr);

    NodeData copy(*node);
    NodeData assigned;
    assigned = *node;
    node.reset();
    for (const NodeData* n : {&copy, &assigned}) {
        EXPECT_STREQ(n->getName(), "photo.jpg");
        EXPECT_EQ(*n->getKey(), (std::vector<uint8_t>{1, 2, 3}));
        EXPECT_EQ(n->getMetadata(1), 500u);
        EXPECT_STREQ(n->getDevice(), "desk");
        EXPECT_STREQ(n->getInboxDescription(), "inbox message");
        EXPECT_EQ(n->getIdText(), "AQAAAAAA");
        EXPECT_EQ(n->getSize(), 1234u);
    }
}

TEST(NodeDataTest, SelfAssignmentKeepsTheNode) {
    TestNode node(20);
    node.setName("keep");
    NodeData& same = node;
    same = node;
    EXPECT_STREQ(node.getName(), "keep");
}

}  // namespace
}  // namespace corvane
