#include "database/mutable_node_data.h"

#include <memory>

#include "corvane/handle.h"
#include "corvane/node_type.h"
#include "util/string_copy.h"

namespace corvane {

namespace {

// The shared flag lives in bit 8 of "flags", above the crypto byte.
constexpr int64_t kSharedFlag = 1 << 8;

std::unique_ptr<ByteVector> copyBytes(const uint8_t* data, size_t size) {
    return data ? std::make_unique<ByteVector>(data, data + size) : nullptr;
}

std::unique_ptr<ByteVector> copyBytes(const ByteVector* bytes) {
    return bytes ? std::make_unique<ByteVector>(*bytes) : nullptr;
}

template <class T>
std::unique_ptr<T> copyDetail(const T* detail) {
    return detail ? std::make_unique<T>(*detail) : nullptr;
}

}  // namespace

const char* const MutableNodeData::kTableName = "nodes";

MutableNodeData::MutableNodeData(const NodeData& node) : NodeData(node) {
    setId(id_);
    setParent(parent_);
}

void MutableNodeData::setId(uint64_t id) {
    id_ = id;
    idText_ = getHandleTextOrEmpty(id);
}

void MutableNodeData::setParent(uint64_t parent) {
    parent_ = parent;
    parentText_ = getHandleTextOrEmpty(parent);
}

void MutableNodeData::setName(const char* name) {
    replaceString(&name_, name);
}

void MutableNodeData::setKey(const uint8_t* data, size_t size) {
    key_ = copyBytes(data, size);
}

void MutableNodeData::setKey(const ByteVector* key) {
    key_ = copyBytes(key);
}

void MutableNodeData::setMetadata(const uint8_t* data, size_t size) {
    replaceData(&metadata_, data, size);
    metadataCount_ = data ? static_cast<uint8_t>(size / kMetadataEntrySize) : 0;
}

void MutableNodeData::setSparseHash(const uint8_t* data, size_t size) {
    sparseHash_ = copyBytes(data, size);
}

void MutableNodeData::setSparseHash(const ByteVector* hash) {
    sparseHash_ = copyBytes(hash);
}

void MutableNodeData::setFullHash(const uint8_t* data, size_t size) {
    fullHash_ = copyBytes(data, size);
}

void MutableNodeData::setFullHash(const ByteVector* hash) {
    fullHash_ = copyBytes(hash);
}

void MutableNodeData::setExtraData(const uint8_t* data, size_t size) {
    extraData_ = copyBytes(data, size);
}

void MutableNodeData::setExtraData(const ByteVector* data) {
    extraData_ = copyBytes(data);
}

void MutableNodeData::setPublicHandle(const uint8_t* data, size_t size) {
    publicHandle_ = copyBytes(data, size);
}

void MutableNodeData::setPublicHandle(const ByteVector* handle) {
    publicHandle_ = copyBytes(handle);
}

void MutableNodeData::setBackupInfo(const BackupInfo* info) {
    backupInfo_ = copyDetail(info);
}

void MutableNodeData::setSnapshotInfo(const SnapshotInfo* info) {
    snapshotInfo_ = copyDetail(info);
}

void MutableNodeData::setInboxInfo(const InboxInfo* info) {
    inboxInfo_ = copyDetail(info);
}

void MutableNodeData::setRecordInfo(const RecordInfo* info) {
    recordInfo_ = copyDetail(info);
}

BackupInfo& MutableNodeData::backupInfo() {
    if (!backupInfo_) {
        backupInfo_ = std::make_unique<BackupInfo>();
    }
    return *backupInfo_;
}

SnapshotInfo& MutableNodeData::snapshotInfo() {
    if (!snapshotInfo_) {
        snapshotInfo_ = std::make_unique<SnapshotInfo>();
    }
    return *snapshotInfo_;
}

InboxInfo& MutableNodeData::inboxInfo() {
    if (!inboxInfo_) {
        inboxInfo_ = std::make_unique<InboxInfo>();
    }
    return *inboxInfo_;
}

RecordInfo& MutableNodeData::recordInfo() {
    if (!recordInfo_) {
        recordInfo_ = std::make_unique<RecordInfo>();
    }
    return *recordInfo_;
}

void MutableNodeData::setStartTime(int64_t time) {
    if (type_ == SNAPSHOT_NODE) {
        snapshotInfo().setStartTime(time);
    } else {
        backupInfo().setStartTime(time);
    }
}

void MutableNodeData::setCronExpression(const char* cron) {
    if (type_ == SNAPSHOT_NODE) {
        snapshotInfo().setCron(cron);
    } else {
        backupInfo().setCron(cron);
    }
}

void MutableNodeData::setLocalPath(const char* path) {
    if (type_ == SNAPSHOT_NODE) {
        snapshotInfo().setLocalPath(path);
    } else {
        backupInfo().setLocalPath(path);
    }
}

void MutableNodeData::setStatus(uint8_t status) {
    if (type_ == SNAPSHOT_NODE) {
        snapshotInfo().setStatus(status);
    } else {
        backupInfo().setStatus(status);
    }
}

void MutableNodeData::setDevice(const char* device) {
    backupInfo().setDevice(device);
}

void MutableNodeData::setMaxSnapshots(uint16_t count) {
    backupInfo().setMaxSnapshots(count);
}

void MutableNodeData::setFinishTime(int64_t time) {
    snapshotInfo().setFinishTime(time);
}

void MutableNodeData::setFolderCount(uint64_t count) {
    snapshotInfo().setFolderCount(count);
}

void MutableNodeData::setFileCount(uint64_t count) {
    snapshotInfo().setFileCount(count);
}

void MutableNodeData::setTransferErrorCount(uint64_t count) {
    snapshotInfo().setTransferErrorCount(count);
}

void MutableNodeData::setContactInfo(const char* contact) {
    recordInfo().setContact(contact);
}

void MutableNodeData::setTarget(const char* inbox) {
    recordInfo().setInbox(inbox);
}

void MutableNodeData::setRecordMessage(const char* message) {
    recordInfo().setMessage(message);
}

void MutableNodeData::setInboxMessage(const char* message) {
    inboxInfo().setMessage(message);
}

void MutableNodeData::setInboxKey(const uint8_t* data, size_t size) {
    inboxInfo().setInboxKey(data, size);
}

void MutableNodeData::setInboxKey(const ByteVector& key) {
    inboxInfo().setInboxKey(&key);
}

const std::vector<int32_t>& MutableNodeData::indexColumns() {
    static const std::vector<int32_t> kIndexes = {PARENT, SHASH, FHASH};
    return kIndexes;
}

const RecordColumns<MutableNodeData>& MutableNodeData::columns() {
    using N = MutableNodeData;
    // Reading applies the columns in this order and a later column overrides an earlier one:
    // "crypto" comes after "flags" and "subject" after "name", and "message" relies on "type"
    // having been read already.
    static const RecordColumns<N> kColumns = {
        column::number<N>(
            "id", [](const N& n) { return static_cast<int64_t>(n.id_); },
            [](N& n, int64_t v) { n.setId(static_cast<uint64_t>(v)); }),
        column::number<N>("type", &N::type_),
        // A node without an own name is stored with its type's default name.
        column::text<N>(
            "name", [](const N& n) { return n.getName(); }, [](N& n, const char* v) { n.setName(v); }),
        column::bytes<N>("key", &N::key_),
        column::blob<N>(
            "metadata",
            [](const N& n) {
                // Whole entries only: bytes beyond the last entry are not kept.
                return n.metadata_ ? BlobView{n.metadata_, n.metadataCount_ * static_cast<uint32_t>(kMetadataEntrySize)}
                                   : BlobView{};
            },
            [](N& n, const uint8_t* data, uint32_t size) { n.setMetadata(data, size); }),
        column::bytes<N>("shash", &N::sparseHash_),
        column::bytes<N>("fhash", &N::fullHash_),
        column::number<N>("size", &N::size_),
        column::number<N>(
            "parent", [](const N& n) { return static_cast<int64_t>(n.parent_); },
            [](N& n, int64_t v) { n.setParent(static_cast<uint64_t>(v)); }),
        column::number<N>("filesystem", &N::filesystem_),
        column::number<N>("ctime", &N::creationTime_),
        column::number<N>("mtime", &N::modificationTime_),
        column::number<N>(
            "flags", [](const N& n) { return static_cast<int64_t>(n.crypto_) | (n.shared_ ? kSharedFlag : 0); },
            [](N& n, int64_t v) {
                n.crypto_ = static_cast<uint8_t>(v & 0xff);
                n.shared_ = (v & kSharedFlag) != 0;
            }),
        column::text<N>(
            "device", [](const N& n) { return n.getDevice(); }, [](N& n, const char* v) { n.setDevice(v); }),
        column::number<N>(
            "stime", [](const N& n) { return n.getStartTime(); }, [](N& n, int64_t v) { n.setStartTime(v); }),
        column::text<N>(
            "cron", [](const N& n) { return n.getCron(); }, [](N& n, const char* v) { n.setCronExpression(v); }),
        column::text<N>(
            "lpath", [](const N& n) { return n.getLocalPath(); }, [](N& n, const char* v) { n.setLocalPath(v); }),
        column::number<N>(
            "status",
            [](const N& n) {
                return (static_cast<int64_t>(n.getStatusFlags() & 0xffff) << 8) |
                       static_cast<int64_t>(n.getStatus() & 0xff);
            },
            [](N& n, int64_t v) {
                n.setStatus(static_cast<uint8_t>(v & 0xff));
                n.setMaxSnapshots(static_cast<uint16_t>((v >> 8) & 0xffff));
            }),
        column::text<N>(
            "message", [](const N& n) { return n.getMessage(); },
            [](N& n, const char* v) {
                if (n.type_ == INBOX_NODE) {
                    n.setInboxMessage(v);
                } else if (n.type_ == RECORD_NODE) {
                    n.setRecordMessage(v);
                }
            }),
        column::text<N>(
            "contact", [](const N& n) { return n.getContact(); }, [](N& n, const char* v) { n.setContactInfo(v); }),
        column::text<N>(
            "subject", [](const N& n) { return n.getName(); }, [](N& n, const char* v) { n.setName(v); }),
        column::number<N>("full", &N::full_),
        column::text<N>(
            "inbox", [](const N& n) { return n.getInbox(); }, [](N& n, const char* v) { n.setTarget(v); }),
        column::blob<N>(
            "inboxKey", [](const N& n) { return viewOf(n.getInboxKey()); },
            [](N& n, const uint8_t* data, uint32_t size) { n.setInboxKey(data, size); }),
        column::number<N>("extranumber", &N::extraNumber_),
        column::bytes<N>("extradata", &N::extraData_),
        column::number<N>(
            "ftime", [](const N& n) { return n.getFinishTime(); }, [](N& n, int64_t v) { n.setFinishTime(v); }),
        column::number<N>(
            "nfolders", [](const N& n) { return static_cast<int64_t>(n.getFolderCount()); },
            [](N& n, int64_t v) { n.setFolderCount(static_cast<uint64_t>(v)); }),
        column::number<N>(
            "nfiles", [](const N& n) { return static_cast<int64_t>(n.getFileCount()); },
            [](N& n, int64_t v) { n.setFileCount(static_cast<uint64_t>(v)); }),
        column::number<N>(
            "ntrerror", [](const N& n) { return static_cast<int64_t>(n.getTransferErrorCount()); },
            [](N& n, int64_t v) { n.setTransferErrorCount(static_cast<uint64_t>(v)); }),
        column::number<N>("depth", &N::depth_),
        column::number<N>("crypto", &N::crypto_),
        column::number<N>("external", &N::external_),
    };
    return kColumns;
}

}  // namespace corvane
