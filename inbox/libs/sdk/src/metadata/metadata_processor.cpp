#include "metadata/metadata_processor.h"

#include "corvane/error.h"
#include "crypto/crypto_manager.h"
#include "database/mutable_transfer_data.h"
#include "filesystem/filesystem_module.h"
#include "http/http_module.h"
#include "http/http_request.h"
#include "transfer/transfer_listener.h"
#include "util/log.h"
#include "util/speed_meter.h"

namespace corvane {

namespace {

constexpr int32_t kStatusActive = 3;
constexpr int32_t kHttpOk = 200;

// The crypto manager and the file module take no null buffer, which an empty vector may give.
const uint8_t kNoBytes = 0;

const uint8_t* bytesOf(const std::vector<uint8_t>& bytes) {
    return bytes.empty() ? &kNoBytes : bytes.data();
}

}  // namespace

MetadataProcessor::MetadataProcessor(HttpModule* httpModule, CryptoManager* cryptoManager,
                                     FilesystemModule* filesystemModule, MetadataManager* manager, int32_t direction)
    : httpModule_(httpModule),
      cryptoManager_(cryptoManager),
      filesystemModule_(filesystemModule),
      manager_(manager),
      speedMeter_(std::make_unique<SpeedMeter>(1)),
      direction_(direction),
      slotAttempt_(kRequestSlots, 0),
      sent_(kRequestSlots, false) {
    for (int32_t i = 0; i < kRequestSlots; ++i) {
        requests_.push_back(new HttpRequest());
    }
}

MetadataProcessor::~MetadataProcessor() {
    alive_.reset();
    transfer_.reset();
    for (size_t i = 0; i < requests_.size(); ++i) {
        if (sent_[i] && requests_[i]->state != HttpRequest::kIdle) {
            requests_[i]->listener = nullptr;
            httpModule_->cancel(requests_[i]);
        }
    }
    for (HttpRequest* request : requests_) {
        delete request;
    }
}

void MetadataProcessor::setTransfer(std::shared_ptr<MutableTransferData> transfer) {
    if (!transfer) {
        abandon();
        return;
    }
    ++attempt_;
    answered_ = false;
    answer_.clear();
    transfer_ = std::move(transfer);
    transfer_->setStatus(kStatusActive);
    CLOG_DEBUG("[trproc] Transfer activated");
    sendNextRequests();
}

std::shared_ptr<MutableTransferData> MetadataProcessor::abandon() {
    auto transfer = std::move(transfer_);
    transfer_.reset();
    ++attempt_;
    answered_ = false;
    answer_.clear();
    for (size_t i = 0; i < requests_.size(); ++i) {
        HttpRequest* request = requests_[i];
        if (request->state == HttpRequest::kIdle) {
            continue;
        }
        slotAttempt_[i] = 0;
        if (sent_[i]) {
            // The slot stays busy until the cancelled request has reported back.
            httpModule_->cancel(request);
        } else {
            // Reserved for a read or a seal that has not gone out: nothing to cancel.
            request->state = HttpRequest::kIdle;
        }
    }
    return transfer;
}

bool MetadataProcessor::isIdle() const {
    if (transfer_) {
        return false;
    }
    for (HttpRequest* request : requests_) {
        if (request->state != HttpRequest::kIdle) {
            return false;
        }
    }
    return true;
}

void MetadataProcessor::sendNextRequests() {
    if (!transfer_) {
        return;
    }
    if (answered_) {
        CLOG_DEBUG("[trproc] Completing transfer");
        int32_t error = 0;
        if (direction_ == 0) {
            if (!answer_.empty()) {
                transfer_->setUploadToken(answer_.data(), answer_.size());
            } else {
                // Nothing could be attached without a token.
                CLOG_ERROR("Upload token not received");
                error = IO_ERROR;
            }
        }
        finishTransfer(error);
        return;
    }
    for (HttpRequest* request : requests_) {
        if (request->state == HttpRequest::kIdle) {
            CLOG_DEBUG("[trproc] Sending request for metadata");
            sendNextRequest(request, transfer_->getCurrentOffset());
            return;
        }
    }
}

void MetadataProcessor::onHttpRequestProgress(HttpRequest* request, uint32_t downloaded, uint32_t uploaded,
                                              uint32_t downloadedDelta, uint32_t uploadedDelta) {
    if (!isCurrent(request)) {
        return;
    }
    const uint32_t delta = direction_ == 0 ? uploadedDelta : downloadedDelta;
    if (delta != 0) {
        speedMeter_->addBytes(delta);
    }
}

void MetadataProcessor::finishTransfer(int32_t error) {
    auto transfer = std::move(transfer_);
    transfer_.reset();
    if (!transfer) {
        return;
    }
    ++attempt_;
    answered_ = false;
    answer_.clear();
    if (error != 0) {
        transfer->setError(Error(error));
        CLOG_ERROR("[trproc] Transfer finished with error");
    } else {
        CLOG_DEBUG("[trproc] Transfer finished");
    }
    if (TransferListener* owner = transfer->getOwner()) {
        owner->onTransferFinish(transfer);
    }
}

void MetadataProcessor::reserve(HttpRequest* request, bool sent) {
    for (size_t i = 0; i < requests_.size(); ++i) {
        if (requests_[i] == request) {
            slotAttempt_[i] = attempt_;
            sent_[i] = sent;
        }
    }
    if (!sent) {
        request->state = HttpRequest::kStarting;
    }
}

void MetadataProcessor::send(HttpRequest* request) {
    request->url = transfer_->getLink() != nullptr ? transfer_->getLink() : "";
    request->listener = this;
    request->state = HttpRequest::kIdle;
    reserve(request, true);
    httpModule_->send(request);
}

void MetadataProcessor::markIdle(HttpRequest* request) {
    for (size_t i = 0; i < requests_.size(); ++i) {
        if (requests_[i] == request) {
            slotAttempt_[i] = 0;
            sent_[i] = false;
        }
    }
    request->state = HttpRequest::kIdle;
}

bool MetadataProcessor::isCurrent(HttpRequest* request) const {
    if (!transfer_) {
        return false;
    }
    for (size_t i = 0; i < requests_.size(); ++i) {
        if (requests_[i] == request) {
            return slotAttempt_[i] == attempt_;
        }
    }
    return false;
}

std::vector<uint8_t> MetadataProcessor::takeBody(HttpRequest* request) {
    std::vector<uint8_t> body;
    body.reserve(request->buffer.size());
    while (request->buffer.size() > 0) {
        const uint8_t* bytes = nullptr;
        const uint32_t n = request->buffer.read(&bytes, 0);
        body.insert(body.end(), bytes, bytes + n);
        request->buffer.consume(n);
    }
    return body;
}

// --- upload ---

UploadMetadataProcessor::UploadMetadataProcessor(HttpModule* httpModule, CryptoManager* cryptoManager,
                                                 FilesystemModule* filesystemModule, MetadataManager* manager)
    : MetadataProcessor(httpModule, cryptoManager, filesystemModule, manager, 0) {
}

void UploadMetadataProcessor::sendNextRequest(HttpRequest* request, uint64_t offset) {
    CLOG_DEBUG("[trproc] Starting metadata upload");
    auto transfer = transfer_;
    const uint64_t attempt = attempt_;
    reserve(request, false);
    transfer->setCurrentOffset(transfer->getSize());
    const std::string path = transfer->getFile() != nullptr ? transfer->getFile() : "";
    filesystemModule_->readFile(path, [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt,
                                       request](std::vector<uint8_t>* read) {
        std::shared_ptr<std::vector<uint8_t>> data(read);
        if (alive.expired() || !isCurrent(transfer, attempt)) {
            return;
        }
        if (!data) {
            CLOG_ERROR("Unable to read metadata from {}", transfer->getFile() != nullptr ? transfer->getFile() : "");
            markIdle(request);
            finishTransfer(IO_ERROR);
            return;
        }
        CLOG_DEBUG("[trproc] Metadata read from file ({} bytes)", data->size());
        cryptoManager_->encryptMetadata(transfer->getCryptoScheme(), bytesOf(*data), data->size(),
                                        transfer->getNodeKey(),
                                        [this, alive, transfer, attempt, request, data](CryptoBytes blob) {
                                            if (alive.expired() || !isCurrent(transfer, attempt)) {
                                                return;
                                            }
                                            sealed(request, std::move(blob));
                                        });
    });
}

void UploadMetadataProcessor::sealed(HttpRequest* request, std::unique_ptr<std::vector<uint8_t>> blob) {
    if (!blob || blob->empty()) {
        CLOG_ERROR("Unable to encrypt metadata");
        markIdle(request);
        finishTransfer(CRYPTOGRAPHIC_ERROR);
        return;
    }
    CLOG_DEBUG("[trproc] Metadata encrypted");
    request->body = std::move(*blob);
    send(request);
}

void UploadMetadataProcessor::onHttpRequestFinished(HttpRequest* request) {
    if (!isCurrent(request)) {
        markIdle(request);
        return;
    }
    std::vector<uint8_t> answer = takeBody(request);
    CLOG_DEBUG("[trproc] Metadata upload finished with {} bytes received", answer.size());
    const uint64_t sent = request->body.size();
    const int32_t status = request->status;
    request->body.clear();
    markIdle(request);
    if (status != kHttpOk) {
        CLOG_ERROR("Metadata upload failed with status {}", status);
        finishTransfer(IO_ERROR);
        return;
    }
    transfer_->setTransferred(transfer_->getTransferred() + sent);
    answer_ = std::move(answer);
    answered_ = true;
    sendNextRequests();
}

// --- download ---

DownloadMetadataProcessor::DownloadMetadataProcessor(HttpModule* httpModule, CryptoManager* cryptoManager,
                                                     FilesystemModule* filesystemModule, MetadataManager* manager)
    : MetadataProcessor(httpModule, cryptoManager, filesystemModule, manager, 1) {
}

void DownloadMetadataProcessor::sendNextRequest(HttpRequest* request, uint64_t offset) {
    CLOG_DEBUG("[trproc] Starting download request for metadata of size {}", transfer_->getSize());
    request->body.clear();
    transfer_->setCurrentOffset(transfer_->getSize());
    send(request);
}

void DownloadMetadataProcessor::onHttpRequestFinished(HttpRequest* request) {
    if (!isCurrent(request)) {
        markIdle(request);
        return;
    }
    auto body = std::make_shared<std::vector<uint8_t>>(takeBody(request));
    CLOG_DEBUG("[trproc] Download request finished for metadata with {} bytes received", body->size());
    if (request->status != kHttpOk) {
        // An error page is no blob.
        CLOG_ERROR("Metadata download failed with status {}", request->status);
        markIdle(request);
        finishTransfer(IO_ERROR);
        return;
    }
    auto transfer = transfer_;
    const uint64_t attempt = attempt_;
    // The slot stays busy until the blob is written.
    cryptoManager_->decryptMetadata(
        transfer->getCryptoScheme(), bytesOf(*body), body->size(), transfer->getNodeKey(),
        [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, request, body](CryptoBytes plain) {
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                markIdle(request);
                return;
            }
            opened(request, std::move(plain));
        });
}

void DownloadMetadataProcessor::opened(HttpRequest* request, std::unique_ptr<std::vector<uint8_t>> plain) {
    if (!plain) {
        CLOG_ERROR("Unable to decrypt metadata");
        markIdle(request);
        finishTransfer(CRYPTOGRAPHIC_ERROR);
        return;
    }
    CLOG_DEBUG("[trproc] Decrypted metadata");
    auto transfer = transfer_;
    const uint64_t attempt = attempt_;
    std::shared_ptr<std::vector<uint8_t>> data(std::move(plain));
    const std::string path = transfer->getFile() != nullptr ? transfer->getFile() : "";
    // The buffer lives in the completion until the write has answered.
    filesystemModule_->writeFile(
        path, bytesOf(*data), data->size(),
        [this, alive = std::weak_ptr<bool>(alive_), transfer, attempt, request, data, path](bool ok) {
            if (alive.expired()) {
                return;
            }
            if (!isCurrent(transfer, attempt)) {
                // The transfer was ended (cancelled) while its file was written: it must not
                // stay behind looking like a finished download.
                markIdle(request);
                if (ok) {
                    filesystemModule_->remove(path, [](bool) {});
                }
                return;
            }
            markIdle(request);
            if (!ok) {
                CLOG_ERROR("Unable to write metadata to {}", path);
                finishTransfer(IO_ERROR);
                return;
            }
            CLOG_DEBUG("[trproc] Metadata written to file");
            transfer_->setTransferred(transfer_->getTransferred() + data->size());
            answered_ = true;
            sendNextRequests();
        });
}

}  // namespace corvane
