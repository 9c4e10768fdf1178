#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "corvane/task_manager.h"
#include "database/database_record.h"

namespace corvane {

// The handle of one table of a database module. Operations do their work on the calling
// thread (the database loop) and post their outcome to the result loop.
//
// Record callbacks: (record, true) per row read, a final (null, true) for a search whose rows
// ran out or a get that found nothing, (null, false) on error. Records handed to a callback
// are new objects made by the record factory and belong to the receiver.
class DatabaseImpl {
public:
    using BoolCallback = std::function<void(bool)>;
    using RecordCallback = std::function<void(std::shared_ptr<DatabaseRecord>, bool)>;
    using RecordFactory = std::function<std::shared_ptr<DatabaseRecord>()>;

    explicit DatabaseImpl(TaskManager* resultLoop) : resultLoop_(resultLoop) {}
    virtual ~DatabaseImpl() = default;

    DatabaseImpl(const DatabaseImpl&) = delete;
    DatabaseImpl& operator=(const DatabaseImpl&) = delete;

    // Writes the record's row, replacing a row with the same primary key.
    virtual void insert(const DatabaseRecord& record, BoolCallback callback) = 0;
    // The row whose primary key is the key text (decimal for an integer key).
    virtual void get(const std::string& key, RecordCallback callback) = 0;
    // Rows whose column equals the value, or every row for column -1. A non-zero limit ends
    // the search at that many rows without a final call.
    virtual void search(int32_t column, const std::string& value, uint32_t limit, RecordCallback callback) = 0;
    // True also when no row had the key.
    virtual void remove(const std::string& key, BoolCallback callback) = 0;
    virtual void truncate(BoolCallback callback) = 0;

    void setRecordFactory(RecordFactory factory) { recordFactory_ = std::move(factory); }

    // Post the outcome to the result loop (run at once without one); nothing for an empty callback.
    void notify(const BoolCallback& callback, bool value) const;
    void notify(const RecordCallback& callback, std::shared_ptr<DatabaseRecord> record, bool value) const;

protected:
    TaskManager* resultLoop_;
    RecordFactory recordFactory_;
};

}  // namespace corvane
