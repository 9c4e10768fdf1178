#include "tree_handlers.h"

#include <deque>

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"

#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"

namespace corvane::service {

namespace {

std::string refuse(int32_t code) {
    return errorResponse(*findMessageKind("GENM"), code);
}

std::string finishNodes(flatbuffers::FlatBufferBuilder& builder,
                        const std::vector<flatbuffers::Offset<NodeMessage>>& tables) {
    const auto vector = builder.CreateVector(tables);
    GetNodesResponseBuilder response(builder);
    response.add_nodes(vector);
    builder.Finish(response.Finish(), GetNodesResponseIdentifier());
    return finishedResponse(builder);
}

// Every node of the tree arrives with all its children, so each is marked full.
std::string wholeTree(SessionScope& scope, const std::string& linkBase) {
    ServiceStore& store = scope.store();
    const uint64_t account = scope.account();
    const uint64_t status = scope.status();
    SnapshotNodes all = splitContacts(store.nodes(account));
    auto builder = responseBuilder((all.nodes.size() + all.contacts.size()) * 256 + 4096);
    std::vector<flatbuffers::Offset<FilesystemMessage>> filesystems;
    for (const auto& fs : store.filesystems(account))
        filesystems.push_back(writeFilesystem(builder, fs));
    std::vector<flatbuffers::Offset<NodeMessage>> nodes, contacts;
    nodes.reserve(all.nodes.size());
    for (NodeRecord& node : all.nodes) {
        node.full = true;
        nodes.push_back(writeNode(builder, node));
    }
    for (NodeRecord& node : all.contacts) {
        node.full = true;
        contacts.push_back(writeNode(builder, node));
    }
    std::vector<flatbuffers::Offset<ContactMessage>> users;
    for (const auto& user : store.accountUsers(account))
        users.push_back(writeContact(builder, user));
    const auto filesystemVector = builder.CreateVector(filesystems);
    const auto nodeVector = builder.CreateVector(nodes);
    const auto userVector = builder.CreateVector(users);
    const auto contactVector = builder.CreateVector(contacts);
    const auto link = builder.CreateString(linkBase + "/events/" + scope.session().pollToken);
    // The tree is as of this status: the session's long poll need not wake it for older changes.
    scope.setTold(status);
    GetNodesResponseBuilder response(builder);
    response.add_filesystems(filesystemVector);
    response.add_nodes(nodeVector);
    response.add_users(userVector);
    response.add_accountStatus(status);
    response.add_link(link);
    response.add_contacts(contactVector);
    builder.Finish(response.Finish(), GetNodesResponseIdentifier());
    return finishedResponse(builder);
}

// The top node, then its descendants level by level down to `levels` below it (all of them
// for 0); a node whose children all came along is marked full.
std::string subtree(SessionScope& scope, uint64_t top, uint32_t levels) {
    ServiceStore& store = scope.store();
    const uint64_t account = scope.account();
    auto first = store.node(account, top);
    if (!first) return refuse(kErrorNotFound);
    auto builder = responseBuilder(4096);
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    std::deque<std::pair<NodeRecord, uint32_t>> pending;
    pending.emplace_back(std::move(*first), 0);
    while (!pending.empty()) {
        auto [node, depth] = std::move(pending.front());
        pending.pop_front();
        const bool descend = levels == 0 || depth < levels;
        node.full = descend;
        tables.push_back(writeNode(builder, node));
        if (!descend) continue;
        for (uint64_t child : store.children(account, node.handle)) {
            if (auto record = store.node(account, child)) pending.emplace_back(std::move(*record), depth + 1);
        }
    }
    return finishNodes(builder, tables);
}

std::string singleNode(SessionScope& scope, uint64_t handle) {
    auto node = scope.store().node(scope.account(), handle);
    if (!node) return refuse(kErrorNotFound);
    auto builder = responseBuilder(512);
    std::vector<flatbuffers::Offset<NodeMessage>> tables{writeNode(builder, *node)};
    return finishNodes(builder, tables);
}

std::string answerGetNodes(const std::string& bytes, SessionScope* scope, const std::string& linkBase) {
    if (!scope) return refuse(kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<GetNodesMessage>(aligned.data());
    // Link sessions never get here: their own handler answers their link's subtree.
    if (message->mode() != 0) return wholeTree(*scope, linkBase);
    if (message->parent() != 0) return subtree(*scope, message->parent(), message->levels());
    if (message->node() != 0) return singleNode(*scope, message->node());
    return wholeTree(*scope, linkBase);
}

}  // namespace

void registerTreeHandlers(BatchDispatcher& dispatcher, std::function<std::string()> linkBase) {
    dispatcher.setScopedHandler("GENM",
                                [linkBase = std::move(linkBase)](const std::string& bytes, SessionScope* scope) {
                                    return answerGetNodes(bytes, scope, linkBase());
                                });
}

}  // namespace corvane::service
