#include "node_handlers.h"

#include <ctime>
#include <map>
#include <set>

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "delete_node_message_generated.h"
#include "delete_node_response_generated.h"
#include "move_node_message_generated.h"
#include "move_node_response_generated.h"
#include "rename_node_message_generated.h"
#include "rename_node_response_generated.h"
#include "rewrite_keys_message_generated.h"
#include "rewrite_keys_response_generated.h"

namespace corvane::service {

namespace {

std::string refuse(const char* messageIdentifier, int32_t code) {
    return errorResponse(*findMessageKind(messageIdentifier), code);
}

bool isRoot(const NodeRecord& node) {
    return node.parent == 0;
}

constexpr int8_t kLastRootType = 8;

bool isRootType(int8_t type) {
    return type >= 0 && type <= kLastRootType;
}

// Filesystem roots (secrets, shared drives) may be deleted; the account's own roots may not.
bool isFilesystemRoot(const NodeRecord& node) {
    return isRoot(node) && (node.type == 6 || node.type == 8);
}

std::string answerAddNodes(const std::string& bytes, SessionScope* scope) {
    if (!scope) return refuse("ADNM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<AddNodesMessage>(aligned.data());
    const auto* received = message->nodes();
    if (!received || received->size() == 0) return refuse("ADNM", kErrorWrongParameters);
    ServiceStore& store = scope->store();
    const uint64_t account = scope->account();

    // The handles the client gave its new nodes stand for the ones given out here: a node
    // whose parent is one of them goes under that new node.
    std::vector<NodeRecord> nodes;
    std::map<uint64_t, size_t> byClientHandle;
    for (const NodeMessage* table : *received) {
        NodeRecord node = readNode(*table);
        if (node.handle != 0 && !byClientHandle.emplace(node.handle, nodes.size()).second)
            return refuse("ADNM", kErrorWrongParameters);
        nodes.push_back(std::move(node));
    }
    std::vector<long> newParent(nodes.size(), -1);  // index of a new parent, or -1
    std::map<uint64_t, NodeRecord> existingParents;
    std::set<int8_t> rootTypes;
    for (const auto& node : store.nodes(account)) {
        if (isRoot(node)) rootTypes.insert(node.type);
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        NodeRecord& node = nodes[i];
        if (node.parent == 0) node.parent = message->parent();
        if (node.parent == 0) {
            // A new root of the account (the client adds its contacts root this way): one of
            // each type, in a filesystem of its own.
            if (!isRootType(node.type)) return refuse("ADNM", kErrorNotFound);
            if (!rootTypes.insert(node.type).second) return refuse("ADNM", kErrorAlreadyExists);
            node.filesystem = 0;
            continue;
        }
        auto local = byClientHandle.find(node.parent);
        if (local != byClientHandle.end()) {
            newParent[i] = static_cast<long>(local->second);
            continue;
        }
        if (existingParents.count(node.parent)) continue;
        auto parent = node.parent == 0 ? std::nullopt : store.node(account, node.parent);
        if (!parent) return refuse("ADNM", kErrorNotFound);
        existingParents.emplace(node.parent, std::move(*parent));
    }
    // Every new node must hang, through new nodes only, from a node that exists; a node that
    // names no filesystem lives in its nearest ancestor's that does.
    std::vector<uint64_t> assigned(nodes.size());
    for (auto& handle : assigned)
        handle = store.newHandle();
    std::vector<uint64_t> filesystemOf(nodes.size(), 0);
    for (size_t i = 0; i < nodes.size(); ++i) {
        size_t at = i;
        size_t steps = 0;
        uint64_t filesystem = nodes[i].filesystem;
        while (newParent[at] >= 0) {
            at = static_cast<size_t>(newParent[at]);
            if (++steps > nodes.size()) return refuse("ADNM", kErrorLoopDetected);
            if (filesystem == 0) filesystem = nodes[at].filesystem;
        }
        if (filesystem == 0)
            filesystem = nodes[at].parent == 0 ? assigned[at] << 15 : existingParents.at(nodes[at].parent).filesystem;
        filesystemOf[i] = filesystem;
    }
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    for (size_t i = 0; i < nodes.size(); ++i) {
        NodeRecord& node = nodes[i];
        if (newParent[i] >= 0) node.parent = assigned[static_cast<size_t>(newParent[i])];
        node.handle = assigned[i];
        node.filesystem = filesystemOf[i];
        if (node.ctime == 0) node.ctime = now;
        if (node.parent == 0) store.putFilesystem(account, takeRootFilesystem(node));
        store.putNode(account, node);
    }

    const uint64_t status = scope->nextStatus();
    auto builder = responseBuilder(1024);
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    for (const auto& node : nodes)
        tables.push_back(writeNode(builder, node));
    const auto vector = builder.CreateVector(tables);
    AddNodesResponseBuilder response(builder);
    response.add_clientId(message->clientId());
    response.add_nodes(vector);
    response.add_accountStatus(status);
    builder.Finish(response.Finish(), AddNodesResponseIdentifier());
    std::string answer = finishedResponse(builder);
    scope->logChange(answer);
    return answer;
}

std::string answerDeleteNode(const std::string& bytes, SessionScope* scope) {
    if (!scope) return refuse("DENM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<DeleteNodeMessage>(aligned.data());
    ServiceStore& store = scope->store();
    const uint64_t account = scope->account();
    const auto node = store.node(account, message->node());
    if (!node) return refuse("DENM", kErrorNotFound);
    if (isRoot(*node) && !isFilesystemRoot(*node)) return refuse("DENM", kErrorForbidden);

    std::vector<uint64_t> pending{node->handle};
    while (!pending.empty()) {
        const uint64_t handle = pending.back();
        pending.pop_back();
        for (uint64_t child : store.children(account, handle))
            pending.push_back(child);
        store.deleteNode(account, handle);
    }
    if (isFilesystemRoot(*node)) store.deleteFilesystemsOfRoot(account, node->handle);

    auto builder = responseBuilder(128);
    DeleteNodeResponseBuilder response(builder);
    response.add_clientId(message->clientId());
    response.add_node(node->handle);
    response.add_accountStatus(scope->nextStatus());
    builder.Finish(response.Finish(), DeleteNodeResponseIdentifier());
    std::string answer = finishedResponse(builder);
    scope->logChange(answer);
    return answer;
}

std::string answerMoveNode(const std::string& bytes, SessionScope* scope) {
    if (!scope) return refuse("MONM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<MoveNodeMessage>(aligned.data());
    ServiceStore& store = scope->store();
    const uint64_t account = scope->account();
    auto node = store.node(account, message->node());
    const auto parent = message->parent() == 0 ? std::nullopt : store.node(account, message->parent());
    if (!node || !parent) return refuse("MONM", kErrorNotFound);
    if (isRoot(*node)) return refuse("MONM", kErrorForbidden);
    // Under itself or one of its descendants the node would leave the tree.
    for (std::optional<NodeRecord> at = parent; at; at = at->parent ? store.node(account, at->parent) : std::nullopt) {
        if (at->handle == node->handle) return refuse("MONM", kErrorLoopDetected);
    }

    const uint64_t oldFilesystem = node->filesystem;
    node->parent = parent->handle;
    node->filesystem = message->filesystem() != 0 ? message->filesystem() : parent->filesystem;
    if (message->childkey()) node->childkey = readBytes(message->childkey());
    store.putNode(account, *node);
    // Descendants that lived in the node's filesystem follow it into the new one.
    if (node->filesystem != oldFilesystem) {
        std::vector<uint64_t> pending = store.children(account, node->handle);
        while (!pending.empty()) {
            auto child = store.node(account, pending.back());
            pending.pop_back();
            if (!child || child->filesystem != oldFilesystem) continue;
            child->filesystem = node->filesystem;
            store.putNode(account, *child);
            for (uint64_t next : store.children(account, child->handle))
                pending.push_back(next);
        }
    }

    auto builder = responseBuilder(256);
    const auto childkey = writeBytes(builder, node->childkey);
    MoveNodeResponseBuilder response(builder);
    response.add_clientId(message->clientId());
    response.add_node(node->handle);
    response.add_parent(node->parent);
    response.add_filesystem(node->filesystem);
    if (!childkey.IsNull()) response.add_childkey(childkey);
    response.add_accountStatus(scope->nextStatus());
    builder.Finish(response.Finish(), MoveNodeResponseIdentifier());
    std::string answer = finishedResponse(builder);
    scope->logChange(answer);
    return answer;
}

std::string answerRenameNode(const std::string& bytes, SessionScope* scope) {
    if (!scope) return refuse("RENM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<RenameNodeMessage>(aligned.data());
    ServiceStore& store = scope->store();
    const uint64_t account = scope->account();
    auto node = store.node(account, message->node());
    if (!node) return refuse("RENM", kErrorNotFound);
    if (message->attributes()) node->attributes = readBytes(message->attributes());
    // A shared drive's root keeps its number: the client ignores the one answered for it.
    if (node->type != 8) node->extraNumber = message->extraNumber();
    store.putNode(account, *node);

    auto builder = responseBuilder(256);
    // The client reads the attributes without a presence test: always send them.
    const auto attributes = writeBytes(builder, node->attributes.value_or(std::string()));
    RenameNodeResponseBuilder response(builder);
    response.add_clientId(message->clientId());
    response.add_node(node->handle);
    response.add_attributes(attributes);
    response.add_accountStatus(scope->nextStatus());
    response.add_extraNumber(node->extraNumber);
    builder.Finish(response.Finish(), RenameNodeResponseIdentifier());
    std::string answer = finishedResponse(builder);
    scope->logChange(answer);
    return answer;
}

std::string answerRewriteKeys(const std::string& bytes, SessionScope* scope) {
    if (!scope) return refuse("REKM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<RewriteKeysMessage>(aligned.data());
    const auto* received = message->nodes();
    if (!received || received->size() == 0) return refuse("REKM", kErrorWrongParameters);
    ServiceStore& store = scope->store();
    const uint64_t account = scope->account();
    // All or nothing: every node is checked before any is written.
    std::vector<NodeRecord> nodes;
    std::set<uint64_t> seen;
    for (const NodeMessage* table : *received) {
        if (!table->nodekey() || !table->childkey()) return refuse("REKM", kErrorWrongParameters);
        auto node = store.node(account, table->handle());
        if (!node) return refuse("REKM", kErrorNotFound);
        if (!seen.insert(node->handle).second) return refuse("REKM", kErrorWrongParameters);
        node->crypto = table->crypto();
        node->nodekey = readBytes(table->nodekey());
        node->childkey = readBytes(table->childkey());
        nodes.push_back(std::move(*node));
    }
    for (const auto& node : nodes)
        store.putNode(account, node);

    auto builder = responseBuilder(1024);
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    for (const auto& node : nodes)
        tables.push_back(writeNode(builder, node));
    const auto vector = builder.CreateVector(tables);
    RewriteKeysResponseBuilder response(builder);
    response.add_clientId(message->clientId());
    response.add_nodes(vector);
    response.add_accountStatus(scope->nextStatus());
    builder.Finish(response.Finish(), RewriteKeysResponseIdentifier());
    std::string answer = finishedResponse(builder);
    scope->logChange(answer);
    return answer;
}

}  // namespace

void registerNodeHandlers(BatchDispatcher& dispatcher) {
    dispatcher.setScopedHandler("ADNM", &answerAddNodes);
    dispatcher.setScopedHandler("DENM", &answerDeleteNode);
    dispatcher.setScopedHandler("MONM", &answerMoveNode);
    dispatcher.setScopedHandler("RENM", &answerRenameNode);
    dispatcher.setScopedHandler("REKM", &answerRewriteKeys);
}

}  // namespace corvane::service
