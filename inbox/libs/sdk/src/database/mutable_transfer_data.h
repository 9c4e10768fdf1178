#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "database/table_record.h"
#include "database/transfer_data.h"

namespace corvane {

class ActionData;
class TransferListener;
class TransferProcessor;

// One chunk of a transfer, created on first use of its offset.
struct TransferChunk {
    uint64_t offset = 0;
    int32_t bytesWritten = 0;
    // The decrypted chunk while it waits to be written; null otherwise.
    std::unique_ptr<std::vector<uint8_t>> data;
};

// The writable transfer record with the working state of the transfer engine. It also
// describes a table "transfer" that no database creates.
class MutableTransferData : public TransferData, public TableRecord<MutableTransferData> {
public:
    MutableTransferData() = default;
    ~MutableTransferData() override;

    void setTag(int32_t tag) { tag_ = tag; }
    void setType(int32_t type) { type_ = type; }
    // Entering status 2 counts one more retry.
    void setStatus(int32_t status);
    void setNodeType(int32_t nodeType) { nodeType_ = nodeType; }
    void setPriority(int64_t priority) { priority_ = priority; }
    // Copies; null removes the text.
    void setFile(const char* file);
    void setSession(const char* session);
    void setNodeId(uint64_t nodeId) { nodeId_ = nodeId; }
    void setSize(uint64_t size) { size_ = size; }

    void setCryptoScheme(uint8_t scheme) { cryptoScheme_ = scheme; }
    // Moves the previous count into the previous-transferred field first.
    void setTransferred(uint64_t transferred);
    void setStartOffset(uint64_t offset) { startOffset_ = offset; }
    void setEndOffset(uint64_t offset) { endOffset_ = offset; }
    void setCurrentOffset(uint64_t offset) { currentOffset_ = offset; }
    void setLastFailureTime(int64_t time) { lastFailureTime_ = time; }
    void setModificationTime(uint64_t time) { modificationTime_ = time; }
    void setSpeed(uint64_t speed) { speed_ = speed; }
    void setData(ByteVector data) { data_ = std::move(data); }

    std::shared_ptr<ActionData> getAction() const { return action_; }
    void setAction(std::shared_ptr<ActionData> action) { action_ = std::move(action); }
    // Null when no upload answered yet.
    const ByteVector* getUploadToken() const { return uploadToken_.get(); }
    // Always keeps a buffer: length 0 gives an empty one.
    void setUploadToken(const uint8_t* data, size_t size);
    // Transfer link; null when absent.
    const char* getLink() const { return link_; }
    void setLink(const char* link);
    TransferProcessor* getProcessor() const { return processor_; }
    void setProcessor(TransferProcessor* processor) { processor_ = processor; }
    TransferListener* getOwner() const { return owner_; }
    void setOwner(TransferListener* owner) { owner_ = owner; }
    // The chunk at the offset, created when missing.
    TransferChunk& getChunk(uint64_t offset);
    std::map<uint64_t, TransferChunk>& getChunks() { return chunks_; }

private:
    friend class TableRecord<MutableTransferData>;
    static const char* const kTableName;
    static const RecordColumns<MutableTransferData>& columns();
    static const std::vector<int32_t>& indexColumns();

    std::shared_ptr<ActionData> action_;
    std::unique_ptr<ByteVector> uploadToken_;
    char* link_ = nullptr;
    std::map<uint64_t, TransferChunk> chunks_;
    // Not owned.
    TransferProcessor* processor_ = nullptr;
    TransferListener* owner_ = nullptr;
};

}  // namespace corvane
