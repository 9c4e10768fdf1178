#include "database/sqlite_database.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>

#include <sqlite3.h>

#include "util/log.h"

namespace corvane {

namespace {

// Integer keys travel as decimal text. Handles are unsigned 64-bit numbers stored as the
// same bits in a signed INTEGER, so a text without a sign is read as unsigned and keeps its
// bits; a negative text is read as signed.
bool parseInteger(const std::string& text, int64_t* value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first == last) {
        return false;
    }
    if (*first == '-') {
        int64_t number = 0;
        auto result = std::from_chars(first, last, number);
        if (result.ec != std::errc() || result.ptr != last) {
            return false;
        }
        *value = number;
        return true;
    }
    uint64_t number = 0;
    auto result = std::from_chars(first, last, number);
    if (result.ec != std::errc() || result.ptr != last) {
        return false;
    }
    *value = static_cast<int64_t>(number);
    return true;
}

const char* typeName(ColumnType type) {
    switch (type) {
        case ColumnType::INTEGER:
            return " INTEGER";
        case ColumnType::TEXT:
            return " TEXT";
        case ColumnType::BLOB:
            return " BLOB";
    }
    return "";
}

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

struct StepResult {
    bool prepared;
    int rc;
};

// Compiles a statement without parameters, steps it once and finalizes it. rc is SQLITE_DONE
// on success, otherwise the code of the stage that failed.
StepResult runOnce(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) {
        return {false, rc};
    }
    return {true, sqlite3_step(statement.get())};
}

// sqlite3_column_blob gives null for a zero-length blob; this keeps such a value apart from NULL.
const uint8_t kEmptyBlob[1] = {0};

}  // namespace

// ---------------------------------------------------------------------------------------------
// SQLiteDatabaseImpl

std::string SQLiteDatabaseImpl::createStatement(const DatabaseRecord& prototype) {
    const int32_t count = prototype.getColumnCount();
    const char* const* names = prototype.getColumnNames();
    const ColumnType* types = prototype.getColumnTypes();
    const int32_t primaryKey = prototype.getPrimaryKeyColumn();
    std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + prototype.getTableName() + " (";
    for (int32_t i = 0; i < count; i++) {
        if (i > 0) {
            sql += ", ";
        }
        sql += names[i];
        sql += typeName(types[i]);
        if (i == primaryKey) {
            sql += " PRIMARY KEY";
        }
    }
    sql += ")";
    return sql;
}

SQLiteDatabaseImpl::SQLiteDatabaseImpl(TaskManager* resultLoop, sqlite3* db, const DatabaseRecord& prototype,
                                       const std::string& databaseName)
    : DatabaseImpl(resultLoop),
      db_(db),
      columnCount_(prototype.getColumnCount()),
      indexCount_(prototype.getIndexCount()),
      primaryKey_(prototype.getPrimaryKeyColumn()),
      databaseName_(databaseName),
      tableName_(prototype.getTableName()) {
    const char* const* names = prototype.getColumnNames();
    const ColumnType* types = prototype.getColumnTypes();
    for (int32_t i = 0; i < columnCount_; i++) {
        columnNames_.emplace_back(names[i]);
        columnTypes_.push_back(types[i]);
    }
    const std::string& key = columnNames_.at(static_cast<size_t>(primaryKey_));

    insertSql_ = "INSERT OR REPLACE INTO " + tableName_ + " (";
    std::string values = ") VALUES (";
    for (int32_t i = 0; i < columnCount_; i++) {
        if (i > 0) {
            insertSql_ += ", ";
            values += ", ?";
        } else {
            values += "?";
        }
        insertSql_ += columnNames_[static_cast<size_t>(i)];
    }
    insertSql_ += values + ")";
    selectSql_ = "SELECT * FROM " + tableName_ + " WHERE " + key + " = ?";
    deleteSql_ = "DELETE FROM " + tableName_ + " WHERE " + key + " = ?";
    truncateSql_ = "DELETE FROM " + tableName_;
    searchSql_ = "SELECT * FROM " + tableName_;

    CLOG_DEBUG("[db][{}][{}] Insert statement: {}", databaseName_, tableName_, insertSql_);
    CLOG_DEBUG("[db][{}][{}] Select statement: {}", databaseName_, tableName_, selectSql_);
    CLOG_DEBUG("[db][{}][{}] Delete statement: {}", databaseName_, tableName_, deleteSql_);
    CLOG_DEBUG("[db][{}][{}] Truncate statement: {}", databaseName_, tableName_, truncateSql_);
    CLOG_DEBUG("[db][{}][{}] Search statement: {}", databaseName_, tableName_, searchSql_);
}

int SQLiteDatabaseImpl::bindText(sqlite3_stmt* statement, int parameter, int32_t column,
                                 const std::string& text) const {
    switch (columnTypes_[static_cast<size_t>(column)]) {
        case ColumnType::INTEGER: {
            int64_t number = 0;
            if (!parseInteger(text, &number)) {
                return SQLITE_MISMATCH;
            }
            return sqlite3_bind_int64(statement, parameter, number);
        }
        case ColumnType::TEXT:
            return sqlite3_bind_text(statement, parameter, text.c_str(), -1, SQLITE_TRANSIENT);
        case ColumnType::BLOB:
            return sqlite3_bind_blob(statement, parameter, text.data(), static_cast<int>(text.size()),
                                     SQLITE_TRANSIENT);
    }
    return SQLITE_MISMATCH;
}

std::shared_ptr<DatabaseRecord> SQLiteDatabaseImpl::readRow(sqlite3_stmt* statement) const {
    std::shared_ptr<DatabaseRecord> record = recordFactory_ ? recordFactory_() : nullptr;
    if (!record) {
        return nullptr;
    }
    // A table created earlier from another description may have fewer columns.
    const int32_t count = std::min(columnCount_, static_cast<int32_t>(sqlite3_column_count(statement)));
    for (int32_t i = 0; i < count; i++) {
        switch (columnTypes_[static_cast<size_t>(i)]) {
            case ColumnType::INTEGER:
                record->setNumber(i, sqlite3_column_int64(statement, i));
                break;
            case ColumnType::TEXT:
                record->setText(i, reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
                break;
            case ColumnType::BLOB: {
                const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, i));
                const int size = sqlite3_column_bytes(statement, i);
                if (!data && sqlite3_column_type(statement, i) != SQLITE_NULL) {
                    data = kEmptyBlob;
                }
                record->setBlob(i, data, static_cast<uint32_t>(size));
                break;
            }
        }
    }
    return record;
}

sqlite3_stmt* SQLiteDatabaseImpl::prepare(const std::string& sql, const char* name) const {
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
    if (rc != SQLITE_OK) {
        logPrepareError(name, rc);
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

void SQLiteDatabaseImpl::logPrepareError(const char* name, int rc) const {
    CLOG_ERROR("[db][{}][{}] Error preparing {} statement: {} ({})", databaseName_, tableName_, name,
               sqlite3_errstr(rc), rc);
}

bool SQLiteDatabaseImpl::bindKey(sqlite3_stmt* statement, int32_t column, const std::string& key,
                                 const char* name) const {
    const int rc = bindText(statement, 1, column, key);
    if (rc != SQLITE_OK) {
        CLOG_ERROR("[db][{}][{}] Error binding key to {} statement: {} ({})", databaseName_, tableName_, name,
                   sqlite3_errstr(rc), rc);
        return false;
    }
    return true;
}

// Reads the connection's message, so it must run before the statement is finalized.
void SQLiteDatabaseImpl::logStepError(const char* name, int rc) const {
    if (rc == SQLITE_ERROR) {
        CLOG_ERROR("[db][{}][{}] Error executing {} statement: {} ({})", databaseName_, tableName_, name,
                   sqlite3_errmsg(db_), rc);
    } else {
        CLOG_ERROR("[db][{}][{}] Unexpected error executing {} statement: {} ({})", databaseName_, tableName_, name,
                   sqlite3_errmsg(db_), rc);
    }
}

int SQLiteDatabaseImpl::bindColumn(sqlite3_stmt* statement, const DatabaseRecord& record, int32_t column) const {
    const int parameter = column + 1;
    switch (columnTypes_[static_cast<size_t>(column)]) {
        case ColumnType::INTEGER:
            return sqlite3_bind_int64(statement, parameter, record.getNumber(column));
        case ColumnType::TEXT: {
            const char* text = record.getText(column);
            return text ? sqlite3_bind_text(statement, parameter, text, -1, SQLITE_TRANSIENT)
                        : sqlite3_bind_null(statement, parameter);
        }
        case ColumnType::BLOB: {
            const uint8_t* blob = record.getBlob(column);
            return blob ? sqlite3_bind_blob(statement, parameter, blob, static_cast<int>(record.getBlobSize(column)),
                                            SQLITE_TRANSIENT)
                        : sqlite3_bind_null(statement, parameter);
        }
    }
    return SQLITE_MISMATCH;
}

// The operations below do their work in a helper that owns the statement, so that it is
// finalized before the caller hears the result.

void SQLiteDatabaseImpl::insert(const DatabaseRecord& record, BoolCallback callback) {
    notify(callback, insertRow(record));
}

bool SQLiteDatabaseImpl::insertRow(const DatabaseRecord& record) const {
    Statement statement(prepare(insertSql_, "insert"));
    if (!statement) {
        return false;
    }
    for (int32_t i = 0; i < columnCount_; i++) {
        const int rc = bindColumn(statement.get(), record, i);
        if (rc != SQLITE_OK) {
            CLOG_ERROR("[db][{}][{}] Error binding parameter ({}:{}) to insert statement: {} ({})", databaseName_,
                       tableName_, i + 1, columnNames_[static_cast<size_t>(i)], sqlite3_errstr(rc), rc);
            return false;
        }
    }
    const int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_DONE) {
        CLOG_ERROR("[db][{}][{}] Error executing insert statement: {} ({})", databaseName_, tableName_,
                   sqlite3_errstr(rc), rc);
        return false;
    }
    return true;
}

void SQLiteDatabaseImpl::get(const std::string& key, RecordCallback callback) {
    bool ok = false;
    std::shared_ptr<DatabaseRecord> record = selectRow(key, &ok);
    notify(callback, std::move(record), ok);
}

std::shared_ptr<DatabaseRecord> SQLiteDatabaseImpl::selectRow(const std::string& key, bool* ok) const {
    *ok = false;
    Statement statement(prepare(selectSql_, "select"));
    if (!statement || !bindKey(statement.get(), primaryKey_, key, "select")) {
        return nullptr;
    }
    const int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_DONE) {
        CLOG_DEBUG("[db][{}][{}] Database record not found", databaseName_, tableName_);
        *ok = true;
        return nullptr;
    }
    if (rc != SQLITE_ROW) {
        logStepError("select", rc);
        return nullptr;
    }
    std::shared_ptr<DatabaseRecord> record = readRow(statement.get());
    if (!record) {
        CLOG_ERROR("[db][{}][{}] No record factory", databaseName_, tableName_);
    }
    *ok = record != nullptr;
    return record;
}

void SQLiteDatabaseImpl::search(int32_t column, const std::string& value, uint32_t limit, RecordCallback callback) {
    if (column >= columnCount_) {
        logPrepareError("search", SQLITE_RANGE);
        notify(callback, nullptr, false);
        return;
    }
    std::string sql = searchSql_;
    if (column >= 0) {
        sql += " WHERE " + columnNames_[static_cast<size_t>(column)] + " = ?";
    }
    if (limit != 0) {
        sql += " LIMIT " + std::to_string(limit);
    }
    Statement statement(prepare(sql, "search"));
    const auto finish = [&](bool ok) {
        statement.reset();
        notify(callback, nullptr, ok);
    };
    if (!statement || (column >= 0 && !bindKey(statement.get(), column, value, "search"))) {
        finish(false);
        return;
    }
    uint32_t rows = 0;
    for (;;) {
        const int rc = sqlite3_step(statement.get());
        if (rc == SQLITE_DONE) {
            finish(true);
            return;
        }
        if (rc != SQLITE_ROW) {
            logStepError("search", rc);
            finish(false);
            return;
        }
        std::shared_ptr<DatabaseRecord> record = readRow(statement.get());
        if (!record) {
            CLOG_ERROR("[db][{}][{}] No record factory", databaseName_, tableName_);
            finish(false);
            return;
        }
        notify(callback, std::move(record), true);
        rows++;
        // The receiver that asked for a limit counts the rows itself: no final call follows.
        if (limit != 0 && rows == limit) {
            return;
        }
    }
}

void SQLiteDatabaseImpl::remove(const std::string& key, BoolCallback callback) {
    notify(callback, deleteRow(key));
}

bool SQLiteDatabaseImpl::deleteRow(const std::string& key) const {
    Statement statement(prepare(deleteSql_, "delete"));
    if (!statement) {
        return false;
    }
    int rc = bindText(statement.get(), 1, primaryKey_, key);
    if (rc != SQLITE_OK) {
        CLOG_ERROR("[db][{}][{}] Error binding value ({:.{}}) to parameter ({}:{}) in delete statement: {} ({})",
                   databaseName_, tableName_, key, key.size(), primaryKey_,
                   columnNames_[static_cast<size_t>(primaryKey_)], sqlite3_errstr(rc), rc);
        return false;
    }
    rc = sqlite3_step(statement.get());
    if (rc != SQLITE_DONE && rc != SQLITE_OK) {
        CLOG_ERROR("[db][{}][{}] Error executing delete statement: {} ({})", databaseName_, tableName_,
                   sqlite3_errstr(rc), rc);
        return false;
    }
    return true;
}

void SQLiteDatabaseImpl::truncate(BoolCallback callback) {
    CLOG_DEBUG("[db][{}][{}] Starting TRUNCATE", databaseName_, tableName_);
    const StepResult result = runOnce(db_, truncateSql_.c_str());
    if (result.rc != SQLITE_DONE) {
        if (result.prepared) {
            CLOG_ERROR("[db][{}][{}] Error executing truncate statement: {}", databaseName_, tableName_,
                       sqlite3_errstr(result.rc));
        } else {
            CLOG_ERROR("[db][{}][{}] Error preparing truncate statement: {}", databaseName_, tableName_,
                       sqlite3_errstr(result.rc));
        }
        notify(callback, false);
        return;
    }
    CLOG_DEBUG("[db][{}][{}] TRUNCATE completed OK", databaseName_, tableName_);
    notify(callback, true);
}

// ---------------------------------------------------------------------------------------------
// SQLiteDatabase

SQLiteDatabase::SQLiteDatabase(TaskManager* workLoop, TaskManager* resultLoop) : DatabaseModule(workLoop, resultLoop) {
}

SQLiteDatabase::~SQLiteDatabase() {
    close(nullptr);
}

void SQLiteDatabase::open(const std::string& path, const std::vector<std::shared_ptr<DatabaseRecord>>& prototypes,
                          BoolCallback callback) {
    // A second open would otherwise leak the first connection.
    if (db_) {
        close(nullptr);
    }
    path_ = path;
    CLOG_DEBUG("[db][{}] Opening database", path_);
    int rc = sqlite3_open(path_.c_str(), &db_);
    if (rc != SQLITE_OK) {
        CLOG_ERROR("[db][{}] Error opening database: {} ({})", path_, sqlite3_errstr(rc), rc);
        // sqlite3_open hands out a connection even when it fails; it still has to be released.
        sqlite3_close(db_);
        db_ = nullptr;
        notify(callback, false);
        return;
    }
    for (const std::shared_ptr<DatabaseRecord>& prototype : prototypes) {
        const std::string tableName = prototype->getTableName();
        const std::string sql = SQLiteDatabaseImpl::createStatement(*prototype);
        CLOG_DEBUG("[db][{}] Create table statement: {}", path_, sql);
        rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            CLOG_ERROR("[db][{}][{}] Error creating table: {} ({})", path_, tableName, sqlite3_errstr(rc), rc);
            close(nullptr);
            notify(callback, false);
            return;
        }
        CLOG_DEBUG("[db][{}][{}] Table created", path_, tableName);
        tables_[tableName] = std::make_unique<SQLiteDatabaseImpl>(resultLoop_, db_, *prototype, path_);
    }
    CLOG_DEBUG("[db][{}] Database ready", path_);
    notify(callback, true);
}

void SQLiteDatabase::close(BoolCallback callback) {
    if (!db_) {
        notify(callback, false);
        return;
    }
    CLOG_DEBUG("[db][{}] Closing database", path_);
    tables_.clear();
    const int rc = sqlite3_close(db_);
    db_ = nullptr;
    if (rc != SQLITE_OK) {
        CLOG_ERROR("[db][{}] Error closing database: {} ({})", path_, sqlite3_errstr(rc), rc);
        notify(callback, false);
        return;
    }
    CLOG_DEBUG("[db][{}] Database closed", path_);
    notify(callback, true);
}

void SQLiteDatabase::remove(BoolCallback callback) {
    if (!db_) {
        notify(callback, false);
        return;
    }
    CLOG_DEBUG("[db][{}] Removing database", path_);
    close(nullptr);
    if (std::remove(path_.c_str()) != 0) {
        CLOG_ERROR("[db][{}] Error removing database", path_);
        notify(callback, false);
        return;
    }
    CLOG_DEBUG("[db][{}] Database removed", path_);
    notify(callback, true);
}

void SQLiteDatabase::table(const DatabaseRecord& prototype, TableCallback callback) {
    const std::string tableName = prototype.getTableName();
    CLOG_DEBUG("[db][{}][{}] Opening table", path_, tableName);
    auto it = tables_.find(tableName);
    if (it == tables_.end()) {
        CLOG_ERROR("[db][{}][{}] Table doesn't exist", path_, tableName);
        notify(callback, nullptr);
        return;
    }
    CLOG_DEBUG("[db][{}][{}] Table ready", path_, tableName);
    notify(callback, it->second.get());
}

void SQLiteDatabase::runStatement(const char* sql, const BoolCallback& callback) {
    CLOG_DEBUG("[db][{}] Starting {}", path_, sql);
    // A closed module fails here like a statement SQLite refuses to compile.
    const StepResult result = db_ ? runOnce(db_, sql) : StepResult{false, SQLITE_MISUSE};
    if (result.rc != SQLITE_DONE) {
        if (result.prepared) {
            CLOG_ERROR("[db][{}] Error executing {} statement: {} ({})", path_, sql, sqlite3_errstr(result.rc),
                       result.rc);
        } else {
            CLOG_ERROR("[db][{}] Error preparing {} statement: {} ({})", path_, sql, sqlite3_errstr(result.rc),
                       result.rc);
        }
        notify(callback, false);
        return;
    }
    CLOG_DEBUG("[db][{}] {} completed OK", path_, sql);
    notify(callback, true);
}

void SQLiteDatabase::createIndex(const DatabaseRecord& prototype, int32_t column, BoolCallback callback) {
    if (column < 0 || column >= prototype.getColumnCount()) {
        CLOG_ERROR("[db][{}][{}] No column {} to index", path_, prototype.getTableName(), column);
        notify(callback, false);
        return;
    }
    const std::string table = prototype.getTableName();
    const std::string name = prototype.getColumnNames()[column];
    const std::string sql = "CREATE INDEX IF NOT EXISTS " + table + "_" + name + " ON " + table + " (" + name + ")";
    runStatement(sql.c_str(), callback);
}

void SQLiteDatabase::begin(BoolCallback callback) {
    runStatement("BEGIN", callback);
}

void SQLiteDatabase::rollback(BoolCallback callback) {
    runStatement("ROLLBACK", callback);
}

void SQLiteDatabase::commit(BoolCallback callback) {
    runStatement("COMMIT", callback);
}

}  // namespace corvane
