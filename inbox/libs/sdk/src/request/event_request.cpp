#include "request/event_request.h"

#include <cstring>
#include <functional>
#include <vector>

#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_event_data.h"
#include "request/account_request.h"
#include "request/change_support.h"
#include "request/cloud_request.h"
#include "request/metadata_request.h"
#include "request/request_host.h"
#include "request/shared_drive_request.h"
#include "util/log.h"
#include "util/memory_usage.h"

namespace corvane {

namespace {

constexpr uint8_t kEventsApi = 5;
constexpr uint8_t kStatusApi = 1;
constexpr int kMemoryShift = 20;

// Each change in the events byte string: a 4-byte little-endian length, then that many bytes.
constexpr uint32_t kChangeLengthSize = 4;
// A change's file identifier stands after its root offset.
constexpr uint32_t kIdentifierOffset = 4;
constexpr uint32_t kIdentifierEnd = kIdentifierOffset + flatbuffers::kFileIdentifierLength;

// The readers of the changes, tested in this order.
struct ChangeReader {
    const char* identifier;
    std::shared_ptr<NetworkRequest> (*create)();
};

template <class T>
std::shared_ptr<NetworkRequest> makeReader() {
    return std::make_shared<T>();
}

const ChangeReader kChangeReaders[] = {
    {"ADNR", &makeReader<AddNodesRequest>},    {"ADMR", &makeReader<AddMetadataRequest>},
    {"RENR", &makeReader<RenameNodeRequest>},  {"DENR", &makeReader<DeleteNodeRequest>},
    {"MONR", &makeReader<MoveNodeRequest>},    {"REKR", &makeReader<RewriteKeysRequest>},
    {"ACIR", &makeReader<AccountInfoRequest>}, {"NSDR", &makeReader<NewSharedDriveRequest>},
};

uint32_t readLittleEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

uint64_t megabytes(uint64_t bytes) {
    return bytes >> kMemoryShift;
}

}  // namespace

// --- GetEvents ---

GetEventsRequest::GetEventsRequest(RequestHost* manager) : FlatbufferRequest(nullptr), manager_(manager) {
    // Idle until the channel first takes its message.
    Request::notifyFinished();
}

GetEventsRequest::~GetEventsRequest() = default;

std::shared_ptr<NetworkRequest> GetEventsRequest::createChangeReader(const uint8_t* identifier) {
    for (const ChangeReader& reader : kChangeReaders) {
        if (std::memcmp(identifier, reader.identifier, flatbuffers::kFileIdentifierLength) == 0) {
            return reader.create();
        }
    }
    return nullptr;
}

std::unique_ptr<ByteArray> GetEventsRequest::takeMessage() {
    // The full flag and the snapshot stay: only the response that replaces them says more.
    error_ = 0;
    accountStatus_ = 0;
    clearFinished();
    pending_.clear();
    expectedLength_ = 0;
    applying_ = false;
    inChange_ = false;
    changeFinishedInline_ = false;

    Cloud* cloud = manager_ != nullptr ? manager_->getCloud() : nullptr;
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    GetEventsMessageBuilder message(builder);
    message.add_accountStatus(cloud != nullptr ? cloud->getCloudState() : 0);
    message.add_api(kEventsApi);
    finishMessage(builder, message.Finish().o);
    return std::move(message_);
}

bool GetEventsRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<GetEventsResponse>(bytes);
    if (response->error() != 0) {
        error_ = response->error();
        return true;
    }
    error_ = 0;
    accountStatus_ = response->accountStatus();
    full_ = response->full();
    if (full_) {
        const auto* nodes = response->nodes();
        const auto* filesystems = response->filesystems();
        CLOG_DEBUG("Received {} nodes in {} filesystems", nodes != nullptr ? nodes->size() : 0,
                   filesystems != nullptr ? filesystems->size() : 0);
        filesystems_ = getFilesystemList(filesystems);
        nodes_ = getEncryptedNodes(nodes);
        if (nodes_->empty()) {
            // Applying it would empty the whole cache; a real account always has its roots.
            CLOG_ERROR("Full reload without nodes ignored");
            error_ = UNKNOWN_ERROR;
            nodes_.reset();
            filesystems_.reset();
            return true;
        }
        if (const auto* contacts = response->contacts()) {
            auto contactNodes = getEncryptedNodes(contacts);
            nodes_->insert(nodes_->end(), contactNodes->begin(), contactNodes->end());
        }
        return true;
    }
    if (const auto* events = response->events()) {
        readChanges(*events);
    }
    return true;
}

void GetEventsRequest::readChanges(const flatbuffers::Vector<uint8_t>& events) {
    const uint8_t* data = events.data();
    const uint32_t size = events.size();
    uint32_t offset = 0;
    // A change sits anywhere in the string; it is read from an aligned copy so that its 8-byte
    // fields are never loaded from misaligned addresses.
    std::vector<uint64_t> aligned;
    while (offset < size) {
        if (size - offset < kChangeLengthSize) {
            CLOG_ERROR("Corrupt external events");
            return;
        }
        const uint32_t length = readLittleEndian32(data + offset);
        offset += kChangeLengthSize;
        if (length > size - offset) {
            CLOG_ERROR("Corrupt external events");
            return;
        }
        const uint8_t* change = data + offset;
        offset += length;

        std::shared_ptr<NetworkRequest> reader =
            length >= kIdentifierEnd ? createChangeReader(change + kIdentifierOffset) : nullptr;
        if (!reader) {
            CLOG_WARN("External event not recognized");
            continue;
        }
        aligned.assign((length + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
        std::memcpy(aligned.data(), change, length);
        const auto* bytes = reinterpret_cast<const uint8_t*>(aligned.data());

        reader->setListener(static_cast<RequestListener*>(this));
        if (!reader->verify(bytes, length)) {
            CLOG_ERROR("Error verifying event: {}", reader->getName());
            continue;
        }
        if (!reader->processFlatbuffer(bytes, length)) {
            CLOG_ERROR("Error processing event: {}", reader->getName());
            continue;
        }
        CLOG_DEBUG("External event correctly processed: {}", reader->getName());
        pending_.push_back(std::move(reader));
    }
}

void GetEventsRequest::applyResults(RequestHost* manager) {
    applyManager_ = manager;
    applying_ = true;
    // The status request of the same batch commits it.
    manager->beginCacheTransaction();
    if (error_ != 0) {
        CLOG_ERROR("Error getting external events: {}", error_);
        notifyFinished();
        return;
    }
    if (full_) {
        reload(manager);
        return;
    }
    if (!pending_.empty()) {
        applyPending();
        return;
    }
    CLOG_DEBUG("No external events. Account status: {}", accountStatus_);
    notifyFinished();
}

void GetEventsRequest::reload(RequestHost* manager) {
    Cloud* cloud = manager->getCloud();
    if (cloud == nullptr) {
        CLOG_ERROR("[req]{}: No cloud model to apply the response to", getName());
        error_ = UNKNOWN_ERROR;
        notifyFinished();
        return;
    }
    CLOG_DEBUG("{}", "[action][{}] Too many pending updates. Starting complete cloud cache reload");
    manager->resetBackups();
    auto request = change::self(this);
    cloud->truncate([request, cloud]() {
        cloud->addFilesystems(request->filesystems_, [request, cloud](bool) {
            auto nodes = std::make_shared<NodeList>(request->nodes_->begin(), request->nodes_->end());
            cloud->addNodes(
                nodes,
                [request](Cloud::NodeListPointer) {
                    CLOG_DEBUG("[action][{}] Cloud reloaded from server. Peak Memory: {} MB Current Memory: {} MB",
                               request->getName(), megabytes(getPeakMemoryUsage()), megabytes(getCurrentMemoryUsage()));
                    // The cache holds it now; the request lives as long as the SDK.
                    request->nodes_.reset();
                    request->filesystems_.reset();
                    request->notifyFinished();
                },
                true);
        });
    });
}

void GetEventsRequest::applyPending() {
    RequestHost* manager = applyManager_ != nullptr ? applyManager_ : manager_;
    while (!pending_.empty()) {
        std::shared_ptr<NetworkRequest> next = pending_.front();
        inChange_ = true;
        changeFinishedInline_ = false;
        next->applyResults(manager);
        inChange_ = false;
        if (!changeFinishedInline_) {
            // Goes on in finished once the change's asynchronous work is done.
            return;
        }
    }
    CLOG_DEBUG("External events applied. New account status: {}. Peak Memory: {} MB Current Memory: {} MB",
               accountStatus_, megabytes(getPeakMemoryUsage()), megabytes(getCurrentMemoryUsage()));
    notifyFinished();
}

void GetEventsRequest::finished(std::shared_ptr<Request> request) {
    // Only the change being applied can finish; anything else belongs to an abandoned cycle.
    if (pending_.empty() || pending_.front() != request) {
        return;
    }
    CLOG_DEBUG("External event applied: {}", request->getName());
    pending_.pop_front();
    if (inChange_) {
        changeFinishedInline_ = true;
        return;
    }
    applyPending();
}

void GetEventsRequest::notifyFinished() {
    if (!applying_) {
        // Construction, or a batch that failed: no local phase ran, so there is nothing to
        // announce.
        Request::notifyFinished();
        return;
    }
    applying_ = false;
    RequestHost* manager = applyManager_ != nullptr ? applyManager_ : manager_;
    if (error_ != 0 || manager == nullptr || manager->areBackupsInitialized()) {
        Request::notifyFinished();
        return;
    }
    auto request = change::self(this);
    manager->initializeBackups([request, manager]() {
        if (request->full_) {
            CLOG_DEBUG("[action][{}] Full reload finished", request->getName());
            manager->onEvent(std::make_shared<MutableEventData>(EVENT_FULL_RELOAD));
        }
        CLOG_DEBUG("{}", "[action][{}] Account ready");
        manager->onEvent(std::make_shared<MutableEventData>(EVENT_ACCOUNT_READY));
        request->Request::notifyFinished();
    });
}

// --- GetStatus ---

GetStatusRequest::GetStatusRequest(RequestHost* manager) : FlatbufferRequest(nullptr), manager_(manager) {
    Request::notifyFinished();
}

GetStatusRequest::~GetStatusRequest() = default;

std::unique_ptr<ByteArray> GetStatusRequest::takeMessage() {
    error_ = 0;
    accountStatus_ = 0;
    link_.clear();
    clearFinished();
    expectedLength_ = 0;

    // The service knows the client by its session; no client id goes out.
    flatbuffers::FlatBufferBuilder builder = makeBuilder();
    GetStatusMessageBuilder message(builder);
    message.add_api(kStatusApi);
    finishMessage(builder, message.Finish().o);
    return std::move(message_);
}

bool GetStatusRequest::processFlatbuffer(const uint8_t* bytes, uint32_t length) {
    const auto* response = flatbuffers::GetRoot<GetStatusResponse>(bytes);
    if (response->error() != 0) {
        error_ = response->error();
        CLOG_ERROR("Error getting account status: {}", error_);
        return true;
    }
    accountStatus_ = response->accountStatus();
    link_ = response->link() != nullptr ? response->link()->str() : std::string();
    return true;
}

void GetStatusRequest::applyResults(RequestHost* manager) {
    if (error_ != 0) {
        notifyFinished();
        return;
    }
    auto request = change::self(this);
    manager->updateAccountStatus(accountStatus_, link_, [request]() { request->notifyFinished(); });
}

}  // namespace corvane
