#include "transfer_handlers.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "content_store.h"
#include "message_verifier.h"
#include "node_wire.h"
#include "raw_bytes.h"

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "download_message_generated.h"
#include "download_response_generated.h"
#include "get_node_by_fingerprint_message_generated.h"
#include "get_node_by_fingerprint_response_generated.h"
#include "upload_message_generated.h"
#include "upload_response_generated.h"

namespace corvane::service {

namespace {

constexpr int8_t kFileType = 20;
constexpr int8_t kInboxType = 43;
constexpr int8_t kRegisterRootType = 3;  // published as the account's own inbox
// A parent chain longer than this is taken for a loop in the store.
constexpr size_t kMaxDepth = 4096;

std::string refuse(const char* messageIdentifier, int32_t code) {
    return errorResponse(*findMessageKind(messageIdentifier), code);
}

bool hasPrefix(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A plain finished buffer copied to 8-byte aligned storage, so that its tables can be read.
class AlignedBuffer {
public:
    explicit AlignedBuffer(const std::string& bytes) : words_((bytes.size() + 7) / 8 + 1), size_(bytes.size()) {
        if (!bytes.empty()) std::memcpy(words_.data(), bytes.data(), bytes.size());
    }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(words_.data()); }
    size_t size() const { return size_; }

private:
    std::vector<uint64_t> words_;
    size_t size_;
};

}  // namespace

std::optional<ChunkPath> parseChunkPath(const std::string& path) {
    ChunkPath chunk;
    size_t at;
    if (hasPrefix(path, kUploadLinkPath)) {
        chunk.upload = true;
        at = std::strlen(kUploadLinkPath);
    } else if (hasPrefix(path, kDownloadLinkPath)) {
        chunk.upload = false;
        at = std::strlen(kDownloadLinkPath);
    } else {
        return std::nullopt;
    }
    const size_t slash = path.find('/', at);
    if (slash == std::string::npos || slash == at) return std::nullopt;
    chunk.id = path.substr(at, slash - at);
    const std::string range = path.substr(slash + 1);
    const size_t dash = range.find('-');
    if (dash == std::string::npos) return std::nullopt;
    const auto first = parseLength(range.substr(0, dash));
    const auto last = parseLength(range.substr(dash + 1));
    if (!first || !last || *first > *last) return std::nullopt;
    chunk.first = *first;
    chunk.last = *last;
    return chunk;
}

TransferHandlers::TransferHandlers(ContentStore& contents, AccountDirectory& accounts,
                                   std::function<std::string()> linkBase)
    : contents_(contents), accounts_(accounts), linkBase_(std::move(linkBase)) {
}

void TransferHandlers::setQuotaExceeded(uint64_t account, bool exceeded) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (exceeded)
        overQuota_.insert(account);
    else
        overQuota_.erase(account);
}

bool TransferHandlers::quotaExceeded(uint64_t account) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return overQuota_.count(account) > 0;
}

void TransferHandlers::registerWith(BatchDispatcher& dispatcher) {
    dispatcher.setScopedHandler("UPLM", [this](const std::string& bytes, SessionScope* scope) {
        if (!scope || !scope->signedIn()) return refuse("UPLM", kErrorSessionNotValid);
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<UploadMessage>(aligned.data());
        const uint64_t account = scope->account();
        if (message->parent() != 0 && !scope->store().node(account, message->parent()))
            return refuse("UPLM", kErrorNotFound);
        if (quotaExceeded(account)) return refuse("UPLM", kErrorQuotaExceeded);
        const std::string id = contents_.beginUpload(account, message->size());
        if (id.empty()) return refuse("UPLM", kErrorUnknown);

        auto builder = responseBuilder(128);
        const auto link = builder.CreateString(linkBase_() + kUploadLinkPath + id);
        UploadResponseBuilder response(builder);
        response.add_link(link);
        builder.Finish(response.Finish(), UploadResponseIdentifier());
        return finishedResponse(builder);
    });

    dispatcher.setScopedHandler("DOWM", [this](const std::string& bytes, SessionScope* scope) {
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<DownloadMessage>(aligned.data());
        // A public download needs no session; the store is reached through a scope of its own
        // then (never while the batch's scope holds the directory).
        std::unique_ptr<SessionScope> own;
        SessionScope* at = scope;
        if (!at) {
            if (!message->publicNode()) return refuse("DOWM", kErrorSessionNotValid);
            own = accounts_.openWithoutSession();
            at = own.get();
        }
        ServiceStore& store = at->store();
        uint64_t account = 0;
        std::optional<NodeRecord> node;
        if (message->publicNode()) {
            auto found = store.nodeByPublicHandle(*readBytes(message->publicNode()));
            if (found) {
                account = found->first;
                node = std::move(found->second);
            }
        } else {
            if (!at->signedIn()) return refuse("DOWM", kErrorSessionNotValid);
            account = at->account();
            node = store.node(account, message->privateNode());
        }
        if (!node) return refuse("DOWM", kErrorNotFound);

        std::string link;
        uint64_t size = node->size;
        if (const auto content = store.nodeContent(node->handle)) {
            if (const auto stored = contents_.contentSize(*content)) {
                link = linkBase_() + kDownloadLinkPath + *content;
                size = *stored;
            }
        }
        Bytes publicKey;
        if (node->type == kInboxType || node->type == kRegisterRootType) {
            if (const auto owner = store.account(account)) publicKey = owner->publicKey;
        }

        auto builder = responseBuilder(256 + node->attributes.value_or("").size());
        const auto linkText = link.empty() ? flatbuffers::Offset<flatbuffers::String>() : builder.CreateString(link);
        // The client keeps the attributes whether sent or not: always send them.
        const auto attributes = writeBytes(builder, node->attributes.value_or(std::string()));
        const auto metadata = writeBytes(builder, node->metadata);
        const auto key = writeBytes(builder, publicKey);
        DownloadResponseBuilder response(builder);
        if (!linkText.IsNull()) response.add_link(linkText);
        response.add_size(size);
        response.add_crypto(node->crypto);
        response.add_attributes(attributes);
        response.add_type(node->type);
        if (!metadata.IsNull()) response.add_metadata(metadata);
        if (!key.IsNull()) response.add_publicKey(key);
        response.add_account(account);
        builder.Finish(response.Finish(), DownloadResponseIdentifier());
        return finishedResponse(builder);
    });

    dispatcher.setScopedHandler("GNFM", [this](const std::string& bytes, SessionScope* scope) {
        if (!scope || !scope->signedIn()) return refuse("GNFM", kErrorSessionNotValid);
        const AlignedMessage aligned(bytes);
        const auto* message = flatbuffers::GetSizePrefixedRoot<GetNodeByFingerprintMessage>(aligned.data());
        if (!message->fingerprint() || message->fingerprint()->size() == 0)
            return refuse("GNFM", kErrorWrongParameters);
        const std::string fingerprint = *readBytes(message->fingerprint());
        ServiceStore& store = scope->store();
        const uint64_t account = scope->account();
        std::optional<NodeRecord> found;
        for (auto& node : store.nodes(account)) {
            if (node.type != kFileType || node.fingerprint != fingerprint) continue;
            if (message->size() != 0 && node.size != message->size()) continue;
            const auto content = store.nodeContent(node.handle);
            if (!content || !contents_.contentSize(*content)) continue;
            found = std::move(node);
            break;
        }
        if (!found) return refuse("GNFM", kErrorNotFound);
        // Root first, the found file last.
        std::vector<NodeRecord> chain{*found};
        while (chain.back().parent != 0) {
            auto parent = store.node(account, chain.back().parent);
            if (!parent || chain.size() > kMaxDepth) return refuse("GNFM", kErrorNotFound);
            chain.push_back(std::move(*parent));
        }
        std::reverse(chain.begin(), chain.end());

        auto builder = responseBuilder(1024);
        std::vector<flatbuffers::Offset<NodeMessage>> tables;
        for (const auto& node : chain)
            tables.push_back(writeNode(builder, node));
        const auto vector = builder.CreateVector(tables);
        GetNodeByFingerprintResponseBuilder response(builder);
        response.add_nodes(vector);
        builder.Finish(response.Finish(), GetNodeByFingerprintResponseIdentifier());
        return finishedResponse(builder);
    });

    // AddNodes keeps its own rules for the tree; around it, a file made from an upload token
    // gets that upload's content, and a node named by the handle of a node of the account with
    // content (a copy) gets the same content. A token that names no complete upload of the account, or
    // one of another size, refuses the whole message before anything is added.
    CallerHandler addNodes = dispatcher.handler("ADNM");
    if (!addNodes) return;
    dispatcher.setCallerHandler(
        "ADNM", [this, addNodes](const std::string& bytes, SessionScope* scope, const Caller& caller) {
            if (!scope || !scope->signedIn()) return addNodes(bytes, scope, caller);
            const AlignedMessage aligned(bytes);
            const auto* message = flatbuffers::GetSizePrefixedRoot<AddNodesMessage>(aligned.data());
            if (!message->nodes()) return addNodes(bytes, scope, caller);
            ServiceStore& store = scope->store();
            std::vector<std::string> contentOf;
            bool any = false;
            for (const NodeMessage* table : *message->nodes()) {
                std::string content;
                if (const auto* token = table->token()) {
                    if (token->size() == 0) {
                        if (table->size() != 0) return refuse("ADNM", kErrorIncomplete);
                        content = contents_.emptyContent();
                    } else {
                        const auto upload = contents_.completed(*readBytes(token));
                        if (!upload || upload->account != scope->account()) return refuse("ADNM", kErrorIncomplete);
                        if (upload->size != table->size()) return refuse("ADNM", kErrorWrongParameters);
                        content = upload->content;
                    }
                } else if (table->handle() != 0 && store.node(scope->account(), table->handle())) {
                    // A copy shares the content of its source in the same account.
                    content = store.nodeContent(table->handle()).value_or(std::string());
                }
                any = any || !content.empty();
                contentOf.push_back(std::move(content));
            }

            std::string answer = addNodes(bytes, scope, caller);
            if (!any) return answer;
            const AlignedBuffer plain(answer);
            flatbuffers::Verifier verifier(plain.data(), plain.size());
            if (!verifier.VerifyBuffer<AddNodesResponse>(AddNodesResponseIdentifier())) return answer;
            const auto* response = flatbuffers::GetRoot<AddNodesResponse>(plain.data());
            if (response->error() != 0 || !response->nodes() || response->nodes()->size() != contentOf.size())
                return answer;
            for (size_t i = 0; i < contentOf.size(); ++i) {
                if (!contentOf[i].empty()) store.putNodeContent(response->nodes()->Get(i)->handle(), contentOf[i]);
            }
            return answer;
        });
}

}  // namespace corvane::service
