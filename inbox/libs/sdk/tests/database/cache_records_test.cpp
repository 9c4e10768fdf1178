#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/database.h"
#include "database/filesystem_data.h"
#include "database/mutable_account_info_data.h"
#include "database/mutable_node_data.h"
#include "database/mutable_user_info_data.h"
#include "database/sqlite_database.h"
#include "database_test_util.h"

namespace corvane {
namespace {

using test::BoolResults;
using test::rawExec;
using test::rawQuery;
using test::RecordResults;
using test::TempDir;
using Rows = std::vector<std::vector<std::string>>;

// Builds the typed table the way the cloud model does: table() with a fresh prototype, then a
// record factory that makes a default T.
template <class T>
std::unique_ptr<Database<T>> typedTable(SQLiteDatabase& db) {
    DatabaseImpl* handle = nullptr;
    db.table(T(), [&](DatabaseImpl* result) { handle = result; });
    if (!handle) {
        return nullptr;
    }
    handle->setRecordFactory([]() { return std::make_shared<T>(); });
    return std::make_unique<Database<T>>(db.getLoop(), handle);
}

// The per-account cache with its four tables, no loops: every call completes before it returns.
class CacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        path = dir.file("cache.db");
        BoolResults opened;
        db.open(path,
                {std::make_shared<FilesystemData>(), std::make_shared<MutableNodeData>(),
                 std::make_shared<MutableUserInfoData>(), std::make_shared<MutableAccountInfoData>()},
                opened.callback());
        ASSERT_EQ(opened.values, std::vector<bool>{true});
        filesystems = typedTable<FilesystemData>(db);
        nodes = typedTable<MutableNodeData>(db);
        users = typedTable<MutableUserInfoData>(db);
        accounts = typedTable<MutableAccountInfoData>(db);
        ASSERT_TRUE(filesystems && nodes && users && accounts);
    }

    template <class T>
    void put(Database<T>& table, std::shared_ptr<T> record) {
        BoolResults inserted;
        table.insert(record, inserted.callback());
        ASSERT_EQ(inserted.values, std::vector<bool>{true});
    }

    template <class T>
    std::shared_ptr<T> read(Database<T>& table, uint64_t id) {
        RecordResults<T> got;
        table.get(std::to_string(id), got.callback());
        EXPECT_EQ(got.calls.size(), 1u);
        if (got.calls.size() != 1u) {
            return nullptr;
        }
        EXPECT_TRUE(got.calls[0].second);
        return got.calls[0].first;
    }

    TempDir dir;
    std::string path;
    SQLiteDatabase db{nullptr, nullptr};
    std::unique_ptr<Database<FilesystemData>> filesystems;
    std::unique_ptr<Database<MutableNodeData>> nodes;
    std::unique_ptr<Database<MutableUserInfoData>> users;
    std::unique_ptr<Database<MutableAccountInfoData>> accounts;
};

TEST_F(CacheTest, SchemaIsTheOnDiskFormat) {
    const Rows expected = {
        {"account",
         "CREATE TABLE account (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, ctime INTEGER, tstorage INTEGER, "
         "ustorage INTEGER, rtime INTEGER, period INTEGER, amount INTEGER, discount INTEGER, credit INTEGER, "
         "pmethod INTEGER, plan TEXT, nif TEXT, status INTEGER, referrercode TEXT, balance INTEGER, upgrades "
         "INTEGER, isreseller INTEGER, features INTEGER, crypto INTEGER, accesslevel INTEGER)"},
        {"filesystem",
         "CREATE TABLE filesystem (id INTEGER PRIMARY KEY, type INTEGER, crypto INTEGER, nodekey BLOB, "
         "filesystemkey BLOB, source INTEGER, target INTEGER, permissions INTEGER, ctime INTEGER)"},
        {"nodes",
         "CREATE TABLE nodes (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, key BLOB, metadata BLOB, shash "
         "BLOB, fhash BLOB, size INTEGER, parent INTEGER, filesystem INTEGER, ctime INTEGER, mtime INTEGER, flags "
         "INTEGER, device TEXT, stime INTEGER, cron TEXT, lpath TEXT, status INTEGER, message TEXT, contact TEXT, "
         "subject TEXT, full INTEGER, inbox TEXT, inboxKey BLOB, extranumber INTEGER, extradata BLOB, ftime "
         "INTEGER, nfolders INTEGER, nfiles INTEGER, ntrerror INTEGER, depth INTEGER, crypto INTEGER, external "
         "INTEGER)"},
        {"users",
         "CREATE TABLE users (id INTEGER PRIMARY KEY, ctime INTEGER, email TEXT, firstname TEXT, lastname TEXT, "
         "mfauth INTEGER)"},
    };
    EXPECT_EQ(rawQuery(path, "SELECT name, sql FROM sqlite_master ORDER BY name"), expected);
}

// One node written through its setters: the stored columns and what a read gives back.
struct NodeCase {
    const char* name;
    std::function<void(MutableNodeData&)> fill;
    std::string columns;  // the columns compared, as a SELECT list
    std::vector<std::string> stored;
    std::function<void(const MutableNodeData&)> check;
};

// Failures and test listings show the case by its name rather than its bytes.
void PrintTo(const NodeCase& c, std::ostream* os) {
    *os << c.name;
}

class NodeRowTest : public CacheTest, public ::testing::WithParamInterface<NodeCase> {};

TEST_P(NodeRowTest, RoundTrips) {
    const NodeCase& c = GetParam();
    auto node = std::make_shared<MutableNodeData>();
    node->setId(1000);
    c.fill(*node);
    put(*nodes, node);
    EXPECT_EQ(rawQuery(path, "SELECT " + c.columns + " FROM nodes"), Rows{c.stored});
    std::shared_ptr<MutableNodeData> read = this->read(*nodes, 1000);
    ASSERT_NE(read, nullptr);
    // Every read node carries all four details, whatever the row held for them.
    EXPECT_NE(read->getBackupInfo(), nullptr);
    EXPECT_NE(read->getSnapshotInfo(), nullptr);
    EXPECT_NE(read->getInboxInfo(), nullptr);
    EXPECT_NE(read->getRecordInfo(), nullptr);
    c.check(*read);
}

std::string text(const char* value) {
    return value ? value : "(null)";
}

const uint8_t kBytes25[25] = {1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 2, 0, 9, 9, 9, 9, 9, 9, 9, 9, 3, 0, 7, 7, 7};

INSTANTIATE_TEST_SUITE_P(
    Nodes, NodeRowTest,
    ::testing::Values(NodeCase{"RootWithoutNameGetsItsDefaultName",
                               [](MutableNodeData& n) { n.setType(0); },
                               "id, type, name, subject, parent",
                               {"1000", "0", "Cloud Drive", "Cloud Drive", "0"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(text(n.getOwnName()), "Cloud Drive");
                                   EXPECT_EQ(n.getIdText(), "6AMAAAAA");
                                   EXPECT_EQ(n.getParentText(), "");
                               }},
                      NodeCase{"BackupStatusPacksMaximumSnapshots",
                               [](MutableNodeData& n) {
                                   n.setType(40);
                                   n.setMaxSnapshots(7);
                                   n.setStatus(1);
                                   n.setDevice("laptop");
                                   n.setStartTime(1700000000);
                                   n.setCronExpression("0 3 * * *");
                                   n.setLocalPath("C:\\Users");
                               },
                               "status, device, stime, cron, lpath, ftime, nfolders",
                               {"1793", "laptop", "1700000000", "0 3 * * *", "C:\\Users", "0", "0"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(n.getStatus(), 1);
                                   EXPECT_EQ(n.getStatusFlags(), 7);
                                   EXPECT_FALSE(n.isEnabled());
                                   EXPECT_EQ(text(n.getDevice()), "laptop");
                                   EXPECT_EQ(n.getStartTime(), 1700000000);
                                   EXPECT_EQ(text(n.getCron()), "0 3 * * *");
                                   EXPECT_EQ(text(n.getLocalPath()), "C:\\Users");
                               }},
                      NodeCase{"CryptoAndSharedFlagShareTheFlagsColumn",
                               [](MutableNodeData& n) {
                                   n.setType(21);
                                   n.setCrypto(2);
                                   n.setNodeFlag(true);
                               },
                               "flags, crypto",
                               {"258", "2"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(n.getCrypto(), 2);
                                   EXPECT_TRUE(n.getNodeFlag());
                               }},
                      NodeCase{"MetadataKeepsWholeEntriesOnly",
                               [](MutableNodeData& n) {
                                   n.setType(20);
                                   n.setMetadata(kBytes25, sizeof(kBytes25));
                               },
                               "metadata",
                               {"x'0100010203040506070802000909090909090909'"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(n.getMetadataCount(), 2);
                                   EXPECT_EQ(n.getMetadata(2), 0x0909090909090909u);
                                   EXPECT_FALSE(n.hasMetadata(3));
                               }},
                      NodeCase{"SnapshotDetailsGoToTheSnapshot",
                               [](MutableNodeData& n) {
                                   n.setType(42);
                                   n.setFolderCount(300);
                                   n.setFileCount(uint64_t{1} << 40);
                                   n.setTransferErrorCount(2);
                                   n.setStartTime(10);
                                   n.setFinishTime(20);
                                   n.setStatus(5);
                                   n.setCronExpression("@daily");
                               },
                               "nfolders, nfiles, ntrerror, stime, ftime, status, cron, device",
                               {"300", "1099511627776", "2", "10", "20", "5", "@daily", "NULL"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(n.getFolderCount(), 300u);
                                   EXPECT_EQ(n.getFileCount(), uint64_t{1} << 40);
                                   EXPECT_EQ(n.getTransferErrorCount(), 2u);
                                   EXPECT_EQ(n.getStartTime(), 10);
                                   EXPECT_EQ(n.getFinishTime(), 20);
                                   EXPECT_EQ(n.getStatus(), 5);
                                   EXPECT_EQ(text(n.getCron()), "@daily");
                                   EXPECT_EQ(n.getBackupInfo()->getCron(), nullptr);
                               }},
                      NodeCase{"InboxMessageAndKey",
                               [](MutableNodeData& n) {
                                   n.setType(43);
                                   n.setName("Invoices");
                                   n.setInboxMessage("Send us your invoices");
                                   n.setInboxKey(ByteVector{0xaa, 0xbb});
                               },
                               "name, message, inboxKey, contact, inbox",
                               {"Invoices", "Send us your invoices", "x'aabb'", "NULL", "NULL"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(text(n.getInboxDescription()), "Send us your invoices");
                                   ASSERT_NE(n.getInboxKey(), nullptr);
                                   EXPECT_EQ(*n.getInboxKey(), (ByteVector{0xaa, 0xbb}));
                                   EXPECT_EQ(n.getRecordMessage(), nullptr);
                               }},
                      NodeCase{"RecordStatusComesBackThroughTheExtraNumber",
                               [](MutableNodeData& n) {
                                   n.setType(44);
                                   n.setParent(77);
                                   n.setName("Subject line");
                                   n.setExtraNumber(3);
                                   n.setContactInfo("ana@example.com");
                                   n.setTarget("inbox-link");
                                   n.setRecordMessage("Hello");
                               },
                               "status, extranumber, message, contact, inbox, subject, parent",
                               {"3", "3", "Hello", "ana@example.com", "inbox-link", "Subject line", "77"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(n.getStatus(), 3);
                                   EXPECT_EQ(n.getBackupInfo()->getStatus(), 3);
                                   EXPECT_EQ(text(n.getMessage()), "Hello");
                                   EXPECT_EQ(text(n.getContact()), "ana@example.com");
                                   EXPECT_EQ(text(n.getInbox()), "inbox-link");
                                   EXPECT_EQ(n.getInboxDescription(), nullptr);
                                   EXPECT_EQ(n.getParentText(), "TQAAAAAA");
                                   EXPECT_FALSE(n.isRoot());
                               }},
                      NodeCase{"FileWithoutDetailsStoresNullTextsAndZeros",
                               [](MutableNodeData& n) {
                                   n.setType(20);
                                   n.setSize(12345);
                                   const ByteVector emptyKey;
                                   const ByteVector hash = {1, 2, 3};
                                   n.setKey(&emptyKey);
                                   n.setFullHash(&hash);
                                   n.setDepth(255);
                                   n.setFull(true);
                                   n.setExternal(true);
                               },
                               "name, key, shash, fhash, device, cron, lpath, message, contact, inbox, stime, status, "
                               "nfolders, size, depth, full, external",
                               {"Unknown file name", "x''", "NULL", "x'010203'", "NULL", "NULL", "NULL", "NULL", "NULL",
                                "NULL", "0", "0", "0", "12345", "255", "1", "1"},
                               [](const MutableNodeData& n) {
                                   ASSERT_NE(n.getKey(), nullptr);
                                   EXPECT_TRUE(n.getKey()->empty());
                                   EXPECT_EQ(n.getSparseHash(), nullptr);
                                   EXPECT_EQ(*n.getHash(), (ByteVector{1, 2, 3}));
                                   EXPECT_EQ(n.getDevice(), nullptr);
                                   EXPECT_EQ(n.getSize(), 12345u);
                                   EXPECT_EQ(n.getDepth(), 255);
                                   EXPECT_TRUE(n.isFull());
                                   EXPECT_TRUE(n.isExternal());
                               }},
                      // A message only belongs to inboxes and records: a folder neither writes nor reads one.
                      NodeCase{"MessageOfAnotherTypeIsDropped",
                               [](MutableNodeData& n) {
                                   n.setType(21);
                                   n.setRecordMessage("stray");
                                   n.setInboxMessage("stray");
                               },
                               "message",
                               {"NULL"},
                               [](const MutableNodeData& n) {
                                   EXPECT_EQ(n.getRecordMessage(), nullptr);
                                   EXPECT_EQ(n.getInboxDescription(), nullptr);
                               }}),
    [](const ::testing::TestParamInfo<NodeCase>& info) { return std::string(info.param.name); });

TEST_F(CacheTest, MessageColumnOfAnotherTypeIsIgnoredOnRead) {
    auto folder = std::make_shared<MutableNodeData>();
    folder->setId(5);
    folder->setType(21);
    put(*nodes, folder);
    ASSERT_TRUE(rawExec(path, "UPDATE nodes SET message = 'written elsewhere' WHERE id = 5"));
    auto read = this->read(*nodes, 5);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->getRecordMessage(), nullptr);
    EXPECT_EQ(read->getInboxDescription(), nullptr);
}

// Handles are unsigned 64-bit numbers kept as the same bits in a signed INTEGER: ids of 2^63
// and above must be found by the decimal text the typed table writes.
TEST_F(CacheTest, HandlesOfTwoToTheSixtyThreeAndAboveAreFound) {
    const uint64_t ids[] = {uint64_t{1} << 63, (uint64_t{1} << 63) + 5, std::numeric_limits<uint64_t>::max()};
    const uint64_t parent = (uint64_t{1} << 63) + 7;
    for (uint64_t id : ids) {
        auto node = std::make_shared<MutableNodeData>();
        node->setId(id);
        node->setType(20);
        node->setParent(parent);
        put(*nodes, node);
    }
    EXPECT_EQ(rawQuery(path, "SELECT id FROM nodes ORDER BY id"),
              (Rows{{"-9223372036854775808"}, {"-9223372036854775803"}, {"-1"}}));

    for (uint64_t id : ids) {
        SCOPED_TRACE(id);
        auto read = this->read(*nodes, id);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->getId(), id);
        EXPECT_EQ(read->getParent(), parent);
    }

    RecordResults<MutableNodeData> children;
    nodes->search(MutableNodeData::PARENT, parent, 0, children.callback());
    EXPECT_EQ(children.rows(), 3u);

    BoolResults removed;
    nodes->remove(ids[1], removed.callback());
    EXPECT_EQ(removed.values, std::vector<bool>{true});
    EXPECT_EQ(rawQuery(path, "SELECT id FROM nodes ORDER BY id"), (Rows{{"-9223372036854775808"}, {"-1"}}));
}

TEST_F(CacheTest, SearchByBlobValueMatchesTheExactBytes) {
    const ByteVector hash = {0x00, 0x01, 0xfe};
    for (uint64_t id : {1u, 2u, 3u}) {
        auto node = std::make_shared<MutableNodeData>();
        node->setId(id);
        node->setType(20);
        const ByteVector other = {0x00, 0x01};
        node->setFullHash(id == 2 ? &other : &hash);
        put(*nodes, node);
    }
    RecordResults<MutableNodeData> found;
    nodes->search(MutableNodeData::FHASH, hash, 0, found.callback());
    ASSERT_EQ(found.rows(), 2u);
    EXPECT_EQ(found.calls[0].first->getId(), 1u);
    EXPECT_EQ(found.calls[1].first->getId(), 3u);
    EXPECT_EQ(found.calls.back(), (std::pair<std::shared_ptr<MutableNodeData>, bool>{nullptr, true}));
}

TEST_F(CacheTest, AccountRowKeepsEveryFieldAndEmptyTexts) {
    auto account = std::make_shared<MutableAccountInfoData>();
    account->setId(0x0000112233445566u);
    account->setType(-2);
    account->setName("");  // stored as an empty text, not NULL
    account->setCreationTime(-1);
    account->setStorageTotal(int64_t{1} << 40);
    account->setStorageUsed(123);
    account->setRenewalTime(456);
    account->setPeriod(12);
    account->setAmount(-999);
    account->setDiscount(15);
    account->setCredit(true);
    account->setPaymentMethod(false);
    account->setPlan("Business");
    account->setNif("B12345678");
    account->setStatus(uint64_t{1} << 63);
    account->setReferrerCode(nullptr);
    account->setBalance(-20);
    account->setUpgrades(3);
    account->setReseller(true);
    account->setFeatures(0xffffffffu);
    account->setCrypto(255);
    account->setAccessLevel(4);
    put(*accounts, account);

    EXPECT_EQ(rawQuery(path, "SELECT * FROM account"), (Rows{{"18838586676582",
                                                              "-2",
                                                              "",
                                                              "-1",
                                                              "1099511627776",
                                                              "123",
                                                              "456",
                                                              "12",
                                                              "-999",
                                                              "15",
                                                              "1",
                                                              "0",
                                                              "Business",
                                                              "B12345678",
                                                              "-9223372036854775808",
                                                              "",
                                                              "-20",
                                                              "3",
                                                              "1",
                                                              "4294967295",
                                                              "255",
                                                              "4"}}));
    EXPECT_EQ(rawQuery(path, "SELECT typeof(name), typeof(referrercode) FROM account"), (Rows{{"text", "text"}}));

    auto read = this->read(*accounts, account->getId());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->getId(), account->getId());
    EXPECT_EQ(read->getIdText(), "");  // a read sets the number only
    EXPECT_EQ(read->getType(), -2);
    EXPECT_EQ(read->getName(), "");
    EXPECT_EQ(read->getStorageTotal(), int64_t{1} << 40);
    EXPECT_EQ(read->getAmount(), -999);
    EXPECT_TRUE(read->hasCredit());
    EXPECT_FALSE(read->hasPaymentMethod());
    EXPECT_EQ(read->getPlan(), "Business");
    EXPECT_EQ(read->getNif(), "B12345678");
    EXPECT_EQ(read->getStatus(), uint64_t{1} << 63);
    EXPECT_EQ(read->getBalance(), -20);
    EXPECT_TRUE(read->isReseller());
    EXPECT_EQ(read->getFeatures(), 0xffffffffu);
    EXPECT_EQ(read->getCrypto(), 255);
    EXPECT_EQ(read->getAccessLevel(), 4);
}

TEST_F(CacheTest, AccountNullTextsReadAsEmptyAndNegativeCreditCounts) {
    ASSERT_TRUE(
        rawExec(path, "INSERT INTO account (id, name, plan, credit, isreseller) VALUES (9, NULL, NULL, -3, 7)"));
    auto read = this->read(*accounts, 9);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->getName(), "");
    EXPECT_EQ(read->getPlan(), "");
    EXPECT_TRUE(read->hasCredit());
    EXPECT_TRUE(read->isReseller());
}

TEST_F(CacheTest, UserRow) {
    auto user = std::make_shared<MutableUserInfoData>();
    user->setId(0);
    EXPECT_EQ(user->getIdText(), "AAAAAAAA");  // the user's text encodes 0 too
    user->setCreationTime(1600000000);
    user->setEmail("ana@example.com");
    user->setFirstName("");
    user->setLastName(nullptr);
    user->setMultiFactorAuth(1);
    put(*users, user);
    EXPECT_EQ(rawQuery(path, "SELECT *, typeof(firstname), typeof(lastname) FROM users"),
              (Rows{{"0", "1600000000", "ana@example.com", "", "", "1", "text", "text"}}));

    // Any non-zero multi-factor value reads as 1.
    ASSERT_TRUE(rawExec(path, "UPDATE users SET mfauth = 512 WHERE id = 0"));
    auto read = this->read(*users, 0);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->getIdText(), "");
    EXPECT_EQ(read->getEmail(), "ana@example.com");
    EXPECT_EQ(read->getMultiFactorAuth(), 1);
}

TEST_F(CacheTest, FilesystemRowRebuildsRootAndIndex) {
    const uint64_t id = (uint64_t{0xabcdef} << 15) | 0x1234;
    auto fs = std::make_shared<FilesystemData>();
    fs->setId(id);
    fs->setType(-8);
    fs->setCrypto(2);
    fs->setNodeKey(std::make_unique<ByteVector>(ByteVector{9, 8, 7}));
    fs->setSource(-5);
    fs->setTarget(6);
    fs->setPermissions(-1);
    fs->setCreationTime(99);
    EXPECT_EQ(fs->getRootId(), 0xabcdefu);
    EXPECT_EQ(fs->getIndex(), 0x1234);
    put(*filesystems, fs);
    EXPECT_EQ(rawQuery(path, "SELECT * FROM filesystem"),
              (Rows{{std::to_string(id), "-8", "2", "x'090807'", "NULL", "-5", "6", "-1", "99"}}));

    auto read = this->read(*filesystems, id);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->getRootId(), 0xabcdefu);
    EXPECT_EQ(read->getIndex(), 0x1234);
    EXPECT_EQ(read->getType(), -8);
    EXPECT_EQ(read->getCrypto(), 2);
    ASSERT_NE(read->getNodeKey(), nullptr);
    EXPECT_EQ(*read->getNodeKey(), (ByteVector{9, 8, 7}));
    EXPECT_EQ(read->getFilesystemKey(), nullptr);
    EXPECT_EQ(read->getSource(), -5);
    EXPECT_EQ(read->getPermissions(), -1);
}

TEST_F(CacheTest, ReadingAWholeTable) {
    for (uint64_t id = 1; id <= 3; id++) {
        auto user = std::make_shared<MutableUserInfoData>();
        user->setId(id);
        put(*users, user);
    }
    RecordResults<MutableUserInfoData> all;
    users->search(-1, ByteVector{}, 0, all.callback());
    ASSERT_EQ(all.calls.size(), 4u);
    EXPECT_EQ(all.rows(), 3u);

    BoolResults truncated;
    users->truncate(truncated.callback());
    EXPECT_EQ(truncated.values, std::vector<bool>{true});
    RecordResults<MutableUserInfoData> none;
    users->search(-1, ByteVector{}, 0, none.callback());
    EXPECT_EQ(none.calls, (std::vector<std::pair<std::shared_ptr<MutableUserInfoData>, bool>>{{nullptr, true}}));
}

// A handle whose factory makes records of another class gives the typed receiver null.
TEST_F(CacheTest, RecordOfAnotherClassReachesTheTypedReceiverAsNull) {
    DatabaseImpl* handle = nullptr;
    db.table(MutableUserInfoData(), [&](DatabaseImpl* result) { handle = result; });
    ASSERT_NE(handle, nullptr);
    auto user = std::make_shared<MutableUserInfoData>();
    user->setId(1);
    put(*users, user);
    handle->setRecordFactory([]() { return std::make_shared<MutableAccountInfoData>(); });
    RecordResults<MutableUserInfoData> got;
    users->get("1", got.callback());
    ASSERT_EQ(got.calls.size(), 1u);
    EXPECT_EQ(got.calls[0].first, nullptr);
    EXPECT_TRUE(got.calls[0].second);
}

TEST(MutableNodeDataTest, CopyOfANodeRebuildsBothHandleTexts) {
    NodeData source(1, 21, "Folder", nullptr, nullptr, 0, nullptr, nullptr, 0, 0x0000ffffffffffffu, 0, 0, 0, 0, false,
                    false, 0, nullptr, nullptr, 0, false, Error(), nullptr, nullptr, nullptr, nullptr);
    MutableNodeData copy(source);
    EXPECT_EQ(copy.getId(), 1u);
    EXPECT_EQ(copy.getIdText(), "AQAAAAAA");
    EXPECT_EQ(copy.getParentText(), "________");
    EXPECT_EQ(std::string(copy.getName()), "Folder");

    copy.setId(0);
    EXPECT_EQ(copy.getIdText(), "");
}

}  // namespace
}  // namespace corvane
