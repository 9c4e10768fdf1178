#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "http/http_listener.h"
#include "request/request_listener.h"

namespace corvane {

class ApiManager;
class CryptoManager;
class File;
class FileSignature;
class FilesystemModule;
class HttpModule;
class HttpRequest;
class MutableTransferData;
class SpeedMeter;
class TransferManager;
struct TransferChunk;

// When a failed upload may be tried again: the attempt count after which it gives up, and
// the pause the queue keeps before the next attempt.
struct TransferRetryPolicy {
    int32_t limit = 90;
    int64_t delaySeconds = 9;
};

// Moves the bytes of one transfer at a time in 1 MiB chunks, each one HTTP request on the
// transfer's link with the inclusive byte range in the path, up to four at once. Driven from
// the SDK main loop only; file, crypto and HTTP work report back to it.
class TransferProcessor : public HttpListener, public RequestListener {
public:
    static constexpr int32_t kRequestSlots = 4;
    static constexpr uint32_t kChunkSize = 1048576;
    static constexpr uint32_t kLowSpeedLimit = 32;
    static constexpr uint32_t kLowSpeedTime = 64;

    TransferProcessor(HttpModule* httpModule, CryptoManager* cryptoManager, FilesystemModule* filesystemModule,
                      TransferManager* transferManager, ApiManager* apiManager, int32_t direction);
    ~TransferProcessor() override;

    TransferProcessor(const TransferProcessor&) = delete;
    TransferProcessor& operator=(const TransferProcessor&) = delete;

    // Takes the transfer (ACTIVE, onTransferStart) and starts it; empty lets the held one go.
    void setTransfer(std::shared_ptr<MutableTransferData> transfer);
    std::shared_ptr<MutableTransferData> getTransfer() const { return transfer_; }
    int32_t getDirection() const { return direction_; }
    bool isIdle() const;

    void setRetryPolicy(const TransferRetryPolicy& policy) { retryPolicy_ = policy; }
    const TransferRetryPolicy& getRetryPolicy() const { return retryPolicy_; }

    void onHttpRequestProgress(HttpRequest* request, uint32_t downloaded, uint32_t uploaded, uint32_t downloadedDelta,
                               uint32_t uploadedDelta) override;
    void onHttpRequestFinished(HttpRequest* request) override = 0;
    // Answers of the API requests sent for the held transfer.
    void finished(std::shared_ptr<Request> request) override;

    // The chunk that starts at offset ends at the next 1 MiB boundary, or at limit.
    static uint64_t chunkEnd(uint64_t offset, uint64_t limit);

protected:
    virtual bool sendNextRequest(HttpRequest* request, uint64_t offset) = 0;
    virtual void startTransfer();
    // The file is open (upload: hash it; download: send).
    virtual void fileOpened() = 0;
    // The file was closed after the last byte.
    virtual void completeTransfer() = 0;
    // The direction's own answers of API requests.
    virtual void requestFinished(int32_t type, const std::shared_ptr<Request>& request) = 0;
    // Asks the service for the transfer's link (downloads that have none).
    virtual void requestLink() {}
    // Forgets per-transfer state of the subclass.
    virtual void resetState() {}

    // Fills the idle request slots from currentOffset on.
    virtual void sendNextRequests();
    HttpRequest* getIdleRequest();
    void updateProgress();
    void cancelRequests();
    bool checkCompletion();
    // Puts an upload back for another attempt from byte 0; call with the file closed.
    void retryTransfer();
    // Lets go of the transfer and finishes it with the error.
    void finishTransfer(int32_t error, const char* line);
    // Closes the file of a transfer that ended (a failed download's is removed), then runs then.
    void releaseFile(std::function<void()> then);
    // Closes the open file (if any), then runs next.
    void closeFile(std::function<void()> next);
    void markIdle(HttpRequest* request);
    void checkPending();
    TransferChunk* contextOf(HttpRequest* request) const;
    void sendChunk(HttpRequest* request, TransferChunk& chunk, uint64_t end);
    // True while the continuation of an attempt still belongs to the current one.
    bool isCurrent(const std::shared_ptr<MutableTransferData>& transfer, uint64_t attempt) const {
        return transfer_ == transfer && attempt_ == attempt;
    }

    ApiManager* apiManager_;
    HttpModule* httpModule_;
    CryptoManager* cryptoManager_;
    FilesystemModule* filesystemModule_;
    TransferManager* transferManager_;
    std::vector<HttpRequest*> requests_;
    std::map<HttpRequest*, int32_t> inFlight_;
    std::unique_ptr<SpeedMeter> speedMeter_;
    std::shared_ptr<MutableTransferData> transfer_;
    File* file_ = nullptr;
    const int32_t direction_;
    uint64_t localMtime_ = 0;
    uint64_t bytesDone_ = 0;
    uint64_t bytesCompleted_ = 0;
    uint64_t inFlightSum_ = 0;
    std::unique_ptr<FileSignature> signature_;
    // Counts attempts, so that answers of an abandoned attempt of the same transfer are dropped.
    uint64_t attempt_ = 0;
    // Slots handed to the HTTP module (cancellable), as against reserved for a read.
    std::vector<bool> sent_;
    TransferRetryPolicy retryPolicy_;
    // Expires with the processor: file, crypto and cloud continuations check it first.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace corvane
