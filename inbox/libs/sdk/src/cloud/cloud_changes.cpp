// Applying received and local node changes to RAM and the cache, and the RAM purge.

#include <set>
#include <string>
#include <utility>

#include "cloud/cloud.h"
#include "corvane/node_type.h"
#include "util/log.h"

namespace corvane {

struct Cloud::Removal {
    // Every id the removal has entered: a cached tree whose parents run in a circle must not
    // send it round for ever.
    std::set<uint64_t> seen;
};

// --- lists ---

void Cloud::addNodes(NodeListPointer nodes, NodeListCallback completion, bool skipLookup) {
    const size_t count = nodes ? nodes->size() : 0;
    CLOG_INFO("Adding {} nodes", count);
    auto results = std::make_shared<NodeList>();
    if (count == 0) {
        notify(completion, results);
        return;
    }
    addNodesStep(std::move(nodes), results, skipLookup, std::move(completion));
}

void Cloud::addNodesStep(NodeListPointer nodes, NodeListPointer results, bool skipLookup, NodeListCallback completion) {
    NodePointer node = std::dynamic_pointer_cast<MutableNodeData>((*nodes)[results->size()]);
    if (!node) {
        node = std::make_shared<MutableNodeData>(*(*nodes)[results->size()]);
    }
    addNode(
        node,
        [this, nodes, results, skipLookup, completion](NodePointer stored) {
            results->push_back(std::move(stored));
            if (results->size() < nodes->size()) {
                addNodesStep(nodes, results, skipLookup, completion);
                return;
            }
            CLOG_INFO("Addition of {} nodes finished", nodes->size());
            auto kept = std::make_shared<NodeList>();
            for (size_t i = 0; i < results->size(); ++i) {
                if ((*results)[i]) {
                    kept->push_back((*results)[i]);
                } else {
                    CLOG_DEBUG("Removing unknown node from addNodes result {}", (*nodes)[i]->getId());
                }
            }
            purgeNodes();
            notify(completion, kept);
        },
        skipLookup);
}

void Cloud::decryptPublicNodes(NodeListPointer nodes, const ByteVector& key, NodeListCallback completion) {
    auto results = std::make_shared<NodeList>();
    if (!nodes || nodes->empty()) {
        notify(completion, results);
        return;
    }
    decryptPublicNodesStep(std::move(nodes), std::make_shared<ByteVector>(key), results, std::move(completion));
}

void Cloud::decryptPublicNodesStep(NodeListPointer nodes, std::shared_ptr<ByteVector> key, NodeListPointer results,
                                   NodeListCallback completion) {
    NodePointer node = std::dynamic_pointer_cast<MutableNodeData>((*nodes)[results->size()]);
    if (!node) {
        node = std::make_shared<MutableNodeData>(*(*nodes)[results->size()]);
    }
    decryptPublicNode(node, *key, [this, nodes, key, results, completion](NodePointer decrypted) {
        results->push_back(std::move(decrypted));
        if (results->size() < nodes->size()) {
            decryptPublicNodesStep(nodes, key, results, completion);
            return;
        }
        notify(completion, results);
    });
}

// --- single nodes ---

void Cloud::addNode(NodePointer node, MutableNodeCallback completion, bool skipLookup) {
    getNodeById(node->getParent(), [this, node, completion, skipLookup](NodePointer parent) {
        if (!parent && !node->isRoot()) {
            CLOG_DEBUG("Parent node not found in addNode {}", node->getParent());
            notify(completion, NodePointer());
            return;
        }
        decryptNode(node, parent, [this, node, completion, skipLookup](NodePointer decrypted) {
            if (!decrypted) {
                CLOG_ERROR("Unable to decrypt node {}", node->getId());
                notify(completion, NodePointer());
                return;
            }
            updateNode(decrypted, completion, skipLookup);
        });
    });
}

void Cloud::updateNode(NodePointer node, MutableNodeCallback completion, bool skipLookup) {
    if (skipLookup || getFilesystemType(node->getFilesystem()) == SECRET_ROOT) {
        updateNodeWithOld(std::move(node), nullptr, std::move(completion));
        return;
    }
    const uint64_t id = node->getId();
    getNodeById(id, [this, node, completion](NodePointer old) { updateNodeWithOld(node, std::move(old), completion); });
}

bool Cloud::takeOutOfRam(uint64_t id, uint64_t parentId, const char* removedLine, const char* childRemovedLine,
                         const char* childMissingLine) {
    auto it = nodes_.find(id);
    if (it == nodes_.end()) {
        return false;
    }
    --ramNodeCount_;
    nodes_.erase(it);
    CLOG_DEBUG("{} {}", removedLine, id);
    auto range = children_.equal_range(parentId);
    for (auto child = range.first; child != range.second; ++child) {
        if (child->second->getId() == id) {
            children_.erase(child);
            CLOG_DEBUG("{} {}", childRemovedLine, id);
            return true;
        }
    }
    CLOG_ERROR("{} {}", childMissingLine, id);
    return true;
}

void Cloud::updateNodeWithOld(NodePointer node, NodePointer old, MutableNodeCallback completion) {
    const uint64_t id = node->getId();
    auto held = nodes_.find(id);
    if (held != nodes_.end() && !old) {
        old = held->second;
    }
    if (!old) {
        CLOG_DEBUG("[cloud] Adding node: {} Type: {}", id, node->getType());
    } else {
        CLOG_DEBUG("[cloud] Updating node: {} Type: {}", old->getId(), old->getType());
        takeOutOfRam(
            id, old->getParent(), "[cloud] Node to update removed from node map:",
            "[cloud] Node to update removed from children map:", "[cloud] Node to update not found in children map:");
    }
    getNodeById(node->getParent(), [this, node, old, completion](NodePointer parent) {
        updateNodeWithParent(node, old, std::move(parent), completion);
    });
}

void Cloud::updateNodeWithParent(NodePointer node, NodePointer old, NodePointer parent,
                                 MutableNodeCallback completion) {
    const uint64_t id = node->getId();
    const bool root = node->isRoot();
    if (!parent && !root) {
        CLOG_DEBUG("[cloud] Parent not found {} node {}", old ? "updating" : "adding", node->getParent());
        notify(completion, NodePointer());
        return;
    }
    if (old) {
        node->setFull(node->isFull() || old->isFull());
        node->setChildrenLoaded(old->getChildrenLoaded());
    } else {
        node->setChildrenLoaded(false);
    }
    const bool secret = getFilesystemType(node->getFilesystem()) == SECRET_ROOT;
    if (root) {
        node->setDepth(0);
        const int32_t type = node->getType();
        const bool keepsName = type == SECRET_ROOT || (type == SHARED_DRIVE_ROOT && accountInfo_->getId() != 0);
        if (keepsName && old && !node->getOwnName()) {
            node->setName(old->getName());
        }
        if (type == SECRET_ROOT) {
            secrets_[id] = node;
        } else if (type == SHARED_DRIVE_ROOT && accountInfo_->getId() != 0) {
            sharedDrives_[id] = node;
        } else if (type == CONTACTS_ROOT) {
            contactsRoot_ = node;
        } else {
            (*roots_)[type >= 0 && type < static_cast<int32_t>(kRootSlots) ? type : 0] = node;
        }
        putIntoRam(node);
    } else {
        node->setDepth(static_cast<uint8_t>(parent->getDepth() + 1));
        if (!parent->getChildrenLoaded() && !secret) {
            CLOG_DEBUG("[cloud] Node to update not cached in RAM: {}", id);
        } else {
            CLOG_DEBUG("Adding node to RAM: {}", id);
            putIntoRam(node);
            CLOG_DEBUG("[cloud] Node to update cached in RAM: {}", id);
        }
    }
    Database<MutableNodeData>* table = nodeTable();
    if (!table || secret) {
        notify(completion, node);
        return;
    }
    table->insert(node, [this, node, completion](bool) { notify(completion, node); });
}

void Cloud::moveNode(uint64_t id, uint64_t newParentId, uint64_t newFilesystemId, MutableNodeCallback completion) {
    getNodeById(id, [this, id, newParentId, newFilesystemId, completion](NodePointer node) {
        if (!node || node->isRoot()) {
            CLOG_DEBUG("[cloud] Node not found in moveNode {}", id);
            notify(completion, NodePointer());
            return;
        }
        auto copy = std::make_shared<MutableNodeData>(*node);
        copy->setParent(newParentId);
        copy->setFilesystem(newFilesystemId);
        updateNode(copy, completion, false);
    });
}

void Cloud::changeNodeMetadata(uint64_t id, const uint8_t* metadata, size_t length, MutableNodeCallback completion) {
    auto bytes = std::make_shared<ByteVector>(metadata, metadata + (metadata ? length : 0));
    getNodeById(id, [this, id, bytes, completion](NodePointer node) {
        if (!node) {
            CLOG_DEBUG("[cloud] Node not found in changeNodeMetadata {}", id);
            notify(completion, NodePointer());
            return;
        }
        auto copy = std::make_shared<MutableNodeData>(*node);
        copy->setMetadata(bytes->data(), bytes->size());
        updateNode(copy, completion, false);
    });
}

// --- removal ---

void Cloud::removeNode(uint64_t id, Callback completion) {
    removeNodeStep(std::make_shared<Removal>(), id, std::move(completion));
}

void Cloud::removeNodeStep(const std::shared_ptr<Removal>& walk, uint64_t id, Callback completion) {
    CLOG_DEBUG("[cloud] Removing node: {}", id);
    if (!walk->seen.insert(id).second) {
        CLOG_ERROR("[cloud] {} removing node {}", Error::getMessage(LOOP_DETECTED), id);
        notify(completion);
        return;
    }
    getNodeById(id, [this, walk, id, completion](NodePointer node) {
        if (!node) {
            CLOG_DEBUG("[cloud] Node not found in removeNode {}", id);
            notify(completion);
            return;
        }
        if (node->isRoot() && !node->isFilesystemRoot()) {
            CLOG_WARN("[cloud] Trying to delete a root node {}", id);
            notify(completion);
            return;
        }
        if (node->isFile()) {
            deleteNodeEntry(node, completion);
            return;
        }
        getChildren(
            id,
            [this, walk, node, completion](NodeListPointer children) {
                if (!children || children->empty()) {
                    deleteNodeEntry(node, completion);
                    return;
                }
                CLOG_INFO("Deleting {} children", children->size());
                removeChildrenStep(walk, node, children, completion);
            },
            nullptr, 0);
    });
}

// From the end of the list backwards, one child at a time.
void Cloud::removeChildrenStep(const std::shared_ptr<Removal>& walk, NodePointer node, NodeListPointer children,
                               Callback completion) {
    if (children->empty()) {
        CLOG_INFO("Deletion of child nodes finished");
        deleteNodeEntry(node, completion);
        return;
    }
    const uint64_t childId = children->back()->getId();
    removeNodeStep(walk, childId, [this, walk, node, children, completion]() {
        children->pop_back();
        removeChildrenStep(walk, node, children, completion);
    });
}

void Cloud::deleteNodeEntry(NodePointer node, Callback completion) {
    const uint64_t id = node->getId();
    if (takeOutOfRam(id, node->getParent(), "[cloud] Node removed from node map:",
                     "[cloud] Node removed from children map:", "[cloud] Node to remove not found in children map:")) {
        const size_t remaining = children_.count(id);
        if (remaining != 0) {
            CLOG_ERROR("Node being removed still has {} children: {}", remaining, id);
        }
    }
    Database<MutableNodeData>* table = nodeTable();
    if (!table || getFilesystemType(node->getFilesystem()) == SECRET_ROOT) {
        notify(completion);
        return;
    }
    table->remove(id, [this, id, completion](bool) {
        CLOG_DEBUG("[cloud] Node removed from database: {}", id);
        notify(completion);
    });
}

std::string Cloud::ramInconsistency() const {
    if (static_cast<size_t>(ramNodeCount_) != nodes_.size()) {
        return "count " + std::to_string(ramNodeCount_) + " for " + std::to_string(nodes_.size()) + " nodes";
    }
    if (children_.size() != nodes_.size()) {
        return std::to_string(children_.size()) + " children entries for " + std::to_string(nodes_.size()) + " nodes";
    }
    std::set<uint64_t> listed;
    for (const auto& entry : children_) {
        if (!listed.insert(entry.second->getId()).second) {
            return "listed twice: " + std::to_string(entry.second->getId());
        }
        auto held = nodes_.find(entry.second->getId());
        if (held == nodes_.end() || held->second != entry.second) {
            return "listed but not held: " + std::to_string(entry.second->getId());
        }
        if (entry.first != entry.second->getParent()) {
            return "listed under another parent: " + std::to_string(entry.second->getId());
        }
    }
    return std::string();
}

// --- RAM purge ---

void Cloud::purgeNodes() {
    int32_t excess = ramNodeCount_ - purgeAllowance_ - kPurgeThreshold;
    if (excess <= kPurgeBand) {
        return;
    }
    CLOG_DEBUG("Purging exceeding nodes from RAM: {} {} {}", ramNodeCount_, purgeAllowance_, excess);
    // Deepest first, then by id.
    struct Order {
        bool operator()(const NodePointer& a, const NodePointer& b) const {
            if (a->getDepth() != b->getDepth()) {
                return a->getDepth() > b->getDepth();
            }
            return a->getId() < b->getId();
        }
    };
    std::set<NodePointer, Order> candidates;
    for (const auto& entry : nodes_) {
        const NodePointer& node = entry.second;
        if (getFilesystemType(node->getFilesystem()) == SECRET_ROOT || children_.count(entry.first) != 0) {
            continue;
        }
        candidates.insert(node);
    }
    while (excess > -kPurgeBand && !candidates.empty()) {
        const int32_t start = excess;
        const uint64_t parentId = (*candidates.begin())->getParent();
        if (parentId == 0) {
            purgeAllowance_ += kPurgeAllowanceStep;
            CLOG_WARN("Unable to purge exceeding nodes. Allowing {} extra nodes.", purgeAllowance_);
            break;
        }
        auto range = children_.equal_range(parentId);
        for (auto it = range.first; it != range.second; ++it) {
            nodes_.erase(it->second->getId());
            candidates.erase(it->second);
            --ramNodeCount_;
            --excess;
        }
        children_.erase(range.first, range.second);
        auto parent = nodes_.find(parentId);
        if (parent == nodes_.end()) {
            CLOG_ERROR("Parent node should be in RAM: {}", parentId);
        } else {
            parent->second->setChildrenLoaded(false);
            candidates.insert(parent->second);
        }
        if (excess == start) {
            CLOG_ERROR("There was an error purging nodes from RAM");
            break;
        }
    }
    CLOG_DEBUG("Remaining nodes in RAM: {}", ramNodeCount_);
}

}  // namespace corvane
