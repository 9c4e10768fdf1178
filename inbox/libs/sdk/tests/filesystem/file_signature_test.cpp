#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <librsync.h>

#include "filesystem/file_signature.h"
#include "filesystem/sparse_hash.h"
#include "filesystem_test_support.h"
#include "fingerprint_reference.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::kMiB;

std::vector<uint8_t> blockOf(const std::vector<uint8_t>& data, uint64_t k) {
    const uint64_t begin = k * kMiB;
    const uint64_t end = std::min<uint64_t>(begin + kMiB, data.size());
    return std::vector<uint8_t>(data.begin() + begin, data.begin() + end);
}

// Every block in order through a FileSignature.
void signAll(FileSignature& signature, const std::vector<uint8_t>& data) {
    signature.reset();
    signature.initialize(data.size());
    for (uint64_t k = 0; k * kMiB < data.size(); k++) {
        signature.addData(blockOf(data, k));
    }
}

// Only the blocks SparseHash asks for.
std::vector<uint8_t> sparseFromSamples(const std::vector<uint8_t>& data, std::vector<uint64_t>* asked = nullptr) {
    SparseHash hash;
    hash.initialize(data.size());
    uint64_t offset = 0;
    while (offset != data.size()) {
        if (asked) {
            asked->push_back(offset / kMiB);
        }
        offset = hash.addData(blockOf(data, offset / kMiB));
    }
    const std::vector<uint8_t>* sparse = hash.getSparseHash();
    return sparse ? *sparse : std::vector<uint8_t>();
}

TEST(SparseSampleTest, SamplesFollowTheTable) {
    const std::vector<uint64_t> forHundred = {0,  3,  6,  9,  12, 15, 19, 22, 25, 28, 31, 35, 38, 41, 44, 47,
                                              51, 54, 57, 60, 63, 67, 70, 73, 76, 79, 83, 86, 89, 92, 95, 99};
    EXPECT_EQ(sparseHashSamples(100), forHundred);
    std::vector<uint64_t> forThirtyThree;
    for (uint64_t i = 0; i <= 30; i++) {
        forThirtyThree.push_back(i);
    }
    forThirtyThree.push_back(32);
    EXPECT_EQ(sparseHashSamples(33), forThirtyThree);
    EXPECT_TRUE(sparseHashSamples(32).empty());
    EXPECT_TRUE(sparseHashSamples(0).empty());
    for (uint64_t n : {33ull, 34ull, 63ull, 64ull, 1000ull, 1025ull, 1ull << 40}) {
        std::vector<uint64_t> samples = sparseHashSamples(n);
        ASSERT_EQ(samples.size(), 32u) << n;
        EXPECT_EQ(samples.front(), 0u);
        EXPECT_EQ(samples.back(), n - 1);
        EXPECT_TRUE(std::adjacent_find(samples.begin(), samples.end(), std::greater_equal<uint64_t>()) == samples.end())
            << n;
        EXPECT_EQ(samples, test::referenceSamples(n));
    }
    EXPECT_EQ(fingerprintBlockCount(0), 0u);
    EXPECT_EQ(fingerprintBlockCount(1), 1u);
    EXPECT_EQ(fingerprintBlockCount(kMiB), 1u);
    EXPECT_EQ(fingerprintBlockCount(kMiB + 1), 2u);
}

struct SizeCase {
    std::string name;
    uint64_t size;
};

class FileSignatureTest : public testing::TestWithParam<SizeCase> {};

TEST_P(FileSignatureTest, HashesMatchTheReference) {
    const std::vector<uint8_t> data = test::patternBytes(GetParam().size, 17);
    const test::ReferenceHashes expected =
        test::referenceHashes(data.size(), [&](uint64_t k) { return blockOf(data, k); });
    FileSignature signature;
    signAll(signature, data);
    const std::vector<uint8_t>* full = signature.getFullHash();
    const std::vector<uint8_t>* sparse = signature.getSparseHash();
    if (expected.full.empty()) {
        EXPECT_EQ(full, nullptr);
    } else {
        ASSERT_NE(full, nullptr);
        EXPECT_EQ(*full, expected.full);
    }
    if (expected.sparse.empty()) {
        EXPECT_EQ(sparse, nullptr);
        EXPECT_TRUE(sparseFromSamples(data).empty());
    } else {
        ASSERT_NE(sparse, nullptr);
        EXPECT_EQ(*sparse, expected.sparse);
        // The sampled blocks alone give the same sparse hash.
        std::vector<uint64_t> asked;
        EXPECT_EQ(sparseFromSamples(data, &asked), *sparse);
        EXPECT_EQ(asked, sparseHashSamples(fingerprintBlockCount(data.size())));
    }
    // Sums computed apart from the signature and added in file order give the same hashes.
    FileSignature fromSums;
    fromSums.initialize(data.size());
    for (uint64_t k = 0; k * kMiB < data.size(); k++) {
        const std::vector<uint8_t> block = blockOf(data, k);
        fromSums.addBlockSum(block.size(), FileSignature::blockSum(block.data(), block.size()));
    }
    EXPECT_EQ(fromSums.getFullHash() ? *fromSums.getFullHash() : std::vector<uint8_t>(), expected.full);
    EXPECT_EQ(fromSums.getSparseHash() ? *fromSums.getSparseHash() : std::vector<uint8_t>(), expected.sparse);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSignatureTest,
                         testing::Values(SizeCase{"Empty", 0}, SizeCase{"OneByte", 1}, SizeCase{"OneBlock", kMiB},
                                         SizeCase{"OneBlockAndOneByte", kMiB + 1},
                                         SizeCase{"ThirtyTwoBlocks", 32 * kMiB},
                                         SizeCase{"ThirtyTwoBlocksAndOneByte", 32 * kMiB + 1},
                                         SizeCase{"FortyBlocksAndAShortOne", 40 * kMiB + 12345}),
                         [](const testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

// A file of one block: the full hash is BLAKE2b-256 of BLAKE2b-256 of the block.
TEST(FileSignatureTest, OneBlockIsTheHashOfItsStrongSum) {
    const std::vector<uint8_t> data = test::patternBytes(kMiB, 1);
    FileSignature signature;
    signAll(signature, data);
    std::vector<uint8_t> strong = test::referenceBlake2b256(data.data(), data.size());
    ASSERT_NE(signature.getFullHash(), nullptr);
    EXPECT_EQ(*signature.getFullHash(), test::referenceBlake2b256(strong.data(), strong.size()));
}

// The strong sums are exactly those of librsync's RabinKarp + BLAKE2 signature: the full hash
// taken from librsync's own signature output equals the one computed here.
TEST(FileSignatureTest, StrongSumsAreThoseOfTheRsyncSignature) {
    const std::vector<uint8_t> data = test::patternBytes(3 * kMiB + 999, 23);
    const uint64_t blocks = 4;
    rs_job_t* job = rs_sig_begin(kMiB, 32, RS_RK_BLAKE2_SIG_MAGIC);
    ASSERT_NE(job, nullptr);
    std::vector<uint8_t> signature(12 + 36 * blocks);
    rs_buffers_t buffers{};
    buffers.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data.data()));
    buffers.avail_in = data.size();
    buffers.eof_in = 1;
    buffers.next_out = reinterpret_cast<char*>(signature.data());
    buffers.avail_out = signature.size();
    rs_result result = RS_BLOCKED;
    for (int round = 0; round < 100 && result == RS_BLOCKED; round++) {
        result = rs_job_iter(job, &buffers);
    }
    rs_job_free(job);
    ASSERT_EQ(result, RS_DONE);
    ASSERT_EQ(buffers.avail_out, 0u);
    std::vector<uint8_t> strongSums;
    for (uint64_t k = 0; k < blocks; k++) {
        auto sum = signature.begin() + 12 + 36 * k + 4;
        strongSums.insert(strongSums.end(), sum, sum + 32);
    }
    FileSignature fileSignature;
    signAll(fileSignature, data);
    ASSERT_NE(fileSignature.getFullHash(), nullptr);
    EXPECT_EQ(*fileSignature.getFullHash(), test::referenceBlake2b256(strongSums.data(), strongSums.size()));
}

// Misuse is logged and leaves the state as it was: the complete sequence still gives the
// right hashes.
TEST(FileSignatureTest, RefusedBlocksLeaveTheHashesUnaffected) {
    test::LogCapture log;
    const std::vector<uint8_t> data = test::patternBytes(2 * kMiB + 5, 4);
    FileSignature signature;
    signature.addData(blockOf(data, 0));
    EXPECT_EQ(log.count("Error adding data to file signature"), 1u);
    signature.initialize(data.size());
    EXPECT_EQ(signature.getFullHash(), nullptr);
    EXPECT_TRUE(log.contains("Error getting full hash"));
    signature.addData(std::vector<uint8_t>(kMiB + 1, 0));
    signature.addData(blockOf(data, 0));
    signature.addData(blockOf(data, 1));
    signature.addData(std::vector<uint8_t>(6, 0));  // beyond the size
    signature.addData(blockOf(data, 2));
    EXPECT_EQ(log.count("Error adding data to file signature"), 3u);
    ASSERT_NE(signature.getFullHash(), nullptr);
    EXPECT_EQ(*signature.getFullHash(),
              test::referenceHashes(data.size(), [&](uint64_t k) { return blockOf(data, k); }).full);

    SparseHash small;
    small.initialize(32 * kMiB);
    EXPECT_EQ(small.addData(std::vector<uint8_t>(kMiB, 0)), 32 * kMiB);
    EXPECT_EQ(small.getSparseHash(), nullptr);
    SparseHash large;
    large.initialize(40 * kMiB);
    EXPECT_EQ(large.addData(std::vector<uint8_t>(kMiB + 1, 0)), 40 * kMiB);
    EXPECT_EQ(large.getSparseHash(), nullptr);
    EXPECT_TRUE(log.contains("Error getting sparse hash"));
}

// A block whose hash failed (an empty sum) leaves no hash that could pass for the file's, and
// sums are refused where blocks would be.
TEST(FileSignatureTest, AFailedBlockSumLeavesNoHash) {
    test::LogCapture log;
    const std::vector<uint8_t> data = test::patternBytes(40 * kMiB, 8);
    FileSignature signature;
    signature.initialize(data.size());
    signature.addBlockSum(kMiB, FileSignature::blockSum(data.data(), kMiB));
    signature.addBlockSum(kMiB + 1, std::vector<uint8_t>(32, 0));
    EXPECT_EQ(log.count("Error adding data to file signature"), 1u);
    signature.addBlockSum(kMiB, {});
    for (uint64_t k = 2; k < 40; k++) {
        signature.addBlockSum(kMiB, FileSignature::blockSum(data.data() + k * kMiB, kMiB));
    }
    EXPECT_EQ(signature.getFullHash(), nullptr);
    EXPECT_EQ(signature.getSparseHash(), nullptr);
    EXPECT_EQ(FileSignature::blockSum(data.data(), kMiB), test::referenceBlake2b256(data.data(), kMiB));
}

}  // namespace
}  // namespace corvane
