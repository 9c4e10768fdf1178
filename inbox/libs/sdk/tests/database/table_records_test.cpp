#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/filesystem_data.h"
#include "database/mutable_account_info_data.h"
#include "database/mutable_billing_info_data.h"
#include "database/mutable_node_data.h"
#include "database/mutable_permission_info_data.h"
#include "database/mutable_session_info_data.h"
#include "database/mutable_transfer_data.h"
#include "database/mutable_user_info_data.h"
#include "database/sqlite_database.h"
#include "database_test_util.h"

namespace corvane {
namespace {

using test::BoolResults;
using test::RecordResults;
using test::TempDir;

struct DescriptionCase {
    const char* name;
    std::function<std::shared_ptr<DatabaseRecord>()> make;
    std::string create;
    std::vector<int32_t> indexes;
};

// Failures and test listings show the case by its name rather than its bytes.
void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << c.name;
}

class RecordDescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};
// Records whose columns map to distinct fields; node columns share fields (name and subject,
// flags and crypto) and have their own cases in NodeRowTest.
class RecordRoundTripTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(RecordDescriptionTest, DescribesItsTable) {
    const DescriptionCase& c = GetParam();
    std::shared_ptr<DatabaseRecord> record = c.make();
    EXPECT_EQ(SQLiteDatabaseImpl::createStatement(*record), c.create);
    EXPECT_EQ(record->getPrimaryKeyColumn(), 0);
    std::vector<int32_t> indexes(record->getIndexColumns(), record->getIndexColumns() + record->getIndexCount());
    EXPECT_EQ(indexes, c.indexes);
    if (c.indexes.empty()) {
        EXPECT_EQ(record->getIndexColumns(), nullptr);
    }
}

// Every column written with a distinct value comes back from a real table as written, and the
// slots of the other types answer nothing.
TEST_P(RecordRoundTripTest, EveryColumnRoundTrips) {
    const DescriptionCase& c = GetParam();
    std::shared_ptr<DatabaseRecord> record = c.make();
    const int32_t count = record->getColumnCount();
    const ColumnType* types = record->getColumnTypes();
    // Small numbers fit every width; text and blob values carry the column index.
    auto numberFor = [](int32_t i) { return int64_t{1}; };
    auto textFor = [](int32_t i) { return "value " + std::to_string(i); };
    auto blobFor = [](int32_t i) { return std::vector<uint8_t>{static_cast<uint8_t>(i), 0, 0xff}; };
    for (int32_t i = 0; i < count; i++) {
        switch (types[i]) {
            case ColumnType::INTEGER:
                record->setNumber(i, numberFor(i));
                break;
            case ColumnType::TEXT:
                record->setText(i, textFor(i).c_str());
                break;
            case ColumnType::BLOB: {
                auto bytes = blobFor(i);
                record->setBlob(i, bytes.data(), static_cast<uint32_t>(bytes.size()));
                break;
            }
        }
    }

    TempDir dir;
    SQLiteDatabase db(nullptr, nullptr);
    BoolResults results;
    db.open(dir.file("records.db"), {record}, results.callback());
    DatabaseImpl* table = nullptr;
    db.table(*record, [&](DatabaseImpl* handle) { table = handle; });
    ASSERT_NE(table, nullptr);
    table->setRecordFactory(c.make);
    table->insert(*record, results.callback());
    RecordResults<DatabaseRecord> got;
    table->get(std::to_string(record->getNumber(0)), got.callback());
    EXPECT_EQ(results.values, (std::vector<bool>{true, true}));
    ASSERT_EQ(got.calls.size(), 1u);
    std::shared_ptr<DatabaseRecord> read = got.calls[0].first;
    ASSERT_NE(read, nullptr);

    for (int32_t i = 0; i < count; i++) {
        SCOPED_TRACE(record->getColumnNames()[i]);
        switch (types[i]) {
            case ColumnType::INTEGER:
                EXPECT_EQ(read->getNumber(i), numberFor(i));
                EXPECT_EQ(read->getText(i), nullptr);
                EXPECT_EQ(read->getBlob(i), nullptr);
                break;
            case ColumnType::TEXT:
                ASSERT_NE(read->getText(i), nullptr);
                EXPECT_EQ(std::string(read->getText(i)), textFor(i));
                EXPECT_EQ(read->getNumber(i), 0);
                break;
            case ColumnType::BLOB: {
                auto bytes = blobFor(i);
                ASSERT_NE(read->getBlob(i), nullptr);
                EXPECT_EQ(std::vector<uint8_t>(read->getBlob(i), read->getBlob(i) + read->getBlobSize(i)), bytes);
                EXPECT_EQ(read->getText(i), nullptr);
                break;
            }
        }
    }
    // Indices outside the table read as nothing and are not written.
    for (int32_t i : {-1, count, count + 5}) {
        read->setNumber(i, 5);
        read->setText(i, "x");
        read->setBlob(i, reinterpret_cast<const uint8_t*>("x"), 1);
        EXPECT_EQ(read->getNumber(i), 0);
        EXPECT_EQ(read->getText(i), nullptr);
        EXPECT_EQ(read->getBlob(i), nullptr);
        EXPECT_EQ(read->getBlobSize(i), 0u);
    }
}

template <class T>
std::function<std::shared_ptr<DatabaseRecord>()> maker() {
    return []() { return std::make_shared<T>(); };
}

std::vector<DescriptionCase> describedTables() {
    return {
        DescriptionCase{"Account",
                        maker<MutableAccountInfoData>(),
                        "CREATE TABLE IF NOT EXISTS account (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, "
                        "ctime INTEGER, tstorage INTEGER, ustorage INTEGER, rtime INTEGER, period INTEGER, amount "
                        "INTEGER, discount INTEGER, credit INTEGER, pmethod INTEGER, plan TEXT, nif TEXT, status "
                        "INTEGER, referrercode TEXT, balance INTEGER, upgrades INTEGER, isreseller INTEGER, features "
                        "INTEGER, crypto INTEGER, accesslevel INTEGER)",
                        {}},
        DescriptionCase{"Users",
                        maker<MutableUserInfoData>(),
                        "CREATE TABLE IF NOT EXISTS users (id INTEGER PRIMARY KEY, ctime INTEGER, email TEXT, "
                        "firstname TEXT, lastname TEXT, mfauth INTEGER)",
                        {2}},
        DescriptionCase{"Filesystem",
                        maker<FilesystemData>(),
                        "CREATE TABLE IF NOT EXISTS filesystem (id INTEGER PRIMARY KEY, type INTEGER, crypto "
                        "INTEGER, nodekey BLOB, filesystemkey BLOB, source INTEGER, target INTEGER, permissions "
                        "INTEGER, ctime INTEGER)",
                        {}},
        DescriptionCase{"Payment",
                        maker<MutablePaymentInfoData>(),
                        "CREATE TABLE IF NOT EXISTS payment (id INTEGER PRIMARY KEY, info TEXT, signature TEXT, "
                        "signatureVersion TEXT, url TEXT)",
                        {}},
        DescriptionCase{"PaymentMethod",
                        maker<MutablePaymentMethodInfoData>(),
                        "CREATE TABLE IF NOT EXISTS paymentMethod (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, "
                        "etime INTEGER, status INTEGER)",
                        {}},
        DescriptionCase{"Invoice",
                        maker<MutableInvoiceInfoData>(),
                        "CREATE TABLE IF NOT EXISTS invoice (id INTEGER PRIMARY KEY, ctime INTEGER, subject TEXT, "
                        "total INTEGER, paid INTEGER)",
                        {}},
        DescriptionCase{"Invoicing",
                        maker<MutableInvoicingInfoData>(),
                        "CREATE TABLE IF NOT EXISTS invoicing (id INTEGER PRIMARY KEY, name TEXT, address TEXT, "
                        "address2 TEXT, nif TEXT, rtime INTEGER, credit INTEGER)",
                        {}},
        DescriptionCase{"Subscription",
                        maker<MutableSubscriptionInfoData>(),
                        "CREATE TABLE IF NOT EXISTS subscription (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, "
                        "period INTEGER, amount INTEGER, discount INTEGER, storage INTEGER, features INTEGER)",
                        {}},
        DescriptionCase{"BalanceInfo",
                        maker<MutableBalanceInfoData>(),
                        "CREATE TABLE IF NOT EXISTS balanceInfo (id INTEGER PRIMARY KEY, ctime INTEGER, type "
                        "INTEGER, subject TEXT, amount INTEGER)",
                        {}},
        DescriptionCase{"BalancesInfo",
                        maker<MutableBalancesInfoData>(),
                        "CREATE TABLE IF NOT EXISTS balancesInfo (total INTEGER PRIMARY KEY)",
                        {}},
        DescriptionCase{"Session",
                        maker<MutableSessionInfoData>(),
                        "CREATE TABLE IF NOT EXISTS session (id INTEGER PRIMARY KEY, handle TEXT, ctime INTEGER, "
                        "ltime INTEGER, ip TEXT, userAgent TEXT, active INTEGER)",
                        {}},
        DescriptionCase{"Transfer",
                        maker<MutableTransferData>(),
                        "CREATE TABLE IF NOT EXISTS transfer (tag INTEGER PRIMARY KEY, type INTEGER, status "
                        "INTEGER, nodeType INTEGER, priority INTEGER, file TEXT, nodeId INTEGER, size INTEGER, "
                        "session TEXT)",
                        {}},
        DescriptionCase{"Coupon",
                        maker<MutableCouponInfoData>(),
                        "CREATE TABLE IF NOT EXISTS Coupon (id INTEGER PRIMARY KEY, code TEXT, type INTEGER, email "
                        "TEXT, ctime INTEGER, utime INTEGER)",
                        {}},
        DescriptionCase{"Permission",
                        maker<MutablePermissionInfoData>(),
                        "CREATE TABLE IF NOT EXISTS Permission (id INTEGER PRIMARY KEY, name TEXT, ctime INTEGER, "
                        "accesslevel INTEGER)",
                        {}},
        DescriptionCase{"Nodes",
                        maker<MutableNodeData>(),
                        "CREATE TABLE IF NOT EXISTS nodes (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, key "
                        "BLOB, metadata BLOB, shash BLOB, fhash BLOB, size INTEGER, parent INTEGER, filesystem "
                        "INTEGER, ctime INTEGER, mtime INTEGER, flags INTEGER, device TEXT, stime INTEGER, cron "
                        "TEXT, lpath TEXT, status INTEGER, message TEXT, contact TEXT, subject TEXT, full INTEGER, "
                        "inbox TEXT, inboxKey BLOB, extranumber INTEGER, extradata BLOB, ftime INTEGER, nfolders "
                        "INTEGER, nfiles INTEGER, ntrerror INTEGER, depth INTEGER, crypto INTEGER, external "
                        "INTEGER)",
                        {8, 5, 6}},
    };
}

std::vector<DescriptionCase> tablesWithDistinctFields() {
    std::vector<DescriptionCase> cases;
    for (DescriptionCase& c : describedTables()) {
        if (std::string(c.name) != "Nodes") {
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<DescriptionCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Tables, RecordDescriptionTest, ::testing::ValuesIn(describedTables()), caseName);
INSTANTIATE_TEST_SUITE_P(Tables, RecordRoundTripTest, ::testing::ValuesIn(tablesWithDistinctFields()), caseName);

TEST(TableRecordTest, StringFieldsAreNeverNullAndOptionalTextsAre) {
    MutableSessionInfoData session;
    EXPECT_STREQ(session.getText(1), "");  // handle
    session.setText(4, nullptr);           // ip
    EXPECT_STREQ(session.getText(4), "");

    MutableTransferData transfer;
    EXPECT_EQ(transfer.getText(5), nullptr);  // file
    transfer.setText(5, "C:\\file.txt");
    EXPECT_STREQ(transfer.getFile(), "C:\\file.txt");
    transfer.setText(5, nullptr);
    EXPECT_EQ(transfer.getFile(), nullptr);
}

template <class Record>
std::string idText(uint64_t id) {
    Record record;
    record.setId(id);
    return record.getIdText();
}

TEST(TableRecordTest, HandleTexts) {
    struct Case {
        const char* name;
        std::function<std::string(uint64_t)> text;
        uint64_t id;
        std::string expected;
    };
    const auto node = idText<MutableNodeData>;
    const auto account = idText<MutableAccountInfoData>;
    const auto permission = idText<MutablePermissionInfoData>;
    const auto user = idText<MutableUserInfoData>;
    auto session = [](uint64_t id) {
        MutableSessionInfoData s;
        s.setId(id);
        return s.getHandle();
    };
    // Six low-order bytes, little-endian, Base64URL without padding; sessions use all eight.
    const std::vector<Case> cases = {
        {"node zero", node, 0, ""},
        {"node", node, 0x0000060504030201u, "AQIDBAUG"},
        {"node high bytes dropped", node, 0xffff060504030201u, "AQIDBAUG"},
        {"account zero", account, 0, ""},
        {"permission", permission, 0x0000fbfffeff0000u, "AAD__v_7"},
        {"user zero", user, 0, "AAAAAAAA"},
        {"session zero", session, 0, "AAAAAAAAAAA"},
        {"session", session, 0x0807060504030201u, "AQIDBAUGBwg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.text(c.id), c.expected) << c.name;
    }
}

TEST(MutableTransferDataTest, DefaultsRetriesAndErrors) {
    MutableTransferData transfer;
    EXPECT_EQ(transfer.getStatus(), 1);
    EXPECT_EQ(transfer.getNodeType(), 20);
    EXPECT_EQ(transfer.getError().getCode(), 0);
    EXPECT_EQ(transfer.getFullHash(), nullptr);
    EXPECT_EQ(transfer.getProcessor(), nullptr);

    for (int32_t status : {2, 3, 2, 4, 2}) {
        transfer.setStatus(status);
    }
    EXPECT_EQ(transfer.getRetryCount(), 3);
    EXPECT_TRUE(transfer.isRetrying());

    transfer.setError(Error(CANCELLED));
    EXPECT_STREQ(transfer.getErrorString(), "Cancelled");
    transfer.setError(Error(22));
    EXPECT_STREQ(transfer.getErrorString(), "INVALID");

    transfer.setTransferred(100);
    transfer.setTransferred(250);
    EXPECT_EQ(transfer.getPreviousTransferred(), 100u);
    EXPECT_EQ(transfer.getTransferred(), 250u);

    transfer.setUploadToken(nullptr, 0);
    ASSERT_NE(transfer.getUploadToken(), nullptr);
    EXPECT_TRUE(transfer.getUploadToken()->empty());

    TransferChunk& chunk = transfer.getChunk(1 << 20);
    chunk.bytesWritten = 7;
    EXPECT_EQ(transfer.getChunk(1 << 20).bytesWritten, 7);
    EXPECT_EQ(transfer.getChunk(1 << 20).offset, 1u << 20);
}

}  // namespace
}  // namespace corvane
