#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "corvane/error.h"
#include "corvane/node_data.h"
#include "database/table_record.h"

namespace corvane {

// The writable node and its row of the cache table "nodes".
class MutableNodeData : public NodeData, public TableRecord<MutableNodeData> {
public:
    // Column indices of the table.
    enum Column : int32_t {
        ID = 0,
        TYPE,
        NAME,
        KEY,
        METADATA,
        SHASH,
        FHASH,
        SIZE,
        PARENT,
        FILESYSTEM,
        CTIME,
        MTIME,
        FLAGS,
        DEVICE,
        STIME,
        CRON,
        LPATH,
        STATUS,
        MESSAGE,
        CONTACT,
        SUBJECT,
        FULL,
        INBOX,
        INBOX_KEY,
        EXTRANUMBER,
        EXTRADATA,
        FTIME,
        NFOLDERS,
        NFILES,
        NTRERROR,
        DEPTH,
        CRYPTO,
        EXTERNAL,
    };

    MutableNodeData() = default;
    // Copies every field, then rebuilds both handle texts from the numbers.
    explicit MutableNodeData(const NodeData& node);
    ~MutableNodeData() override = default;

    // The handle and its text form (empty for 0).
    void setId(uint64_t id);
    void setParent(uint64_t parent);
    void setType(int32_t type) { type_ = type; }
    // A copy; null removes the own name.
    void setName(const char* name);
    // Byte buffers are replaced by copies; null removes them.
    void setKey(const uint8_t* data, size_t size);
    void setKey(const ByteVector* key);
    // Keeps the bytes; the entry count is length / 10.
    void setMetadata(const uint8_t* data, size_t size);
    void setSparseHash(const uint8_t* data, size_t size);
    void setSparseHash(const ByteVector* hash);
    void setFullHash(const uint8_t* data, size_t size);
    void setFullHash(const ByteVector* hash);
    void setSize(uint64_t size) { size_ = size; }
    void setFilesystem(uint64_t filesystem) { filesystem_ = filesystem; }
    void setCreationTime(int64_t time) { creationTime_ = time; }
    void setModificationTime(int64_t time) { modificationTime_ = time; }
    void setCrypto(uint8_t crypto) { crypto_ = crypto; }
    void setNodeFlag(bool shared) { shared_ = shared; }
    void setFull(bool full) { full_ = full; }
    void setExtraNumber(uint64_t number) { extraNumber_ = number; }
    void setExtraData(const uint8_t* data, size_t size);
    void setExtraData(const ByteVector* data);
    void setPublicHandle(const uint8_t* data, size_t size);
    void setPublicHandle(const ByteVector* handle);
    void setDepth(uint8_t depth) { depth_ = depth; }
    void setExternal(bool external) { external_ = external; }
    void setError(const Error& error) { error_ = error; }

    // Copies of the details; null removes them.
    void setBackupInfo(const BackupInfo* info);
    void setSnapshotInfo(const SnapshotInfo* info);
    void setInboxInfo(const InboxInfo* info);
    void setRecordInfo(const RecordInfo* info);

    // Snapshot details for a snapshot (type 42), backup details for any other node; the
    // detail is created when missing.
    void setStartTime(int64_t time);
    void setCronExpression(const char* cron);
    void setLocalPath(const char* path);
    void setStatus(uint8_t status);
    // Backup details, created when missing.
    void setDevice(const char* device);
    void setMaxSnapshots(uint16_t count);
    // Snapshot details, created when missing.
    void setFinishTime(int64_t time);
    void setFolderCount(uint64_t count);
    void setFileCount(uint64_t count);
    void setTransferErrorCount(uint64_t count);
    // Record details, created when missing.
    void setContactInfo(const char* contact);
    void setTarget(const char* inbox);
    void setRecordMessage(const char* message);
    // Inbox details, created when missing.
    void setInboxMessage(const char* message);
    void setInboxKey(const uint8_t* data, size_t size);
    void setInboxKey(const ByteVector& key);

    // Whether the node's children are held in the cloud model's RAM. Kept in memory only,
    // never a column.
    bool getChildrenLoaded() const { return childrenLoaded_; }
    void setChildrenLoaded(bool loaded) { childrenLoaded_ = loaded; }

private:
    friend class TableRecord<MutableNodeData>;
    static const char* const kTableName;
    static const RecordColumns<MutableNodeData>& columns();
    static const std::vector<int32_t>& indexColumns();

    BackupInfo& backupInfo();
    SnapshotInfo& snapshotInfo();
    InboxInfo& inboxInfo();
    RecordInfo& recordInfo();

    bool childrenLoaded_ = false;
};

}  // namespace corvane
