// Node decryption, encryption and the copies that prepare nodes for encryption.

#include <utility>

#include "cloud/cloud.h"
#include "corvane/handle.h"
#include "corvane/node_type.h"
#include "crypto/crypto_manager.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr size_t kFingerprintSize = 20;

// Crypto buffers must outlive the crypto loop's read of them: every key handed over travels
// as a private copy kept alive by the completion.
std::shared_ptr<std::vector<uint8_t>> copyOf(const std::vector<uint8_t>* bytes) {
    return bytes ? std::make_shared<std::vector<uint8_t>>(*bytes) : nullptr;
}

std::shared_ptr<std::vector<uint8_t>> shared(CryptoBytes bytes) {
    return std::shared_ptr<std::vector<uint8_t>>(bytes.release());
}

bool isLinkRootType(int32_t type) {
    return type == FOLDER_NODE || type == RECORD_NODE || type == LINK_COPY_NODE;
}

bool isFilesystemRootType(int32_t type) {
    return type == SECRET_ROOT || type == SHARED_DRIVE_ROOT;
}

}  // namespace

struct Cloud::Decryption {
    NodePointer node;
    // The same object when the node carries sealed buffers; null for a plain node.
    std::shared_ptr<EncryptedNodeData> sealed;
    NodePointer parent;
    MutableNodeCallback completion;
    uint64_t filesystemId = 0;
};

struct Cloud::Encryption {
    NodePointer node;
    NodePointer parent;
    bool renew = false;
    EncryptedNodeCallback done;
    std::shared_ptr<ByteVector> key;
    std::shared_ptr<ByteVector> attributes;
    std::shared_ptr<ByteVector> fingerprint;
    std::shared_ptr<ByteVector> encryptedNodeKey;
};

// --- decryption ---

void Cloud::decryptAttributes(uint32_t scheme, const ByteVector* encryptedAttributes, NodePointer node,
                              BoolCallback completion) {
    if (encryptedAttributes && !encryptedAttributes->empty()) {
        auto blob = copyOf(encryptedAttributes);
        cryptoManager_->decryptAttributes(scheme, blob->data(), blob->size(), node, [blob, completion](bool ok) {
            if (completion) {
                completion(ok);
            }
        });
        return;
    }
    if (node && node->getType() < 10) {
        CLOG_DEBUG("No attributes to decrypt for root node");
        notify(completion, true);
        return;
    }
    CLOG_ERROR("Node should have attributes");
    notify(completion, false);
}

void Cloud::decryptNode(NodePointer node, NodePointer parent, MutableNodeCallback completion) {
    auto op = std::make_shared<Decryption>();
    op->node = node;
    op->sealed = std::dynamic_pointer_cast<EncryptedNodeData>(node);
    op->parent = std::move(parent);
    op->completion = std::move(completion);
    op->filesystemId = node->getFilesystem();
    const bool root = node->isRoot();
    if (root) {
        CLOG_DEBUG("Decrypting root node");
    }
    if (root && isLinkRootType(node->getType())) {
        CLOG_DEBUG("Using received link root key");
        nodeKeyReceived(op, CryptoBytes(new ByteVector(linkKey_)));
        return;
    }
    if (!op->sealed || !op->sealed->getEncryptedChildKey()) {
        CLOG_ERROR("[cloud] Missing node key");
        if (!rescueNodeKey(op, false)) {
            notify(op->completion, op->node);
        }
        return;
    }
    decryptChildKey(op);
}

void Cloud::decryptChildKey(const std::shared_ptr<Decryption>& op) {
    const MutableNodeData& node = *op->node;
    const uint64_t filesystem = op->filesystemId;
    std::shared_ptr<ByteVector> cipherKey;
    if (node.getCrypto() == 1) {
        cipherKey = copyOf(&accountKey_);
    } else if (op->parent) {
        cipherKey = copyOf(op->parent->getKey());
    } else if (isFilesystemRootType(node.getType())) {
        cipherKey = copyOf(getFilesystemNodeKey(filesystem));
    } else {
        cipherKey = copyOf(&masterKey_);
    }
    auto filesystemKey = copyOf(getFilesystemKey(filesystem));
    CLOG_DEBUG("Decrypting node of type {} inside node of type {} inside filesystem of type {} with crypto {}",
               node.getType(), op->parent ? op->parent->getType() : -1, getFilesystemType(filesystem),
               node.getCrypto());
    auto childKey = copyOf(op->sealed->getEncryptedChildKey());
    const uint8_t crypto = node.getCrypto();
    cryptoManager_->deriveNodeKey(crypto, filesystemKey.get(), cipherKey.get(),
                                  [this, op, crypto, childKey, cipherKey, filesystemKey](CryptoBytes derived) {
                                      auto derivedKey = shared(std::move(derived));
                                      cryptoManager_->decryptNodeKey(crypto, childKey.get(), derivedKey.get(),
                                                                     [this, op, childKey, derivedKey](CryptoBytes key) {
                                                                         nodeKeyReceived(op, std::move(key));
                                                                     });
                                  });
}

void Cloud::nodeKeyReceived(const std::shared_ptr<Decryption>& op, CryptoBytes key) {
    if (key) {
        op->node->setKey(key.get());
        decryptAttributes(op->node->getCrypto(), op->sealed ? op->sealed->getEncryptedAttributes() : nullptr, op->node,
                          [this, op](bool ok) { attributesDecrypted(op, ok); });
        return;
    }
    CLOG_ERROR("[cloud] Invalid node key from childKey");
    if (!rescueNodeKey(op, true)) {
        notify(op->completion, op->node);
    }
}

// The last resort: the node key sealed under the master key (or a filesystem's node key).
// fromInvalidKey: entered after a key that did not decrypt; the result is then final.
bool Cloud::rescueNodeKey(const std::shared_ptr<Decryption>& op, bool fromInvalidKey) {
    if (!op->sealed || !op->sealed->getEncryptedNodeKey() || op->node->getCrypto() != 0 || masterKey_.empty()) {
        return false;
    }
    CLOG_DEBUG("[cloud] Using the master key to rescue the node");
    const int32_t filesystemType = getFilesystemType(op->filesystemId);
    auto cipherKey =
        isFilesystemRootType(filesystemType) ? copyOf(getFilesystemNodeKey(op->filesystemId)) : copyOf(&masterKey_);
    auto encryptedKey = copyOf(op->sealed->getEncryptedNodeKey());
    cryptoManager_->decryptNodeKey(
        0, encryptedKey.get(), cipherKey.get(), [this, op, fromInvalidKey, encryptedKey, cipherKey](CryptoBytes key) {
            if (!fromInvalidKey) {
                nodeKeyReceived(op, std::move(key));
                return;
            }
            op->node->setKey(key.get());
            decryptAttributes(op->node->getCrypto(), op->sealed->getEncryptedAttributes(), op->node,
                              [this, op](bool ok) { attributesDecrypted(op, ok); });
        });
    return true;
}

void Cloud::attributesDecrypted(const std::shared_ptr<Decryption>& op, bool ok) {
    if (!ok) {
        CLOG_ERROR("[cloud] Invalid node attributes");
    } else {
        applyFixUps(op);
    }
    notify(op->completion, op->node);
}

void Cloud::applyFixUps(const std::shared_ptr<Decryption>& op) {
    MutableNodeData& node = *op->node;
    const NodePointer& parent = op->parent;
    const int32_t type = node.getType();
    if (type == FILE_NODE && node.getSize() != 0 && !(parent && parent->getType() == RECORD_NODE)) {
        checkFingerprint(op);
        return;
    }
    switch (type) {
        case BACKUP_NODE:
            if (parent) {
                node.setDevice(parent->getName());
            }
            break;
        case SNAPSHOT_NODE:
            if (parent) {
                node.setDevice(parent->getDevice());
                node.setLocalPath(parent->getLocalPath());
            }
            break;
        case SHARED_DRIVE_ROOT: {
            std::shared_ptr<FilesystemData> filesystem = getFilesystem(op->filesystemId);
            if (!filesystem) {
                CLOG_ERROR("[cloud] Unknown filesystem of shared drive {}", node.getId());
                break;
            }
            node.setExternal(filesystem->getTarget() != 0);
            const std::string source = getHandleText(static_cast<uint64_t>(filesystem->getSource()));
            node.setExtraData(reinterpret_cast<const uint8_t*>(source.data()), source.size());
            break;
        }
        case RECORD_NODE:
            if (parent && (parent->getType() == INBOX_NODE || parent->getType() == OUTBOX_NODE) &&
                parent->getCreationTime() < node.getCreationTime()) {
                parent->setCreationTime(node.getCreationTime());
                Database<MutableNodeData>* table = nodeTable();
                if (table && getFilesystemType(op->filesystemId) != SECRET_ROOT) {
                    table->insert(parent, nullptr);
                }
            }
            break;
        default:
            break;
    }
}

// Logs only: a mismatching node is stored all the same.
void Cloud::checkFingerprint(const std::shared_ptr<Decryption>& op) {
    std::shared_ptr<FilesystemData> filesystem = getFilesystem(op->filesystemId);
    if (filesystem && (filesystem->getType() == SHARED_DRIVE_ROOT || filesystem->getCrypto() == 1)) {
        return;
    }
    const ByteVector* hash = op->node->getHash();
    const ByteVector* received = op->sealed ? op->sealed->getEncryptedFingerprint() : nullptr;
    if (!hash || !received) {
        CLOG_ERROR("File node without fingerprint");
        return;
    }
    if (fingerprintKey_.empty()) {
        return;
    }
    auto hashCopy = copyOf(hash);
    auto key = copyOf(&fingerprintKey_);
    auto expected = copyOf(received);
    cryptoManager_->hashFingerprint(op->node->getCrypto(), hashCopy.get(), key.get(),
                                    [hashCopy, key, expected](CryptoBytes digest) {
                                        // Two 20-byte values or nothing: a short fingerprint or a
                                        // missing digest never matches.
                                        if (digest && digest->size() == kFingerprintSize &&
                                            expected->size() == kFingerprintSize && *digest == *expected) {
                                            CLOG_DEBUG("Node fingerprint OK");
                                        } else {
                                            CLOG_ERROR("Invalid node fingerprint");
                                        }
                                    });
}

void Cloud::decryptPublicNode(NodePointer node, const ByteVector& key, MutableNodeCallback completion) {
    if (node->isRoot()) {
        CLOG_DEBUG("Decrypting root node");
    }
    auto sealed = std::dynamic_pointer_cast<EncryptedNodeData>(node);
    auto childKey = copyOf(sealed ? sealed->getEncryptedChildKey() : nullptr);
    auto cipherKey = copyOf(&key);
    cryptoManager_->decryptNodeKey(node->getCrypto(), childKey.get(), cipherKey.get(),
                                   [this, node, sealed, childKey, cipherKey, completion](CryptoBytes nodeKey) {
                                       if (!nodeKey) {
                                           CLOG_WARN("[cloud] Invalid node key");
                                           notify(completion, node);
                                           return;
                                       }
                                       node->setKey(nodeKey.get());
                                       decryptAttributes(node->getCrypto(), sealed->getEncryptedAttributes(), node,
                                                         [this, node, completion](bool ok) {
                                                             if (!ok) {
                                                                 CLOG_WARN("[cloud] Invalid node attributes");
                                                             }
                                                             notify(completion, node);
                                                         });
                                   });
}

// --- encryption ---

void Cloud::encryptNode(NodePointer node, EncryptedNodeCallback completion) {
    encryptNodeForParent(std::move(node), nullptr, false, std::move(completion));
}

void Cloud::encryptNodeForParent(NodePointer node, NodePointer parent, bool renew, EncryptedNodeCallback completion) {
    auto op = std::make_shared<Encryption>();
    op->node = std::move(node);
    op->parent = std::move(parent);
    op->renew = renew;
    op->done = [this, completion](EncryptedNodePointer result) { notify(completion, result); };
    if (!fingerprintKey_.empty()) {
        TaskManager::postOrRun(loop_, [this, op]() { encryptWithFingerprintKey(op); });
        return;
    }
    // Without a fingerprint key (a link session) the node is sealed as for a public link.
    auto withParent = [this, op](NodePointer parent) {
        if (!parent && !op->node->isRoot()) {
            CLOG_ERROR("Unable to find parent node");
            op->done(nullptr);
            return;
        }
        const uint64_t filesystem = getFilesystem(*op->node, parent.get());
        std::shared_ptr<ByteVector> cipherKey;
        std::shared_ptr<ByteVector> filesystemKey;
        if (isFilesystemRootType(getFilesystemType(filesystem))) {
            cipherKey = copyOf(getFilesystemNodeKey(filesystem));
            filesystemKey = copyOf(getFilesystemKey(filesystem));
        } else {
            cipherKey = copyOf(&masterKey_);
        }
        if (parent) {
            cipherKey = copyOf(parent->getKey());
        }
        EncryptedNodeCallback done = op->done;
        encryptPublic(op->node, cipherKey, filesystemKey, [filesystem, done](EncryptedNodePointer result) {
            if (result) {
                result->setFilesystem(filesystem);
            }
            done(result);
        });
    };
    if (op->parent) {
        withParent(op->parent);
        return;
    }
    getNodeById(op->node->getParent(), withParent);
}

void Cloud::encryptWithFingerprintKey(const std::shared_ptr<Encryption>& op) {
    const MutableNodeData& node = *op->node;
    if (!node.getKey() || (op->renew && node.getType() != FILE_NODE)) {
        op->key = shared(cryptoManager_->generateNodeKey(node.getCrypto(), node.getType()));
    } else {
        op->key = copyOf(node.getKey());
    }
    cryptoManager_->encryptAttributes(node.getCrypto(), op->node, op->key.get(), [this, op](CryptoBytes blob) {
        if (!blob) {
            CLOG_ERROR("Unable to encrypt node attributes");
            op->done(nullptr);
            return;
        }
        if (op->node->isFile() && op->node->getSize() != 0 && !op->node->getHash()) {
            CLOG_ERROR("File node without fingerprint");
            op->done(nullptr);
            return;
        }
        op->attributes = shared(std::move(blob));
        encryptFingerprint(op);
    });
}

void Cloud::encryptFingerprint(const std::shared_ptr<Encryption>& op) {
    auto next = [this, op]() {
        if (op->parent) {
            encryptForParentFound(op, op->parent);
            return;
        }
        getNodeById(op->node->getParent(), [this, op](NodePointer parent) {
            if (!parent && !isFilesystemRootType(op->node->getType())) {
                CLOG_ERROR("Unable to find parent node");
                op->done(nullptr);
                return;
            }
            encryptForParentFound(op, std::move(parent));
        });
    };
    const uint64_t filesystem = getFilesystem(*op->node, op->parent.get());
    if (getFilesystemType(filesystem) == SHARED_DRIVE_ROOT) {
        next();
        return;
    }
    auto hash = copyOf(op->node->getHash());
    auto key = copyOf(&fingerprintKey_);
    cryptoManager_->hashFingerprint(op->node->getCrypto(), hash.get(), key.get(),
                                    [this, op, hash, key, next](CryptoBytes fingerprint) {
                                        if (!fingerprint && hash) {
                                            CLOG_ERROR("Unable to hash node fingerprint");
                                            op->done(nullptr);
                                            return;
                                        }
                                        op->fingerprint = shared(std::move(fingerprint));
                                        next();
                                    });
}

// The parent is the given one or the one looked up by id; null only for a root.
void Cloud::encryptForParentFound(const std::shared_ptr<Encryption>& op, NodePointer parent) {
    const uint64_t filesystem = getFilesystem(*op->node, parent.get());
    auto cipherKey = isFilesystemRootType(getFilesystemType(filesystem)) ? copyOf(getFilesystemNodeKey(filesystem))
                                                                         : copyOf(&masterKey_);
    const MutableNodeData& node = *op->node;
    cryptoManager_->encryptNodeKey(
        node.getCrypto(), op->key.get(), cipherKey.get(), [this, op, parent, cipherKey](CryptoBytes encrypted) {
            if (!encrypted) {
                CLOG_ERROR("Unable to encrypt node key");
                op->done(nullptr);
                return;
            }
            if (!parent && !op->node->isRoot()) {
                CLOG_ERROR("Unable to find parent node");
                op->done(nullptr);
                return;
            }
            const MutableNodeData& node = *op->node;
            auto result = std::make_shared<EncryptedNodeData>();
            result->setId(node.getId());
            result->setType(node.getType());
            result->setCrypto(node.getCrypto());
            result->setKey(op->key.get());
            result->setSize(node.getSize());
            result->setParent(node.getParent());
            result->setCreationTime(node.getCreationTime());
            result->setEncryptedAttributes(op->attributes->data(), op->attributes->size());
            result->setEncryptedNodeKey(encrypted->data(), encrypted->size());
            result->setExtraNumber(node.getExtraNumber());
            if (node.getExtraData()) {
                result->setExtraData(node.getExtraData());
            }
            if (node.getPublicHandle()) {
                result->setPublicHandle(node.getPublicHandle());
            }
            if (op->fingerprint) {
                result->setEncryptedFingerprint(op->fingerprint->data(), op->fingerprint->size());
            }
            if (node.isRoot()) {
                op->done(result);
                return;
            }
            encryptChildKey(result, parent, [op, result](uint64_t filesystem, std::shared_ptr<ByteVector> childKey) {
                if (!childKey) {
                    CLOG_ERROR("Unable to encrypt child key");
                    op->done(nullptr);
                    return;
                }
                result->setFilesystem(filesystem);
                result->setEncryptedChildKey(childKey->data(), childKey->size());
                op->done(result);
            });
        });
}

void Cloud::encryptChildKey(NodePointer node, NodePointer parent, ChildKeyCallback completion) {
    const uint64_t filesystem = getFilesystem(*node, parent.get());
    auto parentKey = copyOf(parent ? parent->getKey() : nullptr);
    auto filesystemKey = copyOf(getFilesystemKey(filesystem));
    auto nodeKey = copyOf(node->getKey());
    CLOG_DEBUG("Encrypting child key for node of type {} ParentType: {} FSType: {} FSID: {}", node->getType(),
               parent ? parent->getType() : -1, getFilesystemType(filesystem), filesystem);
    const uint8_t crypto = node->getCrypto();
    cryptoManager_->deriveNodeKey(
        crypto, filesystemKey.get(), parentKey.get(),
        [this, crypto, filesystem, parentKey, filesystemKey, nodeKey, completion](CryptoBytes derived) {
            auto derivedKey = shared(std::move(derived));
            cryptoManager_->encryptNodeKey(crypto, nodeKey.get(), derivedKey.get(),
                                           [this, filesystem, nodeKey, derivedKey, completion](CryptoBytes encrypted) {
                                               notify(completion, filesystem, shared(std::move(encrypted)));
                                           });
        });
}

void Cloud::encryptPublicNode(NodePointer node, const ByteVector& cipherKey, const ByteVector* filesystemKey,
                              EncryptedNodeCallback completion) {
    encryptPublic(std::move(node), copyOf(&cipherKey), copyOf(filesystemKey),
                  [this, completion](EncryptedNodePointer result) { notify(completion, result); });
}

void Cloud::encryptPublic(NodePointer node, std::shared_ptr<ByteVector> cipherKey,
                          std::shared_ptr<ByteVector> filesystemKey, EncryptedNodeCallback done) {
    CLOG_DEBUG("Encrypting node for public link");
    TaskManager::postOrRun(loop_, [this, node, cipherKey, filesystemKey, done]() {
        const uint8_t crypto = node->getCrypto();
        auto key =
            node->getKey() ? copyOf(node->getKey()) : shared(cryptoManager_->generateNodeKey(crypto, node->getType()));
        cryptoManager_->encryptAttributes(
            crypto, node, key.get(), [this, node, key, cipherKey, filesystemKey, done, crypto](CryptoBytes blob) {
                if (!blob) {
                    CLOG_ERROR("Unable to encrypt node attributes");
                    done(nullptr);
                    return;
                }
                auto attributes = shared(std::move(blob));
                cryptoManager_->deriveNodeKey(
                    crypto, filesystemKey.get(), cipherKey.get(),
                    [this, node, key, cipherKey, filesystemKey, attributes, done, crypto](CryptoBytes derived) {
                        auto derivedKey = shared(std::move(derived));
                        cryptoManager_->encryptNodeKey(
                            crypto, key.get(), derivedKey.get(),
                            [node, key, derivedKey, attributes, done](CryptoBytes childKey) {
                                if (!childKey) {
                                    CLOG_ERROR("Unable to encrypt child key");
                                    done(nullptr);
                                    return;
                                }
                                auto result = std::make_shared<EncryptedNodeData>();
                                result->setId(node->getId());
                                result->setKey(key.get());
                                result->setType(node->getType());
                                result->setSize(node->getSize());
                                result->setParent(node->getParent());
                                result->setCreationTime(node->getCreationTime());
                                result->setEncryptedAttributes(attributes->data(), attributes->size());
                                result->setCrypto(node->getCrypto());
                                result->setEncryptedChildKey(childKey->data(), childKey->size());
                                done(result);
                            });
                    });
            });
    });
}

void Cloud::encryptNodeList(NodeListPointer nodes, EncryptedNodeListCallback completion) {
    auto results = std::make_shared<EncryptedNodeList>();
    if (!nodes || nodes->empty()) {
        notify(completion, results);
        return;
    }
    const bool renew = !nodes->front()->getKey();
    encryptNodeListStep(std::move(nodes), results, renew, std::move(completion));
}

// One node at a time, in list order: a node's parent may be an earlier result.
void Cloud::encryptNodeListStep(NodeListPointer nodes, std::shared_ptr<EncryptedNodeList> results, bool renew,
                                EncryptedNodeListCallback completion) {
    const std::shared_ptr<NodeData>& next = (*nodes)[results->size()];
    NodePointer node = std::dynamic_pointer_cast<MutableNodeData>(next);
    if (!node) {
        node = std::make_shared<MutableNodeData>(*next);
    }
    NodePointer parent;
    for (const EncryptedNodePointer& result : *results) {
        if (result->getId() == node->getParent()) {
            parent = result;
            break;
        }
    }
    auto step = [this, nodes, results, renew, completion](EncryptedNodePointer result) {
        if (!result) {
            CLOG_ERROR("Unable to encrypt node list");
            notify(completion, std::shared_ptr<EncryptedNodeList>());
            return;
        }
        results->push_back(std::move(result));
        if (results->size() == nodes->size()) {
            notify(completion, results);
            return;
        }
        encryptNodeListStep(nodes, results, renew, completion);
    };
    if (results->empty()) {
        encryptNode(node, step);
    } else {
        encryptNodeForParent(node, parent, renew, step);
    }
}

void Cloud::createRootNode(const ByteVector& parentKey, int32_t rootType, EncryptedNodeCallback completion) {
    const uint8_t crypto = getAccountCrypto();
    auto result = std::make_shared<EncryptedNodeData>();
    result->setType(rootType);
    result->setCrypto(crypto);
    // Every buffer the crypto loop reads is held by each step until its completion has run.
    auto parent = copyOf(&parentKey);
    auto nodeKey = shared(cryptoManager_->generateNodeKey(crypto, rootType));
    auto filesystemKey = shared(cryptoManager_->generateNodeKey(crypto, rootType));
    auto fail = [this, completion]() {
        CLOG_ERROR("Unable to encrypt node key");
        notify(completion, EncryptedNodePointer());
    };
    auto sealFilesystemKey = [this, crypto, result, parent, filesystemKey, fail, completion]() {
        cryptoManager_->encryptNodeKey(
            crypto, filesystemKey.get(), parent.get(),
            [this, result, parent, filesystemKey, fail, completion](CryptoBytes encryptedFilesystemKey) {
                if (!encryptedFilesystemKey) {
                    fail();
                    return;
                }
                result->setEncryptedAttributes(encryptedFilesystemKey->data(), encryptedFilesystemKey->size());
                notify(completion, result);
            });
    };
    auto sealChildKey = [this, crypto, result, parent, nodeKey, filesystemKey, fail, sealFilesystemKey]() {
        cryptoManager_->deriveNodeKey(
            crypto, filesystemKey.get(), parent.get(),
            [this, crypto, result, parent, nodeKey, filesystemKey, fail, sealFilesystemKey](CryptoBytes derived) {
                auto derivedKey = shared(std::move(derived));
                cryptoManager_->encryptNodeKey(
                    crypto, nodeKey.get(), derivedKey.get(),
                    [result, nodeKey, derivedKey, fail, sealFilesystemKey](CryptoBytes childKey) {
                        if (!childKey) {
                            fail();
                            return;
                        }
                        result->setEncryptedChildKey(childKey->data(), childKey->size());
                        sealFilesystemKey();
                    });
            });
    };
    cryptoManager_->encryptNodeKey(crypto, nodeKey.get(), parent.get(),
                                   [result, parent, nodeKey, fail, sealChildKey](CryptoBytes encryptedNodeKey) {
                                       if (!encryptedNodeKey) {
                                           fail();
                                           return;
                                       }
                                       result->setEncryptedNodeKey(encryptedNodeKey->data(), encryptedNodeKey->size());
                                       sealChildKey();
                                   });
}

// --- copies ---

void Cloud::copyNode(uint64_t nodeId, uint64_t newParentId, NodeListCallback completion) {
    copyTree(nodeId, newParentId, false, std::move(completion));
}

void Cloud::shareNodeTree(uint64_t nodeId, uint64_t newParentId, NodeListCallback completion) {
    copyTree(nodeId, newParentId, true, std::move(completion));
}

void Cloud::copyTree(uint64_t nodeId, uint64_t newParentId, bool share, NodeListCallback completion) {
    getNodeById(nodeId, [this, nodeId, newParentId, share, completion](NodePointer node) {
        if (!node) {
            notify(completion, NodeListPointer());
            return;
        }
        auto copy = std::make_shared<MutableNodeData>(*node);
        if (share) {
            copy->setType(LINK_COPY_NODE);
        }
        copy->setParent(newParentId);
        if (copy->getType() != FILE_NODE) {
            copy->setKey(static_cast<const ByteVector*>(nullptr));
        }
        auto list = std::make_shared<NodeList>();
        list->push_back(copy);
        getSubtree(nodeId, list, [this, completion](NodeListPointer result, Error error) {
            // A tree that runs in a circle cannot be copied.
            notify(completion, error.getCode() == SUCCESS ? result : NodeListPointer());
        });
    });
}

}  // namespace corvane
