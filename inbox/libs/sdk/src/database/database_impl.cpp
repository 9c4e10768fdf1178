#include "database/database_impl.h"

#include "module/module.h"

namespace corvane {

void DatabaseImpl::notify(const BoolCallback& callback, bool value) const {
    if (!callback) {
        return;
    }
    Module::executeInLoop(resultLoop_, [callback, value]() { callback(value); });
}

void DatabaseImpl::notify(const RecordCallback& callback, std::shared_ptr<DatabaseRecord> record, bool value) const {
    if (!callback) {
        return;
    }
    Module::executeInLoop(resultLoop_, [callback, record = std::move(record), value]() { callback(record, value); });
}

}  // namespace corvane
