#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "get_events_message_generated.h"
#include "get_events_response_generated.h"
#include "get_status_message_generated.h"
#include "get_status_response_generated.h"
#include "request/node_tables.h"
#include "request/request.h"

namespace corvane {

// The leading request of every batch once the account has a status: tells the service which
// account state the cache holds and applies what changed since, either a list of changes
// (each one read and applied by the request class that owns its response) or a full snapshot.
// Created once by the API manager and reused for every batch; its message is built anew each
// time the channel takes it.
class GetEventsRequest : public FlatbufferRequest<GetEventsMessage, GetEventsResponse>, public RequestListener {
public:
    explicit GetEventsRequest(RequestHost* manager);
    ~GetEventsRequest() override;

    const char* getName() const override { return "GetEvents"; }
    std::unique_ptr<ByteArray> takeMessage() override;
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;
    void notifyFinished() override;

    // A pending change has ended its local phase.
    void finished(std::shared_ptr<Request> request) override;

    int32_t getError() const { return error_; }
    uint64_t getAccountStatus() const { return accountStatus_; }
    bool isFull() const { return full_; }
    size_t pendingCount() const { return pending_.size(); }

    // The reader of a change with this response identifier (4 bytes), built owner-less; null
    // for an identifier no reader owns.
    static std::shared_ptr<NetworkRequest> createChangeReader(const uint8_t* identifier);

private:
    void readChanges(const flatbuffers::Vector<uint8_t>& events);
    void reload(RequestHost* manager);
    // Applies the pending changes from the first on, until one goes on asynchronously.
    void applyPending();

    RequestHost* manager_;
    int32_t error_ = 0;
    uint64_t accountStatus_ = 0;
    bool full_ = false;
    std::shared_ptr<EncryptedNodeList> nodes_;
    std::shared_ptr<FilesystemList> filesystems_;
    std::list<std::shared_ptr<NetworkRequest>> pending_;
    // The manager the current local phase was given, for the changes applied after the first.
    RequestHost* applyManager_ = nullptr;
    // Set from the start of the local phase until it finishes: only then does finishing
    // set up the backups and raise events; a batch that failed just ends the request.
    bool applying_ = false;
    // A change is inside its applyResults call; a finish reported meanwhile is taken up by
    // the loop in applyPending rather than by recursion.
    bool inChange_ = false;
    bool changeFinishedInline_ = false;
};

// The trailing request of every batch: brings the new account status and the long-poll link,
// which its local phase stores (committing the cache transaction the events request opened).
class GetStatusRequest : public FlatbufferRequest<GetStatusMessage, GetStatusResponse> {
public:
    explicit GetStatusRequest(RequestHost* manager);
    ~GetStatusRequest() override;

    const char* getName() const override { return "GetStatus"; }
    std::unique_ptr<ByteArray> takeMessage() override;
    bool processFlatbuffer(const uint8_t* bytes, uint32_t length) override;
    void applyResults(RequestHost* manager) override;

    int32_t getError() const { return error_; }
    uint64_t getAccountStatus() const { return accountStatus_; }
    const std::string& getLink() const { return link_; }

private:
    RequestHost* manager_;
    int32_t error_ = 0;
    uint64_t accountStatus_ = 0;
    std::string link_;
};

}  // namespace corvane
