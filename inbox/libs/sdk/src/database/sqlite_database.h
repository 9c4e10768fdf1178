#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/database_impl.h"
#include "database/database_module.h"
#include "database/database_record.h"

struct sqlite3;
struct sqlite3_stmt;

namespace corvane {

// One table of an SQLite file, described by a prototype record. Statements are compiled,
// run and finalized within each operation; none outlives it.
class SQLiteDatabaseImpl : public DatabaseImpl {
public:
    SQLiteDatabaseImpl(TaskManager* resultLoop, sqlite3* db, const DatabaseRecord& prototype,
                       const std::string& databaseName);
    ~SQLiteDatabaseImpl() override = default;

    void insert(const DatabaseRecord& record, BoolCallback callback) override;
    void get(const std::string& key, RecordCallback callback) override;
    void search(int32_t column, const std::string& value, uint32_t limit, RecordCallback callback) override;
    void remove(const std::string& key, BoolCallback callback) override;
    void truncate(BoolCallback callback) override;

    // The table's CREATE statement for a prototype.
    static std::string createStatement(const DatabaseRecord& prototype);

private:
    // Binds a key or value text by its column's type; an integer text that is not a 64-bit
    // decimal number gives SQLITE_MISMATCH.
    int bindText(sqlite3_stmt* statement, int parameter, int32_t column, const std::string& text) const;
    std::shared_ptr<DatabaseRecord> readRow(sqlite3_stmt* statement) const;
    // Binds the record's column to its parameter; a null text or blob binds NULL.
    int bindColumn(sqlite3_stmt* statement, const DatabaseRecord& record, int32_t column) const;
    // Null when compiling fails, after logging it under the statement's name.
    sqlite3_stmt* prepare(const std::string& sql, const char* name) const;
    void logPrepareError(const char* name, int rc) const;
    // Binds a key to parameter 1, logging a failure under the statement's name.
    bool bindKey(sqlite3_stmt* statement, int32_t column, const std::string& key, const char* name) const;
    void logStepError(const char* name, int rc) const;

    bool insertRow(const DatabaseRecord& record) const;
    std::shared_ptr<DatabaseRecord> selectRow(const std::string& key, bool* ok) const;
    bool deleteRow(const std::string& key) const;

    sqlite3* db_;
    int32_t columnCount_;
    int32_t indexCount_;
    std::vector<ColumnType> columnTypes_;
    int32_t primaryKey_;
    std::vector<std::string> columnNames_;
    std::string databaseName_;
    std::string tableName_;
    std::string insertSql_;
    std::string selectSql_;
    std::string searchSql_;
    std::string deleteSql_;
    std::string truncateSql_;
};

// A database module over one SQLite file, with one table handle per prototype given to open.
class SQLiteDatabase : public DatabaseModule {
public:
    SQLiteDatabase(TaskManager* workLoop, TaskManager* resultLoop);
    ~SQLiteDatabase() override;

    void open(const std::string& path, const std::vector<std::shared_ptr<DatabaseRecord>>& prototypes,
              BoolCallback callback) override;
    void close(BoolCallback callback) override;
    void remove(BoolCallback callback) override;
    void table(const DatabaseRecord& prototype, TableCallback callback) override;
    void createIndex(const DatabaseRecord& prototype, int32_t column, BoolCallback callback) override;
    void begin(BoolCallback callback) override;
    void rollback(BoolCallback callback) override;
    void commit(BoolCallback callback) override;

private:
    void runStatement(const char* sql, const BoolCallback& callback);

    sqlite3* db_ = nullptr;
    std::string path_;
    std::map<std::string, std::unique_ptr<SQLiteDatabaseImpl>> tables_;
};

}  // namespace corvane
