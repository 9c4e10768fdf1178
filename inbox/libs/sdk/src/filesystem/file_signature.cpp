#include "filesystem/file_signature.h"

#include "crypto/blake2b.h"
#include "filesystem/filesystem_module.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr size_t kHashSize = 32;
constexpr uint64_t kSampleCount = 32;

}  // namespace

uint64_t fingerprintBlockCount(uint64_t size) {
    return size / kHashBlockSize + (size % kHashBlockSize ? 1 : 0);
}

std::vector<uint64_t> sparseHashSamples(uint64_t blockCount) {
    std::vector<uint64_t> samples;
    if (blockCount <= kSampleCount) {
        return samples;
    }
    samples.reserve(kSampleCount);
    for (uint64_t i = 0; i < kSampleCount; i++) {
        samples.push_back(i * (blockCount - 1) / (kSampleCount - 1));
    }
    return samples;
}

FileSignature::FileSignature() {
    reset();
}

FileSignature::~FileSignature() = default;

void FileSignature::reset() {
    initialized_ = false;
    size_ = 0;
    processed_ = 0;
    blockCount_ = 0;
    fullHash_.clear();
    sparseHash_.clear();
    fullState_.reset();
    sparseState_.reset();
    pendingSamples_.clear();
}

void FileSignature::initialize(uint64_t size) {
    processed_ = 0;
    size_ = size;
    blockCount_ = fingerprintBlockCount(size);
    if (size == 0) {
        CLOG_DEBUG("[fsign] ({} bytes) Empty file signature ready", size_);
    } else {
        fullState_ = std::make_unique<Blake2b>(kHashSize);
        CLOG_DEBUG("[fsign] ({} bytes) Signature started", size_);
        if (blockCount_ > kSampleCount) {
            sparseState_ = std::make_unique<Blake2b>(kHashSize);
            for (uint64_t sample : sparseHashSamples(blockCount_)) {
                pendingSamples_.insert(sample);
            }
        }
    }
    initialized_ = true;
}

std::vector<uint8_t> FileSignature::blockSum(const uint8_t* data, size_t size) {
    std::vector<uint8_t> sum(kHashSize);
    if (!Blake2b::hash(data, size, sum.data(), kHashSize)) {
        sum.clear();
    }
    return sum;
}

void FileSignature::addData(const std::vector<uint8_t>& block) {
    if (!accepts(block.size())) {
        return;
    }
    addBlockSum(block.size(), blockSum(block.data(), block.size()));
}

bool FileSignature::accepts(uint64_t length) const {
    if (!initialized_ || processed_ + length > size_ || length > kHashBlockSize || !fullState_) {
        CLOG_ERROR("[fsign] ({} bytes) Error adding data to file signature", size_);
        return false;
    }
    return true;
}

void FileSignature::addBlockSum(uint64_t length, const std::vector<uint8_t>& strongSum) {
    if (!accepts(length)) {
        return;
    }
    const uint64_t index = processed_ / kHashBlockSize;
    bool ok = strongSum.size() == kHashSize;
    CLOG_DEBUG("[fsign] ({} bytes) Block {} of {} at {}. Bytes: {}  Result: {}", size_, index + 1, blockCount_,
               processed_, length, ok);
    ok = ok && fullState_->update(strongSum.data(), kHashSize);
    if (ok && sparseState_) {
        auto sample = pendingSamples_.find(index);
        if (sample != pendingSamples_.end()) {
            ok = sparseState_->update(strongSum.data(), kHashSize);
            pendingSamples_.erase(sample);
        }
    }
    if (!ok) {
        // A back end that fails mid-way must not leave hashes that look complete.
        CLOG_ERROR("[fsign] ({} bytes) Error hashing block {}", size_, index + 1);
        fullState_.reset();
        sparseState_.reset();
        return;
    }
    processed_ += length;
    if (processed_ == size_) {
        fullHash_.resize(kHashSize);
        if (!fullState_->final(fullHash_.data())) {
            fullHash_.clear();
        }
        CLOG_DEBUG("[fsign] ({} bytes) FULL hash ready", size_);
        if (sparseState_) {
            sparseHash_.resize(kHashSize);
            if (!sparseState_->final(sparseHash_.data())) {
                sparseHash_.clear();
            }
            CLOG_DEBUG("[fsign] ({} bytes) SPARSE hash ready", size_);
        }
    }
}

const std::vector<uint8_t>* FileSignature::getFullHash() const {
    if (initialized_ && processed_ == size_) {
        if (size_ == 0) {
            return nullptr;
        }
        if (!fullHash_.empty()) {
            return &fullHash_;
        }
    }
    CLOG_ERROR("[fsign] ({} bytes) Error getting full hash", size_);
    return nullptr;
}

const std::vector<uint8_t>* FileSignature::getSparseHash() const {
    if (initialized_ && processed_ == size_) {
        if (blockCount_ <= kSampleCount) {
            return nullptr;
        }
        if (!sparseHash_.empty()) {
            return &sparseHash_;
        }
    }
    CLOG_ERROR("[fsign] ({} bytes) Error getting sparse hash", size_);
    return nullptr;
}

}  // namespace corvane
