#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "database/mutable_node_data.h"

namespace corvane {

// A node as it travels to and from the service: the node record plus the sealed buffers that
// only the client can open. Each buffer is null when absent.
class EncryptedNodeData : public MutableNodeData {
public:
    EncryptedNodeData() = default;
    ~EncryptedNodeData() override;

    const ByteVector* getEncryptedFingerprint() const { return encryptedFingerprint_.get(); }
    const ByteVector* getEncryptedAttributes() const { return encryptedAttributes_.get(); }
    const ByteVector* getEncryptedChildKey() const { return encryptedChildKey_.get(); }
    const ByteVector* getEncryptedNodeKey() const { return encryptedNodeKey_.get(); }
    const ByteVector* getUploadToken() const { return uploadToken_.get(); }

    // Each stores a copy of the bytes; null data removes the buffer.
    void setEncryptedFingerprint(const uint8_t* data, size_t size);
    void setEncryptedAttributes(const uint8_t* data, size_t size);
    void setEncryptedChildKey(const uint8_t* data, size_t size);
    void setEncryptedNodeKey(const uint8_t* data, size_t size);
    void setUploadToken(const uint8_t* data, size_t size);

private:
    std::unique_ptr<ByteVector> encryptedFingerprint_;
    std::unique_ptr<ByteVector> encryptedAttributes_;
    std::unique_ptr<ByteVector> encryptedChildKey_;
    std::unique_ptr<ByteVector> encryptedNodeKey_;
    std::unique_ptr<ByteVector> uploadToken_;
};

}  // namespace corvane
