#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

namespace corvane {

class Blake2b;

// Block fingerprints of a file, fed every 1 MiB block in file order. The strong sum of a block
// is its unkeyed 32-byte BLAKE2b (the strong sum of an rsync signature with RabinKarp and
// BLAKE2, block length 1 MiB, strong-sum length 32). The full hash is the 32-byte BLAKE2b of all
// strong sums in order; for files of more than 32 blocks, the sparse hash is the 32-byte
// BLAKE2b of the strong sums of the 32 sampled blocks (sparseHashSamples).
//
// Each byte is hashed once: the strong sum of a block feeds both hashes. The weak sums and the
// signature itself are never read, so they are not built.
class FileSignature {
public:
    FileSignature();
    virtual ~FileSignature();

    FileSignature(const FileSignature&) = delete;
    FileSignature& operator=(const FileSignature&) = delete;

    // Forgets everything; call before each initialize.
    void reset();
    void initialize(uint64_t size);
    // The next block: 1 MiB, except the last, which carries the remainder. Refused (and
    // logged) before initialize, beyond the announced size, or above 1 MiB.
    void addData(const std::vector<uint8_t>& block);
    // The same for a block whose strong sum was computed elsewhere (blockSum), so that the
    // hashing itself may run on other threads while the sums still go in in file order. An
    // empty sum (a failed hash) leaves no hash, as a failure inside addData does.
    void addBlockSum(uint64_t length, const std::vector<uint8_t>& strongSum);

    // The strong sum of one block: its unkeyed 32-byte BLAKE2b; empty when the hash failed.
    // Thread-safe.
    static std::vector<uint8_t> blockSum(const uint8_t* data, size_t size);

    // 32 bytes once every block was added; null for an empty file or before that.
    const std::vector<uint8_t>* getFullHash() const;
    // 32 bytes once every block of a file of more than 32 blocks was added; null otherwise.
    const std::vector<uint8_t>* getSparseHash() const;

private:
    // Whether a block of this length may come next; logs the refusal.
    bool accepts(uint64_t length) const;

    bool initialized_ = false;
    uint64_t size_ = 0;
    uint64_t processed_ = 0;
    uint64_t blockCount_ = 0;
    std::vector<uint8_t> fullHash_;
    std::vector<uint8_t> sparseHash_;
    std::unique_ptr<Blake2b> fullState_;
    std::unique_ptr<Blake2b> sparseState_;
    std::set<uint64_t> pendingSamples_;
};

// Number of blocks of a file: the size over 1 MiB, a remainder counting as one more.
uint64_t fingerprintBlockCount(uint64_t size);

// The 32 block indices the sparse hash samples, increasing; empty for 32 blocks or fewer.
std::vector<uint64_t> sparseHashSamples(uint64_t blockCount);

}  // namespace corvane
