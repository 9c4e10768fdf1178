#include "service_store.h"

#include <sqlite3.h>

namespace corvane::service {

ServiceStore::~ServiceStore() {
    close();
}

bool ServiceStore::open(const std::string& directory) {
    close();
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path += '/';
    path += kFileName;
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    // SQLite creates the file lazily; an empty transaction-free statement forces it onto disk.
    if (sqlite3_exec(db, "PRAGMA user_version = 0;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    db_ = db;
    path_ = std::move(path);
    return true;
}

void ServiceStore::close() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    path_.clear();
}

}  // namespace corvane::service
