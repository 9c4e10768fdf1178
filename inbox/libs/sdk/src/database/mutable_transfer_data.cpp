#include "database/mutable_transfer_data.h"

#include "util/string_copy.h"

namespace corvane {

const char* const MutableTransferData::kTableName = "transfer";

MutableTransferData::~MutableTransferData() {
    freeString(link_);
}

void MutableTransferData::setStatus(int32_t status) {
    status_ = status;
    if (status == kStatusRetrying) {
        retryCount_++;
    }
}

void MutableTransferData::setFile(const char* file) {
    replaceString(&file_, file);
}

void MutableTransferData::setSession(const char* session) {
    replaceString(&session_, session);
}

void MutableTransferData::setTransferred(uint64_t transferred) {
    previousTransferred_ = transferred_;
    transferred_ = transferred;
}

void MutableTransferData::setUploadToken(const uint8_t* data, size_t size) {
    uploadToken_ = data ? std::make_unique<ByteVector>(data, data + size) : std::make_unique<ByteVector>();
}

void MutableTransferData::setLink(const char* link) {
    replaceString(&link_, link);
}

TransferChunk& MutableTransferData::getChunk(uint64_t offset) {
    TransferChunk& chunk = chunks_[offset];
    chunk.offset = offset;
    return chunk;
}

const std::vector<int32_t>& MutableTransferData::indexColumns() {
    static const std::vector<int32_t> kNone;
    return kNone;
}

const RecordColumns<MutableTransferData>& MutableTransferData::columns() {
    using T = MutableTransferData;
    static const RecordColumns<T> kColumns = {
        column::number<T>("tag", &T::tag_),
        column::number<T>("type", &T::type_),
        // A read restores the status as it was, without counting a retry.
        column::number<T>("status", &T::status_),
        column::number<T>("nodeType", &T::nodeType_),
        column::number<T>("priority", &T::priority_),
        column::text<T>(
            "file", [](const T& t) { return static_cast<const char*>(t.file_); },
            [](T& t, const char* v) { t.setFile(v); }),
        column::number<T>("nodeId", &T::nodeId_),
        column::number<T>("size", &T::size_),
        column::text<T>(
            "session", [](const T& t) { return static_cast<const char*>(t.session_); },
            [](T& t, const char* v) { t.setSession(v); }),
    };
    return kColumns;
}

}  // namespace corvane
