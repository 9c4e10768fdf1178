#include "metadata_handlers.h"

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"

#include "content_store.h"
#include "stand_in_service.h"

#include "add_metadata_message_generated.h"
#include "add_metadata_response_generated.h"
#include "transfer_metadata_message_generated.h"
#include "transfer_metadata_response_generated.h"

namespace corvane::service {

namespace {

// A node's metadata: entries of 10 bytes, byte 0 the kind, bytes 2-9 the blob's handle
// (little-endian); the client counts them in 8 bits.
constexpr size_t kEntryBytes = 10;
constexpr size_t kMaxEntries = 255;

std::string entry(uint8_t kind, uint64_t handle) {
    std::string bytes(kEntryBytes, '\0');
    bytes[0] = static_cast<char>(kind);
    for (int i = 0; i < 8; ++i)
        bytes[2 + i] = static_cast<char>((handle >> (8 * i)) & 0xFF);
    return bytes;
}

std::string answerAddMetadata(const std::string& bytes, SessionScope* scope) {
    const MessageKind& kind = *findMessageKind("ADMM");
    if (!scope) return errorResponse(kind, kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<AddMetadataMessage>(aligned.data());
    ServiceStore& store = scope->store();
    auto node = store.node(scope->account(), message->node());
    if (!node) return errorResponse(kind, kErrorNotFound);
    if (!message->token()) return errorResponse(kind, kErrorWrongParameters);

    // One blob per kind: a new one replaces the entry of its kind.
    std::string metadata;
    const std::string old = node->metadata.value_or(std::string());
    for (size_t at = 0; at + kEntryBytes <= old.size(); at += kEntryBytes) {
        if (static_cast<uint8_t>(old[at]) != message->type()) metadata += old.substr(at, kEntryBytes);
    }
    if (metadata.size() / kEntryBytes >= kMaxEntries) return errorResponse(kind, kErrorWrongParameters);
    const uint64_t handle = store.newHandle();
    metadata += entry(message->type(), handle);
    node->metadata = metadata;
    store.putNode(scope->account(), *node);
    store.putMetadata(handle, node->handle, message->type(), *readBytes(message->token()));

    auto builder = responseBuilder(256);
    const auto entries = writeBytes(builder, node->metadata);
    AddMetadataResponseBuilder response(builder);
    response.add_clientId(message->clientId());
    response.add_node(node->handle);
    response.add_handle(handle);
    response.add_type(message->type());
    response.add_metadata(entries);
    response.add_accountStatus(scope->nextStatus());
    builder.Finish(response.Finish(), AddMetadataResponseIdentifier());
    std::string answer = finishedResponse(builder);
    scope->logChange(answer);
    return answer;
}

std::string transferLink(flatbuffers::FlatBufferBuilder& builder, const std::string& link, uint64_t size) {
    const auto text = builder.CreateString(link);
    TransferMetadataResponseBuilder response(builder);
    response.add_link(text);
    response.add_size(size);
    builder.Finish(response.Finish(), TransferMetadataResponseIdentifier());
    return finishedResponse(builder);
}

std::string answerTransferMetadata(const std::string& bytes, SessionScope* scope, ContentStore& contents,
                                   const std::string& linkBase) {
    const MessageKind& kind = *findMessageKind("TRMM");
    if (!scope || !scope->signedIn()) return errorResponse(kind, kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<TransferMetadataMessage>(aligned.data());
    auto builder = responseBuilder(256);
    if (message->metadata() != 0) {
        // A blob of a node of this account whose upload arrived whole.
        ServiceStore& store = scope->store();
        const auto blob = store.metadataBlob(message->metadata());
        if (!blob || !store.node(scope->account(), blob->node)) return errorResponse(kind, kErrorNotFound);
        const auto upload = contents.completed(blob->token);
        if (!upload) return errorResponse(kind, kErrorNotFound);
        return transferLink(builder, linkBase + kMetadataDownloadPath + upload->content, upload->size);
    }
    // A new blob travels in one request.
    if (message->size() == 0 || message->size() > StandInService::kMaxBodyBytes)
        return errorResponse(kind, kErrorWrongParameters);
    const std::string id = contents.beginUpload(scope->account(), message->size());
    if (id.empty()) return errorResponse(kind, kErrorUnknown);
    return transferLink(builder, linkBase + kMetadataUploadPath + id, 0);
}

}  // namespace

void registerMetadataHandlers(BatchDispatcher& dispatcher) {
    dispatcher.setScopedHandler("ADMM", &answerAddMetadata);
}

void registerMetadataTransferHandlers(BatchDispatcher& dispatcher, ContentStore& contents,
                                      std::function<std::string()> linkBase) {
    dispatcher.setScopedHandler("TRMM", [&contents, linkBase](const std::string& bytes, SessionScope* scope) {
        return answerTransferMetadata(bytes, scope, contents, linkBase());
    });
}

}  // namespace corvane::service
