#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "cloud/encrypted_node_data.h"
#include "corvane/error.h"
#include "corvane/node_data.h"
#include "corvane/task_manager.h"
#include "crypto/crypto_primitives.h"
#include "database/database.h"
#include "database/filesystem_data.h"
#include "database/mutable_account_info_data.h"
#include "database/mutable_node_data.h"
#include "database/mutable_user_info_data.h"
#include "loop/libuv_loop.h"

namespace corvane {

class CryptoManager;
class DatabaseModule;

// The signed-in account's cloud: the nodes held in RAM, the filesystems with their keys, the
// roots, and the per-account cache database that mirrors them. Everything runs on the SDK main
// loop and takes no locks; every completion is posted to that loop, never run inside the call.
class Cloud {
public:
    using ByteVector = std::vector<uint8_t>;
    using NodePointer = std::shared_ptr<MutableNodeData>;
    using NodeListPointer = std::shared_ptr<NodeList>;
    using FilesystemList = std::vector<std::shared_ptr<FilesystemData>>;

    using Callback = std::function<void()>;
    using BoolCallback = std::function<void(bool)>;
    using MutableNodeCallback = std::function<void(NodePointer)>;
    using NodeCallback = std::function<void(std::shared_ptr<NodeData>)>;
    using NodeListCallback = std::function<void(NodeListPointer)>;
    using NodeFilter = std::function<bool(const NodeData*)>;
    // (walk completed, node lies inside, error): LOOP_DETECTED when the walk met a node twice.
    using DescendantCallback = std::function<void(bool, bool, Error)>;
    // The accumulator; LOOP_DETECTED when a node turned up below itself (the walk stops there).
    using SubtreeCallback = std::function<void(NodeListPointer, Error)>;
    // The path, empty when a node on the way is missing or the parents run in a circle
    // (LOOP_DETECTED).
    using PathCallback = std::function<void(std::string, Error)>;
    // The deepest node reached and the unresolved rest of the path.
    using NodePathCallback = std::function<void(std::shared_ptr<NodeData>, std::string)>;
    using EncryptedNodePointer = std::shared_ptr<EncryptedNodeData>;
    using EncryptedNodeList = std::vector<EncryptedNodePointer>;
    using EncryptedNodeCallback = std::function<void(EncryptedNodePointer)>;
    using EncryptedNodeListCallback = std::function<void(std::shared_ptr<EncryptedNodeList>)>;
    // (filesystem id, the child key or null); the receiver owns the key.
    using ChildKeyCallback = std::function<void(uint64_t, std::shared_ptr<ByteVector>)>;

    // Version of the cache's schema, part of the cache file's name.
    static constexpr int kCacheVersion = 31;
    static constexpr size_t kRootSlots = 5;
    // RAM purge: the count aimed at above the allowance, and the band around it.
    static constexpr int32_t kPurgeThreshold = 150000;
    static constexpr int32_t kPurgeBand = 37500;
    static constexpr int32_t kPurgeAllowanceStep = 37500;

    Cloud(CryptoManager* cryptoManager, DatabaseModule* database, LibuvLoop* loop, std::string dataPath);
    ~Cloud();

    Cloud(const Cloud&) = delete;
    Cloud& operator=(const Cloud&) = delete;

    // --- state and lifecycle ---

    void initialize(const ByteVector& masterKey, const ByteVector& fingerprintKey, const ByteVector& linkKey,
                    const ByteVector& accountKey, const char* handle, uint64_t accountId, uint8_t accountCrypto,
                    Callback completion);
    bool isCacheAvailable() const;
    void loadCache(BoolCallback completion);
    void reset(Callback completion);
    void remove(Callback completion);
    void truncate(Callback completion);
    void beginTransaction();
    void endTransaction(uint64_t cloudState, Callback completion);
    uint64_t getCloudState() const;

    // "cloud-v31-" and the first 8 characters of the handle, inside the data folder.
    static std::string cachePath(const std::string& dataPath, const std::string& handle);

    // --- filesystems ---

    void addFilesystems(std::shared_ptr<FilesystemList> filesystems, BoolCallback completion);
    void addFilesystem(std::shared_ptr<FilesystemData> filesystem, BoolCallback completion);
    void addFilesystemWithKey(std::shared_ptr<FilesystemData> filesystem, const ByteVector& key,
                              BoolCallback completion);
    void addFilesystemUsingNodeKey(std::shared_ptr<FilesystemData> filesystem, std::unique_ptr<ByteVector> nodeKey,
                                   BoolCallback completion);
    // The filesystem id of a node from its parent; 0 when it cannot be worked out.
    uint64_t getFilesystem(const NodeData& node, const NodeData* parent) const;

    std::shared_ptr<FilesystemData> getFilesystem(uint64_t filesystemId) const;
    // Buffers owned by the filesystem record, valid while it stays known; null when absent.
    const ByteVector* getFilesystemKey(uint64_t filesystemId) const;
    const ByteVector* getFilesystemNodeKey(uint64_t filesystemId) const;
    // -1 for an unknown filesystem.
    int32_t getFilesystemType(uint64_t filesystemId) const;

    // --- lookup ---

    void getNodeById(uint64_t id, MutableNodeCallback completion);
    void getChildren(uint64_t parentId, NodeListCallback completion, int32_t order);
    void getChildren(uint64_t parentId, NodeListCallback completion, NodeFilter filter, int32_t order);
    void getChildFiles(uint64_t parentId, NodeListCallback completion, int32_t order);
    void getChildFolders(uint64_t parentId, NodeListCallback completion, int32_t order);
    void getNodeByName(uint64_t parentId, const std::string& name, NodeCallback completion);
    void getNodesByFullHash(const ByteVector& hash, NodeListCallback completion);
    void getNodesBySparseHash(const ByteVector& hash, NodeListCallback completion);
    void getIdenticalNode(const ByteVector& fullHash, uint64_t size, NodeCallback completion);
    void getSimilarNode(const ByteVector& sparseHash, uint64_t size, uint64_t modificationTime,
                        NodeCallback completion);
    void isDescendant(uint64_t ancestorId, uint64_t nodeId, DescendantCallback completion);
    void getSubtree(uint64_t nodeId, NodeListPointer accumulator, SubtreeCallback completion);
    void hashFingerprint(const ByteVector& data, BytesCompletion completion);

    std::shared_ptr<NodeData> getRoot(int32_t index) const;
    NodePointer getMainRoot() const;
    std::shared_ptr<NodeList> getRoots() const;
    NodePointer getSecretNode(uint64_t id) const;
    std::shared_ptr<NodeList> getSecrets() const;
    const ByteVector* getSecretKey(uint64_t id) const;
    NodePointer getSharedDrive(uint64_t id) const;
    std::shared_ptr<NodeList> getSharedDrives() const;

    // --- order and paths ---

    static void sortNodes(const NodeListPointer& list, int32_t order);

    void getNode(const std::string& path, NodePathCallback completion);
    void getNodeByPath(uint64_t parentId, const std::string& path, NodeCallback completion);
    void getNodePath(uint64_t nodeId, PathCallback completion);

    // --- node decryption ---

    // The completion always gets the node, decrypted as far as it went; failures are logged.
    void decryptNode(NodePointer node, NodePointer parent, MutableNodeCallback completion);
    void decryptPublicNode(NodePointer node, const ByteVector& key, MutableNodeCallback completion);
    void decryptAttributes(uint32_t scheme, const ByteVector* encryptedAttributes, NodePointer node,
                           BoolCallback completion);

    // --- node encryption and copies ---

    void encryptNode(NodePointer node, EncryptedNodeCallback completion);
    void encryptNodeForParent(NodePointer node, NodePointer parent, bool renew, EncryptedNodeCallback completion);
    void encryptNodeList(NodeListPointer nodes, EncryptedNodeListCallback completion);
    void encryptPublicNode(NodePointer node, const ByteVector& cipherKey, const ByteVector* filesystemKey,
                           EncryptedNodeCallback completion);
    void encryptChildKey(NodePointer node, NodePointer parent, ChildKeyCallback completion);
    void createRootNode(const ByteVector& parentKey, int32_t rootType, EncryptedNodeCallback completion);
    void copyNode(uint64_t nodeId, uint64_t newParentId, NodeListCallback completion);
    void shareNodeTree(uint64_t nodeId, uint64_t newParentId, NodeListCallback completion);

    // --- node changes ---

    void addNodes(NodeListPointer nodes, NodeListCallback completion, bool skipLookup);
    void addNode(NodePointer node, MutableNodeCallback completion, bool skipLookup);
    void updateNode(NodePointer node, MutableNodeCallback completion, bool skipLookup);
    void moveNode(uint64_t id, uint64_t newParentId, uint64_t newFilesystemId, MutableNodeCallback completion);
    void changeNodeMetadata(uint64_t id, const uint8_t* metadata, size_t length, MutableNodeCallback completion);
    void removeNode(uint64_t id, Callback completion);
    void decryptPublicNodes(NodeListPointer nodes, const ByteVector& key, NodeListCallback completion);

    // Evicts sibling groups, deepest first, while RAM holds too many nodes.
    void purgeNodes();

    // --- roots, secrets, shared drives, account record ---

    void createRootNodeList(const ByteVector& parentKey, EncryptedNodeListCallback completion);
    void closeSecret(uint64_t id, Callback completion);
    void deleteSharedDrive(uint64_t id, Callback completion);
    void removeFilesystemOfNode(uint64_t nodeId, BoolCallback completion);
    void removeFilesystem(uint64_t filesystemId, BoolCallback completion);

    uint8_t getAccessLevel() const;
    uint8_t getAccountCrypto() const;
    std::shared_ptr<MutableAccountInfoData> getAccountInfo() const { return accountInfo_; }
    void updateAccessLevel(uint8_t accessLevel);
    void updateAccountCrypto(uint8_t crypto);
    void updateAccountInfo(uint64_t id, int32_t type, const char* name, int64_t creationTime, int64_t storageTotal,
                           int64_t storageUsed, int64_t renewalTime, int32_t period, int32_t amount, int32_t discount,
                           bool credit, bool paymentMethod, const char* plan, const char* nif, const char* referrerCode,
                           int32_t balance, int32_t upgrades, bool reseller, int32_t features, uint8_t crypto,
                           uint8_t accessLevel);

    // --- seen by tests and benchmarks ---

    int32_t getRamNodeCount() const { return ramNodeCount_; }
    bool isInRam(uint64_t id) const { return nodes_.count(id) != 0; }
    // Whether the node held in RAM has its children loaded; false when it is not held.
    bool hasChildrenLoaded(uint64_t id) const;
    int32_t getPurgeAllowance() const { return purgeAllowance_; }
    // Empty when every node held is listed once under its parent and nothing else is listed;
    // otherwise what is wrong.
    std::string ramInconsistency() const;

private:
    struct SubtreeWalk;
    struct PathWalk;
    struct Decryption;
    struct Encryption;
    struct Removal;

    // Posts the completion with the result to the SDK main loop; nothing for an empty one.
    template <typename... Args>
    void notify(const std::function<void(Args...)>& completion, typename std::common_type<Args>::type... args) const {
        if (!completion) {
            return;
        }
        TaskManager::postOrRun(loop_, [completion, args...]() { completion(args...); });
    }

    // A typed table only while the database is set: after reset or remove the tables are gone
    // until the next initialize, and the Cloud then works as without a cache.
    Database<FilesystemData>* filesystemTable() const { return database_ ? filesystemTable_.get() : nullptr; }
    Database<MutableNodeData>* nodeTable() const { return database_ ? nodeTable_.get() : nullptr; }
    Database<MutableAccountInfoData>* accountTable() const { return database_ ? accountTable_.get() : nullptr; }

    void openCache(uint64_t accountId, Callback completion);
    void openTables(size_t index, uint64_t accountId, Callback completion);
    void loadRoots(BoolCallback completion);
    void placeCachedRoot(const NodePointer& node);
    void closeCachedSecrets(std::shared_ptr<std::vector<uint64_t>> ids, BoolCallback completion);
    void clearRamState(bool keepAccount);
    void dropTables();
    // Clears the RAM state and closes the cache database, deleting its file when asked.
    void closeCache(bool removeFile, Callback completion);

    void storeFilesystem(const std::shared_ptr<FilesystemData>& filesystem, bool toDatabase, bool withKey,
                         BoolCallback completion);
    void addFilesystemStep(std::shared_ptr<FilesystemList> filesystems, BoolCallback completion);
    void putIntoRam(const NodePointer& node);

    void isDescendantStep(uint64_t ancestorId, uint64_t nodeId, std::shared_ptr<std::set<uint64_t>> visited,
                          DescendantCallback completion);
    void subtreeExpand(const std::shared_ptr<SubtreeWalk>& walk, uint64_t nodeId);
    void subtreeNext(const std::shared_ptr<SubtreeWalk>& walk);
    void hashSearch(int32_t column, const ByteVector& hash, const char* missingMessage, const char* errorMessage,
                    NodeListCallback completion);
    void bestCandidate(NodeListPointer candidates, uint64_t size, const uint64_t* modificationTime,
                       const char* errorMessage, const char* missingMessage, NodeCallback completion);
    void pathStep(uint64_t parentId, std::string text, NodePathCallback completion);
    void relativePathStep(uint64_t parentId, std::string text, NodeCallback completion);
    void nodePathStep(const std::shared_ptr<PathWalk>& walk, NodePointer node);

    // Node decryption steps.
    void decryptChildKey(const std::shared_ptr<Decryption>& op);
    void nodeKeyReceived(const std::shared_ptr<Decryption>& op, CryptoBytes key);
    bool rescueNodeKey(const std::shared_ptr<Decryption>& op, bool fromInvalidKey);
    void attributesDecrypted(const std::shared_ptr<Decryption>& op, bool ok);
    void applyFixUps(const std::shared_ptr<Decryption>& op);
    void checkFingerprint(const std::shared_ptr<Decryption>& op);

    // Node encryption steps; `done` runs on this loop without another post.
    void encryptWithFingerprintKey(const std::shared_ptr<Encryption>& op);
    void encryptFingerprint(const std::shared_ptr<Encryption>& op);
    void encryptForParentFound(const std::shared_ptr<Encryption>& op, NodePointer parent);
    void encryptPublic(NodePointer node, std::shared_ptr<ByteVector> cipherKey,
                       std::shared_ptr<ByteVector> filesystemKey, EncryptedNodeCallback done);
    void encryptNodeListStep(NodeListPointer nodes, std::shared_ptr<EncryptedNodeList> results, bool renew,
                             EncryptedNodeListCallback completion);
    void copyTree(uint64_t nodeId, uint64_t newParentId, bool share, NodeListCallback completion);
    void createRootNodeStep(std::shared_ptr<ByteVector> parentKey, int32_t type,
                            std::shared_ptr<EncryptedNodeList> results, EncryptedNodeListCallback completion);

    // Node change steps.
    void addNodesStep(NodeListPointer nodes, NodeListPointer results, bool skipLookup, NodeListCallback completion);
    void decryptPublicNodesStep(NodeListPointer nodes, std::shared_ptr<ByteVector> key, NodeListPointer results,
                                NodeListCallback completion);
    void updateNodeWithOld(NodePointer node, NodePointer old, MutableNodeCallback completion);
    void updateNodeWithParent(NodePointer node, NodePointer old, NodePointer parent, MutableNodeCallback completion);
    void removeNodeStep(const std::shared_ptr<Removal>& walk, uint64_t id, Callback completion);
    void removeChildrenStep(const std::shared_ptr<Removal>& walk, NodePointer node, NodeListPointer children,
                            Callback completion);
    void deleteNodeEntry(NodePointer node, Callback completion);
    // Takes the node out of `nodes` and `children`; false when it was not held.
    bool takeOutOfRam(uint64_t id, uint64_t parentId, const char* removedLine, const char* childRemovedLine,
                      const char* childMissingLine);
    void closeFilesystemRoot(std::map<uint64_t, NodePointer>& roots, uint64_t id, Callback completion);

    int32_t ramNodeCount_ = 0;
    LibuvLoop* loop_;
    CryptoManager* cryptoManager_;
    ByteVector masterKey_;
    ByteVector accountKey_;
    ByteVector linkKey_;
    ByteVector fingerprintKey_;
    std::string handle_;
    std::map<uint64_t, std::shared_ptr<FilesystemData>> filesystems_;
    std::shared_ptr<std::vector<NodePointer>> roots_;
    NodePointer contactsRoot_;
    std::map<uint64_t, NodePointer> secrets_;
    std::map<uint64_t, NodePointer> sharedDrives_;
    std::map<uint64_t, NodePointer> nodes_;
    std::multimap<uint64_t, NodePointer> children_;
    DatabaseModule* database_;
    std::string dataPath_;
    bool cacheAvailable_ = false;
    std::shared_ptr<MutableAccountInfoData> accountInfo_;
    std::unique_ptr<Database<FilesystemData>> filesystemTable_;
    std::unique_ptr<Database<MutableNodeData>> nodeTable_;
    std::unique_ptr<Database<MutableUserInfoData>> userTable_;
    std::unique_ptr<Database<MutableAccountInfoData>> accountTable_;
    int32_t purgeAllowance_ = 0;
};

}  // namespace corvane
