#include "cloud/cloud.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>

#include "cloud/node_order.h"
#include "cloud/node_path.h"
#include "corvane/handle.h"
#include "corvane/node_type.h"
#include "crypto/crypto_manager.h"
#include "database/database_module.h"
#include "util/log.h"

namespace corvane {

namespace {

// The cache holds clear node and filesystem keys: the file is made readable by the user alone
// before SQLite opens it, and an existing file is tightened. SQLite gives its journal the
// main file's permissions.
void restrictCacheFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return;
    }
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
}

template <class T>
std::unique_ptr<Database<T>> typedTable(DatabaseModule* database, DatabaseImpl* handle) {
    if (!handle) {
        return nullptr;
    }
    handle->setRecordFactory([]() { return std::make_shared<T>(); });
    return std::make_unique<Database<T>>(database->getLoop(), handle);
}

std::shared_ptr<DatabaseRecord> tablePrototype(size_t index) {
    switch (index) {
        case 0:
            return std::make_shared<FilesystemData>();
        case 1:
            return std::make_shared<MutableNodeData>();
        case 2:
            return std::make_shared<MutableUserInfoData>();
        default:
            return std::make_shared<MutableAccountInfoData>();
    }
}

constexpr size_t kTableCount = 4;

}  // namespace

struct Cloud::SubtreeWalk {
    NodeListPointer accumulator;
    SubtreeCallback completion;
    // Children lists still to descend into, innermost last.
    std::vector<NodeListPointer> pending;
    // Every id met so far: a tree never shows one twice.
    std::set<uint64_t> seen;
};

struct Cloud::PathWalk {
    std::string text;
    PathCallback completion;
    std::set<uint64_t> seen;
};

Cloud::Cloud(CryptoManager* cryptoManager, DatabaseModule* database, LibuvLoop* loop, std::string dataPath)
    : loop_(loop),
      cryptoManager_(cryptoManager),
      roots_(std::make_shared<std::vector<NodePointer>>(kRootSlots)),
      database_(database),
      dataPath_(std::move(dataPath)),
      accountInfo_(std::make_shared<MutableAccountInfoData>()) {
}

Cloud::~Cloud() = default;

// --- state and lifecycle ---

std::string Cloud::cachePath(const std::string& dataPath, const std::string& handle) {
    const std::string name = "cloud-v" + std::to_string(kCacheVersion) + "-" + handle.substr(0, 8);
    if (dataPath.empty()) {
        return name;
    }
    const char last = dataPath.back();
    return dataPath + (last == '/' || last == '\\' ? "" : "/") + name;
}

void Cloud::initialize(const ByteVector& masterKey, const ByteVector& fingerprintKey, const ByteVector& linkKey,
                       const ByteVector& accountKey, const char* handle, uint64_t accountId, uint8_t accountCrypto,
                       Callback completion) {
    masterKey_ = masterKey;
    fingerprintKey_ = fingerprintKey;
    linkKey_ = linkKey;
    accountKey_ = accountKey;
    handle_ = handle ? handle : "";
    accountInfo_ = std::make_shared<MutableAccountInfoData>();
    accountInfo_->setId(accountId);
    accountInfo_->setCrypto(accountCrypto);
    cacheAvailable_ = false;
    if (!database_) {
        notify(completion);
        return;
    }
    openCache(accountId, std::move(completion));
}

void Cloud::openCache(uint64_t accountId, Callback completion) {
    // Opening again closes an earlier connection and its tables with it.
    dropTables();
    DatabaseModule* database = database_;
    const std::string path = cachePath(dataPath_, handle_);
    database->execute([this, database, path, accountId, completion]() {
        restrictCacheFile(path);
        std::vector<std::shared_ptr<DatabaseRecord>> prototypes;
        for (size_t i = 0; i < kTableCount; ++i) {
            prototypes.push_back(tablePrototype(i));
        }
        database->open(path, prototypes, [this, accountId, completion](bool ok) {
            if (!ok) {
                CLOG_ERROR("[cloud] Error opening database.");
                database_ = nullptr;
                notify(completion);
                return;
            }
            CLOG_DEBUG("[cloud] Database correctly opened");
            // Children are searched by parent: without an index each listing of a parent not
            // held in RAM reads the whole table. Rows of one parent keep their order.
            DatabaseModule* opened = database_;
            opened->execute([opened]() {
                const MutableNodeData prototype;
                opened->createIndex(prototype, MutableNodeData::PARENT, nullptr);
            });
            openTables(0, accountId, completion);
        });
    });
}

void Cloud::openTables(size_t index, uint64_t accountId, Callback completion) {
    if (!database_) {
        notify(completion);
        return;
    }
    if (index < kTableCount) {
        DatabaseModule* database = database_;
        auto prototype = tablePrototype(index);
        database->execute([this, database, prototype, index, accountId, completion]() {
            database->table(*prototype, [this, database, index, accountId, completion](DatabaseImpl* handle) {
                switch (index) {
                    case 0:
                        filesystemTable_ = typedTable<FilesystemData>(database, handle);
                        break;
                    case 1:
                        nodeTable_ = typedTable<MutableNodeData>(database, handle);
                        break;
                    case 2:
                        userTable_ = typedTable<MutableUserInfoData>(database, handle);
                        break;
                    default:
                        accountTable_ = typedTable<MutableAccountInfoData>(database, handle);
                        break;
                }
                openTables(index + 1, accountId, completion);
            });
        });
        return;
    }
    Database<MutableAccountInfoData>* table = accountTable();
    if (!table) {
        CLOG_DEBUG("[cloud] Initialization completed");
        notify(completion);
        return;
    }
    table->get(std::to_string(accountId), [this, completion](std::shared_ptr<MutableAccountInfoData> record, bool ok) {
        if (ok && record) {
            accountInfo_ = std::move(record);
            cacheAvailable_ = true;
            CLOG_DEBUG("[cloud] Database cache available with state {}", accountInfo_->getStatus());
        }
        CLOG_DEBUG("[cloud] Initialization completed");
        notify(completion);
    });
}

bool Cloud::isCacheAvailable() const {
    return database_ != nullptr && cacheAvailable_;
}

void Cloud::loadCache(BoolCallback completion) {
    if (!isCacheAvailable()) {
        notify(completion, false);
        return;
    }
    cacheAvailable_ = false;
    Database<FilesystemData>* table = filesystemTable();
    if (!table || !nodeTable()) {
        notify(completion, false);
        return;
    }
    table->search(-1, ByteVector(), 0, [this, completion](std::shared_ptr<FilesystemData> row, bool ok) {
        if (row) {
            filesystems_[row->getId()] = std::move(row);
            return;
        }
        if (!ok) {
            CLOG_ERROR("Error reading filesystem from database");
            notify(completion, false);
            return;
        }
        CLOG_DEBUG("Load of filesystems finished. Total: {}", filesystems_.size());
        loadRoots(completion);
    });
}

void Cloud::loadRoots(BoolCallback completion) {
    Database<MutableNodeData>* table = nodeTable();
    if (!table) {
        notify(completion, false);
        return;
    }
    auto cachedSecrets = std::make_shared<std::vector<uint64_t>>();
    table->search(MutableNodeData::PARENT, uint64_t{0}, 0, [this, cachedSecrets, completion](NodePointer row, bool ok) {
        if (row) {
            if (row->isRoot()) {
                if (row->getType() == SECRET_ROOT) {
                    cachedSecrets->push_back(row->getId());
                }
                placeCachedRoot(row);
            } else {
                CLOG_WARN("Non root node without parent id");
            }
            return;
        }
        if (!ok) {
            CLOG_ERROR("Error reading node from database");
            notify(completion, false);
            return;
        }
        CLOG_DEBUG("Database load finished. Nodes: {}", ramNodeCount_);
        closeCachedSecrets(cachedSecrets, completion);
    });
}

// A secret is never open after a load. The load completes once they are closed, so that its
// caller never sees a secret that is about to go.
void Cloud::closeCachedSecrets(std::shared_ptr<std::vector<uint64_t>> ids, BoolCallback completion) {
    if (ids->empty()) {
        purgeNodes();
        notify(completion, true);
        return;
    }
    const uint64_t id = ids->back();
    ids->pop_back();
    closeSecret(id, [this, ids, completion]() { closeCachedSecrets(ids, completion); });
}

void Cloud::placeCachedRoot(const NodePointer& node) {
    const uint64_t id = node->getId();
    const int32_t type = node->getType();
    putIntoRam(node);
    if (type == SECRET_ROOT) {
        // Closed again once the load has read every root (loadRoots).
        secrets_[id] = node;
    } else if (type == SHARED_DRIVE_ROOT && accountInfo_->getId() != 0) {
        sharedDrives_[id] = node;
    } else if (type == CONTACTS_ROOT) {
        contactsRoot_ = node;
    } else {
        (*roots_)[type >= 0 && type < static_cast<int32_t>(kRootSlots) ? type : 0] = node;
    }
}

void Cloud::putIntoRam(const NodePointer& node) {
    nodes_[node->getId()] = node;
    children_.emplace(node->getParent(), node);
    ++ramNodeCount_;
}

void Cloud::clearRamState(bool keepAccount) {
    ramNodeCount_ = 0;
    purgeAllowance_ = 0;
    roots_ = std::make_shared<std::vector<NodePointer>>(kRootSlots);
    secrets_.clear();
    sharedDrives_.clear();
    nodes_.clear();
    children_.clear();
    filesystems_.clear();
    if (!keepAccount) {
        masterKey_.clear();
        linkKey_.clear();
        accountKey_.clear();
        accountInfo_ = std::make_shared<MutableAccountInfoData>();
    }
    cacheAvailable_ = false;
}

void Cloud::dropTables() {
    filesystemTable_.reset();
    nodeTable_.reset();
    userTable_.reset();
    accountTable_.reset();
}

void Cloud::reset(Callback completion) {
    CLOG_DEBUG("[cloud] Resetting cloud cache");
    closeCache(false, std::move(completion));
}

void Cloud::remove(Callback completion) {
    CLOG_DEBUG("[cloud] Removing cloud cache");
    closeCache(true, std::move(completion));
}

void Cloud::closeCache(bool removeFile, Callback completion) {
    clearRamState(false);
    if (!database_) {
        notify(completion);
        return;
    }
    // The table handles die with the connection: drop them now, so that nothing issued before
    // the completion arrives is queued behind the close on a table that no longer exists.
    dropTables();
    DatabaseModule* database = database_;
    database->execute([this, database, removeFile, completion]() {
        auto done = [this, removeFile, completion](bool ok) {
            if (removeFile && ok) {
                CLOG_DEBUG("[cloud] Database correctly removed");
            } else if (removeFile) {
                CLOG_ERROR("[cloud] Error removing database");
            } else if (ok) {
                CLOG_DEBUG("[cloud] Database correctly closed");
            } else {
                CLOG_DEBUG("[cloud] Database already closed");
            }
            notify(completion);
        };
        if (removeFile) {
            database->remove(done);
        } else {
            database->close(done);
        }
    });
}

void Cloud::truncate(Callback completion) {
    CLOG_DEBUG("[cloud] Truncating cloud cache");
    clearRamState(true);
    Database<MutableNodeData>* nodes = nodeTable();
    if (!nodes || !filesystemTable()) {
        notify(completion);
        return;
    }
    nodes->truncate([this, completion](bool ok) {
        CLOG_DEBUG("[cloud] Node table truncation finished: {}", ok);
        Database<FilesystemData>* filesystems = filesystemTable();
        if (!filesystems) {
            notify(completion);
            return;
        }
        filesystems->truncate([this, completion](bool ok) {
            CLOG_DEBUG("[cloud] Cloud cache truncation finished: {}", ok);
            notify(completion);
        });
    });
}

void Cloud::beginTransaction() {
    if (database_ && nodeTable_) {
        database_->beginTransaction(nullptr);
    }
}

void Cloud::endTransaction(uint64_t cloudState, Callback completion) {
    accountInfo_->setStatus(cloudState);
    Database<MutableAccountInfoData>* table = accountTable();
    if (!table) {
        notify(completion);
        return;
    }
    // The row is written from a copy: the record may change on this loop before the write runs.
    auto row = std::make_shared<MutableAccountInfoData>(*accountInfo_);
    table->insert(row, [this, cloudState, completion](bool ok) {
        if (!ok) {
            CLOG_ERROR("Error updating account state to {}", cloudState);
        }
        if (!database_) {
            notify(completion);
            return;
        }
        database_->commitTransaction([this, cloudState, completion](bool committed) {
            if (committed) {
                CLOG_DEBUG("Commited cloud state {}", cloudState);
            } else {
                CLOG_ERROR("Error commiting cloud state {}", cloudState);
            }
            notify(completion);
        });
    });
}

uint64_t Cloud::getCloudState() const {
    return accountInfo_->getStatus();
}

// --- filesystems ---

void Cloud::addFilesystems(std::shared_ptr<FilesystemList> filesystems, BoolCallback completion) {
    if (!filesystems || filesystems->empty()) {
        notify(completion, true);
        return;
    }
    addFilesystemStep(std::move(filesystems), std::move(completion));
}

// Set up one at a time from the back; each result is only logged by the add itself.
void Cloud::addFilesystemStep(std::shared_ptr<FilesystemList> filesystems, BoolCallback completion) {
    std::shared_ptr<FilesystemData> filesystem = filesystems->back();
    BoolCallback next = [this, filesystems, completion](bool) {
        filesystems->pop_back();
        if (filesystems->empty()) {
            notify(completion, true);
            return;
        }
        addFilesystemStep(filesystems, completion);
    };
    if (filesystem->getType() != SHARED_DRIVE_ROOT) {
        addFilesystem(filesystem, next);
    } else if (accountInfo_->getId() != 0) {
        addFilesystemWithKey(filesystem, filesystem->getCrypto() == 1 ? accountKey_ : masterKey_, next);
    } else {
        addFilesystemUsingNodeKey(filesystem, std::make_unique<ByteVector>(masterKey_), next);
    }
}

void Cloud::addFilesystem(std::shared_ptr<FilesystemData> filesystem, BoolCallback completion) {
    // The key is copied: the crypto loop reads it while this loop may clear the model.
    auto key = std::make_shared<ByteVector>(masterKey_);
    const ByteVector* encryptedKey = filesystem->getNodeKey();
    cryptoManager_->decryptNodeKey(
        filesystem->getCrypto(), encryptedKey, key.get(), [this, filesystem, key, completion](CryptoBytes nodeKey) {
            if (!nodeKey) {
                CLOG_DEBUG("Error setting up filesystem of type {}", filesystem->getType());
                notify(completion, false);
                return;
            }
            filesystem->setNodeKey(std::move(nodeKey));
            if (!filesystem->getFilesystemKey()) {
                storeFilesystem(filesystem, true, false, completion);
                return;
            }
            cryptoManager_->decryptNodeKey(0, filesystem->getFilesystemKey(), key.get(),
                                           [this, filesystem, key, completion](CryptoBytes filesystemKey) {
                                               filesystem->setFilesystemKey(std::move(filesystemKey));
                                               storeFilesystem(filesystem, true, true, completion);
                                           });
        });
}

void Cloud::addFilesystemWithKey(std::shared_ptr<FilesystemData> filesystem, const ByteVector& key,
                                 BoolCallback completion) {
    auto cipherKey = std::make_shared<ByteVector>(key);
    cryptoManager_->decryptNodeKey(filesystem->getCrypto(), filesystem->getNodeKey(), cipherKey.get(),
                                   [this, filesystem, cipherKey, completion](CryptoBytes nodeKey) {
                                       addFilesystemUsingNodeKey(filesystem, std::move(nodeKey), completion);
                                   });
}

void Cloud::addFilesystemUsingNodeKey(std::shared_ptr<FilesystemData> filesystem, std::unique_ptr<ByteVector> nodeKey,
                                      BoolCallback completion) {
    if (!nodeKey) {
        CLOG_DEBUG("Error setting up filesystem of type {}", filesystem->getType());
        notify(completion, false);
        return;
    }
    filesystem->setNodeKey(std::move(nodeKey));
    // Only shared drives are cached this way; secrets stay in memory.
    const bool toDatabase = filesystem->getType() == SHARED_DRIVE_ROOT;
    if (!filesystem->getFilesystemKey()) {
        storeFilesystem(filesystem, toDatabase, false, completion);
        return;
    }
    cryptoManager_->decryptNodeKey(0, filesystem->getFilesystemKey(), filesystem->getNodeKey(),
                                   [this, filesystem, toDatabase, completion](CryptoBytes filesystemKey) {
                                       filesystem->setFilesystemKey(std::move(filesystemKey));
                                       storeFilesystem(filesystem, toDatabase, true, completion);
                                   });
}

// withKey: a filesystem key came with the filesystem, whether it could be decrypted or not.
void Cloud::storeFilesystem(const std::shared_ptr<FilesystemData>& filesystem, bool toDatabase, bool withKey,
                            BoolCallback completion) {
    const int32_t type = filesystem->getType();
    filesystems_[filesystem->getId()] = filesystem;
    Database<FilesystemData>* table = toDatabase ? filesystemTable() : nullptr;
    if (!table) {
        if (withKey) {
            CLOG_DEBUG("Filesystem of type {} with filesystemKey correctly added", type);
        } else {
            CLOG_DEBUG("Filesystem of type {} without filesystemKey correctly added", type);
        }
        notify(completion, true);
        return;
    }
    table->insert(filesystem, [this, type, withKey, completion](bool) {
        if (withKey) {
            CLOG_DEBUG("Filesystem of type {} with filesystemKey correctly added to database", type);
        } else {
            CLOG_DEBUG("Filesystem of type {} without filesystemKey correctly added to database", type);
        }
        notify(completion, true);
    });
}

uint64_t Cloud::getFilesystem(const NodeData& node, const NodeData* parent) const {
    const int32_t type = node.getType();
    if (type <= SHARED_DRIVE_ROOT || parent == nullptr) {
        return node.getId() << 15;
    }
    if (type >= 40 && type <= 47) {
        return parent->getFilesystem();
    }
    switch (parent->getType()) {
        case CLOUD_DRIVE_ROOT:
        case RECYCLE_BIN_ROOT:
        case SECRET_ROOT:
        case CONTACTS_ROOT:
        case SHARED_DRIVE_ROOT:
        case FILE_NODE:
        case FOLDER_NODE:
            return parent->getFilesystem();
        case SNAPSHOT_NODE:
        case RECORD_NODE:
        case LINK_COPY_NODE:
            return parent->getId() << 15;
        default:
            CLOG_ERROR("Unexpected filesystem organization : {} -> {}", parent->getType(), type);
            return 0;
    }
}

std::shared_ptr<FilesystemData> Cloud::getFilesystem(uint64_t filesystemId) const {
    auto it = filesystems_.find(filesystemId);
    return it == filesystems_.end() ? nullptr : it->second;
}

const Cloud::ByteVector* Cloud::getFilesystemKey(uint64_t filesystemId) const {
    auto it = filesystems_.find(filesystemId);
    return it == filesystems_.end() ? nullptr : it->second->getFilesystemKey();
}

const Cloud::ByteVector* Cloud::getFilesystemNodeKey(uint64_t filesystemId) const {
    auto it = filesystems_.find(filesystemId);
    return it == filesystems_.end() ? nullptr : it->second->getNodeKey();
}

int32_t Cloud::getFilesystemType(uint64_t filesystemId) const {
    auto it = filesystems_.find(filesystemId);
    return it == filesystems_.end() ? -1 : it->second->getType();
}

// --- lookup ---

void Cloud::getNodeById(uint64_t id, MutableNodeCallback completion) {
    if (id == 0) {
        notify(completion, NodePointer());
        return;
    }
    auto it = nodes_.find(id);
    if (it != nodes_.end()) {
        CLOG_DEBUG("[cloud] Node found in RAM: {}", id);
        notify(completion, it->second);
        return;
    }
    Database<MutableNodeData>* table = nodeTable();
    if (!table) {
        notify(completion, NodePointer());
        return;
    }
    table->get(std::to_string(id), [this, id, completion](NodePointer node, bool ok) {
        if (ok && node) {
            CLOG_DEBUG("[cloud] Node found in database: {}", id);
            notify(completion, node);
            return;
        }
        CLOG_DEBUG("[cloud] Node not found: {}", id);
        notify(completion, NodePointer());
    });
}

bool Cloud::hasChildrenLoaded(uint64_t id) const {
    auto it = nodes_.find(id);
    return it != nodes_.end() && it->second->getChildrenLoaded();
}

void Cloud::getChildren(uint64_t parentId, NodeListCallback completion, int32_t order) {
    getChildren(parentId, std::move(completion), nullptr, order);
}

void Cloud::getChildren(uint64_t parentId, NodeListCallback completion, NodeFilter filter, int32_t order) {
    CLOG_DEBUG("Getting child nodes of {}", parentId);
    getNodeById(parentId, [this, parentId, completion, filter, order](NodePointer parent) {
        if (!parent) {
            CLOG_DEBUG("Node not found getting child nodes of {}", parentId);
            notify(completion, NodeListPointer());
            return;
        }
        auto list = std::make_shared<NodeList>();
        // Nodes of secret filesystems live in RAM only.
        if (parent->getChildrenLoaded() || getFilesystemType(parent->getFilesystem()) == SECRET_ROOT) {
            auto range = children_.equal_range(parentId);
            for (auto it = range.first; it != range.second; ++it) {
                if (!filter || filter(it->second.get())) {
                    list->push_back(it->second);
                }
            }
            CLOG_DEBUG("{} child nodes from RAM: {}", list->size(), parentId);
            sortNodes(list, order);
            notify(completion, list);
            return;
        }
        Database<MutableNodeData>* table = nodeTable();
        if (!table) {
            notify(completion, list);
            return;
        }
        auto rows = std::make_shared<std::vector<NodePointer>>();
        table->search(MutableNodeData::PARENT, parentId, 0,
                      [this, parentId, rows, completion, filter, order](NodePointer row, bool ok) {
                          if (row) {
                              rows->push_back(std::move(row));
                              return;
                          }
                          if (!ok) {
                              CLOG_ERROR("Error searching by parent id");
                              notify(completion, NodeListPointer());
                              return;
                          }
                          CLOG_DEBUG("{} child nodes from database: {}", rows->size(), parentId);
                          // Children are kept only under a parent that is itself held in RAM.
                          auto parentIt = nodes_.find(parentId);
                          const bool keep = parentIt != nodes_.end();
                          auto result = std::make_shared<NodeList>();
                          for (const NodePointer& child : *rows) {
                              if (keep && nodes_.count(child->getId()) == 0) {
                                  CLOG_DEBUG("Adding child node to RAM: {}", child->getId());
                                  putIntoRam(child);
                              }
                              if (!filter || filter(child.get())) {
                                  result->push_back(child);
                              }
                          }
                          if (keep) {
                              parentIt->second->setChildrenLoaded(true);
                          }
                          sortNodes(result, order);
                          purgeNodes();
                          notify(completion, result);
                      });
    });
}

void Cloud::getChildFiles(uint64_t parentId, NodeListCallback completion, int32_t order) {
    getChildren(
        parentId, std::move(completion), [](const NodeData* node) { return node->isFile(); }, order);
}

void Cloud::getChildFolders(uint64_t parentId, NodeListCallback completion, int32_t order) {
    getChildren(
        parentId, std::move(completion), [](const NodeData* node) { return !node->isFile(); }, order);
}

void Cloud::getNodeByName(uint64_t parentId, const std::string& name, NodeCallback completion) {
    if (name.empty()) {
        notify(completion, std::shared_ptr<NodeData>());
        return;
    }
    getChildren(
        parentId,
        [this, name, completion](NodeListPointer list) {
            if (!list) {
                notify(completion, std::shared_ptr<NodeData>());
                return;
            }
            for (const std::shared_ptr<NodeData>& node : *list) {
                if (name == node->getName()) {
                    CLOG_INFO("Search node by name was found: {}", name);
                    notify(completion, node);
                    return;
                }
            }
            CLOG_INFO("Search node by name was NOT found: {}", name);
            notify(completion, std::shared_ptr<NodeData>());
        },
        nullptr, 0);
}

void Cloud::hashSearch(int32_t column, const ByteVector& hash, const char* missingMessage, const char* errorMessage,
                       NodeListCallback completion) {
    auto list = std::make_shared<NodeList>();
    Database<MutableNodeData>* table = nodeTable();
    if (!table) {
        CLOG_ERROR("{}", missingMessage);
        notify(completion, list);
        return;
    }
    table->search(column, hash, 0, [this, list, errorMessage, completion](NodePointer row, bool ok) {
        if (row) {
            list->push_back(std::move(row));
            return;
        }
        if (!ok) {
            CLOG_ERROR("{}", errorMessage);
            notify(completion, NodeListPointer());
            return;
        }
        notify(completion, list);
    });
}

void Cloud::getNodesByFullHash(const ByteVector& hash, NodeListCallback completion) {
    hashSearch(MutableNodeData::FHASH, hash, "No database available for full hash node list search",
               "Error searching by full hash", std::move(completion));
}

void Cloud::getNodesBySparseHash(const ByteVector& hash, NodeListCallback completion) {
    hashSearch(MutableNodeData::SHASH, hash, "No database available for sparse hash node list search",
               "Error searching by sparse hash", std::move(completion));
}

// The candidate of the right size (and modification time, when given) with the greatest
// creation time; the later one in the list among equal times.
void Cloud::bestCandidate(NodeListPointer candidates, uint64_t size, const uint64_t* modificationTime,
                          const char* errorMessage, const char* missingMessage, NodeCallback completion) {
    if (!candidates) {
        CLOG_ERROR("{}", errorMessage);
        notify(completion, std::shared_ptr<NodeData>());
        return;
    }
    std::shared_ptr<NodeData> best;
    uint64_t bestTime = 0;
    for (const std::shared_ptr<NodeData>& node : *candidates) {
        if (node->getSize() != size) {
            continue;
        }
        if (modificationTime && static_cast<uint64_t>(node->getModificationTime()) != *modificationTime) {
            continue;
        }
        const auto time = static_cast<uint64_t>(node->getCreationTime());
        if (time >= bestTime) {
            best = node;
            bestTime = time;
        }
    }
    if (!best) {
        CLOG_DEBUG("{}", missingMessage);
    }
    notify(completion, best);
}

void Cloud::getIdenticalNode(const ByteVector& fullHash, uint64_t size, NodeCallback completion) {
    getNodesByFullHash(fullHash, [this, size, completion](NodeListPointer list) {
        bestCandidate(list, size, nullptr, "Error searching identical node", "Identical node not found", completion);
    });
}

void Cloud::getSimilarNode(const ByteVector& sparseHash, uint64_t size, uint64_t modificationTime,
                           NodeCallback completion) {
    getNodesBySparseHash(sparseHash, [this, size, modificationTime, completion](NodeListPointer list) {
        bestCandidate(list, size, &modificationTime, "Error searching similar node", "Similar node not found",
                      completion);
    });
}

void Cloud::isDescendant(uint64_t ancestorId, uint64_t nodeId, DescendantCallback completion) {
    isDescendantStep(ancestorId, nodeId, std::make_shared<std::set<uint64_t>>(), std::move(completion));
}

// One level per posted step; an id met twice means the parents run in a circle.
void Cloud::isDescendantStep(uint64_t ancestorId, uint64_t nodeId, std::shared_ptr<std::set<uint64_t>> visited,
                             DescendantCallback completion) {
    if (nodeId == ancestorId) {
        notify(completion, true, true, Error(SUCCESS));
        return;
    }
    if (nodeId == 0) {
        notify(completion, true, false, Error(SUCCESS));
        return;
    }
    if (!visited->insert(nodeId).second) {
        CLOG_ERROR("[cloud] {} walking up from node {}", Error::getMessage(LOOP_DETECTED), nodeId);
        notify(completion, false, false, Error(LOOP_DETECTED));
        return;
    }
    getNodeById(nodeId, [this, ancestorId, visited, completion](NodePointer node) {
        if (!node) {
            notify(completion, false, false, Error(SUCCESS));
            return;
        }
        isDescendantStep(ancestorId, node->getParent(), visited, completion);
    });
}

void Cloud::getSubtree(uint64_t nodeId, NodeListPointer accumulator, SubtreeCallback completion) {
    auto walk = std::make_shared<SubtreeWalk>();
    walk->accumulator = accumulator ? std::move(accumulator) : std::make_shared<NodeList>();
    walk->completion = std::move(completion);
    walk->seen.insert(nodeId);
    subtreeExpand(walk, nodeId);
}

// Appends the node's children as one block and queues them for descent.
void Cloud::subtreeExpand(const std::shared_ptr<SubtreeWalk>& walk, uint64_t nodeId) {
    getChildren(
        nodeId,
        [this, walk](NodeListPointer children) {
            if (children && !children->empty()) {
                for (const std::shared_ptr<NodeData>& child : *children) {
                    if (!walk->seen.insert(child->getId()).second) {
                        CLOG_ERROR("[cloud] {} below node {}", Error::getMessage(LOOP_DETECTED), child->getId());
                        notify(walk->completion, walk->accumulator, Error(LOOP_DETECTED));
                        return;
                    }
                }
                walk->accumulator->insert(walk->accumulator->end(), children->begin(), children->end());
                walk->pending.push_back(children);
            }
            subtreeNext(walk);
        },
        nullptr, 0);
}

// Descends into the last container of the innermost pending list; files need no descent.
void Cloud::subtreeNext(const std::shared_ptr<SubtreeWalk>& walk) {
    while (!walk->pending.empty()) {
        NodeList& top = *walk->pending.back();
        while (!top.empty() && top.back()->isFile()) {
            top.pop_back();
        }
        if (top.empty()) {
            walk->pending.pop_back();
            continue;
        }
        const uint64_t next = top.back()->getId();
        top.pop_back();
        subtreeExpand(walk, next);
        return;
    }
    notify(walk->completion, walk->accumulator, Error(SUCCESS));
}

void Cloud::hashFingerprint(const ByteVector& data, BytesCompletion completion) {
    // Both buffers stay alive until the crypto loop has used them.
    auto fingerprint = std::make_shared<ByteVector>(data);
    auto key = std::make_shared<ByteVector>(fingerprintKey_);
    cryptoManager_->hashFingerprint(0, fingerprint.get(), key.get(), [fingerprint, key, completion](CryptoBytes hash) {
        if (completion) {
            completion(std::move(hash));
        }
    });
}

std::shared_ptr<NodeData> Cloud::getRoot(int32_t index) const {
    if (index == CONTACTS_ROOT) {
        return contactsRoot_;
    }
    if (static_cast<uint32_t>(index) < roots_->size()) {
        return (*roots_)[static_cast<uint32_t>(index)];
    }
    return nullptr;
}

Cloud::NodePointer Cloud::getMainRoot() const {
    return roots_->empty() ? nullptr : (*roots_)[0];
}

std::shared_ptr<NodeList> Cloud::getRoots() const {
    return std::make_shared<NodeList>(roots_->begin(), roots_->end());
}

Cloud::NodePointer Cloud::getSecretNode(uint64_t id) const {
    auto it = secrets_.find(id);
    return it == secrets_.end() ? nullptr : it->second;
}

std::shared_ptr<NodeList> Cloud::getSecrets() const {
    auto list = std::make_shared<NodeList>();
    for (const auto& entry : secrets_) {
        list->push_back(entry.second);
    }
    return list;
}

const Cloud::ByteVector* Cloud::getSecretKey(uint64_t id) const {
    NodePointer secret = getSecretNode(id);
    return secret ? getFilesystemNodeKey(secret->getFilesystem()) : nullptr;
}

Cloud::NodePointer Cloud::getSharedDrive(uint64_t id) const {
    auto it = sharedDrives_.find(id);
    return it == sharedDrives_.end() ? nullptr : it->second;
}

std::shared_ptr<NodeList> Cloud::getSharedDrives() const {
    auto list = std::make_shared<NodeList>();
    for (const auto& entry : sharedDrives_) {
        list->push_back(entry.second);
    }
    return list;
}

// --- order and paths ---

void Cloud::sortNodes(const NodeListPointer& list, int32_t order) {
    if (list) {
        sortNodeList(*list, order);
    }
}

void Cloud::getNode(const std::string& path, NodePathCallback completion) {
    const PathRoot root = parsePathRoot(path);
    std::shared_ptr<NodeData> node;
    switch (root.kind) {
        case PathRoot::SLOT:
            node = getRoot(static_cast<int32_t>(root.value));
            break;
        case PathRoot::SECRET:
            node = getSecretNode(root.value);
            break;
        case PathRoot::SHARED_DRIVE:
            node = getSharedDrive(root.value);
            if (!node) {
                // An account without an id keeps its shared drive in the main slot.
                NodePointer main = getMainRoot();
                if (main && main->getType() == SHARED_DRIVE_ROOT) {
                    node = main;
                }
            }
            break;
        case PathRoot::NONE:
            break;
    }
    if (!node) {
        notify(completion, std::shared_ptr<NodeData>(), std::string());
        return;
    }
    if (root.offset >= path.size()) {
        notify(completion, node, std::string());
        return;
    }
    size_t end = path.size();
    while (end > root.offset && path[end - 1] == '/') {
        --end;
    }
    pathStep(node->getId(), path.substr(root.offset, end - root.offset), std::move(completion));
}

void Cloud::pathStep(uint64_t parentId, std::string text, NodePathCallback completion) {
    // Where a name is missing, the walk ends at the node reached with the rest of the text.
    auto stopAt = [this, parentId, completion](std::string rest) {
        getNodeById(parentId, [this, rest, completion](NodePointer node) { notify(completion, node, rest); });
    };
    if (text.empty()) {
        stopAt(std::string());
        return;
    }
    const size_t slash = text.find('/');
    const std::string name = text.substr(0, slash);
    getNodeByName(parentId, name, [this, text, slash, completion, stopAt](std::shared_ptr<NodeData> child) {
        if (!child) {
            stopAt(text);
            return;
        }
        if (slash == std::string::npos) {
            notify(completion, child, std::string());
            return;
        }
        pathStep(child->getId(), text.substr(slash + 1), completion);
    });
}

void Cloud::getNodeByPath(uint64_t parentId, const std::string& path, NodeCallback completion) {
    relativePathStep(parentId, path, std::move(completion));
}

void Cloud::relativePathStep(uint64_t parentId, std::string text, NodeCallback completion) {
    if (text.empty()) {
        getNodeById(parentId, [this, completion](NodePointer node) { notify(completion, node); });
        return;
    }
    const size_t slash = text.find('/');
    if (slash == std::string::npos) {
        getNodeByName(parentId, text, std::move(completion));
        return;
    }
    getNodeByName(parentId, text.substr(0, slash),
                  [this, rest = text.substr(slash + 1), completion](std::shared_ptr<NodeData> child) {
                      if (!child) {
                          notify(completion, std::shared_ptr<NodeData>());
                          return;
                      }
                      relativePathStep(child->getId(), rest, completion);
                  });
}

void Cloud::getNodePath(uint64_t nodeId, PathCallback completion) {
    auto walk = std::make_shared<PathWalk>();
    walk->completion = std::move(completion);
    getNodeById(nodeId, [this, walk](NodePointer node) { nodePathStep(walk, std::move(node)); });
}

// One level per posted step, from the node up to its root.
void Cloud::nodePathStep(const std::shared_ptr<PathWalk>& walk, NodePointer node) {
    if (!node) {
        notify(walk->completion, std::string(), Error(SUCCESS));
        return;
    }
    if (!walk->seen.insert(node->getId()).second) {
        CLOG_ERROR("[cloud] {} building the path of a node under {}", Error::getMessage(LOOP_DETECTED), node->getId());
        notify(walk->completion, std::string(), Error(LOOP_DETECTED));
        return;
    }
    if (node->isRoot()) {
        std::string prefix = rootPathText(node->getType(), getHandleText(node->getId()));
        if (!walk->text.empty()) {
            prefix.pop_back();
        }
        notify(walk->completion, prefix + walk->text, Error(SUCCESS));
        return;
    }
    walk->text = "/" + node->getNameString() + walk->text;
    getNodeById(node->getParent(), [this, walk](NodePointer parent) { nodePathStep(walk, std::move(parent)); });
}

}  // namespace corvane
