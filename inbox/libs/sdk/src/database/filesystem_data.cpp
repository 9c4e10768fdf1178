#include "database/filesystem_data.h"

namespace corvane {

namespace {
constexpr int kIndexBits = 15;
constexpr uint64_t kIndexMask = (uint64_t{1} << kIndexBits) - 1;
}  // namespace

const char* const FilesystemData::kTableName = "filesystem";

void FilesystemData::setId(uint64_t id) {
    id_ = id;
    rootId_ = id >> kIndexBits;
    index_ = static_cast<int32_t>(id & kIndexMask);
}

const std::vector<int32_t>& FilesystemData::indexColumns() {
    static const std::vector<int32_t> kNone;
    return kNone;
}

const RecordColumns<FilesystemData>& FilesystemData::columns() {
    using F = FilesystemData;
    static const RecordColumns<F> kColumns = {
        column::number<F>(
            "id", [](const F& f) { return static_cast<int64_t>(f.id_); },
            [](F& f, int64_t v) { f.setId(static_cast<uint64_t>(v)); }),
        column::number<F>("type", &F::type_),
        column::number<F>("crypto", &F::crypto_),
        column::bytes<F>("nodekey", &F::nodeKey_),
        column::bytes<F>("filesystemkey", &F::filesystemKey_),
        column::number<F>("source", &F::source_),
        column::number<F>("target", &F::target_),
        column::number<F>("permissions", &F::permissions_),
        column::number<F>("ctime", &F::creationTime_),
    };
    return kColumns;
}

}  // namespace corvane
