#include "database/database_module.h"

#include "util/log.h"

namespace corvane {

DatabaseModule::DatabaseModule(TaskManager* workLoop, TaskManager* resultLoop)
    : Module(workLoop), resultLoop_(resultLoop) {
}

DatabaseModule::~DatabaseModule() {
    CLOG_DEBUG("Deleting DatabaseModule");
}

void DatabaseModule::beginTransaction(BoolCallback callback) {
    execute([this, callback = std::move(callback)]() {
        if (transaction_) {
            CLOG_ERROR("BEGIN with a transaction already active");
            notify(callback, false);
            return;
        }
        CLOG_DEBUG("BEGIN transaction");
        begin(callback);
        // Set whatever BEGIN reported, so that a failed BEGIN still needs its COMMIT.
        transaction_ = true;
    });
}

void DatabaseModule::commitTransaction(BoolCallback callback) {
    execute([this, callback = std::move(callback)]() {
        if (!transaction_) {
            CLOG_ERROR("COMMIT without an active transaction");
            notify(callback, false);
            return;
        }
        CLOG_DEBUG("COMMIT transaction");
        commit(callback);
        transaction_ = false;
    });
}

void DatabaseModule::createIndex(const DatabaseRecord&, int32_t, BoolCallback callback) {
    notify(callback, false);
}

void DatabaseModule::notify(const BoolCallback& callback, bool value) const {
    if (!callback) {
        return;
    }
    executeInLoop(resultLoop_, [callback, value]() { callback(value); });
}

void DatabaseModule::notify(const TableCallback& callback, DatabaseImpl* table) const {
    if (!callback) {
        return;
    }
    executeInLoop(resultLoop_, [callback, table]() { callback(table); });
}

}  // namespace corvane
