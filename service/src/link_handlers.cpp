#include "link_handlers.h"

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "message_verifier.h"
#include "node_wire.h"
#include "service_crypto.h"

#include "create_link_message_generated.h"
#include "create_link_response_generated.h"
#include "delete_link_message_generated.h"
#include "delete_link_response_generated.h"

namespace corvane::service {

namespace {

// Tries before a handle generator that keeps meeting taken handles counts as broken.
constexpr int kHandleTries = 8;

std::string refuse(const char* messageIdentifier, int32_t code) {
    return errorResponse(*findMessageKind(messageIdentifier), code);
}

std::string freshPublicHandle(ServiceStore& store) {
    for (int i = 0; i < kHandleTries; ++i) {
        std::string handle = randomSecret(kPublicHandleBytes);
        if (handle.size() != kPublicHandleBytes) return std::string();
        if (!store.nodeByPublicHandle(handle)) return handle;
    }
    return std::string();
}

std::string answerCreateLink(const std::string& bytes, SessionScope* scope) {
    if (!scope || !scope->signedIn()) return refuse("CRLM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<CreateLinkMessage>(aligned.data());
    ServiceStore& store = scope->store();
    auto node = store.node(scope->account(), message->node());
    if (!node) return refuse("CRLM", kErrorNotFound);

    // A node keeps its link: asking again hands out the same handle.
    if (!node->pubhandle || node->pubhandle->empty()) {
        const std::string handle = freshPublicHandle(store);
        if (handle.empty()) return refuse("CRLM", kErrorUnknown);
        node->pubhandle = handle;
        if (!store.putNode(scope->account(), *node)) return refuse("CRLM", kErrorUnknown);
    }

    auto builder = responseBuilder(128);
    const auto pubhandle = writeBytes(builder, node->pubhandle);
    CreateLinkResponseBuilder response(builder);
    response.add_pubhandle(pubhandle);
    builder.Finish(response.Finish(), CreateLinkResponseIdentifier());
    return finishedResponse(builder);
}

std::string answerDeleteLink(const std::string& bytes, SessionScope* scope) {
    if (!scope || !scope->signedIn()) return refuse("DELM", kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<DeleteLinkMessage>(aligned.data());
    const Bytes pubhandle = readBytes(message->pubhandle());
    if (!pubhandle || pubhandle->empty()) return refuse("DELM", kErrorNotFound);
    ServiceStore& store = scope->store();
    auto found = store.nodeByPublicHandle(*pubhandle);
    // Another account's link is answered like an unknown one.
    if (!found || found->first != scope->account()) return refuse("DELM", kErrorNotFound);
    NodeRecord node = std::move(found->second);
    node.pubhandle.reset();
    if (!store.putNode(scope->account(), node)) return refuse("DELM", kErrorUnknown);

    auto builder = responseBuilder(64);
    DeleteLinkResponseBuilder response(builder);
    builder.Finish(response.Finish(), DeleteLinkResponseIdentifier());
    return finishedResponse(builder);
}

}  // namespace

void registerLinkHandlers(BatchDispatcher& dispatcher) {
    dispatcher.setScopedHandler("CRLM", answerCreateLink);
    dispatcher.setScopedHandler("DELM", answerDeleteLink);
}

}  // namespace corvane::service
