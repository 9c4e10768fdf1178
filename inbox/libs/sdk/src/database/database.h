#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "database/database_impl.h"
#include "database/database_record.h"
#include "module/module.h"

namespace corvane {

// A table handle typed by its record class. Every operation is posted to the work loop (the
// database loop); callbacks arrive on the handle's result loop. The handle is not owned: it
// belongs to the database module and must not be used after the database was closed.
template <class T>
class Database : public Module {
public:
    using BoolCallback = std::function<void(bool)>;
    using RecordCallback = std::function<void(std::shared_ptr<T>, bool)>;

    Database(TaskManager* workLoop, DatabaseImpl* table) : Module(workLoop), table_(table) {}
    ~Database() override = default;

    // The record is kept alive until the row is written.
    void insert(std::shared_ptr<const T> record, BoolCallback callback) {
        execute([table = table_, record = std::move(record), callback = std::move(callback)]() {
            table->insert(static_cast<const DatabaseRecord&>(*record), callback);
        });
    }

    void get(const std::string& key, RecordCallback callback) {
        execute([table = table_, key, wrapped = wrap(std::move(callback))]() { table->get(key, wrapped); });
    }

    // The value is matched as a string of exactly these bytes.
    void search(int32_t column, const std::vector<uint8_t>& value, uint32_t limit, RecordCallback callback) {
        searchText(column, std::string(value.begin(), value.end()), limit, std::move(callback));
    }

    void search(int32_t column, uint64_t value, uint32_t limit, RecordCallback callback) {
        searchText(column, std::to_string(value), limit, std::move(callback));
    }

    void remove(uint64_t key, BoolCallback callback) {
        execute([table = table_, key = std::to_string(key), callback = std::move(callback)]() {
            table->remove(key, callback);
        });
    }

    void truncate(BoolCallback callback) {
        execute([table = table_, callback = std::move(callback)]() { table->truncate(callback); });
    }

    DatabaseImpl* getTable() const { return table_; }

private:
    void searchText(int32_t column, std::string value, uint32_t limit, RecordCallback callback) {
        execute([table = table_, column, value = std::move(value), limit, wrapped = wrap(std::move(callback))]() {
            table->search(column, value, limit, wrapped);
        });
    }

    // A record of another class reaches the receiver as null.
    static DatabaseImpl::RecordCallback wrap(RecordCallback callback) {
        if (!callback) {
            return nullptr;
        }
        return [callback = std::move(callback)](std::shared_ptr<DatabaseRecord> record, bool ok) {
            callback(std::dynamic_pointer_cast<T>(record), ok);
        };
    }

    DatabaseImpl* table_;
};

}  // namespace corvane
