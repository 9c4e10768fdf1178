#include "transfer/upload_transfer_processor.h"

#include <cstring>

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "cloud/encrypted_node_data.h"
#include "corvane/account_info_data.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_node_data.h"
#include "database/mutable_transfer_data.h"
#include "filesystem/file_signature.h"
#include "filesystem/filesystem_module.h"
#include "http/http_request.h"
#include "request/cloud_request.h"
#include "request/transfer_request.h"
#include "transfer/transfer_listener.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr int32_t kFileNode = 20;
// Chunks read ahead of the signature at most.
constexpr uint32_t kMaxUnsignedChunks = 4;
// Chunks read or encrypted ahead of the sending at most.
constexpr uint32_t kMaxPreparedChunks = 4;

const char* pathOf(const MutableTransferData& transfer) {
    return transfer.getFile() != nullptr ? transfer.getFile() : "";
}

bool sameBytes(const std::vector<uint8_t>* a, const std::vector<uint8_t>* b) {
    return a != nullptr && b != nullptr && *a == *b;
}

}  // namespace

UploadTransferProcessor::UploadTransferProcessor(HttpModule* httpModule, CryptoManager* cryptoManager,
                                                 FilesystemModule* filesystemModule, TransferManager* transferManager,
                                                 ApiManager* apiManager)
    : TransferProcessor(httpModule, cryptoManager, filesystemModule, transferManager, apiManager, 0) {
}

UploadTransferProcessor::~UploadTransferProcessor() = default;

void UploadTransferProcessor::resetState() {
    readInProgress_ = false;
    preparing_ = 0;
    ready_.clear();
    unsigned_ = 0;
    signedOffset_ = 0;
    earlySums_.clear();
}

bool UploadTransferProcessor::allSigned() const {
    return transfer_ && signedOffset_ == transfer_->getSize();
}

std::string UploadTransferProcessor::localName() const {
    const std::string path = pathOf(*transfer_);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void UploadTransferProcessor::fileOpened() {
    auto transfer = transfer_;
    const uint64_t attempt = attempt_;
    filesystemModule_->hashFile(
        pathOf(*transfer), [this, transfer, attempt](std::vector<uint8_t> fullHash, std::vector<uint8_t> sparseHash,
                                                     uint64_t size, uint64_t mtime, bool ok) {
            CLOG_DEBUG("Metadata for {}: mtime = {} size = {} success = {}", pathOf(*transfer), mtime, size, ok);
            if (!isCurrent(transfer, attempt)) {
                CLOG_DEBUG("Transfer already finished");
                return;
            }
            hashed(std::move(fullHash), std::move(sparseHash), size, mtime, ok);
        });
}

void UploadTransferProcessor::hashed(std::vector<uint8_t> fullHash, std::vector<uint8_t> sparseHash, uint64_t size,
                                     uint64_t mtime, bool ok) {
    auto transfer = transfer_;
    if (!ok || size != transfer->getSize()) {
        CLOG_ERROR("Error getting metadata for {} (success: {}, size: {} | {})", pathOf(*transfer), ok,
                   transfer->getSize(), size);
        if (ok) {
            transfer->setSize(size);
            transfer->setEndOffset(size);
        }
        closeFile([this, alive = std::weak_ptr<bool>(alive_), transfer]() {
            if (alive.expired()) {
                return;
            }
            if (transfer_ == transfer) {
                retryTransfer();
            }
        });
        return;
    }
    transfer->setFullHash(fullHash.empty() ? nullptr : fullHash.data(), fullHash.size());
    transfer->setSparseHash(sparseHash.empty() ? nullptr : sparseHash.data(), sparseHash.size());
    Cloud* cloud = apiManager_->getCloud();
    const uint64_t attempt = attempt_;
    if (!fullHash.empty() && cloud != nullptr) {
        cloud->getIdenticalNode(
            fullHash, size,
            [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, mtime](std::shared_ptr<NodeData> node) {
                if (alive.expired()) {
                    return;
                }
                if (!isCurrent(transfer, attempt)) {
                    CLOG_DEBUG("Transfer already finished");
                    return;
                }
                lookupAnswered(std::move(node), true, mtime);
            });
        return;
    }
    if (!sparseHash.empty() && cloud != nullptr) {
        cloud->getSimilarNode(
            sparseHash, size, mtime,
            [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, mtime](std::shared_ptr<NodeData> node) {
                if (alive.expired()) {
                    return;
                }
                if (!isCurrent(transfer, attempt)) {
                    CLOG_DEBUG("Transfer already finished");
                    return;
                }
                lookupAnswered(std::move(node), false, mtime);
            });
        return;
    }
    startSigning(mtime);
    if (size > 0) {
        CLOG_ERROR("No local hash available for: {}", pathOf(*transfer));
        requestUploadLink();
    } else {
        CLOG_DEBUG("Zero-byte file: {}", pathOf(*transfer));
        // No upload link answer will set the scheme: the node takes the account's, which its
        // key was made for.
        if (cloud != nullptr && cloud->getAccountInfo()) {
            transfer->setCryptoScheme(cloud->getAccountInfo()->getCrypto());
        }
        sendNextRequests();
    }
}

void UploadTransferProcessor::lookupAnswered(std::shared_ptr<NodeData> node, bool identical, uint64_t mtime) {
    auto transfer = transfer_;
    localMtime_ = mtime;
    if (node) {
        if (identical) {
            CLOG_DEBUG("Identical node found for {}", pathOf(*transfer));
        } else {
            CLOG_DEBUG("Similar file found for {}", pathOf(*transfer));
        }
        addFoundExistingNode(std::move(node));
        return;
    }
    if (identical) {
        CLOG_DEBUG("Identical node not found for {}", pathOf(*transfer));
    } else {
        CLOG_DEBUG("Similar file not found for {}", pathOf(*transfer));
    }
    const std::vector<uint8_t>* hash = identical ? transfer->getFullHash() : transfer->getSparseHash();
    const uint64_t attempt = attempt_;
    apiManager_->getCloud()->hashFingerprint(
        *hash, [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, identical](CryptoBytes fingerprint) {
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                CLOG_DEBUG("Transfer already finished");
                return;
            }
            if (!fingerprint) {
                startSigning(localMtime_);
                requestUploadLink();
                return;
            }
            auto action = std::make_shared<MutableActionData>(GET_NODE);
            action->setMetadata(fingerprint.release());
            if (transfer->getLink() != nullptr) {
                action->setText(transfer->getLink());
            }
            if (!identical) {
                action->setSize(transfer->getSize());
            }
            action->setTransfer(transfer);
            apiManager_->enqueueApiRequest(std::make_shared<GetNodeByFingerprintRequest>(action), this);
        });
}

void UploadTransferProcessor::startSigning(uint64_t mtime) {
    signature_->reset();
    signature_->initialize(transfer_->getSize());
    transfer_->setModificationTime(mtime);
}

void UploadTransferProcessor::requestUploadLink() {
    auto action = std::make_shared<MutableActionData>(UPLOAD);
    action->setName(pathOf(*transfer_));
    action->setParentHandle(transfer_->getNodeId());
    action->setSize(transfer_->getSize());
    action->setTransfer(transfer_);
    apiManager_->enqueueApiRequest(std::make_shared<UploadRequest>(action), this);
}

void UploadTransferProcessor::requestFinished(int32_t type, const std::shared_ptr<Request>& request) {
    auto transfer = transfer_;
    auto action = std::static_pointer_cast<MutableActionData>(request->getActionData());
    const int32_t error = action->getErrorCode();
    if (type == GET_NODE) {
        std::shared_ptr<NodeData> node = action->getNode();
        bool match = error == 0 && node && node->getSize() == transfer->getSize();
        if (transfer->getFullHash() == nullptr) {
            match = match && static_cast<uint64_t>(node->getModificationTime()) == localMtime_;
            CLOG_DEBUG(match ? "Similar node found on server" : "Similar node not found on server");
        } else {
            CLOG_DEBUG(match ? "Identical node found on server" : "Identical node not found on server");
        }
        // The lookup's answer carried no upload link.
        transfer->setLink(nullptr);
        if (match) {
            addFoundExistingNode(node);
            return;
        }
        startSigning(localMtime_);
        requestUploadLink();
        return;
    }
    if (type == UPLOAD) {
        if (error == QUOTA_EXCEEDED) {
            if (auto owner = std::dynamic_pointer_cast<MutableActionData>(transfer->getAction())) {
                owner->setName(pathOf(*transfer));
                owner->setError(Error(QUOTA_EXCEEDED));
            }
            finishTransfer(QUOTA_EXCEEDED, "[trproc] Transfer finished with error. Quota exceeded");
            return;
        }
        if (error != 0) {
            // No link to send to: the service's refusal is the transfer's outcome.
            finishTransfer(error, "[trproc] Transfer finished with error. No upload link");
            return;
        }
        if (transfer->getLink() == nullptr || transfer->getLink()[0] == '\0') {
            CLOG_ERROR("Upload link not received for {}", pathOf(*transfer));
            transfer->setLink(nullptr);
            closeFile([this, alive = std::weak_ptr<bool>(alive_), transfer]() {
                if (alive.expired()) {
                    return;
                }
                if (transfer_ == transfer) {
                    retryTransfer();
                }
            });
            return;
        }
        Cloud* cloud = apiManager_->getCloud();
        if (cloud != nullptr && cloud->getAccountInfo()) {
            transfer->setCryptoScheme(cloud->getAccountInfo()->getCrypto());
        }
        sendNextRequests();
        return;
    }
    if (type == ADD_NODES) {
        if (auto owner = std::dynamic_pointer_cast<MutableActionData>(transfer->getAction())) {
            owner->setNode(action->getNode());
        }
        finishTransfer(error, error == 0 ? "[trproc] Transfer finished" : "[trproc] Transfer finished with error");
    }
}

void UploadTransferProcessor::sendNextRequests() {
    if (!transfer_) {
        return;
    }
    if (transfer_->getSize() == 0) {
        checkCompletion();
        return;
    }
    while (transfer_ && !ready_.empty()) {
        HttpRequest* request = getIdleRequest();
        if (request == nullptr || !sendNextRequest(request, ready_.begin()->first)) {
            break;
        }
    }
    readAhead();
}

bool UploadTransferProcessor::sendNextRequest(HttpRequest* request, uint64_t) {
    auto next = ready_.begin();
    if (next == ready_.end()) {
        return false;
    }
    const uint64_t offset = next->first;
    const uint64_t end = next->second.first;
    request->body = std::move(*next->second.second);
    ready_.erase(next);
    TransferChunk& chunk = transfer_->getChunk(offset);
    chunk.offset = offset;
    sendChunk(request, chunk, end);
    return true;
}

void UploadTransferProcessor::readAhead() {
    if (!transfer_ || file_ == nullptr || transfer_->getLink() == nullptr) {
        // Never a chunk without a link.
        return;
    }
    const uint64_t offset = transfer_->getCurrentOffset();
    if (offset >= transfer_->getSize() || preparing_ + ready_.size() >= kMaxPreparedChunks) {
        return;
    }
    if (readInProgress_) {
        CLOG_DEBUG("Waiting for a previous read to complete");
        return;
    }
    if (unsigned_ >= kMaxUnsignedChunks) {
        CLOG_DEBUG("Waiting for chunks to be hashed");
        return;
    }
    const uint64_t end = chunkEnd(offset, transfer_->getSize());
    CLOG_DEBUG("[trproc] Starting upload request for chunk {}-{}", offset, end);
    auto transfer = transfer_;
    const uint64_t attempt = attempt_;
    transfer_->setCurrentOffset(end);
    readInProgress_ = true;
    ++preparing_;
    file_->read(
        offset, end - offset,
        [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, offset, end](std::vector<uint8_t>* data) {
            std::unique_ptr<std::vector<uint8_t>> owned(data);
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                CLOG_DEBUG("Upload already finished");
                return;
            }
            chunkRead(offset, end, owned.release());
        });
}

void UploadTransferProcessor::chunkRead(uint64_t offset, uint64_t end, std::vector<uint8_t>* data) {
    std::unique_ptr<std::vector<uint8_t>> bytes(data);
    auto transfer = transfer_;
    if (!bytes || bytes->size() != end - offset) {
        CLOG_ERROR("Error reading data from {}", pathOf(*transfer));
        restartAfterStat();
        return;
    }
    CLOG_DEBUG("[trproc] Upload chunk {}-{} read from file", offset, end);
    const uint64_t attempt = attempt_;
    const uint8_t* plain = bytes->data();
    const uint64_t size = bytes->size();
    std::shared_ptr<const std::vector<uint8_t>> keep(bytes.release());
    cryptoManager_->encryptData(
        transfer->getCryptoScheme(), plain, size, offset, transfer->getNodeKey(),
        [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, offset, end, keep](CryptoBytes encrypted) {
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                CLOG_DEBUG("Upload already finished");
                return;
            }
            chunkEncrypted(offset, end, std::move(encrypted));
        });
    if (!isCurrent(transfer, attempt) || file_ == nullptr) {
        // An encryption that failed at once is closing the file.
        return;
    }
    // The worker pool hashes the chunk while the crypto loop encrypts it (both only read it),
    // and the next read goes out at once: this loop only puts the sums in order.
    ++unsigned_;
    filesystemModule_->sumBlock(
        keep, [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, offset, size](std::vector<uint8_t> sum) {
            if (alive.expired() || !isCurrent(transfer, attempt)) {
                return;
            }
            chunkSummed(offset, size, std::move(sum));
        });
    readInProgress_ = false;
    readAhead();
}

void UploadTransferProcessor::chunkSummed(uint64_t offset, uint64_t length, std::vector<uint8_t> sum) {
    earlySums_[offset] = {length, std::move(sum)};
    for (auto next = earlySums_.begin(); next != earlySums_.end() && next->first == signedOffset_;
         next = earlySums_.begin()) {
        signature_->addBlockSum(next->second.first, next->second.second);
        signedOffset_ += next->second.first;
        --unsigned_;
        earlySums_.erase(next);
    }
    if (allSigned()) {
        // The last answer may have come before the last sum.
        checkCompletion();
        return;
    }
    // A read held back for the hashing may go now.
    sendNextRequests();
}

void UploadTransferProcessor::chunkEncrypted(uint64_t offset, uint64_t end,
                                             std::unique_ptr<std::vector<uint8_t>> data) {
    --preparing_;
    if (!data || data->size() != end - offset) {
        // A key or scheme that cannot encrypt will not do better on another attempt.
        CLOG_ERROR("Error encrypting chunk {}-{} of {}", offset, end, pathOf(*transfer_));
        closeFile([this, alive = std::weak_ptr<bool>(alive_), transfer = transfer_]() {
            if (alive.expired()) {
                return;
            }
            if (transfer_ == transfer) {
                finishTransfer(CRYPTOGRAPHIC_ERROR, "[trproc] Transfer finished with error");
            }
        });
        return;
    }
    CLOG_DEBUG("[trproc] Upload chunk {}-{} encrypted", offset, end);
    ready_[offset] = {end, std::move(data)};
    sendNextRequests();
}

void UploadTransferProcessor::onHttpRequestFinished(HttpRequest* request) {
    TransferChunk* chunk = contextOf(request);
    if (!transfer_ || chunk == nullptr) {
        CLOG_DEBUG("Upload already finished");
        markIdle(request);
        if (isIdle()) {
            checkPending();
        }
        return;
    }
    const uint64_t offset = chunk->offset;
    const uint64_t end = offset + request->body.size();
    const uint32_t received = request->buffer.size();
    CLOG_DEBUG("[trproc] Upload request finished for chunk {}-{} with {} bytes received", offset, end, received);
    if (request->status != 200) {
        // The HTTP module gave up on this chunk: the attempt failed; its answer is no token.
        CLOG_ERROR("Upload of chunk {}-{} failed with status {}", offset, end, request->status);
        markIdle(request);
        restartAfterStat();
        return;
    }
    if (received > 0) {
        std::vector<uint8_t> token;
        token.reserve(received);
        while (request->buffer.size() > 0) {
            const uint8_t* bytes = nullptr;
            const uint32_t n = request->buffer.read(&bytes, 0);
            token.insert(token.end(), bytes, bytes + n);
            request->buffer.consume(n);
        }
        transfer_->setUploadToken(token.data(), token.size());
    }
    inFlight_[request] = 0;
    bytesCompleted_ += request->body.size();
    bytesDone_ += request->body.size();
    updateProgress();
    markIdle(request);
    sendNextRequests();
    // Otherwise the last sum completes the transfer when it arrives.
    if (allSigned()) {
        checkCompletion();
    }
}

void UploadTransferProcessor::restartAfterStat() {
    auto transfer = transfer_;
    ++attempt_;
    cancelRequests();
    closeFile([this, alive = std::weak_ptr<bool>(alive_), transfer]() {
        if (alive.expired()) {
            return;
        }
        filesystemModule_->stat(pathOf(*transfer), [this, alive = std::weak_ptr<bool>(alive_), transfer](
                                                       int, uint64_t, uint64_t size, bool ok) {
            if (alive.expired()) {
                return;
            }
            if (transfer_ != transfer) {
                return;
            }
            if (ok) {
                transfer->setSize(size);
                transfer->setEndOffset(size);
            }
            readInProgress_ = false;
            retryTransfer();
        });
    });
}

void UploadTransferProcessor::completeTransfer() {
    auto transfer = transfer_;
    if (!transfer) {
        CLOG_DEBUG("Transfer already finished");
        return;
    }
    if (transfer->getSize() == 0) {
        transfer->setUploadToken(nullptr, 0);
    }
    const uint64_t attempt = attempt_;
    if (transfer->getUploadToken() == nullptr) {
        CLOG_ERROR("Upload token not received");
        filesystemModule_->stat(pathOf(*transfer), [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt](
                                                       int, uint64_t, uint64_t size, bool ok) {
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                return;
            }
            if (ok) {
                transfer->setSize(size);
                transfer->setEndOffset(size);
            }
            retryTransfer();
        });
        return;
    }
    CLOG_DEBUG("Upload finished. Verifying integrity");
    filesystemModule_->stat(pathOf(*transfer), [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt](
                                                   int, uint64_t mtime, uint64_t size, bool ok) {
        if (alive.expired()) {
            return;
        }
        if (!isCurrent(transfer, attempt)) {
            return;
        }
        const std::vector<uint8_t>* full = signature_->getFullHash();
        const std::vector<uint8_t>* sparse = signature_->getSparseHash();
        const bool fullDiffers = full != nullptr && transfer->getFullHash() != nullptr &&
                                 !transfer->getFullHash()->empty() && !sameBytes(full, transfer->getFullHash());
        const bool sparseDiffers = sparse != nullptr && transfer->getSparseHash() != nullptr &&
                                   !transfer->getSparseHash()->empty() && !sameBytes(sparse, transfer->getSparseHash());
        const bool unsigned_ = full == nullptr && transfer->getSize() != 0;
        if (!ok || mtime != transfer->getModificationTime() || size != transfer->getSize() || fullDiffers ||
            sparseDiffers || unsigned_) {
            CLOG_ERROR(
                "File modified during upload (success: {}, mtime: {} | {}, size: {} | {}, hash: {} | {} | {}) {}", ok,
                mtime, transfer->getModificationTime(), size, transfer->getSize(), fullDiffers, sparseDiffers,
                unsigned_, pathOf(*transfer));
            if (ok) {
                transfer->setSize(size);
                transfer->setEndOffset(size);
            }
            retryTransfer();
            return;
        }
        CLOG_DEBUG("Integrity checks passed OK");
        createNode();
    });
}

void UploadTransferProcessor::createNode() {
    auto transfer = transfer_;
    const std::string name = localName();
    auto node = std::make_shared<MutableNodeData>();
    node->setType(kFileNode);
    node->setName(name.c_str());
    node->setModificationTime(static_cast<int64_t>(transfer->getModificationTime()));
    node->setSize(transfer->getSize());
    node->setKey(transfer->getNodeKey());
    node->setCrypto(transfer->getCryptoScheme());
    if (const auto* full = signature_->getFullHash()) {
        CLOG_DEBUG("Setting full hash for new file {}", name);
        node->setFullHash(full);
    }
    if (const auto* sparse = signature_->getSparseHash()) {
        CLOG_DEBUG("Setting sparse hash for new file {}", name);
        node->setSparseHash(sparse);
    }
    node->setParent(transfer->getNodeId());
    auto list = std::make_shared<NodeList>();
    list->push_back(node);
    const uint64_t attempt = attempt_;
    apiManager_->getCloud()->encryptNodeList(list, [this, alive = std::weak_ptr<bool>(alive_), transfer,
                                                    attempt](std::shared_ptr<Cloud::EncryptedNodeList> encrypted) {
        if (alive.expired()) {
            return;
        }
        if (!isCurrent(transfer, attempt)) {
            CLOG_DEBUG("Transfer already finished");
            return;
        }
        if (!encrypted || encrypted->empty()) {
            CLOG_ERROR("Error encrypting node metadata after upload for {}", pathOf(*transfer));
            finishTransfer(CRYPTOGRAPHIC_ERROR, "[trproc] Transfer finished with error");
            return;
        }
        const auto* token = transfer->getUploadToken();
        encrypted->front()->setUploadToken(token->data(), token->size());
        sendAddNodes(encrypted, true);
    });
}

void UploadTransferProcessor::sendAddNodes(
    const std::shared_ptr<std::vector<std::shared_ptr<EncryptedNodeData>>>& nodes, bool withToken) {
    auto action = std::make_shared<MutableActionData>(ADD_NODES);
    action->setParentHandle(transfer_->getNodeId());
    action->setTransfer(transfer_);
    if (withToken) {
        action->setNodes(std::make_shared<NodeList>(nodes->begin(), nodes->end()));
    }
    apiManager_->enqueueApiRequest(std::make_shared<AddNodesRequest>(action, nodes, apiManager_->getClientId()), this);
}

void UploadTransferProcessor::addFoundExistingNode(std::shared_ptr<NodeData> node) {
    auto transfer = transfer_;
    auto copy = std::make_shared<MutableNodeData>(*node);
    const std::string name = localName();
    copy->setName(name.c_str());
    if (transfer->getFullHash() != nullptr) {
        copy->setModificationTime(static_cast<int64_t>(localMtime_));
    }
    copy->setParent(transfer->getNodeId());
    auto list = std::make_shared<NodeList>();
    list->push_back(copy);
    const uint64_t attempt = attempt_;
    apiManager_->getCloud()->encryptNodeList(list, [this, alive = std::weak_ptr<bool>(alive_), transfer,
                                                    attempt](std::shared_ptr<Cloud::EncryptedNodeList> encrypted) {
        if (alive.expired()) {
            return;
        }
        if (!isCurrent(transfer, attempt)) {
            CLOG_DEBUG("Transfer already finished");
            return;
        }
        if (!encrypted || encrypted->empty()) {
            CLOG_ERROR("Unable to encrypt node for {}", pathOf(*transfer));
            startSigning(localMtime_);
            requestUploadLink();
            return;
        }
        transfer->setTransferred(transfer->getSize());
        if (TransferListener* owner = transfer->getOwner()) {
            owner->onTransferProgress(transfer);
        }
        transfer->setTransferred(transfer->getSize());
        sendAddNodes(encrypted, false);
    });
}

}  // namespace corvane
