#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "transfer/transfer_processor.h"

namespace corvane {

// The download side: learns the link when the transfer has none, fetches and decrypts the
// chunks, writes them strictly in order (or hands them to the owner) and verifies the file.
class DownloadTransferProcessor : public TransferProcessor {
public:
    // Chunks are requested at most this far beyond the last byte written, so that one late
    // chunk cannot make the parked ones grow without limit.
    static constexpr uint64_t kMaxLookAhead = uint64_t(8) * kChunkSize;

    DownloadTransferProcessor(HttpModule* httpModule, CryptoManager* cryptoManager, FilesystemModule* filesystemModule,
                              TransferManager* transferManager, ApiManager* apiManager);
    ~DownloadTransferProcessor() override;

    void onHttpRequestFinished(HttpRequest* request) override;
    size_t parkedCount() const { return parked_.size(); }

protected:
    bool sendNextRequest(HttpRequest* request, uint64_t offset) override;
    void fileOpened() override;
    void completeTransfer() override;
    void requestFinished(int32_t type, const std::shared_ptr<Request>& request) override;
    void resetState() override;

    void requestLink() override;

private:
    void decrypted(TransferChunk* chunk, std::unique_ptr<std::vector<uint8_t>> plain);
    // The chunk is decrypted (and, for a file, summed): it is written now or parked.
    void chunkReady(TransferChunk* chunk, std::unique_ptr<std::vector<uint8_t>> plain);
    bool completeChunk(TransferChunk* chunk);
    bool chunkWritten(TransferChunk* chunk, uint64_t n);
    bool completeNextChunk();

    std::map<uint64_t, TransferChunk*> parked_;
    // Strong sums of the chunks not written yet, by offset: computed on the worker pool as the
    // chunks arrive, added to the signature in file order.
    std::map<uint64_t, std::vector<uint8_t>> sums_;
    // Bytes handed to writes (or to the owner) in order, answered or not; bytes done counts
    // the answered ones.
    uint64_t bytesQueued_ = 0;
};

}  // namespace corvane
