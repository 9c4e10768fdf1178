#include "crypto/node_attributes.h"

#include <cstring>
#include <utility>

#include <flatbuffers/flatbuffers.h>

#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "node_attributes_generated.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr size_t kInitialBuilderSize = 1024;
constexpr flatbuffers::uoffset_t kMaxDepth = 64;
constexpr flatbuffers::uoffset_t kMaxTables = 1000000;

using Builder = flatbuffers::FlatBufferBuilder;
using StringOffset = flatbuffers::Offset<flatbuffers::String>;

StringOffset optionalString(Builder& builder, const char* text) {
    return text ? builder.CreateString(text) : StringOffset();
}

// Whether a scalar was written: a writer that does not force defaults leaves out zeros, and
// only a value that is there replaces what the node has.
template <typename T>
bool hasField(const T* table, flatbuffers::voffset_t field) {
    return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

struct Extended {
    ExtendedAttributes type = ExtendedAttributes::NONE;
    flatbuffers::Offset<void> value;
    const char* logLine = nullptr;
};

Extended buildExtended(Builder& builder, const MutableNodeData& node) {
    Extended extended;
    switch (node.getType()) {
        case BACKUP_NODE: {
            StringOffset cron = optionalString(builder, node.getCron());
            StringOffset localPath = optionalString(builder, node.getLocalPath());
            extended.value = CreateBackupAttributes(builder, node.getStartTime(), cron, localPath,
                                                    static_cast<uint16_t>(node.getStatusFlags() & 0xFFFF),
                                                    static_cast<uint8_t>(node.getStatus() & 0xFF))
                                 .Union();
            extended.type = ExtendedAttributes::BackupAttributes;
            extended.logLine = "Setting extended backup attributes";
            break;
        }
        case SNAPSHOT_NODE: {
            StringOffset cron = optionalString(builder, node.getCron());
            StringOffset localPath = optionalString(builder, node.getLocalPath());
            SnapshotAttributesBuilder snapshot(builder);
            snapshot.add_startTime(node.getStartTime());
            snapshot.add_finishTime(node.getFinishTime());
            if (!cron.IsNull()) {
                snapshot.add_cronExpression(cron);
            }
            if (!localPath.IsNull()) {
                snapshot.add_localPath(localPath);
            }
            snapshot.add_status(static_cast<uint8_t>(node.getStatus() & 0xFF));
            snapshot.add_fileCount(node.getFileCount());
            snapshot.add_transferErrorCount(node.getTransferErrorCount());
            snapshot.add_folderCount(node.getFolderCount());
            snapshot.add_size(node.getSize());
            extended.value = snapshot.Finish().Union();
            extended.type = ExtendedAttributes::SnapshotAttributes;
            extended.logLine = "Setting extended snapshot attributes";
            break;
        }
        case INBOX_NODE: {
            StringOffset message = optionalString(builder, node.getInboxDescription());
            extended.value = CreateInboxAttributes(builder, message).Union();
            extended.type = ExtendedAttributes::InboxAttributes;
            extended.logLine = "Setting extended inbox attributes";
            break;
        }
        case RECORD_NODE: {
            StringOffset contact = optionalString(builder, node.getContact());
            StringOffset target = optionalString(builder, node.getInbox());
            StringOffset message = optionalString(builder, node.getRecordMessage());
            extended.value = CreateRecordAttributes(builder, contact, target, message).Union();
            extended.type = ExtendedAttributes::RecordAttributes;
            extended.logLine = "Setting extended record attributes";
            break;
        }
        case CONTACT_NODE:
            extended.value = CreateContactAttributes(builder).Union();
            extended.type = ExtendedAttributes::ContactAttributes;
            extended.logLine = "Setting extended contact attributes";
            break;
        case OUTBOX_NODE: {
            flatbuffers::Offset<flatbuffers::Vector<uint8_t>> inboxKey;
            if (const ByteVector* key = node.getInboxKey()) {
                inboxKey = builder.CreateVector(*key);
            }
            extended.value = CreateOutboxAttributes(builder, inboxKey).Union();
            extended.type = ExtendedAttributes::OutboxAttributes;
            extended.logLine = "Setting extended outbox attributes";
            break;
        }
        default:
            break;
    }
    return extended;
}

void applyBackup(const BackupAttributes& backup, MutableNodeData& node) {
    if (hasField(&backup, BackupAttributes::VT_STARTTIME)) {
        CLOG_DEBUG("Start time of node available: {}", backup.startTime());
        node.setStartTime(backup.startTime());
    }
    if (const flatbuffers::String* cron = backup.cronExpression()) {
        CLOG_DEBUG("Cron expr of node available: {}", cron->c_str());
        node.setCronExpression(cron->c_str());
    }
    if (const flatbuffers::String* localPath = backup.localPath()) {
        CLOG_DEBUG("Local path of node available: {}", localPath->c_str());
        node.setLocalPath(localPath->c_str());
    }
    CLOG_DEBUG("Backup max snapshots: {}", backup.maxSnapshots());
    node.setMaxSnapshots(backup.maxSnapshots());
    CLOG_DEBUG("Backup status: {}", backup.status());
    node.setStatus(backup.status());
}

void applySnapshot(const SnapshotAttributes& snapshot, MutableNodeData& node) {
    if (hasField(&snapshot, SnapshotAttributes::VT_STARTTIME)) {
        CLOG_DEBUG("Start time of node available: {}", snapshot.startTime());
        node.setStartTime(snapshot.startTime());
    }
    if (hasField(&snapshot, SnapshotAttributes::VT_FINISHTIME)) {
        CLOG_DEBUG("Finish time of node available: {}", snapshot.finishTime());
        node.setFinishTime(snapshot.finishTime());
    }
    if (const flatbuffers::String* cron = snapshot.cronExpression()) {
        CLOG_DEBUG("Cron expr of node available: {}", cron->c_str());
        node.setCronExpression(cron->c_str());
    }
    if (const flatbuffers::String* localPath = snapshot.localPath()) {
        CLOG_DEBUG("Local path of node available: {}", localPath->c_str());
        node.setLocalPath(localPath->c_str());
    }
    CLOG_DEBUG("Snapshot status: {}", snapshot.status());
    node.setStatus(snapshot.status());
    node.setFolderCount(snapshot.folderCount());
    node.setFileCount(snapshot.fileCount());
    node.setTransferErrorCount(snapshot.transferErrorCount());
    node.setSize(snapshot.size());
}

void applyExtended(const NodeAttributes& attributes, MutableNodeData& node) {
    if (!attributes.extended()) {
        return;
    }
    switch (attributes.extended_type()) {
        case ExtendedAttributes::BackupAttributes:
            applyBackup(*attributes.extended_as_BackupAttributes(), node);
            break;
        case ExtendedAttributes::SnapshotAttributes:
            applySnapshot(*attributes.extended_as_SnapshotAttributes(), node);
            break;
        case ExtendedAttributes::InboxAttributes:
            if (const flatbuffers::String* message = attributes.extended_as_InboxAttributes()->message()) {
                node.setInboxMessage(message->c_str());
            }
            break;
        case ExtendedAttributes::RecordAttributes: {
            const RecordAttributes* record = attributes.extended_as_RecordAttributes();
            if (record->contactInfo()) {
                node.setContactInfo(record->contactInfo()->c_str());
            }
            if (record->target()) {
                node.setTarget(record->target()->c_str());
            }
            if (record->message()) {
                node.setRecordMessage(record->message()->c_str());
            }
            break;
        }
        case ExtendedAttributes::OutboxAttributes:
            if (const flatbuffers::Vector<uint8_t>* key = attributes.extended_as_OutboxAttributes()->inboxKey()) {
                node.setInboxKey(key->data(), key->size());
            }
            break;
        default:
            break;
    }
}

}  // namespace

std::unique_ptr<FlatbufferByteArray> buildNodeAttributes(const MutableNodeData& node) {
    Builder builder(kInitialBuilderSize);

    StringOffset name = builder.CreateString(node.getName());
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> sparseHash;
    if (const ByteVector* hash = node.getSparseHash()) {
        sparseHash = builder.CreateVector(*hash);
    }
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> fullHash;
    if (const ByteVector* hash = node.getFullHash()) {
        fullHash = builder.CreateVector(*hash);
    }
    Extended extended = buildExtended(builder, node);

    NodeAttributesBuilder attributes(builder);
    attributes.add_name(name);
    if (node.getModificationTime() != 0) {
        CLOG_DEBUG("Setting modification time of node to {}", node.getModificationTime());
        attributes.add_modificationTime(node.getModificationTime());
    }
    if (!sparseHash.IsNull()) {
        CLOG_DEBUG("Setting sparse hash of node");
        attributes.add_sparseHash(sparseHash);
    }
    if (!fullHash.IsNull()) {
        CLOG_DEBUG("Setting full hash of node");
        attributes.add_fullHash(fullHash);
    }
    if (extended.type != ExtendedAttributes::NONE) {
        CLOG_DEBUG("{}", extended.logLine);
        attributes.add_extended_type(extended.type);
        attributes.add_extended(extended.value);
    }
    builder.Finish(attributes.Finish());
    return std::make_unique<FlatbufferByteArray>(builder.Release());
}

bool applyNodeAttributes(CryptoBytes plaintext, MutableNodeData& node) {
    if (!plaintext) {
        return applyNodeAttributes(nullptr, 0, node);
    }
    // An empty vector may have no storage at all; it is still an opened (if worthless) record.
    alignas(8) static const uint8_t kNoBytes[8] = {};
    const uint8_t* data = plaintext->empty() ? kNoBytes : plaintext->data();
    return applyNodeAttributes(data, plaintext->size(), node);
}

bool applyNodeAttributes(const uint8_t* data, size_t size, MutableNodeData& node) {
    if (!data) {
        CLOG_ERROR("Unable to decrypt node attributes");
        return false;
    }

    // FlatBuffers reads scalars in place, so the record must start on an 8-byte boundary.
    std::unique_ptr<uint64_t[]> alignedCopy;
    const uint8_t* bytes = data;
    if (reinterpret_cast<uintptr_t>(data) % 8 != 0) {
        CLOG_ERROR("Unaligned attribute data");
        alignedCopy.reset(new uint64_t[size / 8 + 1]());
        std::memcpy(alignedCopy.get(), data, size);
        bytes = reinterpret_cast<const uint8_t*>(alignedCopy.get());
    } else {
        CLOG_DEBUG("Aligned attribute data");
    }

    // The verifier asserts on sizes it cannot address; such a record is invalid anyway.
    bool valid = size < FLATBUFFERS_MAX_BUFFER_SIZE;
    if (valid) {
        flatbuffers::Verifier verifier(bytes, size, kMaxDepth, kMaxTables, true);
        valid = verifier.VerifyBuffer<NodeAttributes>(nullptr);
    }
    if (!valid) {
        CLOG_ERROR("Invalid flatbuffer node attributes");
        return false;
    }

    const NodeAttributes* attributes = flatbuffers::GetRoot<NodeAttributes>(bytes);
    if (const flatbuffers::String* name = attributes->name()) {
        node.setName(name->c_str());
    } else {
        CLOG_WARN("Missing node name");
    }
    if (hasField(attributes, NodeAttributes::VT_MODIFICATIONTIME)) {
        CLOG_DEBUG("Modification time of node available: {}", attributes->modificationTime());
        node.setModificationTime(attributes->modificationTime());
    }
    if (const flatbuffers::Vector<uint8_t>* hash = attributes->sparseHash()) {
        CLOG_DEBUG("Sparse hash of node available");
        node.setSparseHash(hash->data(), hash->size());
    }
    if (const flatbuffers::Vector<uint8_t>* hash = attributes->fullHash()) {
        CLOG_DEBUG("Full hash of node available");
        node.setFullHash(hash->data(), hash->size());
    }
    applyExtended(*attributes, node);
    return true;
}

bool hasNodeKey(const MutableNodeData* node) {
    return node != nullptr && node->getKey() != nullptr;
}

}  // namespace corvane
