#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "corvane/error.h"

namespace corvane {

// The record of one transfer (the movement of a file or of a byte range of it), shared by
// its creator, the queue that holds it and the processor serving it. Read-only here; the
// writable subclass sets the fields.
class TransferData {
public:
    using ByteVector = std::vector<uint8_t>;

    // A new transfer is READY (status 1) and moves a file (node type 20).
    TransferData();
    TransferData(const TransferData&) = delete;
    TransferData& operator=(const TransferData&) = delete;
    virtual ~TransferData();

    int32_t getTag() const { return tag_; }
    // The direction: 0 upload, 1 download.
    int32_t getType() const { return type_; }
    int32_t getStatus() const { return status_; }
    // Whether the transfer waits for another attempt (status 2).
    bool isRetrying() const { return status_ == kStatusRetrying; }
    int32_t getNodeType() const { return nodeType_; }
    int64_t getPriority() const { return priority_; }
    // Local path; null when absent.
    const char* getFile() const { return file_; }
    uint64_t getNodeId() const { return nodeId_; }
    uint64_t getSize() const { return size_; }
    // Session or link token; null when absent.
    const char* getSession() const { return session_; }

    // Null when absent.
    const ByteVector* getNodeKey() const { return nodeKey_.get(); }
    const ByteVector* getFullHash() const { return fullHash_.get(); }
    const ByteVector* getSparseHash() const { return sparseHash_.get(); }
    // Copies of the bytes; null removes the buffer.
    void setNodeKey(const uint8_t* data, size_t size);
    void setFullHash(const uint8_t* data, size_t size);
    void setSparseHash(const uint8_t* data, size_t size);

    // How many times the status became 2.
    uint8_t getRetryCount() const { return retryCount_; }
    Error getError() const { return Error(errorCode_); }
    const char* getErrorString() const { return Error::getMessage(errorCode_); }
    void setError(const Error& error) { errorCode_ = error.getCode(); }

    uint8_t getCryptoScheme() const { return cryptoScheme_; }
    uint64_t getTransferred() const { return transferred_; }
    uint64_t getPreviousTransferred() const { return previousTransferred_; }
    uint64_t getStartOffset() const { return startOffset_; }
    uint64_t getEndOffset() const { return endOffset_; }
    uint64_t getCurrentOffset() const { return currentOffset_; }
    int64_t getLastFailureTime() const { return lastFailureTime_; }
    uint64_t getModificationTime() const { return modificationTime_; }
    uint64_t getSpeed() const { return speed_; }
    // The last chunk handed to an owner without a local file.
    const ByteVector& getData() const { return data_; }

    static constexpr int32_t kStatusReady = 1;
    static constexpr int32_t kStatusRetrying = 2;
    static constexpr int32_t kNodeTypeFile = 20;

protected:
    int32_t tag_ = 0;
    int32_t type_ = 0;
    int32_t status_ = kStatusReady;
    int32_t nodeType_ = kNodeTypeFile;
    int64_t priority_ = 0;
    char* file_ = nullptr;
    uint64_t nodeId_ = 0;
    uint64_t size_ = 0;
    char* session_ = nullptr;
    std::unique_ptr<ByteVector> nodeKey_;
    std::unique_ptr<ByteVector> fullHash_;
    std::unique_ptr<ByteVector> sparseHash_;
    uint8_t retryCount_ = 0;
    int32_t errorCode_ = SUCCESS;
    uint8_t cryptoScheme_ = 0;
    uint64_t transferred_ = 0;
    uint64_t previousTransferred_ = 0;
    uint64_t startOffset_ = 0;
    uint64_t endOffset_ = 0;
    uint64_t currentOffset_ = 0;
    int64_t lastFailureTime_ = 0;
    uint64_t modificationTime_ = 0;
    uint64_t speed_ = 0;
    ByteVector data_;
};

}  // namespace corvane
