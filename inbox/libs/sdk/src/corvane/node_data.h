#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "corvane/error.h"

namespace corvane {

using ByteVector = std::vector<uint8_t>;

// Details of backups and devices. C strings are owned copies, null when unset.
class BackupInfo {
public:
    BackupInfo() = default;
    BackupInfo(const BackupInfo& other);
    BackupInfo& operator=(const BackupInfo& other);
    ~BackupInfo();

    const char* getDevice() const { return device_; }
    int64_t getStartTime() const { return startTime_; }
    const char* getCron() const { return cron_; }
    const char* getLocalPath() const { return localPath_; }
    int32_t getMaxSnapshots() const { return maxSnapshots_; }
    // Bit 0 set: disabled; status & 3 == 2: a snapshot is pending.
    uint8_t getStatus() const { return status_; }

    void setDevice(const char* device);
    void setStartTime(int64_t startTime) { startTime_ = startTime; }
    void setCron(const char* cron);
    void setLocalPath(const char* localPath);
    void setMaxSnapshots(int32_t maxSnapshots) { maxSnapshots_ = maxSnapshots; }
    void setStatus(uint8_t status) { status_ = status; }

private:
    char* device_ = nullptr;
    int64_t startTime_ = 0;
    char* cron_ = nullptr;
    char* localPath_ = nullptr;
    int32_t maxSnapshots_ = 0;
    uint8_t status_ = 0;
};

// Details of snapshots (type 42).
class SnapshotInfo {
public:
    SnapshotInfo() = default;
    SnapshotInfo(const SnapshotInfo& other);
    SnapshotInfo& operator=(const SnapshotInfo& other);
    ~SnapshotInfo();

    uint64_t getFolderCount() const { return folderCount_; }
    uint64_t getFileCount() const { return fileCount_; }
    uint64_t getTransferErrorCount() const { return transferErrorCount_; }
    int64_t getStartTime() const { return startTime_; }
    int64_t getFinishTime() const { return finishTime_; }
    const char* getCron() const { return cron_; }
    const char* getLocalPath() const { return localPath_; }
    uint8_t getStatus() const { return status_; }

    void setFolderCount(uint64_t count) { folderCount_ = count; }
    void setFileCount(uint64_t count) { fileCount_ = count; }
    void setTransferErrorCount(uint64_t count) { transferErrorCount_ = count; }
    void setStartTime(int64_t startTime) { startTime_ = startTime; }
    void setFinishTime(int64_t finishTime) { finishTime_ = finishTime; }
    void setCron(const char* cron);
    void setLocalPath(const char* localPath);
    void setStatus(uint8_t status) { status_ = status; }

private:
    uint64_t folderCount_ = 0;
    uint64_t fileCount_ = 0;
    uint64_t transferErrorCount_ = 0;
    int64_t startTime_ = 0;
    int64_t finishTime_ = 0;
    char* cron_ = nullptr;
    char* localPath_ = nullptr;
    uint8_t status_ = 0;
};

// Details of inboxes (type 43) and outboxes (type 47).
class InboxInfo {
public:
    InboxInfo() = default;
    InboxInfo(const InboxInfo& other);
    InboxInfo& operator=(const InboxInfo& other);
    ~InboxInfo();

    // The inbox's message or description.
    const char* getMessage() const { return message_; }
    // Null when unset.
    const ByteVector* getInboxKey() const { return inboxKey_.get(); }

    void setMessage(const char* message);
    // A copy of the bytes; null removes the key.
    void setInboxKey(const uint8_t* data, size_t size);
    void setInboxKey(const ByteVector* key);

private:
    char* message_ = nullptr;
    std::unique_ptr<ByteVector> inboxKey_;
};

// Details of records (type 44).
class RecordInfo {
public:
    RecordInfo() = default;
    RecordInfo(const RecordInfo& other);
    RecordInfo& operator=(const RecordInfo& other);
    ~RecordInfo();

    const char* getContact() const { return contact_; }
    const char* getInbox() const { return inbox_; }
    const char* getMessage() const { return message_; }

    void setContact(const char* contact);
    void setInbox(const char* inbox);
    void setMessage(const char* message);

private:
    char* contact_ = nullptr;
    char* inbox_ = nullptr;
    char* message_ = nullptr;
};

// One node of the account's tree (cache table "nodes"). Read-only here; the writable
// subclass adds the setters. A node owns its name, buffers and details; copies are deep.
class NodeData {
public:
    // Bytes per metadata entry: kind, one unused byte, the 64-bit handle (little-endian).
    static constexpr size_t kMetadataEntrySize = 10;

    NodeData();
    // Every field; the given details and buffers are copied, nulls leave them unset.
    // metadataCount entries of kMetadataEntrySize bytes are read from metadata.
    NodeData(uint64_t id, int32_t type, const char* name, const ByteVector* key, const uint8_t* metadata,
             uint8_t metadataCount, const ByteVector* sparseHash, const ByteVector* fullHash, uint64_t size,
             uint64_t parent, uint64_t filesystem, int64_t creationTime, int64_t modificationTime, uint8_t crypto,
             bool shared, bool full, uint64_t extraNumber, const ByteVector* extraData, const ByteVector* publicHandle,
             uint8_t depth, bool external, const Error& error, const BackupInfo* backupInfo,
             const SnapshotInfo* snapshotInfo, const InboxInfo* inboxInfo, const RecordInfo* recordInfo);
    NodeData(const NodeData& other);
    NodeData& operator=(const NodeData& other);
    virtual ~NodeData();

    uint64_t getId() const { return id_; }
    // Text form of the id; empty for 0.
    std::string getIdText() const { return idText_; }
    int32_t getType() const { return type_; }

    // The own name, or the default name of the node's type.
    const char* getName() const;
    std::string getNameString() const { return getName(); }
    const char* getSubject() const { return getName(); }
    // The own name only; null when unset.
    const char* getOwnName() const { return name_; }

    const ByteVector* getKey() const { return key_.get(); }
    // Base64URL text of the key; empty without one.
    std::string getKeyText() const;

    const uint8_t* getMetadataBuffer() const { return metadata_; }
    uint8_t getMetadataCount() const { return metadataCount_; }
    // The handle of the first metadata entry of the kind; 0 when none.
    uint64_t getMetadata(uint8_t kind) const;
    bool hasMetadata(uint8_t kind) const;

    const ByteVector* getSparseHash() const { return sparseHash_.get(); }
    const ByteVector* getFullHash() const { return fullHash_.get(); }
    // The sparse hash when set, else the full hash.
    const ByteVector* getHash() const { return sparseHash_ ? sparseHash_.get() : fullHash_.get(); }

    uint64_t getParent() const { return parent_; }
    // Text form of the parent; empty for 0.
    std::string getParentText() const { return parentText_; }
    uint64_t getSize() const { return size_; }
    uint64_t getFilesystem() const { return filesystem_; }
    int64_t getCreationTime() const { return creationTime_; }
    int64_t getModificationTime() const { return modificationTime_; }
    uint8_t getCrypto() const { return crypto_; }
    bool getNodeFlag() const { return shared_; }
    bool isFull() const { return full_; }
    uint64_t getExtraNumber() const { return extraNumber_; }
    const ByteVector* getExtraData() const { return extraData_.get(); }
    const ByteVector* getPublicHandle() const { return publicHandle_.get(); }
    uint8_t getDepth() const { return depth_; }
    bool isExternal() const { return external_; }
    Error getError() const { return error_; }

    const BackupInfo* getBackupInfo() const { return backupInfo_.get(); }
    const SnapshotInfo* getSnapshotInfo() const { return snapshotInfo_.get(); }
    const InboxInfo* getInboxInfo() const { return inboxInfo_.get(); }
    const RecordInfo* getRecordInfo() const { return recordInfo_.get(); }

    // A contact's account handle; 0 for other nodes.
    uint64_t getContactHandle() const;
    const char* getDevice() const;
    // From the snapshot details of a snapshot, from the backup details of any other node.
    const char* getCron() const;
    const char* getLocalPath() const;
    int64_t getStartTime() const;
    int64_t getFinishTime() const;
    uint64_t getFolderCount() const;
    uint64_t getFileCount() const;
    uint64_t getTransferErrorCount() const;
    // Snapshot: its status; record: the extra number; other nodes: the backup status.
    int32_t getStatus() const;
    // The backup's maximum snapshot count.
    int32_t getStatusFlags() const;
    bool isEnabled() const { return (getStatus() & 1) == 0; }
    bool isPending() const { return (getStatus() & 3) == 2; }

    // An inbox's description or a record's message; null for other nodes.
    const char* getMessage() const;
    const char* getInboxDescription() const;
    const ByteVector* getInboxKey() const;
    const char* getContact() const;
    const char* getInbox() const;
    const char* getRecordMessage() const;

    // An outbox's link to its inbox: web address, "/inbox/", the extra data's text and, when
    // there is an inbox key, "#" and the key's text. Null for other nodes; owned by the caller.
    std::unique_ptr<char[]> getInboxLink() const;
    std::string getInboxLinkString() const;

    bool isFile() const;
    bool isContainer() const;
    bool isFilesystemRoot() const;
    bool isRoot() const;

protected:
    void copyFrom(const NodeData& other);
    void releaseOwned();

    uint64_t id_ = 0;
    int32_t type_ = -1;
    char* name_ = nullptr;
    std::unique_ptr<ByteVector> key_;
    uint8_t* metadata_ = nullptr;
    uint8_t metadataCount_ = 0;
    std::unique_ptr<ByteVector> sparseHash_;
    std::unique_ptr<ByteVector> fullHash_;
    std::string idText_;
    std::string parentText_;
    uint64_t size_ = 0;
    uint64_t parent_ = 0;
    uint64_t filesystem_ = 0;
    int64_t creationTime_ = 0;
    int64_t modificationTime_ = 0;
    uint8_t crypto_ = 0;
    bool shared_ = false;
    bool full_ = false;
    uint64_t extraNumber_ = 0;
    std::unique_ptr<ByteVector> extraData_;
    std::unique_ptr<ByteVector> publicHandle_;
    uint8_t depth_ = 0;
    bool external_ = false;
    Error error_;
    std::unique_ptr<BackupInfo> backupInfo_;
    std::unique_ptr<SnapshotInfo> snapshotInfo_;
    std::unique_ptr<InboxInfo> inboxInfo_;
    std::unique_ptr<RecordInfo> recordInfo_;
};

using NodeList = std::vector<std::shared_ptr<NodeData>>;

}  // namespace corvane
