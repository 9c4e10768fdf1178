#include "corvane/node_data.h"

#include <cstring>

#include "corvane/handle.h"
#include "corvane/node_type.h"
#include "util/deployment.h"
#include "util/string_copy.h"

namespace corvane {

namespace {

const char* const kInboxLinkPath = "/inbox/";

std::unique_ptr<ByteVector> copyVector(const ByteVector* source) {
    return source != nullptr ? std::make_unique<ByteVector>(*source) : nullptr;
}

template <typename T>
std::unique_ptr<T> copyDetail(const T* source) {
    return source != nullptr ? std::make_unique<T>(*source) : nullptr;
}

}  // namespace

// ---- BackupInfo ----

BackupInfo::BackupInfo(const BackupInfo& other)
    : device_(copyString(other.device_)),
      startTime_(other.startTime_),
      cron_(copyString(other.cron_)),
      localPath_(copyString(other.localPath_)),
      maxSnapshots_(other.maxSnapshots_),
      status_(other.status_) {
}

BackupInfo& BackupInfo::operator=(const BackupInfo& other) {
    if (this != &other) {
        replaceString(&device_, other.device_);
        startTime_ = other.startTime_;
        replaceString(&cron_, other.cron_);
        replaceString(&localPath_, other.localPath_);
        maxSnapshots_ = other.maxSnapshots_;
        status_ = other.status_;
    }
    return *this;
}

BackupInfo::~BackupInfo() {
    freeString(device_);
    freeString(cron_);
    freeString(localPath_);
}

void BackupInfo::setDevice(const char* device) {
    replaceString(&device_, device);
}
void BackupInfo::setCron(const char* cron) {
    replaceString(&cron_, cron);
}
void BackupInfo::setLocalPath(const char* localPath) {
    replaceString(&localPath_, localPath);
}

// ---- SnapshotInfo ----

SnapshotInfo::SnapshotInfo(const SnapshotInfo& other)
    : folderCount_(other.folderCount_),
      fileCount_(other.fileCount_),
      transferErrorCount_(other.transferErrorCount_),
      startTime_(other.startTime_),
      finishTime_(other.finishTime_),
      cron_(copyString(other.cron_)),
      localPath_(copyString(other.localPath_)),
      status_(other.status_) {
}

SnapshotInfo& SnapshotInfo::operator=(const SnapshotInfo& other) {
    if (this != &other) {
        folderCount_ = other.folderCount_;
        fileCount_ = other.fileCount_;
        transferErrorCount_ = other.transferErrorCount_;
        startTime_ = other.startTime_;
        finishTime_ = other.finishTime_;
        replaceString(&cron_, other.cron_);
        replaceString(&localPath_, other.localPath_);
        status_ = other.status_;
    }
    return *this;
}

SnapshotInfo::~SnapshotInfo() {
    freeString(cron_);
    freeString(localPath_);
}

void SnapshotInfo::setCron(const char* cron) {
    replaceString(&cron_, cron);
}
void SnapshotInfo::setLocalPath(const char* localPath) {
    replaceString(&localPath_, localPath);
}

// ---- InboxInfo ----

InboxInfo::InboxInfo(const InboxInfo& other)
    : message_(copyString(other.message_)), inboxKey_(copyVector(other.inboxKey_.get())) {
}

InboxInfo& InboxInfo::operator=(const InboxInfo& other) {
    if (this != &other) {
        replaceString(&message_, other.message_);
        inboxKey_ = copyVector(other.inboxKey_.get());
    }
    return *this;
}

InboxInfo::~InboxInfo() {
    freeString(message_);
}

void InboxInfo::setMessage(const char* message) {
    replaceString(&message_, message);
}

void InboxInfo::setInboxKey(const uint8_t* data, size_t size) {
    inboxKey_ = data != nullptr ? std::make_unique<ByteVector>(data, data + size) : nullptr;
}

void InboxInfo::setInboxKey(const ByteVector* key) {
    inboxKey_ = copyVector(key);
}

// ---- RecordInfo ----

RecordInfo::RecordInfo(const RecordInfo& other)
    : contact_(copyString(other.contact_)), inbox_(copyString(other.inbox_)), message_(copyString(other.message_)) {
}

RecordInfo& RecordInfo::operator=(const RecordInfo& other) {
    if (this != &other) {
        replaceString(&contact_, other.contact_);
        replaceString(&inbox_, other.inbox_);
        replaceString(&message_, other.message_);
    }
    return *this;
}

RecordInfo::~RecordInfo() {
    freeString(contact_);
    freeString(inbox_);
    freeString(message_);
}

void RecordInfo::setContact(const char* contact) {
    replaceString(&contact_, contact);
}
void RecordInfo::setInbox(const char* inbox) {
    replaceString(&inbox_, inbox);
}
void RecordInfo::setMessage(const char* message) {
    replaceString(&message_, message);
}

// ---- NodeData ----

NodeData::NodeData() = default;

NodeData::NodeData(uint64_t id, int32_t type, const char* name, const ByteVector* key, const uint8_t* metadata,
                   uint8_t metadataCount, const ByteVector* sparseHash, const ByteVector* fullHash, uint64_t size,
                   uint64_t parent, uint64_t filesystem, int64_t creationTime, int64_t modificationTime, uint8_t crypto,
                   bool shared, bool full, uint64_t extraNumber, const ByteVector* extraData,
                   const ByteVector* publicHandle, uint8_t depth, bool external, const Error& error,
                   const BackupInfo* backupInfo, const SnapshotInfo* snapshotInfo, const InboxInfo* inboxInfo,
                   const RecordInfo* recordInfo)
    : id_(id),
      type_(type),
      name_(copyString(name)),
      key_(copyVector(key)),
      metadata_(copyData(metadata, size_t(metadataCount) * kMetadataEntrySize)),
      metadataCount_(metadata != nullptr ? metadataCount : 0),
      sparseHash_(copyVector(sparseHash)),
      fullHash_(copyVector(fullHash)),
      idText_(getHandleTextOrEmpty(id)),
      parentText_(getHandleTextOrEmpty(parent)),
      size_(size),
      parent_(parent),
      filesystem_(filesystem),
      creationTime_(creationTime),
      modificationTime_(modificationTime),
      crypto_(crypto),
      shared_(shared),
      full_(full),
      extraNumber_(extraNumber),
      extraData_(copyVector(extraData)),
      publicHandle_(copyVector(publicHandle)),
      depth_(depth),
      external_(external),
      error_(error),
      backupInfo_(copyDetail(backupInfo)),
      snapshotInfo_(copyDetail(snapshotInfo)),
      inboxInfo_(copyDetail(inboxInfo)),
      recordInfo_(copyDetail(recordInfo)) {
}

NodeData::NodeData(const NodeData& other) {
    copyFrom(other);
}

NodeData& NodeData::operator=(const NodeData& other) {
    if (this != &other) {
        releaseOwned();
        copyFrom(other);
    }
    return *this;
}

NodeData::~NodeData() {
    releaseOwned();
}

void NodeData::releaseOwned() {
    freeString(name_);
    name_ = nullptr;
    freeData(metadata_);
    metadata_ = nullptr;
    metadataCount_ = 0;
}

void NodeData::copyFrom(const NodeData& other) {
    id_ = other.id_;
    type_ = other.type_;
    name_ = copyString(other.name_);
    key_ = copyVector(other.key_.get());
    metadata_ = copyData(other.metadata_, size_t(other.metadataCount_) * kMetadataEntrySize);
    metadataCount_ = other.metadata_ != nullptr ? other.metadataCount_ : 0;
    sparseHash_ = copyVector(other.sparseHash_.get());
    fullHash_ = copyVector(other.fullHash_.get());
    idText_ = other.idText_;
    parentText_ = other.parentText_;
    size_ = other.size_;
    parent_ = other.parent_;
    filesystem_ = other.filesystem_;
    creationTime_ = other.creationTime_;
    modificationTime_ = other.modificationTime_;
    crypto_ = other.crypto_;
    shared_ = other.shared_;
    full_ = other.full_;
    extraNumber_ = other.extraNumber_;
    extraData_ = copyVector(other.extraData_.get());
    publicHandle_ = copyVector(other.publicHandle_.get());
    depth_ = other.depth_;
    external_ = other.external_;
    error_ = other.error_;
    backupInfo_ = copyDetail(other.backupInfo_.get());
    snapshotInfo_ = copyDetail(other.snapshotInfo_.get());
    inboxInfo_ = copyDetail(other.inboxInfo_.get());
    recordInfo_ = copyDetail(other.recordInfo_.get());
}

const char* NodeData::getName() const {
    if (name_ != nullptr) {
        return name_;
    }
    switch (type_) {
        case CLOUD_DRIVE_ROOT:
            return "Cloud Drive";
        case BACKUPS_ROOT:
            return "Backups";
        case RECYCLE_BIN_ROOT:
            return "Recycle Bin";
        case REGISTER_ROOT:
            return "Electronic Register";
        case SHARED_FOLDERS_ROOT:
            return "Shared Folders";
        case CONTACTS_ROOT:
            return "Contacts";
        case FILE_NODE:
            return "Unknown file name";
        case FOLDER_NODE:
            return "Unknown folder name";
        default:
            return "Invalid name";
    }
}

std::string NodeData::getKeyText() const {
    return getBase64UrlText(key_.get());
}

uint64_t NodeData::getMetadata(uint8_t kind) const {
    if (metadata_ == nullptr) {
        return 0;
    }
    for (size_t i = 0; i < metadataCount_; ++i) {
        const uint8_t* entry = metadata_ + i * kMetadataEntrySize;
        if (entry[0] != kind) {
            continue;
        }
        uint64_t handle = 0;
        for (size_t b = 0; b < 8; ++b) {
            handle |= static_cast<uint64_t>(entry[2 + b]) << (8 * b);
        }
        return handle;
    }
    return 0;
}

bool NodeData::hasMetadata(uint8_t kind) const {
    if (metadata_ == nullptr) {
        return false;
    }
    for (size_t i = 0; i < metadataCount_; ++i) {
        if (metadata_[i * kMetadataEntrySize] == kind) {
            return true;
        }
    }
    return false;
}

uint64_t NodeData::getContactHandle() const {
    return type_ == CONTACT_NODE ? extraNumber_ : 0;
}

const char* NodeData::getDevice() const {
    return backupInfo_ ? backupInfo_->getDevice() : nullptr;
}

const char* NodeData::getCron() const {
    if (type_ == SNAPSHOT_NODE) {
        return snapshotInfo_ ? snapshotInfo_->getCron() : nullptr;
    }
    return backupInfo_ ? backupInfo_->getCron() : nullptr;
}

const char* NodeData::getLocalPath() const {
    if (type_ == SNAPSHOT_NODE) {
        return snapshotInfo_ ? snapshotInfo_->getLocalPath() : nullptr;
    }
    return backupInfo_ ? backupInfo_->getLocalPath() : nullptr;
}

int64_t NodeData::getStartTime() const {
    if (type_ == SNAPSHOT_NODE) {
        return snapshotInfo_ ? snapshotInfo_->getStartTime() : 0;
    }
    return backupInfo_ ? backupInfo_->getStartTime() : 0;
}

int64_t NodeData::getFinishTime() const {
    return snapshotInfo_ ? snapshotInfo_->getFinishTime() : 0;
}

uint64_t NodeData::getFolderCount() const {
    return snapshotInfo_ ? snapshotInfo_->getFolderCount() : 0;
}

uint64_t NodeData::getFileCount() const {
    return snapshotInfo_ ? snapshotInfo_->getFileCount() : 0;
}

uint64_t NodeData::getTransferErrorCount() const {
    return snapshotInfo_ ? snapshotInfo_->getTransferErrorCount() : 0;
}

int32_t NodeData::getStatus() const {
    if (type_ == SNAPSHOT_NODE) {
        return snapshotInfo_ ? snapshotInfo_->getStatus() : 0;
    }
    if (type_ == RECORD_NODE) {
        return static_cast<int32_t>(extraNumber_);
    }
    return backupInfo_ ? backupInfo_->getStatus() : 0;
}

int32_t NodeData::getStatusFlags() const {
    return backupInfo_ ? backupInfo_->getMaxSnapshots() : 0;
}

const char* NodeData::getMessage() const {
    if (type_ == INBOX_NODE) {
        return inboxInfo_ ? inboxInfo_->getMessage() : nullptr;
    }
    if (type_ == RECORD_NODE) {
        return recordInfo_ ? recordInfo_->getMessage() : nullptr;
    }
    return nullptr;
}

const char* NodeData::getInboxDescription() const {
    return inboxInfo_ ? inboxInfo_->getMessage() : nullptr;
}

const ByteVector* NodeData::getInboxKey() const {
    return inboxInfo_ ? inboxInfo_->getInboxKey() : nullptr;
}

const char* NodeData::getContact() const {
    return recordInfo_ ? recordInfo_->getContact() : nullptr;
}

const char* NodeData::getInbox() const {
    return recordInfo_ ? recordInfo_->getInbox() : nullptr;
}

const char* NodeData::getRecordMessage() const {
    return recordInfo_ ? recordInfo_->getMessage() : nullptr;
}

std::string NodeData::getInboxLinkString() const {
    if (type_ != OUTBOX_NODE || !extraData_ || extraData_->empty()) {
        return std::string();
    }
    std::string link = getDeployment().webAddress + kInboxLinkPath + getBase64UrlText(extraData_.get());
    const ByteVector* key = getInboxKey();
    if (key != nullptr && !key->empty()) {
        link += "#" + getBase64UrlText(key);
    }
    return link;
}

std::unique_ptr<char[]> NodeData::getInboxLink() const {
    std::string link = getInboxLinkString();
    if (link.empty()) {
        return nullptr;
    }
    std::unique_ptr<char[]> copy(new char[link.size() + 1]);
    std::memcpy(copy.get(), link.c_str(), link.size() + 1);
    return copy;
}

bool NodeData::isFile() const {
    return type_ == FILE_NODE;
}

bool NodeData::isContainer() const {
    return type_ != FILE_NODE;
}

bool NodeData::isFilesystemRoot() const {
    return type_ == SECRET_ROOT || type_ == SHARED_DRIVE_ROOT;
}

bool NodeData::isRoot() const {
    if (type_ >= CLOUD_DRIVE_ROOT && type_ <= SHARED_DRIVE_ROOT) {
        return true;
    }
    return (type_ == FOLDER_NODE || type_ == RECORD_NODE || type_ == LINK_COPY_NODE) && parent_ == 0;
}

}  // namespace corvane
