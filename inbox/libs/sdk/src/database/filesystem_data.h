#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "database/table_record.h"

namespace corvane {

// A filesystem: the key material under which the nodes of one root are kept (cache table
// "filesystem"). In memory and in the table both keys are held decrypted.
class FilesystemData : public TableRecord<FilesystemData> {
public:
    using ByteVector = std::vector<uint8_t>;

    FilesystemData() = default;
    ~FilesystemData() override = default;

    uint64_t getId() const { return id_; }
    // Always id >> 15.
    uint64_t getRootId() const { return rootId_; }
    // Always the low 15 bits of the id.
    int32_t getIndex() const { return index_; }
    int32_t getType() const { return type_; }
    uint8_t getCrypto() const { return crypto_; }
    // Null when absent.
    const ByteVector* getNodeKey() const { return nodeKey_.get(); }
    const ByteVector* getFilesystemKey() const { return filesystemKey_.get(); }
    int64_t getSource() const { return source_; }
    int64_t getTarget() const { return target_; }
    int32_t getPermissions() const { return permissions_; }
    int64_t getCreationTime() const { return creationTime_; }

    // Also sets the root node id and the index.
    void setId(uint64_t id);
    void setType(int32_t type) { type_ = type; }
    void setCrypto(uint8_t crypto) { crypto_ = crypto; }
    // Take the buffer over, releasing the previous one; null removes the key.
    void setNodeKey(std::unique_ptr<ByteVector> key) { nodeKey_ = std::move(key); }
    void setFilesystemKey(std::unique_ptr<ByteVector> key) { filesystemKey_ = std::move(key); }
    void setSource(int64_t source) { source_ = source; }
    void setTarget(int64_t target) { target_ = target; }
    void setPermissions(int32_t permissions) { permissions_ = permissions; }
    void setCreationTime(int64_t time) { creationTime_ = time; }

private:
    friend class TableRecord<FilesystemData>;
    static const char* const kTableName;
    static const RecordColumns<FilesystemData>& columns();
    static const std::vector<int32_t>& indexColumns();

    uint64_t id_ = 0;
    uint64_t rootId_ = 0;
    int32_t index_ = 0;
    int32_t type_ = 0;
    uint8_t crypto_ = 0;
    std::unique_ptr<ByteVector> nodeKey_;
    std::unique_ptr<ByteVector> filesystemKey_;
    int64_t source_ = 0;
    int64_t target_ = 0;
    int32_t permissions_ = 0;
    int64_t creationTime_ = 0;
};

}  // namespace corvane
