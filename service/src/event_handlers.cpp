#include "event_handlers.h"

#include <map>

#include "account_directory.h"
#include "api_errors.h"
#include "batch_dispatcher.h"
#include "batch_framing.h"
#include "message_verifier.h"
#include "node_wire.h"

#include "get_events_message_generated.h"
#include "get_events_response_generated.h"
#include "get_status_message_generated.h"
#include "get_status_response_generated.h"

namespace corvane::service {

namespace {

std::string answerStatus(const std::string& linkBase, SessionScope* scope) {
    if (!scope) return errorResponse(*findMessageKind("GESM"), kErrorSessionNotValid);
    const uint64_t status = scope->status();
    scope->setTold(status);
    auto builder = responseBuilder(128);
    const auto link = builder.CreateString(linkBase + "/events/" + scope->session().pollToken);
    GetStatusResponseBuilder response(builder);
    response.add_accountStatus(status);
    response.add_link(link);
    builder.Finish(response.Finish(), GetStatusResponseIdentifier());
    return finishedResponse(builder);
}

std::string snapshot(SessionScope& scope, uint64_t status, bool withNodes) {
    ServiceStore& store = scope.store();
    const uint64_t account = scope.account();
    auto builder = responseBuilder(4096);
    std::vector<flatbuffers::Offset<FilesystemMessage>> filesystems;
    for (const auto& fs : store.filesystems(account))
        filesystems.push_back(writeFilesystem(builder, fs));
    std::vector<flatbuffers::Offset<NodeMessage>> nodes, contacts;
    if (withNodes) {
        const SnapshotNodes all = splitContacts(store.nodes(account));
        for (const auto& node : all.nodes)
            nodes.push_back(writeNode(builder, node));
        for (const auto& node : all.contacts)
            contacts.push_back(writeNode(builder, node));
    }
    std::vector<flatbuffers::Offset<ContactMessage>> users;
    for (const auto& user : store.accountUsers(account))
        users.push_back(writeContact(builder, user));
    const auto filesystemVector = builder.CreateVector(filesystems);
    const auto nodeVector = builder.CreateVector(nodes);
    const auto userVector = builder.CreateVector(users);
    const auto contactVector = builder.CreateVector(contacts);
    GetEventsResponseBuilder response(builder);
    response.add_accountStatus(status);
    response.add_full(true);
    response.add_filesystems(filesystemVector);
    response.add_nodes(nodeVector);
    response.add_users(userVector);
    response.add_contacts(contactVector);
    builder.Finish(response.Finish(), GetEventsResponseIdentifier());
    return finishedResponse(builder);
}

std::string answerEvents(const std::string& bytes, SessionScope* scope) {
    if (!scope) return errorResponse(*findMessageKind("GEEM"), kErrorSessionNotValid);
    const AlignedMessage aligned(bytes);
    const auto* message = flatbuffers::GetSizePrefixedRoot<GetEventsMessage>(aligned.data());
    const uint64_t known = message->accountStatus();
    const uint64_t status = scope->status();
    const Snapshot forced = scope->takeSnapshot();
    // 0 is no status at all; one beyond the account's, or older than its kept changes, cannot
    // be brought up to date change by change.
    const bool stale = known == 0 || known > status || known < scope->store().accountFloor(scope->account());
    if (forced != Snapshot::None || stale) return snapshot(*scope, status, forced != Snapshot::Empty);

    // The session's own changes reached it as the answers to its requests.
    std::string events;
    for (const auto& change : scope->store().changesAfter(scope->account(), known, scope->session().id)) {
        events += littleEndian32(static_cast<uint32_t>(change.size()));
        events += change;
    }
    auto builder = responseBuilder(events.size() + 128);
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> list;
    if (!events.empty()) list = builder.CreateVector(reinterpret_cast<const uint8_t*>(events.data()), events.size());
    GetEventsResponseBuilder response(builder);
    if (!list.IsNull()) response.add_events(list);
    response.add_accountStatus(status);
    builder.Finish(response.Finish(), GetEventsResponseIdentifier());
    return finishedResponse(builder);
}

}  // namespace

void registerEventHandlers(BatchDispatcher& dispatcher, std::function<std::string()> linkBase) {
    dispatcher.setScopedHandler("GESM", [linkBase = std::move(linkBase)](const std::string&, SessionScope* scope) {
        return answerStatus(linkBase(), scope);
    });
    dispatcher.setScopedHandler("GEEM", &answerEvents);
}

}  // namespace corvane::service
