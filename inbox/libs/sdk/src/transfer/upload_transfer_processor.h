#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "transfer/transfer_processor.h"

namespace corvane {

class EncryptedNodeData;
class NodeData;

// The upload side: hashes the file, reuses content the account already holds, otherwise
// reads, signs, encrypts and sends the chunks and creates the node with the upload token.
class UploadTransferProcessor : public TransferProcessor {
public:
    UploadTransferProcessor(HttpModule* httpModule, CryptoManager* cryptoManager, FilesystemModule* filesystemModule,
                            TransferManager* transferManager, ApiManager* apiManager);
    ~UploadTransferProcessor() override;

    void onHttpRequestFinished(HttpRequest* request) override;
    // Adds a copy of the node, under the local file's name, to the destination folder.
    void addFoundExistingNode(std::shared_ptr<NodeData> node);

protected:
    // Sends the next chunk that is ready (encrypted), whatever the offset.
    bool sendNextRequest(HttpRequest* request, uint64_t offset) override;
    // Sends the ready chunks into the idle slots, then reads on when there is room.
    void sendNextRequests() override;
    void fileOpened() override;
    void completeTransfer() override;
    void requestFinished(int32_t type, const std::shared_ptr<Request>& request) override;
    void resetState() override;

private:
    void hashed(std::vector<uint8_t> fullHash, std::vector<uint8_t> sparseHash, uint64_t size, uint64_t mtime, bool ok);
    void lookupAnswered(std::shared_ptr<NodeData> node, bool identical, uint64_t mtime);
    void requestUploadLink();
    void startSigning(uint64_t mtime);
    // Reads the next chunk, so that chunks are read, hashed and encrypted ahead of the slots
    // that send them: a slot that frees up takes a chunk that is ready at once.
    void readAhead();
    void chunkRead(uint64_t offset, uint64_t end, std::vector<uint8_t>* data);
    // A chunk's strong sum arrived (in any order): the sums go into the signature in file order.
    void chunkSummed(uint64_t offset, uint64_t length, std::vector<uint8_t> sum);
    bool allSigned() const;
    void chunkEncrypted(uint64_t offset, uint64_t end, std::unique_ptr<std::vector<uint8_t>> data);
    // Closes the file, re-reads the size and tries again.
    void restartAfterStat();
    void createNode();
    void sendAddNodes(const std::shared_ptr<std::vector<std::shared_ptr<EncryptedNodeData>>>& nodes, bool withToken);
    std::string localName() const;

    bool readInProgress_ = false;
    // Chunks being read or encrypted, and the encrypted ones waiting for a slot (by offset:
    // their end and ciphertext); together bounded.
    uint32_t preparing_ = 0;
    std::map<uint64_t, std::pair<uint64_t, std::unique_ptr<std::vector<uint8_t>>>> ready_;
    // Chunks read whose sums have not gone into the signature yet; bounded, so that hashing
    // that falls behind holds reads back instead of piling up chunks.
    uint32_t unsigned_ = 0;
    // Where the signature stands, and the sums that arrived ahead of it, by offset.
    uint64_t signedOffset_ = 0;
    std::map<uint64_t, std::pair<uint64_t, std::vector<uint8_t>>> earlySums_;
};

}  // namespace corvane
