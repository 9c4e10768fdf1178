#include "transfer/transfer_processor.h"

#include <ctime>

#include "api/api_manager.h"
#include "corvane/action_data.h"
#include "corvane/error.h"
#include "corvane/mutable_action_data.h"
#include "database/mutable_transfer_data.h"
#include "filesystem/file_signature.h"
#include "filesystem/filesystem_module.h"
#include "http/http_module.h"
#include "http/http_request.h"
#include "request/request.h"
#include "transfer/transfer_listener.h"
#include "transfer/transfer_manager.h"
#include "util/log.h"
#include "util/speed_meter.h"

namespace corvane {

namespace {

constexpr int32_t kStatusActive = 3;
constexpr int32_t kStatusFinished = 4;

}  // namespace

TransferProcessor::TransferProcessor(HttpModule* httpModule, CryptoManager* cryptoManager,
                                     FilesystemModule* filesystemModule, TransferManager* transferManager,
                                     ApiManager* apiManager, int32_t direction)
    : apiManager_(apiManager),
      httpModule_(httpModule),
      cryptoManager_(cryptoManager),
      filesystemModule_(filesystemModule),
      transferManager_(transferManager),
      speedMeter_(std::make_unique<SpeedMeter>(1)),
      direction_(direction),
      signature_(std::make_unique<FileSignature>()),
      sent_(kRequestSlots, false) {
    for (int32_t i = 0; i < kRequestSlots; ++i) {
        requests_.push_back(new HttpRequest());
    }
}

TransferProcessor::~TransferProcessor() {
    // Continuations still on their way find the processor gone.
    alive_.reset();
    cancelRequests();
    if (file_ != nullptr) {
        File* file = file_;
        file_ = nullptr;
        file->release();
    }
    for (HttpRequest* request : requests_) {
        delete request;
    }
}

uint64_t TransferProcessor::chunkEnd(uint64_t offset, uint64_t limit) {
    const uint64_t boundary = offset - (offset % kChunkSize) + kChunkSize;
    return boundary < limit ? boundary : limit;
}

void TransferProcessor::setTransfer(std::shared_ptr<MutableTransferData> transfer) {
    ++attempt_;
    bytesDone_ = 0;
    bytesCompleted_ = 0;
    inFlightSum_ = 0;
    inFlight_.clear();
    reported_ = false;
    resetState();
    if (!transfer) {
        transfer_.reset();
        cancelRequests();
        if (file_ != nullptr) {
            File* file = file_;
            file_ = nullptr;
            file->closeAndDelete(true, [this, alive = std::weak_ptr<bool>(alive_)](bool) {
                if (alive.expired()) {
                    return;
                }
                if (isIdle()) {
                    checkPending();
                }
            });
            return;
        }
        if (isIdle()) {
            checkPending();
        }
        return;
    }
    transfer_ = std::move(transfer);
    transfer_->setProcessor(this);
    transfer_->setStatus(kStatusActive);
    auto held = transfer_;
    if (TransferListener* owner = held->getOwner()) {
        owner->onTransferStart(held);
    }
    if (transfer_ != held) {
        return;
    }
    if (direction_ == 1 && held->getLink() == nullptr) {
        requestLink();
        return;
    }
    startTransfer();
}

void TransferProcessor::startTransfer() {
    auto transfer = transfer_;
    if (transfer->getFile() == nullptr) {
        CLOG_DEBUG("[trproc] Transfer activated");
        sendNextRequests();
        return;
    }
    const uint64_t attempt = attempt_;
    auto opened = [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt](File* file) {
        if (alive.expired()) {
            if (file != nullptr) {
                file->release();
            }
            return;
        }
        if (!isCurrent(transfer, attempt)) {
            CLOG_DEBUG("Transfer already finished");
            if (file != nullptr) {
                file->release();
            }
            return;
        }
        if (file == nullptr) {
            CLOG_ERROR("Unable to open file {}", transfer->getFile());
            finishTransfer(IO_ERROR, "[trproc] Transfer finished with error");
            return;
        }
        CLOG_DEBUG("[trproc] Transfer activated");
        file_ = file;
        fileOpened();
    };
    if (direction_ == 1) {
        filesystemModule_->openReadWriteAccess(transfer->getFile(), transfer->getSize(), opened);
    } else {
        filesystemModule_->openReadAccess(transfer->getFile(), opened);
    }
}

void TransferProcessor::sendNextRequests() {
    if (!transfer_) {
        return;
    }
    if (transfer_->getSize() == 0) {
        checkCompletion();
        return;
    }
    CLOG_DEBUG("[trproc] Checking progress. Start: {}  End: {}  Total: {}  Progress: {}", transfer_->getStartOffset(),
               transfer_->getEndOffset(), transfer_->getEndOffset() - transfer_->getStartOffset(),
               transfer_->getTransferred());
    while (transfer_ && transfer_->getCurrentOffset() < transfer_->getEndOffset()) {
        HttpRequest* request = getIdleRequest();
        if (request == nullptr) {
            return;
        }
        CLOG_DEBUG("[trproc] Sending request for offset {}", transfer_->getCurrentOffset());
        if (!sendNextRequest(request, transfer_->getCurrentOffset())) {
            return;
        }
    }
}

HttpRequest* TransferProcessor::getIdleRequest() {
    for (HttpRequest* request : requests_) {
        if (request->state == HttpRequest::kIdle) {
            return request;
        }
    }
    CLOG_DEBUG("[trproc] No available HTTP request for transfer");
    return nullptr;
}

bool TransferProcessor::isIdle() const {
    if (transfer_ && !transfer_->isRetrying()) {
        return false;
    }
    for (HttpRequest* request : requests_) {
        if (request->state != HttpRequest::kIdle) {
            return false;
        }
    }
    return file_ == nullptr;
}

void TransferProcessor::onHttpRequestProgress(HttpRequest* request, uint32_t downloaded, uint32_t uploaded,
                                              uint32_t downloadedDelta, uint32_t uploadedDelta) {
    if (!transfer_ || contextOf(request) == nullptr) {
        return;
    }
    const uint32_t sofar = direction_ == 0 ? uploaded : downloaded;
    const uint32_t delta = direction_ == 0 ? uploadedDelta : downloadedDelta;
    inFlight_[request] = static_cast<int32_t>(sofar);
    if (delta != 0) {
        speedMeter_->addBytes(delta);
    }
    updateProgress();
}

void TransferProcessor::updateProgress() {
    int32_t sum = 0;
    for (const auto& entry : inFlight_) {
        sum += entry.second;
    }
    inFlightSum_ = static_cast<uint64_t>(static_cast<uint32_t>(sum));
    const uint64_t total = bytesCompleted_ + inFlightSum_;
    if (!transfer_ || total == transfer_->getPreviousTransferred()) {
        return;
    }
    // Bytes move in pieces of a few KiB and each report crosses to the owner: between the first
    // and the last, reports are coalesced.
    const auto now = std::chrono::steady_clock::now();
    const bool last = total >= transfer_->getEndOffset() - transfer_->getStartOffset();
    if (reported_ && !last && now - lastReport_ < kProgressInterval) {
        return;
    }
    reported_ = true;
    lastReport_ = now;
    auto transfer = transfer_;
    transfer->setSpeed(speedMeter_->getSpeed());
    transfer->setTransferred(total);
    if (TransferListener* owner = transfer->getOwner()) {
        owner->onTransferProgress(transfer);
    }
    transfer->setTransferred(total);
}

void TransferProcessor::cancelRequests() {
    for (size_t i = 0; i < requests_.size(); ++i) {
        HttpRequest* request = requests_[i];
        if (request->state == HttpRequest::kIdle) {
            continue;
        }
        request->ownerData = nullptr;
        if (sent_[i]) {
            httpModule_->cancel(request);
        } else {
            // Reserved for a read or an encryption that has not gone out: nothing to cancel.
            request->state = HttpRequest::kIdle;
        }
    }
    inFlight_.clear();
}

TransferChunk* TransferProcessor::contextOf(HttpRequest* request) const {
    return static_cast<TransferChunk*>(request->ownerData);
}

void TransferProcessor::markIdle(HttpRequest* request) {
    for (size_t i = 0; i < requests_.size(); ++i) {
        if (requests_[i] == request) {
            sent_[i] = false;
        }
    }
    request->ownerData = nullptr;
    request->state = HttpRequest::kIdle;
}

void TransferProcessor::sendChunk(HttpRequest* request, TransferChunk& chunk, uint64_t end) {
    request->url =
        std::string(transfer_->getLink()) + "/" + std::to_string(chunk.offset) + "-" + std::to_string(end - 1);
    request->listener = this;
    request->ownerData = &chunk;
    request->lowSpeedLimit = kLowSpeedLimit;
    request->lowSpeedTime = kLowSpeedTime;
    request->state = HttpRequest::kIdle;
    for (size_t i = 0; i < requests_.size(); ++i) {
        if (requests_[i] == request) {
            sent_[i] = true;
        }
    }
    httpModule_->send(request);
}

void TransferProcessor::checkPending() {
    if (transferManager_ != nullptr) {
        transferManager_->checkPendingTransfers(direction_);
    }
}

bool TransferProcessor::checkCompletion() {
    if (!transfer_ || bytesDone_ != transfer_->getEndOffset() - transfer_->getStartOffset()) {
        return false;
    }
    CLOG_DEBUG("[trproc] Completing transfer");
    if (file_ != nullptr) {
        closeFile([this, alive = std::weak_ptr<bool>(alive_)]() {
            if (alive.expired()) {
                return;
            }
            completeTransfer();
        });
        return true;
    }
    auto transfer = transfer_;
    transfer_.reset();
    CLOG_DEBUG("[trproc] Transfer finished");
    transfer->setStatus(kStatusFinished);
    if (TransferListener* owner = transfer->getOwner()) {
        owner->onTransferFinish(transfer);
    }
    return true;
}

void TransferProcessor::closeFile(std::function<void()> next) {
    if (file_ == nullptr) {
        next();
        return;
    }
    File* file = file_;
    file_ = nullptr;
    file->closeAndDelete(false, [alive = std::weak_ptr<bool>(alive_), next](bool) {
        if (!alive.expired()) {
            next();
        }
    });
}

void TransferProcessor::finishTransfer(int32_t error, const char* line) {
    auto transfer = transfer_;
    if (!transfer) {
        return;
    }
    // Chunks parked for the transfer go before it is let go.
    resetState();
    transfer_.reset();
    ++attempt_;
    cancelRequests();
    transfer->setError(Error(error));
    if (error != 0) {
        CLOG_ERROR("{}", line);
    } else {
        CLOG_DEBUG("{}", line);
    }
    // The owner hears of the end once the file is closed, or removed when a download failed.
    releaseFile([transfer]() {
        transfer->setStatus(kStatusFinished);
        if (TransferListener* owner = transfer->getOwner()) {
            owner->onTransferFinish(transfer);
        }
    });
}

void TransferProcessor::releaseFile(std::function<void()> then) {
    if (file_ == nullptr) {
        then();
        return;
    }
    File* file = file_;
    file_ = nullptr;
    auto done = [this, alive = std::weak_ptr<bool>(alive_), then](bool) {
        if (alive.expired()) {
            return;
        }
        then();
        if (isIdle()) {
            checkPending();
        }
    };
    file->closeAndDelete(direction_ == 1, done);
}

void TransferProcessor::retryTransfer() {
    auto transfer = transfer_;
    if (!transfer) {
        return;
    }
    if (direction_ == 1) {
        finishTransfer(IO_ERROR, "[trproc] Transfer finished with error");
        return;
    }
    ++attempt_;
    cancelRequests();
    resetState();
    bytesCompleted_ = 0;
    bytesDone_ = 0;
    transfer->setTransferred(0);
    transfer->setCurrentOffset(0);
    transfer->setLink(nullptr);
    if (transfer->getRetryCount() >= retryPolicy_.limit) {
        finishTransfer(IO_ERROR, "[trproc] Transfer finished with error. Retries limit was exceded.");
        return;
    }
    CLOG_WARN("[{}] Retrying... n: {}", transfer->getFile() != nullptr ? transfer->getFile() : "",
              transfer->getRetryCount());
    // The waiting transfer no longer belongs to this processor, which may serve another one
    // meanwhile: cancelling it must not reach back here.
    transfer_.reset();
    transfer->setProcessor(nullptr);
    transfer->setStatus(TransferData::kStatusRetrying);
    transfer->setLastFailureTime(static_cast<int64_t>(std::time(nullptr)));
    if (TransferListener* owner = transfer->getOwner()) {
        owner->onTransferError(transfer);
    }
    if (isIdle()) {
        checkPending();
    }
}

void TransferProcessor::finished(std::shared_ptr<Request> request) {
    auto action = std::dynamic_pointer_cast<MutableActionData>(request->getActionData());
    if (!transfer_ || !action || action->getTransfer() != transfer_) {
        CLOG_DEBUG("Transfer already finished");
        return;
    }
    transfer_->setLink(action->getText());
    requestFinished(action->getType(), request);
}

}  // namespace corvane
