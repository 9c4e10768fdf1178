#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "http/http_listener.h"

namespace corvane {

class CryptoManager;
class FilesystemModule;
class HttpModule;
class HttpRequest;
class MetadataManager;
class MutableTransferData;
class SpeedMeter;

// Moves one metadata blob at a time as a single HTTP request on the transfer's link: an upload
// reads the local file, seals it and posts it; a download fetches the blob, opens it and
// writes the local file. The held transfer stays ACTIVE after its end; its owner's
// onTransferFinish marks the end. SDK main loop only.
class MetadataProcessor : public HttpListener {
public:
    // One slot serves a transfer; the others let a new transfer go out while the cancelled
    // request of an abandoned one still has to report back.
    static constexpr int32_t kRequestSlots = 4;

    MetadataProcessor(HttpModule* httpModule, CryptoManager* cryptoManager, FilesystemModule* filesystemModule,
                      MetadataManager* manager, int32_t direction);
    ~MetadataProcessor() override;

    MetadataProcessor(const MetadataProcessor&) = delete;
    MetadataProcessor& operator=(const MetadataProcessor&) = delete;

    // Takes the transfer (ACTIVE) and sends its request.
    void setTransfer(std::shared_ptr<MutableTransferData> transfer);
    std::shared_ptr<MutableTransferData> getTransfer() const { return transfer_; }
    // Lets go of the held transfer without telling its owner and cancels its request; the
    // caller ends it. Empty when none was held.
    std::shared_ptr<MutableTransferData> abandon();
    // No transfer held and no request out.
    bool isIdle() const;

    // Completes the held transfer once its request was dealt with, otherwise sends it.
    void sendNextRequests();

    void onHttpRequestProgress(HttpRequest* request, uint32_t downloaded, uint32_t uploaded, uint32_t downloadedDelta,
                               uint32_t uploadedDelta) override;
    void onHttpRequestFinished(HttpRequest* request) override = 0;

protected:
    virtual void sendNextRequest(HttpRequest* request, uint64_t offset) = 0;

    // Ends the held transfer: lets go of it, then tells the owner. A non-zero error is stored
    // in the record first.
    void finishTransfer(int32_t error);
    // The slot now serves the held transfer; sent says whether it went to the HTTP module.
    void reserve(HttpRequest* request, bool sent);
    void send(HttpRequest* request);
    void markIdle(HttpRequest* request);
    // Whether the slot's request belongs to the held transfer.
    bool isCurrent(HttpRequest* request) const;
    bool isCurrent(const std::shared_ptr<MutableTransferData>& transfer, uint64_t attempt) const {
        return transfer_ == transfer && attempt_ == attempt;
    }
    // The whole answer body, taken out of the slot's buffer.
    static std::vector<uint8_t> takeBody(HttpRequest* request);

    HttpModule* httpModule_;
    CryptoManager* cryptoManager_;
    FilesystemModule* filesystemModule_;
    MetadataManager* manager_;
    std::vector<HttpRequest*> requests_;
    std::unique_ptr<SpeedMeter> speedMeter_;
    std::shared_ptr<MutableTransferData> transfer_;
    const int32_t direction_;
    // The held transfer's request was answered and dealt with: the next step completes it.
    // A flag of its own, since a blob announced with size 0 leaves the offset at 0.
    bool answered_ = false;
    // The upload's answer: the token.
    std::vector<uint8_t> answer_;
    // Counts transfers taken, so that continuations and answers of one let go are dropped.
    uint64_t attempt_ = 0;
    std::vector<uint64_t> slotAttempt_;
    std::vector<bool> sent_;
    // Expires with the processor: file and crypto continuations check it first.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Reads the local file, seals it with the node key and posts the blob; the answer is the
// upload token.
class UploadMetadataProcessor : public MetadataProcessor {
public:
    UploadMetadataProcessor(HttpModule* httpModule, CryptoManager* cryptoManager, FilesystemModule* filesystemModule,
                            MetadataManager* manager);

    void onHttpRequestFinished(HttpRequest* request) override;

protected:
    void sendNextRequest(HttpRequest* request, uint64_t offset) override;

private:
    void sealed(HttpRequest* request, std::unique_ptr<std::vector<uint8_t>> blob);
};

// Fetches the blob, opens it with the node key and writes it as the whole local file.
class DownloadMetadataProcessor : public MetadataProcessor {
public:
    DownloadMetadataProcessor(HttpModule* httpModule, CryptoManager* cryptoManager, FilesystemModule* filesystemModule,
                              MetadataManager* manager);

    void onHttpRequestFinished(HttpRequest* request) override;

protected:
    void sendNextRequest(HttpRequest* request, uint64_t offset) override;

private:
    void opened(HttpRequest* request, std::unique_ptr<std::vector<uint8_t>> plain);
};

}  // namespace corvane
