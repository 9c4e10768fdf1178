#include "filesystem/sparse_hash.h"

#include "crypto/blake2b.h"
#include "filesystem/file_signature.h"
#include "filesystem/filesystem_module.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr size_t kHashSize = 32;

}  // namespace

SparseHash::SparseHash() {
    reset();
}

SparseHash::~SparseHash() = default;

void SparseHash::reset() {
    initialized_ = false;
    size_ = 0;
    nextOffset_ = 0;
    blockCount_ = 0;
    sparseHash_.clear();
    sparseState_.reset();
    pendingSamples_.clear();
}

void SparseHash::initialize(uint64_t size) {
    size_ = size;
    nextOffset_ = 0;
    blockCount_ = fingerprintBlockCount(size);
    std::vector<uint64_t> samples = sparseHashSamples(blockCount_);
    if (!samples.empty()) {
        sparseState_ = std::make_unique<Blake2b>(kHashSize);
        pendingSamples_.assign(samples.begin(), samples.end());
    } else {
        CLOG_DEBUG("[fsign] ({} bytes) Empty sparse hashready", size_);
    }
    initialized_ = true;
}

bool SparseHash::accepts(uint64_t length) const {
    if (!initialized_ || nextOffset_ + length > size_ || length > kHashBlockSize || pendingSamples_.empty() ||
        !sparseState_) {
        CLOG_ERROR("[fsign] ({} bytes) Error adding data to file signature", size_);
        return false;
    }
    return true;
}

uint64_t SparseHash::addData(const std::vector<uint8_t>& block) {
    if (!accepts(block.size())) {
        return size_;
    }
    return addBlockSum(block.size(), FileSignature::blockSum(block.data(), block.size()));
}

uint64_t SparseHash::addBlockSum(uint64_t length, const std::vector<uint8_t>& strongSum) {
    if (!accepts(length)) {
        return size_;
    }
    if (strongSum.size() != kHashSize || !sparseState_->update(strongSum.data(), kHashSize)) {
        // No sample may be skipped: give up, leaving no hash.
        CLOG_ERROR("[fsign] ({} bytes) Error hashing sampled block", size_);
        sparseState_.reset();
        pendingSamples_.clear();
        return size_;
    }
    pendingSamples_.pop_front();
    if (!pendingSamples_.empty()) {
        nextOffset_ = pendingSamples_.front() * kHashBlockSize;
        return nextOffset_;
    }
    nextOffset_ = size_;
    sparseHash_.resize(kHashSize);
    if (!sparseState_->final(sparseHash_.data())) {
        sparseHash_.clear();
    }
    CLOG_DEBUG("[fsign] ({} bytes) SPARSE hash ready", size_);
    return size_;
}

const std::vector<uint8_t>* SparseHash::getSparseHash() const {
    if (initialized_ && nextOffset_ == size_) {
        if (blockCount_ <= 32) {
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
