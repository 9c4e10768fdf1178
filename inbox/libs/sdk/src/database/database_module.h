#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "corvane/task_manager.h"
#include "database/database_impl.h"
#include "database/database_record.h"
#include "module/module.h"

namespace corvane {

// One database file. The virtual operations do their work on the calling thread and post
// their outcome to the result loop; callers run them on the work loop (the database loop)
// through execute. Table handles belong to the module and live from a successful open until
// close or remove.
class DatabaseModule : public Module {
public:
    using BoolCallback = std::function<void(bool)>;
    using TableCallback = std::function<void(DatabaseImpl*)>;

    DatabaseModule(TaskManager* workLoop, TaskManager* resultLoop);
    ~DatabaseModule() override;

    // Opens or creates the file and makes sure one table exists per prototype.
    virtual void open(const std::string& path, const std::vector<std::shared_ptr<DatabaseRecord>>& prototypes,
                      BoolCallback callback) = 0;
    // Releases every table handle and closes the file.
    virtual void close(BoolCallback callback) = 0;
    // Closes the database and deletes its file.
    virtual void remove(BoolCallback callback) = 0;
    // The handle of the prototype's table, null when the database has none. The prototype is only read.
    virtual void table(const DatabaseRecord& prototype, TableCallback callback) = 0;
    // Makes sure an index on the column of the prototype's table exists. Indexes change no
    // result, only how fast a search by the column is; a back end without them reports false.
    virtual void createIndex(const DatabaseRecord& prototype, int32_t column, BoolCallback callback);
    virtual void begin(BoolCallback callback) = 0;
    virtual void rollback(BoolCallback callback) = 0;
    virtual void commit(BoolCallback callback) = 0;

    // Transactions do not nest: one flag, set by beginTransaction and cleared by
    // commitTransaction only, refuses a second begin and a commit without a begin. Both post
    // their work to the work loop.
    void beginTransaction(BoolCallback callback);
    void commitTransaction(BoolCallback callback);

    // Post the outcome to the result loop (run at once without one); nothing for an empty callback.
    void notify(const BoolCallback& callback, bool value) const;
    void notify(const TableCallback& callback, DatabaseImpl* table) const;

    TaskManager* getResultLoop() const { return resultLoop_; }

protected:
    TaskManager* resultLoop_;
    // Touched only by tasks on the work loop.
    bool transaction_ = false;
};

}  // namespace corvane
