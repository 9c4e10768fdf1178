#include "cloud/encrypted_node_data.h"

namespace corvane {

namespace {

std::unique_ptr<ByteVector> copyOf(const uint8_t* data, size_t size) {
    return data ? std::make_unique<ByteVector>(data, data + size) : nullptr;
}

}  // namespace

EncryptedNodeData::~EncryptedNodeData() = default;

void EncryptedNodeData::setEncryptedFingerprint(const uint8_t* data, size_t size) {
    encryptedFingerprint_ = copyOf(data, size);
}

void EncryptedNodeData::setEncryptedAttributes(const uint8_t* data, size_t size) {
    encryptedAttributes_ = copyOf(data, size);
}

void EncryptedNodeData::setEncryptedChildKey(const uint8_t* data, size_t size) {
    encryptedChildKey_ = copyOf(data, size);
}

void EncryptedNodeData::setEncryptedNodeKey(const uint8_t* data, size_t size) {
    encryptedNodeKey_ = copyOf(data, size);
}

void EncryptedNodeData::setUploadToken(const uint8_t* data, size_t size) {
    uploadToken_ = copyOf(data, size);
}

}  // namespace corvane
