#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "database/database_impl.h"
#include "database/database_module.h"

namespace corvane {
namespace test {

// A private folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-db-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        path_ = made ? made : "";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Collects boolean completions in arrival order.
struct BoolResults {
    std::vector<bool> values;
    DatabaseModule::BoolCallback callback() {
        return [this](bool value) { values.push_back(value); };
    }
};

// Collects record completions in arrival order.
template <class R>
struct RecordResults {
    std::vector<std::pair<std::shared_ptr<R>, bool>> calls;
    std::function<void(std::shared_ptr<R>, bool)> callback() {
        return [this](std::shared_ptr<R> record, bool ok) { calls.emplace_back(std::move(record), ok); };
    }
    // Rows delivered before the final call, if any.
    size_t rows() const {
        size_t count = 0;
        for (const auto& call : calls) {
            count += call.first ? 1 : 0;
        }
        return count;
    }
};

// Reads a database file with a connection of its own: one text per column per row, with
// "NULL" for NULL and "x'..'" hex for blobs, so a test sees the stored bytes and types directly.
inline std::vector<std::vector<std::string>> rawQuery(const std::string& path, const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(statement); i++) {
                switch (sqlite3_column_type(statement, i)) {
                    case SQLITE_NULL:
                        row.emplace_back("NULL");
                        break;
                    case SQLITE_BLOB: {
                        static const char kHex[] = "0123456789abcdef";
                        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(statement, i));
                        std::string text = "x'";
                        for (int k = 0; k < sqlite3_column_bytes(statement, i); k++) {
                            text += kHex[bytes[k] >> 4];
                            text += kHex[bytes[k] & 15];
                        }
                        row.push_back(text + "'");
                        break;
                    }
                    default:
                        row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
                }
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// Runs one statement on a database file with a connection of its own.
inline bool rawExec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

}  // namespace test
}  // namespace corvane
