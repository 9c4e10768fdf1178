#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace corvane {

class Blake2b;

// The sparse hash of a file of more than 32 blocks from its sampled blocks alone: equal to the
// sparse hash FileSignature computes from every block. Used once per file.
class SparseHash {
public:
    SparseHash();
    ~SparseHash();

    SparseHash(const SparseHash&) = delete;
    SparseHash& operator=(const SparseHash&) = delete;

    void reset();
    void initialize(uint64_t size);
    // Takes the block at the offset returned before (0 first) and returns the offset of the next
    // block wanted, or the size when no more is wanted. Refused (and logged, returning the size)
    // before initialize, for a file of 32 blocks or fewer, when every sample was fed, beyond the
    // size, or above 1 MiB.
    uint64_t addData(const std::vector<uint8_t>& block);
    // The same with the block's strong sum computed elsewhere (FileSignature::blockSum); an
    // empty sum (a failed hash) leaves no hash.
    uint64_t addBlockSum(uint64_t length, const std::vector<uint8_t>& strongSum);

    // 32 bytes once every sample was fed; null otherwise.
    const std::vector<uint8_t>* getSparseHash() const;

private:
    // Whether a block of this length may come next; logs the refusal.
    bool accepts(uint64_t length) const;

    bool initialized_ = false;
    uint64_t size_ = 0;
    uint64_t nextOffset_ = 0;
    uint64_t blockCount_ = 0;
    std::vector<uint8_t> sparseHash_;
    std::unique_ptr<Blake2b> sparseState_;
    std::deque<uint64_t> pendingSamples_;
};

}  // namespace corvane
