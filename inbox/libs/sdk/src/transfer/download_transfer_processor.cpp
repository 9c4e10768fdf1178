#include "transfer/download_transfer_processor.h"

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_node_data.h"
#include "database/mutable_transfer_data.h"
#include "filesystem/file_signature.h"
#include "filesystem/filesystem_module.h"
#include "http/http_request.h"
#include "request/transfer_request.h"
#include "transfer/transfer_listener.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr int32_t kFileNode = 20;
constexpr int32_t kPublicKeyOption = 20;

}  // namespace

DownloadTransferProcessor::DownloadTransferProcessor(HttpModule* httpModule, CryptoManager* cryptoManager,
                                                     FilesystemModule* filesystemModule,
                                                     TransferManager* transferManager, ApiManager* apiManager)
    : TransferProcessor(httpModule, cryptoManager, filesystemModule, transferManager, apiManager, 1) {
}

DownloadTransferProcessor::~DownloadTransferProcessor() = default;

void DownloadTransferProcessor::resetState() {
    // Parked chunks belong to the transfer: once it was let go they may be gone with it.
    if (transfer_) {
        for (auto& entry : parked_) {
            entry.second->data.reset();
        }
    }
    parked_.clear();
    sums_.clear();
    bytesQueued_ = 0;
}

void DownloadTransferProcessor::requestLink() {
    auto transfer = transfer_;
    auto action = std::make_shared<MutableActionData>(DOWNLOAD);
    action->setNodeHandle(transfer->getNodeId());
    if (transfer->getFile() != nullptr) {
        action->setName(transfer->getFile());
    }
    auto requester = std::dynamic_pointer_cast<MutableActionData>(transfer->getAction());
    const int32_t option = requester ? requester->getOption() : 0;
    action->setOption(option);
    if (transfer->getSession() != nullptr) {
        action->setSession(transfer->getSession());
    }
    action->setTransfer(transfer);
    if (option == kPublicKeyOption && requester && requester->getPublicKey() != nullptr) {
        action->setPublicKey(new ByteVector(*requester->getPublicKey()));
    }
    apiManager_->enqueueApiRequest(std::make_shared<DownloadRequest>(action), this);
}

void DownloadTransferProcessor::requestFinished(int32_t type, const std::shared_ptr<Request>& request) {
    if (type != DOWNLOAD) {
        return;
    }
    auto transfer = transfer_;
    auto action = std::static_pointer_cast<MutableActionData>(request->getActionData());
    transfer->setSize(action->getSize());
    if (transfer->getEndOffset() == 0) {
        transfer->setEndOffset(action->getSize());
    }
    transfer->setCryptoScheme(static_cast<uint8_t>(action->getCrypto()));
    auto node = std::make_shared<MutableNodeData>();
    node->setType(kFileNode);
    node->setKey(transfer->getNodeKey());
    node->setCrypto(transfer->getCryptoScheme());
    Cloud* cloud = apiManager_->getCloud();
    const uint64_t attempt = attempt_;
    auto fail = [this]() {
        CLOG_ERROR("Error decrypting attributes");
        finishTransfer(CRYPTOGRAPHIC_ERROR, "[trproc] Transfer finished with error");
    };
    // A failed link request carries no attributes: nothing to fetch. Only empty content needs
    // no link.
    const bool linkMissing = transfer->getLink() == nullptr && transfer->getSize() > 0;
    if (action->getErrorCode() != 0 || action->getAttributes() == nullptr || cloud == nullptr || linkMissing) {
        fail();
        return;
    }
    auto attributes = std::make_shared<ByteVector>(*action->getAttributes());
    cloud->decryptAttributes(
        transfer->getCryptoScheme(), attributes.get(), node,
        [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, node, attributes, fail](bool ok) {
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                CLOG_DEBUG("Transfer already finished");
                return;
            }
            if (!ok) {
                fail();
                return;
            }
            transfer->setFullHash(node->getFullHash() != nullptr ? node->getFullHash()->data() : nullptr,
                                  node->getFullHash() != nullptr ? node->getFullHash()->size() : 0);
            if (TransferListener* owner = transfer->getOwner()) {
                owner->onTransferProgress(transfer);
            }
            if (isCurrent(transfer, attempt)) {
                startTransfer();
            }
        });
}

void DownloadTransferProcessor::fileOpened() {
    signature_->reset();
    signature_->initialize(transfer_->getSize());
    sendNextRequests();
}

bool DownloadTransferProcessor::sendNextRequest(HttpRequest* request, uint64_t offset) {
    if (offset >= transfer_->getStartOffset() + bytesDone_ + kMaxLookAhead) {
        // Far enough ahead of the writes; more goes out as chunks are written.
        return false;
    }
    const uint64_t end = chunkEnd(offset, transfer_->getEndOffset());
    CLOG_DEBUG("[trproc] Starting download request for chunk {}-{}", offset, end);
    TransferChunk& chunk = transfer_->getChunk(offset);
    chunk.offset = offset;
    request->body.clear();
    transfer_->setCurrentOffset(end);
    sendChunk(request, chunk, end);
    return true;
}

void DownloadTransferProcessor::onHttpRequestFinished(HttpRequest* request) {
    TransferChunk* chunk = contextOf(request);
    if (!transfer_ || chunk == nullptr) {
        CLOG_DEBUG("Download already finished");
        markIdle(request);
        if (isIdle()) {
            checkPending();
        }
        return;
    }
    const uint64_t end = chunkEnd(chunk->offset, transfer_->getEndOffset());
    auto body = std::make_shared<std::vector<uint8_t>>();
    body->reserve(request->buffer.size());
    while (request->buffer.size() > 0) {
        const uint8_t* bytes = nullptr;
        const uint32_t n = request->buffer.read(&bytes, 0);
        body->insert(body->end(), bytes, bytes + n);
        request->buffer.consume(n);
    }
    CLOG_DEBUG("[trproc] Download request finished for chunk {}-{} with {} bytes received", chunk->offset, end,
               body->size());
    if (request->status != 200 || body->size() != end - chunk->offset) {
        // An error page or a short answer is no chunk, and waiting would not bring the rest.
        CLOG_ERROR("Download of chunk {}-{} failed (status {}, {} bytes)", chunk->offset, end, request->status,
                   body->size());
        markIdle(request);
        finishTransfer(IO_ERROR, "[trproc] Transfer finished with error");
        return;
    }
    // The slot is free once the body is out of it: the next chunk is fetched while this one is
    // decrypted, hashed and written (the look-ahead bounds how far).
    bytesCompleted_ += body->size();
    inFlight_[request] = 0;
    markIdle(request);
    updateProgress();
    if (!transfer_) {
        return;
    }
    auto transfer = transfer_;
    const uint64_t attempt = attempt_;
    cryptoManager_->decryptData(
        transfer->getCryptoScheme(), body->data(), body->size(), chunk->offset, transfer->getNodeKey(),
        [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, chunk, body](CryptoBytes plain) {
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                CLOG_DEBUG("Download already finished");
                if (isIdle()) {
                    checkPending();
                }
                return;
            }
            decrypted(chunk, std::move(plain));
        });
    sendNextRequests();
}

void DownloadTransferProcessor::decrypted(TransferChunk* chunk, std::unique_ptr<std::vector<uint8_t>> plain) {
    const uint64_t end = chunkEnd(chunk->offset, transfer_->getEndOffset());
    if (!plain || plain->size() != end - chunk->offset) {
        CLOG_ERROR("Error decrypting chunk {}-{}", chunk->offset, end);
        finishTransfer(CRYPTOGRAPHIC_ERROR, "[trproc] Transfer finished with error");
        return;
    }
    CLOG_DEBUG("[trproc] Decrypted chunk {}-{}", chunk->offset, end);
    if (file_ == nullptr) {
        chunkReady(chunk, std::move(plain));
        return;
    }
    // The worker pool hashes the chunks as they come, several at once; the writes, in file
    // order, only add the sums to the signature.
    auto transfer = transfer_;
    const uint64_t attempt = attempt_;
    std::shared_ptr<std::vector<uint8_t>> shared(plain.release());
    filesystemModule_->sumBlock(shared, [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, chunk,
                                         shared](std::vector<uint8_t> sum) {
        if (alive.expired() || !isCurrent(transfer, attempt)) {
            return;
        }
        sums_[chunk->offset] = std::move(sum);
        // The job only read the bytes and has let them go.
        chunkReady(chunk, std::make_unique<std::vector<uint8_t>>(std::move(*shared)));
    });
}

void DownloadTransferProcessor::chunkReady(TransferChunk* chunk, std::unique_ptr<std::vector<uint8_t>> plain) {
    chunk->data = std::move(plain);
    if (transfer_->getStartOffset() + bytesQueued_ == chunk->offset) {
        CLOG_DEBUG("[trproc] Data is contiguous. Completing...");
        if (completeChunk(chunk)) {
            return;
        }
    } else {
        CLOG_DEBUG("[trproc] Data is NOT contiguous. Postponing completion.");
        parked_[chunk->offset] = chunk;
    }
    sendNextRequests();
}

bool DownloadTransferProcessor::completeChunk(TransferChunk* chunk) {
    const uint64_t end = chunk->offset + chunk->data->size();
    CLOG_DEBUG("[trproc] Completing chunk {}-{}", chunk->offset, end);
    parked_.erase(chunk->offset);
    const uint64_t n = chunk->data->size();
    if (file_ != nullptr) {
        // In file order, before the write goes out.
        auto sum = sums_.find(chunk->offset);
        if (sum != sums_.end()) {
            signature_->addBlockSum(n, sum->second);
            sums_.erase(sum);
        } else {
            signature_->addData(*chunk->data);
        }
        bytesQueued_ += n;
        auto transfer = transfer_;
        const uint64_t attempt = attempt_;
        file_->write(chunk->offset, chunk->data->data(), n,
                     [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, chunk, end, n](bool ok) {
                         if (alive.expired()) {
                             return;
                         }
                         if (!isCurrent(transfer, attempt)) {
                             CLOG_DEBUG("Download already finished");
                             return;
                         }
                         if (!ok) {
                             finishTransfer(IO_ERROR, "[trproc] Transfer finished with error");
                             return;
                         }
                         CLOG_DEBUG("[trproc] Chunk {}-{} written to file", chunk->offset, end);
                         if (!chunkWritten(chunk, n)) {
                             // The look-ahead moved on.
                             sendNextRequests();
                         }
                     });
        // The writes go out in file order, each without waiting for the one before to answer.
        return completeNextChunk();
    }
    bytesQueued_ += n;
    auto transfer = transfer_;
    transfer->setData(std::move(*chunk->data));
    chunk->data.reset();
    if (TransferListener* owner = transfer->getOwner()) {
        owner->onTransferProgress(transfer);
    }
    if (transfer_ != transfer) {
        return true;
    }
    return chunkWritten(chunk, n);
}

bool DownloadTransferProcessor::chunkWritten(TransferChunk* chunk, uint64_t n) {
    chunk->bytesWritten = static_cast<int32_t>(n);
    bytesDone_ += n;
    chunk->data.reset();
    if (checkCompletion()) {
        return true;
    }
    // A written chunk's successors went out with it; a chunk handed on is followed by the next.
    return file_ != nullptr ? false : completeNextChunk();
}

bool DownloadTransferProcessor::completeNextChunk() {
    if (!transfer_) {
        return false;
    }
    auto next = parked_.find(transfer_->getStartOffset() + bytesQueued_);
    if (next == parked_.end()) {
        return false;
    }
    return completeChunk(next->second);
}

void DownloadTransferProcessor::completeTransfer() {
    auto transfer = transfer_;
    if (!transfer) {
        CLOG_DEBUG("Transfer already finished");
        return;
    }
    const std::vector<uint8_t>* written = signature_->getFullHash();
    const std::vector<uint8_t>* expected = transfer->getFullHash();
    auto finish = [this, transfer]() {
        if (transfer_ != transfer) {
            return;
        }
        transfer_.reset();
        ++attempt_;
        CLOG_DEBUG("[trproc] Transfer finished");
        transfer->setStatus(4);
        if (TransferListener* owner = transfer->getOwner()) {
            owner->onTransferFinish(transfer);
        }
    };
    if (written != nullptr && expected != nullptr) {
        if (*written == *expected) {
            CLOG_DEBUG("Transfer data correctly verified");
            finish();
            return;
        }
        // A file that is known to be wrong must not stay behind looking like the download.
        CLOG_ERROR("Corrupt transfer data");
        transfer->setError(Error(IO_ERROR));
        filesystemModule_->remove(transfer->getFile(), [alive = std::weak_ptr<bool>(alive_), finish](bool) {
            if (!alive.expired()) {
                finish();
            }
        });
        return;
    }
    if (transfer->getSize() > 0) {
        CLOG_ERROR("Unable to verify transfer data");
    } else {
        CLOG_DEBUG("Skipping data verification of zero-byte transfer");
    }
    finish();
}

}  // namespace corvane
