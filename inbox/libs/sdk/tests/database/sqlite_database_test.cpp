#include "database/sqlite_database.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/database.h"
#include "database_test_util.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::BoolResults;
using test::LogCapture;
using test::rawExec;
using test::rawQuery;
using test::RecordResults;
using test::TempDir;

// A small record of four columns, one of each kind plus a narrow integer.
class ItemRecord : public DatabaseRecord {
public:
    uint64_t id = 0;
    std::optional<std::string> label;
    std::optional<std::vector<uint8_t>> data;
    int32_t count = 0;

    const char* getTableName() const override { return "items"; }
    int32_t getColumnCount() const override { return 4; }
    int32_t getPrimaryKeyColumn() const override { return 0; }
    const char* const* getColumnNames() const override {
        static const char* const kNames[] = {"id", "label", "data", "count"};
        return kNames;
    }
    const ColumnType* getColumnTypes() const override {
        static const ColumnType kTypes[] = {ColumnType::INTEGER, ColumnType::TEXT, ColumnType::BLOB,
                                            ColumnType::INTEGER};
        return kTypes;
    }
    int32_t getIndexCount() const override { return 1; }
    const int32_t* getIndexColumns() const override {
        static const int32_t kIndexes[] = {1};
        return kIndexes;
    }
    int64_t getNumber(int32_t column) const override {
        return column == 0 ? static_cast<int64_t>(id) : column == 3 ? count : 0;
    }
    void setNumber(int32_t column, int64_t value) override {
        if (column == 0) {
            id = static_cast<uint64_t>(value);
        } else if (column == 3) {
            count = static_cast<int32_t>(value);
        }
    }
    const char* getText(int32_t column) const override { return column == 1 && label ? label->c_str() : nullptr; }
    void setText(int32_t column, const char* value) override {
        if (column == 1) {
            label = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    const uint8_t* getBlob(int32_t column) const override {
        static const uint8_t kEmpty = 0;
        if (column != 2 || !data) {
            return nullptr;
        }
        return data->empty() ? &kEmpty : data->data();
    }
    uint32_t getBlobSize(int32_t column) const override {
        return column == 2 && data ? static_cast<uint32_t>(data->size()) : 0;
    }
    void setBlob(int32_t column, const uint8_t* bytes, uint32_t size) override {
        if (column == 2) {
            data =
                bytes ? std::optional<std::vector<uint8_t>>(std::vector<uint8_t>(bytes, bytes + size)) : std::nullopt;
        }
    }
};

// A table the database is never opened with.
class OtherRecord : public ItemRecord {
public:
    const char* getTableName() const override { return "others"; }
};

// A table name SQLite cannot parse.
class BadRecord : public ItemRecord {
public:
    const char* getTableName() const override { return "select"; }
};

std::shared_ptr<ItemRecord> item(uint64_t id, int32_t count = 0) {
    auto record = std::make_shared<ItemRecord>();
    record->id = id;
    record->count = count;
    return record;
}

// No loops: every operation and its completion run before the call returns.
class SQLiteDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        path = dir.file("cache.db");
    }

    void openItems() {
        BoolResults opened;
        db.open(path, {std::make_shared<ItemRecord>()}, opened.callback());
        ASSERT_EQ(opened.values, std::vector<bool>{true});
        db.table(ItemRecord(), [this](DatabaseImpl* handle) { table = handle; });
        ASSERT_NE(table, nullptr);
        table->setRecordFactory([]() { return std::make_shared<ItemRecord>(); });
    }

    void put(const std::shared_ptr<ItemRecord>& record) {
        BoolResults inserted;
        table->insert(*record, inserted.callback());
        ASSERT_EQ(inserted.values, std::vector<bool>{true});
    }

    TempDir dir;
    std::string path;
    SQLiteDatabase db{nullptr, nullptr};
    DatabaseImpl* table = nullptr;
};

TEST_F(SQLiteDatabaseTest, CreatesTablesFromTheDescriptionAndLogsTheStatements) {
    LogCapture log;
    openItems();
    const std::string prefix = "[db][" + path + "][items] ";
    EXPECT_TRUE(log.contains("[db][" + path +
                             "] Create table statement: CREATE TABLE IF NOT EXISTS items "
                             "(id INTEGER PRIMARY KEY, label TEXT, data BLOB, count INTEGER)"));
    EXPECT_TRUE(log.contains(prefix + "Insert statement: INSERT OR REPLACE INTO items (id, label, data, count) "
                                      "VALUES (?, ?, ?, ?)"));
    EXPECT_TRUE(log.contains(prefix + "Select statement: SELECT * FROM items WHERE id = ?"));
    EXPECT_TRUE(log.contains(prefix + "Delete statement: DELETE FROM items WHERE id = ?"));
    EXPECT_TRUE(log.contains(prefix + "Truncate statement: DELETE FROM items"));
    EXPECT_TRUE(log.contains(prefix + "Search statement: SELECT * FROM items"));
    EXPECT_TRUE(log.contains("[db][" + path + "] Database ready"));
    // The declared index column creates nothing.
    EXPECT_TRUE(rawQuery(path, "SELECT name FROM sqlite_master WHERE type = 'index'").empty());
}

struct RoundTripCase {
    const char* name;
    std::optional<std::string> label;
    std::optional<std::vector<uint8_t>> data;
    const char* storedLabel;  // as rawQuery shows it
    const char* storedData;
};

// Failures and test listings show the case by its name rather than its bytes.
void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

class SQLiteRoundTripTest : public SQLiteDatabaseTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(SQLiteRoundTripTest, StoresNullEmptyAndValuesApart) {
    const RoundTripCase& c = GetParam();
    openItems();
    auto record = item(7, -3);
    record->label = c.label;
    record->data = c.data;
    put(record);

    auto stored = rawQuery(path, "SELECT label, data, count FROM items");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0], (std::vector<std::string>{c.storedLabel, c.storedData, "-3"}));

    RecordResults<DatabaseRecord> got;
    table->get("7", got.callback());
    ASSERT_EQ(got.calls.size(), 1u);
    EXPECT_TRUE(got.calls[0].second);
    auto read = std::dynamic_pointer_cast<ItemRecord>(got.calls[0].first);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->id, 7u);
    EXPECT_EQ(read->count, -3);
    EXPECT_EQ(read->label, c.label);
    EXPECT_EQ(read->data, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, SQLiteRoundTripTest,
    ::testing::Values(RoundTripCase{"NullTextAndBlob", std::nullopt, std::nullopt, "NULL", "NULL"},
                      RoundTripCase{"EmptyTextAndBlob", std::string(), std::vector<uint8_t>(), "", "x''"},
                      RoundTripCase{"TextAndBytesWithZero", std::string("caf\xc3\xa9"),
                                    std::vector<uint8_t>{0x00, 0xff, 0x10}, "caf\xc3\xa9", "x'00ff10'"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

TEST_F(SQLiteDatabaseTest, InsertWithAnExistingKeyReplacesTheWholeRow) {
    openItems();
    auto first = item(5, 9);
    first->label = "first";
    first->data = std::vector<uint8_t>{1, 2};
    put(first);
    put(item(5));  // label and data unset
    EXPECT_EQ(rawQuery(path, "SELECT id, label, data, count FROM items"),
              (std::vector<std::vector<std::string>>{{"5", "NULL", "NULL", "0"}}));
}

TEST_F(SQLiteDatabaseTest, MissingKeysAreNotErrors) {
    openItems();
    put(item(1));
    LogCapture log;

    RecordResults<DatabaseRecord> got;
    table->get("2", got.callback());
    ASSERT_EQ(got.calls.size(), 1u);
    EXPECT_EQ(got.calls[0].first, nullptr);
    EXPECT_TRUE(got.calls[0].second);
    EXPECT_TRUE(log.contains("[db][" + path + "][items] Database record not found"));

    BoolResults removed;
    table->remove("2", removed.callback());
    table->remove("1", removed.callback());
    EXPECT_EQ(removed.values, (std::vector<bool>{true, true}));
    EXPECT_TRUE(rawQuery(path, "SELECT id FROM items").empty());
}

TEST_F(SQLiteDatabaseTest, KeysThatAreNotNumbersFail) {
    openItems();
    put(item(1));
    for (const std::string key : {"", "abc", "1x", "18446744073709551616", "-9223372036854775809"}) {
        SCOPED_TRACE(key);
        LogCapture log;
        RecordResults<DatabaseRecord> got;
        table->get(key, got.callback());
        ASSERT_EQ(got.calls.size(), 1u);
        EXPECT_EQ(got.calls[0].first, nullptr);
        EXPECT_FALSE(got.calls[0].second);
        EXPECT_TRUE(log.contains("Error binding key to select statement"));

        BoolResults removed;
        table->remove(key, removed.callback());
        EXPECT_EQ(removed.values, std::vector<bool>{false});
        EXPECT_TRUE(log.contains("[db][" + path + "][items] Error binding value (" + key +
                                 ") to parameter (0:id) in delete statement: datatype mismatch (20)"));
    }
    EXPECT_EQ(rawQuery(path, "SELECT id FROM items").size(), 1u);
}

struct SearchCase {
    const char* name;
    int32_t column;
    std::string value;
    uint32_t limit;
    std::vector<uint64_t> ids;  // rows delivered, in order
    bool finalCall;             // whether (null, true) follows them
};

void PrintTo(const SearchCase& c, std::ostream* os) {
    *os << c.name;
}

class SQLiteSearchTest : public SQLiteDatabaseTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SQLiteSearchTest, DeliversRowsThenAFinalCallUnlessTheLimitEndsIt) {
    const SearchCase& c = GetParam();
    openItems();
    // Five rows with count 7, one with count 9, one labelled "x".
    for (uint64_t id = 1; id <= 5; id++) {
        put(item(id, 7));
    }
    put(item(6, 9));
    auto labelled = item(7, 1);
    labelled->label = "x";
    put(labelled);

    RecordResults<DatabaseRecord> found;
    table->search(c.column, c.value, c.limit, found.callback());
    std::vector<uint64_t> ids;
    for (size_t i = 0; i < found.rows(); i++) {
        EXPECT_TRUE(found.calls[i].second);
        ids.push_back(std::dynamic_pointer_cast<ItemRecord>(found.calls[i].first)->id);
    }
    EXPECT_EQ(ids, c.ids);
    ASSERT_EQ(found.calls.size(), c.ids.size() + (c.finalCall ? 1 : 0));
    if (c.finalCall) {
        EXPECT_EQ(found.calls.back().first, nullptr);
        EXPECT_TRUE(found.calls.back().second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SQLiteSearchTest,
    ::testing::Values(SearchCase{"WholeTable", -1, "", 0, {1, 2, 3, 4, 5, 6, 7}, true},
                      SearchCase{"ByIntegerColumn", 3, "7", 0, {1, 2, 3, 4, 5}, true},
                      SearchCase{"ByTextColumn", 1, "x", 0, {7}, true},
                      SearchCase{"NoMatchGivesOnlyTheFinalCall", 3, "8", 0, {}, true},
                      SearchCase{"LimitReachedHasNoFinalCall", 3, "7", 2, {1, 2}, false},
                      SearchCase{"LimitEqualToTheMatchesHasNoFinalCall", 3, "7", 5, {1, 2, 3, 4, 5}, false},
                      SearchCase{"LimitNotReachedHasAFinalCall", 3, "9", 2, {6}, true},
                      SearchCase{"WholeTableWithLimit", -1, "", 3, {1, 2, 3}, false}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST_F(SQLiteDatabaseTest, SearchFailuresGiveOneFalseCall) {
    openItems();
    put(item(1, 7));
    struct Case {
        int32_t column;
        const char* value;
        const char* logged;
    };
    for (const Case& c : {Case{3, "seven", "Error binding key to search statement: datatype mismatch (20)"},
                          Case{4, "1", "Error preparing search statement"}}) {
        SCOPED_TRACE(c.logged);
        LogCapture log;
        RecordResults<DatabaseRecord> found;
        table->search(c.column, c.value, 0, found.callback());
        ASSERT_EQ(found.calls.size(), 1u);
        EXPECT_EQ(found.calls[0].first, nullptr);
        EXPECT_FALSE(found.calls[0].second);
        EXPECT_TRUE(log.contains(c.logged));
    }
}

TEST_F(SQLiteDatabaseTest, TruncateEmptiesOnlyItsTable) {
    BoolResults opened;
    db.open(path, {std::make_shared<ItemRecord>(), std::make_shared<OtherRecord>()}, opened.callback());
    ASSERT_EQ(opened.values, std::vector<bool>{true});
    DatabaseImpl* others = nullptr;
    db.table(OtherRecord(), [&](DatabaseImpl* handle) { others = handle; });
    db.table(ItemRecord(), [&](DatabaseImpl* handle) { table = handle; });
    ASSERT_NE(others, nullptr);
    ASSERT_NE(table, nullptr);
    others->insert(*item(1), nullptr);
    table->insert(*item(1), nullptr);
    table->insert(*item(2), nullptr);

    LogCapture log;
    BoolResults truncated;
    table->truncate(truncated.callback());
    EXPECT_EQ(truncated.values, std::vector<bool>{true});
    EXPECT_TRUE(log.contains("[db][" + path + "][items] TRUNCATE completed OK"));
    EXPECT_TRUE(rawQuery(path, "SELECT id FROM items").empty());
    EXPECT_EQ(rawQuery(path, "SELECT id FROM others").size(), 1u);
}

TEST_F(SQLiteDatabaseTest, TableWithAnUnknownPrototypeIsNull) {
    openItems();
    LogCapture log;
    DatabaseImpl* handle = reinterpret_cast<DatabaseImpl*>(&log);  // anything but null
    int calls = 0;
    db.table(OtherRecord(), [&](DatabaseImpl* result) {
        handle = result;
        calls++;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(log.contains("[db][" + path + "][others] Table doesn't exist"));
}

TEST_F(SQLiteDatabaseTest, NeverOpenedModuleRefusesCloseAndRemoveSilently) {
    LogCapture log;
    BoolResults results;
    db.close(results.callback());
    db.remove(results.callback());
    EXPECT_EQ(results.values, (std::vector<bool>{false, false}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(SQLiteDatabaseTest, EmptyPrototypeListOpensTheFileOnly) {
    BoolResults opened;
    db.open(path, {}, opened.callback());
    EXPECT_EQ(opened.values, std::vector<bool>{true});
    EXPECT_TRUE(rawQuery(path, "SELECT name FROM sqlite_master").empty());
}

TEST_F(SQLiteDatabaseTest, ReopenedFileKeepsItsRowsAndAnExistingTableIsUsedUnchanged) {
    // An older file whose table has an extra column: IF NOT EXISTS keeps it as it is.
    ASSERT_TRUE(rawExec(path,
                        "CREATE TABLE items (id INTEGER PRIMARY KEY, label TEXT, data BLOB, count INTEGER, "
                        "extra TEXT); INSERT INTO items VALUES (3, 'old', NULL, 4, 'kept')"));
    openItems();
    RecordResults<DatabaseRecord> got;
    table->get("3", got.callback());
    ASSERT_EQ(got.calls.size(), 1u);
    auto read = std::dynamic_pointer_cast<ItemRecord>(got.calls[0].first);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->label, std::optional<std::string>("old"));
    EXPECT_EQ(read->count, 4);
    EXPECT_EQ(rawQuery(path, "SELECT extra FROM items"), (std::vector<std::vector<std::string>>{{"kept"}}));
}

TEST_F(SQLiteDatabaseTest, CloseThenRemoveAndReopen) {
    openItems();
    put(item(1));
    BoolResults results;
    LogCapture log;
    db.close(results.callback());
    EXPECT_TRUE(log.contains("[db][" + path + "] Database closed"));
    // Closed: remove has nothing to remove and leaves the file alone.
    db.remove(results.callback());
    EXPECT_TRUE(std::filesystem::exists(path));

    openItems();
    RecordResults<DatabaseRecord> got;
    table->get("1", got.callback());
    ASSERT_EQ(got.calls.size(), 1u);
    EXPECT_NE(got.calls[0].first, nullptr);

    db.remove(results.callback());
    EXPECT_EQ(results.values, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(log.contains("[db][" + path + "] Database removed"));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SQLiteDatabaseTest, OpenFailureLeavesTheModuleClosed) {
    const std::string missing = dir.file("no-such-folder/cache.db");
    LogCapture log;
    BoolResults results;
    db.open(missing, {std::make_shared<ItemRecord>()}, results.callback());
    EXPECT_TRUE(log.contains("[db][" + missing + "] Error opening database: unable to open database file (14)"));
    db.close(results.callback());
    EXPECT_EQ(results.values, (std::vector<bool>{false, false}));
}

TEST_F(SQLiteDatabaseTest, CreateFailureClosesTheDatabase) {
    LogCapture log;
    BoolResults results;
    db.open(path, {std::make_shared<ItemRecord>(), std::make_shared<BadRecord>()}, results.callback());
    EXPECT_TRUE(log.contains("[db][" + path + "][select] Error creating table: SQL logic error (1)"));
    // The table created before the failure is gone with the connection.
    DatabaseImpl* handle = nullptr;
    db.table(ItemRecord(), [&](DatabaseImpl* result) { handle = result; });
    EXPECT_EQ(handle, nullptr);
    db.close(results.callback());
    EXPECT_EQ(results.values, (std::vector<bool>{false, false}));
}

// One step of a transaction script: the call, its expected report and the line it logs.
struct TransactionStep {
    enum Call { BEGIN, COMMIT, INSERT } call;
    bool reported;
    const char* logged;
};

struct TransactionCase {
    const char* name;
    bool open;
    std::vector<TransactionStep> steps;
    size_t rowsAfter;  // rows seen by another connection at the end
};

void PrintTo(const TransactionCase& c, std::ostream* os) {
    *os << c.name;
}

class SQLiteTransactionTest : public SQLiteDatabaseTest, public ::testing::WithParamInterface<TransactionCase> {};

TEST_P(SQLiteTransactionTest, FlagRefusesMisuseWithoutTouchingTheDatabase) {
    const TransactionCase& c = GetParam();
    if (c.open) {
        openItems();
    }
    uint64_t nextId = 1;
    for (size_t i = 0; i < c.steps.size(); i++) {
        const TransactionStep& step = c.steps[i];
        SCOPED_TRACE(i);
        LogCapture log;
        BoolResults result;
        switch (step.call) {
            case TransactionStep::BEGIN:
                db.beginTransaction(result.callback());
                break;
            case TransactionStep::COMMIT:
                db.commitTransaction(result.callback());
                break;
            case TransactionStep::INSERT:
                table->insert(*item(nextId++), result.callback());
                break;
        }
        EXPECT_EQ(result.values, std::vector<bool>{step.reported});
        if (step.logged) {
            EXPECT_EQ(log.count(step.logged), 1u) << step.logged;
        }
    }
    if (c.open) {
        EXPECT_EQ(rawQuery(path, "SELECT id FROM items").size(), c.rowsAfter);
    }
}

using S = TransactionStep;
INSTANTIATE_TEST_SUITE_P(
    Scripts, SQLiteTransactionTest,
    ::testing::Values(
        TransactionCase{"BeginInsertCommit",
                        true,
                        {{S::BEGIN, true, "BEGIN transaction"},
                         {S::INSERT, true, nullptr},
                         {S::COMMIT, true, "COMMIT transaction"}},
                        1},
        TransactionCase{"SecondBeginIsRefusedAndTheFirstStillCommits",
                        true,
                        {{S::BEGIN, true, "BEGIN completed OK"},
                         {S::INSERT, true, nullptr},
                         {S::BEGIN, false, "BEGIN with a transaction already active"},
                         {S::INSERT, true, nullptr},
                         {S::COMMIT, true, "COMMIT completed OK"}},
                        2},
        TransactionCase{"CommitWithoutBegin", true, {{S::COMMIT, false, "COMMIT without an active transaction"}}, 0},
        TransactionCase{
            "UncommittedRowsAreNotVisible", true, {{S::BEGIN, true, nullptr}, {S::INSERT, true, nullptr}}, 0},
        // On a closed module BEGIN fails, yet the flag is set: the next begin is refused until
        // a commit ran, and that commit clears the flag although it fails too.
        TransactionCase{"FailedBeginStillNeedsItsCommit",
                        false,
                        {{S::BEGIN, false, "Error preparing BEGIN statement: bad parameter or other API misuse (21)"},
                         {S::BEGIN, false, "BEGIN with a transaction already active"},
                         {S::COMMIT, false, "Error preparing COMMIT statement"},
                         {S::COMMIT, false, "COMMIT without an active transaction"},
                         {S::BEGIN, false, "Error preparing BEGIN statement"}},
                        0}),
    [](const ::testing::TestParamInfo<TransactionCase>& info) { return std::string(info.param.name); });

TEST(DatabaseModuleTest, DeletingLogsItsLine) {
    LogCapture log;
    { SQLiteDatabase db(nullptr, nullptr); }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains("Deleting DatabaseModule"));
}

}  // namespace
}  // namespace corvane
