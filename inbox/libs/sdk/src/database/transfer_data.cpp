#include "database/transfer_data.h"

#include "util/string_copy.h"

namespace corvane {

namespace {
std::unique_ptr<TransferData::ByteVector> copyBytes(const uint8_t* data, size_t size) {
    return data ? std::make_unique<TransferData::ByteVector>(data, data + size) : nullptr;
}
}  // namespace

TransferData::TransferData() = default;

TransferData::~TransferData() {
    freeString(file_);
    freeString(session_);
}

void TransferData::setNodeKey(const uint8_t* data, size_t size) {
    nodeKey_ = copyBytes(data, size);
}

void TransferData::setFullHash(const uint8_t* data, size_t size) {
    fullHash_ = copyBytes(data, size);
}

void TransferData::setSparseHash(const uint8_t* data, size_t size) {
    sparseHash_ = copyBytes(data, size);
}

}  // namespace corvane
