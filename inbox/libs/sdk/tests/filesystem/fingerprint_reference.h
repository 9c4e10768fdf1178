#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <cryptopp/blake2.h>

namespace corvane {
namespace test {

constexpr uint64_t kMiB = 1048576;

// The fingerprint rules computed with Crypto++ alone, independent of the code under test:
// strong sum = unkeyed BLAKE2b-256 of a 1 MiB block (the last may be short); full hash =
// BLAKE2b-256 of every strong sum in order; for more than 32 blocks, sparse hash = BLAKE2b-256
// of the strong sums of blocks floor(i * (n - 1) / 31), i = 0..31.
struct ReferenceHashes {
    std::vector<uint8_t> full;
    std::vector<uint8_t> sparse;
};

inline std::vector<uint8_t> referenceBlake2b256(const uint8_t* data, size_t size) {
    CryptoPP::BLAKE2b hash(false, 32);
    hash.Update(data, size);
    std::vector<uint8_t> digest(32);
    hash.Final(digest.data());
    return digest;
}

inline uint64_t referenceBlockCount(uint64_t size) {
    return (size + kMiB - 1) / kMiB;
}

inline std::vector<uint64_t> referenceSamples(uint64_t blocks) {
    std::vector<uint64_t> samples;
    for (uint64_t i = 0; blocks > 32 && i < 32; i++) {
        samples.push_back(i * (blocks - 1) / 31);
    }
    return samples;
}

// block(k) gives the bytes of block k.
inline ReferenceHashes referenceHashes(uint64_t size, const std::function<std::vector<uint8_t>(uint64_t)>& block) {
    ReferenceHashes result;
    const uint64_t blocks = referenceBlockCount(size);
    if (blocks == 0) {
        return result;
    }
    std::vector<uint8_t> strongSums;
    for (uint64_t k = 0; k < blocks; k++) {
        std::vector<uint8_t> bytes = block(k);
        std::vector<uint8_t> sum = referenceBlake2b256(bytes.data(), bytes.size());
        strongSums.insert(strongSums.end(), sum.begin(), sum.end());
    }
    result.full = referenceBlake2b256(strongSums.data(), strongSums.size());
    if (blocks > 32) {
        std::vector<uint8_t> sampled;
        for (uint64_t k : referenceSamples(blocks)) {
            sampled.insert(sampled.end(), strongSums.begin() + k * 32, strongSums.begin() + (k + 1) * 32);
        }
        result.sparse = referenceBlake2b256(sampled.data(), sampled.size());
    }
    return result;
}

inline ReferenceHashes referenceHashesOfFile(const std::string& path, uint64_t size) {
    int descriptor = ::open(path.c_str(), O_RDONLY);
    ReferenceHashes result = referenceHashes(size, [&](uint64_t k) {
        std::vector<uint8_t> bytes(std::min(kMiB, size - k * kMiB));
        ssize_t got = pread(descriptor, bytes.data(), bytes.size(), static_cast<off_t>(k * kMiB));
        if (got != static_cast<ssize_t>(bytes.size())) {
            bytes.clear();
        }
        return bytes;
    });
    ::close(descriptor);
    return result;
}

// A file of the given size that is mostly holes: each block starts with its own 64-byte mark,
// so blocks differ, and the last byte of the file is set.
inline void makeSparseFile(const std::string& path, uint64_t size, uint8_t seed) {
    int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (ftruncate(descriptor, static_cast<off_t>(size)) != 0) {
        ::close(descriptor);
        return;
    }
    for (uint64_t offset = 0; offset < size; offset += kMiB) {
        uint8_t mark[64];
        for (size_t i = 0; i < sizeof(mark); i++) {
            mark[i] = static_cast<uint8_t>(seed ^ (offset >> 20) ^ (i * 31));
        }
        size_t length = static_cast<size_t>(std::min<uint64_t>(sizeof(mark), size - offset));
        (void)!pwrite(descriptor, mark, length, static_cast<off_t>(offset));
    }
    if (size > 0) {
        uint8_t last = static_cast<uint8_t>(seed + 1);
        (void)!pwrite(descriptor, &last, 1, static_cast<off_t>(size - 1));
    }
    ::close(descriptor);
}

}  // namespace test
}  // namespace corvane
