#include "link_session_handlers.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"
#include "service_crypto.h"

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "delete_node_message_generated.h"
#include "delete_node_response_generated.h"
#include "download_message_generated.h"
#include "get_nodes_message_generated.h"
#include "get_nodes_response_generated.h"
#include "login_link_message_generated.h"
#include "login_link_response_generated.h"
#include "logout_link_message_generated.h"
#include "logout_link_response_generated.h"
#include "record_info_message_generated.h"
#include "record_info_response_generated.h"
#include "rename_node_message_generated.h"
#include "upload_message_generated.h"

namespace corvane::service {

namespace {

constexpr int8_t kDriveType = 8;
constexpr int8_t kFolderType = 21;
constexpr int8_t kInboxType = 43;
constexpr int8_t kRecordType = 44;
constexpr size_t kTokenSize = 16;
constexpr size_t kPublicHandleSize = 16;
// A parent chain longer than this is taken for a loop in the store.
constexpr size_t kMaxDepth = 4096;

std::string refuse(const char* messageIdentifier, int32_t code) {
    return errorResponse(*findMessageKind(messageIdentifier), code);
}

// True when the node is `top` or lies below it.
bool isWithin(ServiceStore& store, uint64_t account, uint64_t handle, uint64_t top) {
    if (top == 0 || handle == 0) return false;
    for (size_t depth = 0; depth < kMaxDepth && handle != 0; ++depth) {
        if (handle == top) return true;
        const auto node = store.node(account, handle);
        if (!node) return false;
        handle = node->parent;
    }
    return false;
}

// The name a sender sees for an inbox or a record: its owner's, as the account's first user
// gave it (never the e-mail address: the link is public).
std::string displayName(ServiceStore& store, uint64_t account) {
    const auto users = store.accountUsers(account);
    if (users.empty()) return std::string();
    std::string name = users.front().firstName;
    if (!users.front().lastName.empty()) name += (name.empty() ? "" : " ") + users.front().lastName;
    return name;
}

// The top node (shown as a root: the session knows nothing above it), then its descendants
// level by level down to `levels` below it (all for 0), or (single) alone.
std::string linkSubtree(ServiceStore& store, uint64_t account, uint64_t top, uint64_t root, uint32_t levels,
                        bool single = false) {
    auto first = store.node(account, top);
    if (!first) return refuse("GENM", kErrorNotFound);
    auto builder = responseBuilder(4096);
    std::vector<flatbuffers::Offset<NodeMessage>> tables;
    std::deque<std::pair<NodeRecord, uint32_t>> pending;
    pending.emplace_back(std::move(*first), 0);
    while (!pending.empty()) {
        auto [node, depth] = std::move(pending.front());
        pending.pop_front();
        const bool descend = !single && (levels == 0 || depth < levels);
        node.full = descend;
        if (node.handle == root) node.parent = 0;
        tables.push_back(writeNode(builder, node));
        if (!descend) continue;
        for (uint64_t child : store.children(account, node.handle)) {
            if (auto record = store.node(account, child)) pending.emplace_back(std::move(*record), depth + 1);
        }
    }
    const auto vector = builder.CreateVector(tables);
    GetNodesResponseBuilder response(builder);
    response.add_nodes(vector);
    builder.Finish(response.Finish(), GetNodesResponseIdentifier());
    return finishedResponse(builder);
}

// Deletes the node and everything below it.
void deleteSubtree(ServiceStore& store, uint64_t account, uint64_t top) {
    std::vector<uint64_t> pending{top};
    while (!pending.empty()) {
        const uint64_t handle = pending.back();
        pending.pop_back();
        for (uint64_t child : store.children(account, handle))
            pending.push_back(child);
        store.deleteNode(account, handle);
    }
}

}  // namespace

LinkSessionHandlers::LinkSessionHandlers(AccountDirectory& accounts) : accounts_(accounts) {
}

std::optional<LinkSession> LinkSessionHandlers::find(const std::string& token) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(token);
    if (it == sessions_.end()) return std::nullopt;
    return it->second;
}

std::unique_ptr<SessionScope> LinkSessionHandlers::open(const std::string& token) {
    const auto session = find(token);
    if (!session) return nullptr;
    return accounts_.openLink(session->account, token);
}

std::optional<LinkSession> LinkSessionHandlers::sessionOf(const SessionScope* scope) const {
    if (!scope || !scope->signedIn() || scope->session().user != 0) return std::nullopt;
    return find(scope->session().id);
}

void LinkSessionHandlers::keep(const std::string& token, const LinkSession& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_[token] = session;
}

void LinkSessionHandlers::forget(const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(token);
}

std::string LinkSessionHandlers::answerLoginLink(const std::string& bytes, SessionScope* scope) {
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<LoginLinkMessage>(aligned.data());
    if (!message->auth() || message->auth()->size() == 0) return refuse("LILM", kErrorWrongParameters);
    // A batch without session gets a scope of its own (never while the batch's scope holds the
    // directory).
    std::unique_ptr<SessionScope> own;
    SessionScope* at = scope;
    if (!at) {
        own = accounts_.openWithoutSession();
        at = own.get();
    }
    ServiceStore& store = at->store();
    auto found = store.nodeByPublicHandle(*readBytes(message->auth()));
    if (!found) return refuse("LILM", kErrorNotFound);
    const uint64_t account = found->first;
    NodeRecord root = std::move(found->second);

    LinkSession session;
    session.account = account;
    Bytes publicKey, shareKey, filesystemKey;
    std::string target;
    switch (root.type) {
        case kInboxType: {
            if (!message->shareKey() || message->shareKey()->size() == 0 || !message->attributes() ||
                message->attributes()->size() == 0)
                return refuse("LILM", kErrorWrongParameters);
            const auto owner = store.account(account);
            // The new record, sealed by the sender to the owner's public key.
            NodeRecord record;
            record.handle = store.newHandle();
            record.parent = root.handle;
            record.type = kRecordType;
            record.crypto = message->crypto();
            record.filesystem = root.filesystem;
            record.ctime = static_cast<uint32_t>(std::time(nullptr));
            record.childkey = readBytes(message->shareKey());
            record.attributes = readBytes(message->attributes());
            if (!store.putNode(account, record)) return refuse("LILM", kErrorUnknown);

            auto change = responseBuilder(512);
            std::vector<flatbuffers::Offset<NodeMessage>> tables{writeNode(change, record)};
            const auto vector = change.CreateVector(tables);
            AddNodesResponseBuilder added(change);
            added.add_nodes(vector);
            added.add_accountStatus(store.accountStatus(account) + 1);
            change.Finish(added.Finish(), AddNodesResponseIdentifier());
            at->logChangeIn(account, finishedResponse(change));

            if (owner) publicKey = owner->publicKey;
            target = displayName(store, account);
            session.root = session.record = record.handle;
            root = std::move(record);
            break;
        }
        case kRecordType:
            target = displayName(store, account);
            session.root = session.record = root.handle;
            break;
        case kFolderType:
            session.root = root.handle;
            break;
        case kDriveType:
            session.root = root.handle;
            shareKey = root.childkey;
            for (const auto& filesystem : store.filesystems(account)) {
                if (filesystem.handle == root.filesystem) filesystemKey = filesystem.filesystemKey;
            }
            break;
        default:
            return refuse("LILM", kErrorNotFound);
    }

    const std::string secret = randomSecret(kTokenSize);
    if (secret.empty()) return refuse("LILM", kErrorUnknown);
    keep(base64Url(secret), session);

    auto builder = responseBuilder(1024 + root.attributes.value_or("").size());
    const auto token = writeBytes(builder, secret);
    const auto attributes = writeBytes(builder, root.attributes.value_or(std::string()));
    const auto share = writeBytes(builder, shareKey);
    const auto name = builder.CreateString(target);
    const auto key = writeBytes(builder, publicKey);
    const auto filesystem = writeBytes(builder, filesystemKey);
    LoginLinkResponseBuilder response(builder);
    response.add_session(token);
    response.add_crypto(root.crypto);
    if (!share.IsNull()) response.add_shareKey(share);
    response.add_attributes(attributes);
    response.add_target(name);
    if (!key.IsNull()) response.add_publicKey(key);
    if (!filesystem.IsNull()) response.add_filesystemKey(filesystem);
    builder.Finish(response.Finish(), LoginLinkResponseIdentifier());
    return finishedResponse(builder);
}

std::string LinkSessionHandlers::answerLogoutLink(const std::string& bytes, SessionScope* scope) {
    const auto session = sessionOf(scope);
    if (!session) return refuse("LOLM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<LogoutLinkMessage>(aligned.data());
    ServiceStore& store = scope->store();
    const uint64_t account = session->account;
    const std::string token = scope->session().id;
    forget(token);

    Bytes pubhandle;
    auto record = session->record != 0 ? store.node(account, session->record) : std::nullopt;
    if (record && message->delete_() != 0) {
        deleteSubtree(store, account, record->handle);
        auto change = responseBuilder(128);
        DeleteNodeResponseBuilder deleted(change);
        deleted.add_clientId(message->clientId());
        deleted.add_node(record->handle);
        deleted.add_accountStatus(scope->nextStatus());
        change.Finish(deleted.Finish(), DeleteNodeResponseIdentifier());
        scope->logChange(finishedResponse(change));
    } else if (record) {
        if (!record->pubhandle || record->pubhandle->empty()) {
            record->pubhandle = randomSecret(kPublicHandleSize);
            if (record->pubhandle->empty() || !store.putNode(account, *record)) return refuse("LOLM", kErrorUnknown);
        }
        pubhandle = record->pubhandle;
    }

    auto builder = responseBuilder(128);
    const auto handle = writeBytes(builder, pubhandle);
    LogoutLinkResponseBuilder response(builder);
    if (!handle.IsNull()) response.add_pubhandle(handle);
    builder.Finish(response.Finish(), LogoutLinkResponseIdentifier());
    return finishedResponse(builder);
}

std::string LinkSessionHandlers::answerRecordInfo(const std::string& bytes, SessionScope* scope) {
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<RecordInfoMessage>(aligned.data());
    if (!message->publicNode() || message->publicNode()->size() == 0) return refuse("REIM", kErrorWrongParameters);
    std::unique_ptr<SessionScope> own;
    SessionScope* at = scope;
    if (!at) {
        own = accounts_.openWithoutSession();
        at = own.get();
    }
    ServiceStore& store = at->store();
    auto found = store.nodeByPublicHandle(*readBytes(message->publicNode()));
    if (!found || found->second.type != kRecordType) return refuse("REIM", kErrorNotFound);
    const uint64_t account = found->first;
    NodeRecord record = std::move(found->second);
    // Nothing above the record is the reader's business.
    record.parent = 0;
    const std::vector<uint64_t> children = store.children(account, record.handle);

    auto builder = responseBuilder(1024 + children.size() * 512);
    std::vector<flatbuffers::Offset<NodeMessage>> tables{writeNode(builder, record)};
    for (uint64_t child : children) {
        if (auto node = store.node(account, child)) tables.push_back(writeNode(builder, *node));
    }
    const auto vector = builder.CreateVector(tables);
    const auto target = builder.CreateString(displayName(store, account));
    RecordInfoResponseBuilder response(builder);
    response.add_nodes(vector);
    response.add_target(target);
    builder.Finish(response.Finish(), RecordInfoResponseIdentifier());
    return finishedResponse(builder);
}

void LinkSessionHandlers::registerWith(BatchDispatcher& dispatcher) {
    dispatcher.setScopedHandler(
        "LILM", [this](const std::string& bytes, SessionScope* scope) { return answerLoginLink(bytes, scope); });
    dispatcher.setScopedHandler(
        "LOLM", [this](const std::string& bytes, SessionScope* scope) { return answerLogoutLink(bytes, scope); });
    dispatcher.setScopedHandler(
        "REIM", [this](const std::string& bytes, SessionScope* scope) { return answerRecordInfo(bytes, scope); });

    // Each wrapped handler gets the message only when the link session may send it; account
    // sessions and batches without session go straight through.
    using Check = std::function<std::string(const std::string&, SessionScope&, const LinkSession&)>;
    auto wrap = [this, &dispatcher](const char* identifier, Check check) {
        CallerHandler inner = dispatcher.handler(identifier);
        if (!inner) return;
        const std::string id = identifier;
        dispatcher.setCallerHandler(
            identifier, [this, inner, id, check](const std::string& bytes, SessionScope* scope, const Caller& caller) {
                const auto session = sessionOf(scope);
                if (!session) return inner(bytes, scope, caller);
                std::string refused = check(bytes, *scope, *session);
                if (!refused.empty()) return refused;
                return inner(bytes, scope, caller);
            });
    };
    auto writable = [](SessionScope& scope, const LinkSession& session, uint64_t handle) {
        return isWithin(scope.store(), session.account, handle, session.record);
    };

    wrap("GENM", [](const std::string& bytes, SessionScope& scope, const LinkSession& session) {
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<GetNodesMessage>(aligned.data());
        ServiceStore& store = scope.store();
        if (message->parent() != 0) {
            if (!isWithin(store, session.account, message->parent(), session.root))
                return refuse("GENM", kErrorNotFound);
            return linkSubtree(store, session.account, message->parent(), session.root, message->levels());
        }
        if (message->node() != 0 && message->mode() == 0) {
            if (!isWithin(store, session.account, message->node(), session.root)) return refuse("GENM", kErrorNotFound);
            return linkSubtree(store, session.account, message->node(), session.root, 0, true);
        }
        // The whole tree of a link session is its link's subtree, without account status.
        return linkSubtree(store, session.account, session.root, session.root, 0);
    });
    wrap("ADNM", [writable](const std::string& bytes, SessionScope& scope, const LinkSession& session) {
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<AddNodesMessage>(aligned.data());
        if (!message->nodes()) return std::string();
        std::vector<uint64_t> own;
        for (const NodeMessage* node : *message->nodes())
            if (node->handle() != 0) own.push_back(node->handle());
        for (const NodeMessage* node : *message->nodes()) {
            const uint64_t parent = node->parent() != 0 ? node->parent() : message->parent();
            if (std::find(own.begin(), own.end(), parent) != own.end()) continue;
            if (!writable(scope, session, parent)) return refuse("ADNM", kErrorForbidden);
        }
        return std::string();
    });
    wrap("RENM", [writable](const std::string& bytes, SessionScope& scope, const LinkSession& session) {
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<RenameNodeMessage>(aligned.data());
        return writable(scope, session, message->node()) ? std::string() : refuse("RENM", kErrorForbidden);
    });
    wrap("DENM", [writable](const std::string& bytes, SessionScope& scope, const LinkSession& session) {
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<DeleteNodeMessage>(aligned.data());
        // The record itself goes only with LogoutLink's delete flag.
        if (message->node() == session.record) return refuse("DENM", kErrorForbidden);
        return writable(scope, session, message->node()) ? std::string() : refuse("DENM", kErrorForbidden);
    });
    wrap("UPLM", [writable](const std::string& bytes, SessionScope& scope, const LinkSession& session) {
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<UploadMessage>(aligned.data());
        return writable(scope, session, message->parent()) ? std::string() : refuse("UPLM", kErrorForbidden);
    });
    wrap("DOWM", [](const std::string& bytes, SessionScope& scope, const LinkSession& session) {
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<DownloadMessage>(aligned.data());
        if (message->publicNode()) return std::string();
        return isWithin(scope.store(), session.account, message->privateNode(), session.root)
                   ? std::string()
                   : refuse("DOWM", kErrorNotFound);
    });
    // What would reach past the link's subtree: the account's changes and status, moves, key
    // rewrites and the search of the account's files by fingerprint.
    for (const char* identifier : {"MONM", "REKM"}) {
        wrap(identifier, [identifier](const std::string&, SessionScope&, const LinkSession&) {
            return refuse(identifier, kErrorForbidden);
        });
    }
    for (const char* identifier : {"GEEM", "GESM"}) {
        wrap(identifier, [identifier](const std::string&, SessionScope&, const LinkSession&) {
            return refuse(identifier, kErrorSessionNotValid);
        });
    }
    wrap("GNFM", [](const std::string&, SessionScope&, const LinkSession&) { return refuse("GNFM", kErrorNotFound); });
}

}  // namespace corvane::service
