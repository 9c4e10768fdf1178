#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filesystem/file_signature.h"
#include "filesystem_test_support.h"
#include "fingerprint_reference.h"

namespace corvane {
namespace {

namespace stdfs = std::filesystem;
using test::FsHarness;
using test::FsTempDir;
using test::kMiB;

uint64_t mtimeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return static_cast<uint64_t>(st.st_mtim.tv_sec);
}

struct FingerprintCase {
    std::string name;
    uint64_t size;
};

class HashFileTest : public testing::TestWithParam<FingerprintCase> {};

// Files of up to 32 MiB get the full hash only, larger ones the sparse hash only.
TEST_P(HashFileTest, FingerprintMatchesTheReference) {
    FsTempDir dir;
    const std::string path = dir.file("file");
    const uint64_t size = GetParam().size;
    test::makeSparseFile(path, size, 42);
    const test::ReferenceHashes expected = test::referenceHashesOfFile(path, size);
    FsHarness h;
    FsHarness::Hashes hashes = h.hash(path);
    EXPECT_TRUE(hashes.ok);
    EXPECT_EQ(hashes.size, size);
    EXPECT_EQ(hashes.mtime, mtimeOf(path));
    if (size > 32 * kMiB) {
        EXPECT_TRUE(hashes.full.empty());
        ASSERT_EQ(hashes.sparse.size(), 32u);
        EXPECT_EQ(hashes.sparse, expected.sparse);
    } else {
        EXPECT_TRUE(hashes.sparse.empty());
        EXPECT_EQ(hashes.full, expected.full);
        EXPECT_EQ(hashes.full.size(), size ? 32u : 0u);
    }
    EXPECT_TRUE(h.allOnMainLoop());
}

INSTANTIATE_TEST_SUITE_P(Sizes, HashFileTest,
                         testing::Values(FingerprintCase{"Empty", 0}, FingerprintCase{"OneMiB", kMiB},
                                         FingerprintCase{"ThirtyTwoMiB", 32 * kMiB},
                                         FingerprintCase{"ThirtyTwoMiBAndOneByte", 32 * kMiB + 1},
                                         FingerprintCase{"HundredMiB", 100 * kMiB}),
                         [](const testing::TestParamInfo<FingerprintCase>& info) { return info.param.name; });

// The full pass over every block and the sampled pass agree on the sparse hash of one file.
TEST(HashFilePassTest, FullPassAndSampledPassGiveTheSameSparseHash) {
    FsTempDir dir;
    const std::string path = dir.file("file");
    const uint64_t size = 100 * kMiB + 777;
    test::makeSparseFile(path, size, 7);
    FsHarness h;
    auto full = h.wait<FsHarness::Hashes>([&](std::function<void(FsHarness::Hashes)> done) {
        h.fs().fullHashFile(
            path, [done](std::vector<uint8_t> f, std::vector<uint8_t> s, uint64_t size, uint64_t mtime, bool ok) {
                done({f, s, size, mtime, ok});
            });
    });
    auto sampled = h.wait<FsHarness::Hashes>([&](std::function<void(FsHarness::Hashes)> done) {
        h.fs().sparseHashFile(path, [done](std::vector<uint8_t> s, uint64_t size, uint64_t mtime, bool ok) {
            done({{}, s, size, mtime, ok});
        });
    });
    ASSERT_TRUE(full.ok);
    ASSERT_TRUE(sampled.ok);
    EXPECT_EQ(full.full, test::referenceHashesOfFile(path, size).full);
    ASSERT_EQ(full.sparse.size(), 32u);
    EXPECT_EQ(full.sparse, sampled.sparse);
    EXPECT_EQ(full.size, size);
    EXPECT_EQ(sampled.size, size);
}

// A change between two hashes changes the fingerprint: a byte of a small file, a byte of a
// sampled block of a large one.
TEST(HashFileChangeTest, AChangedFileGivesADifferentFingerprint) {
    FsTempDir dir;
    FsHarness h;
    for (uint64_t size : {5 * kMiB + 3, 64 * kMiB}) {
        const std::string path = dir.file("file" + std::to_string(size));
        test::makeSparseFile(path, size, 9);
        FsHarness::Hashes before = h.hash(path);
        ASSERT_TRUE(before.ok);
        const uint64_t changed =
            size > 32 * kMiB ? sparseHashSamples(fingerprintBlockCount(size))[17] * kMiB + 500 : 3 * kMiB + 1;
        {
            int descriptor = ::open(path.c_str(), O_WRONLY);
            const uint8_t byte = 0x5a;
            ASSERT_EQ(pwrite(descriptor, &byte, 1, static_cast<off_t>(changed)), 1);
            ::close(descriptor);
        }
        FsHarness::Hashes after = h.hash(path);
        ASSERT_TRUE(after.ok);
        EXPECT_NE(before.full.empty() ? before.sparse : before.full, after.full.empty() ? after.sparse : after.full)
            << size;
        EXPECT_EQ(after.size, size);
    }
}

// Failures report ok = false with nothing else; a symbolic-link loop is one of them.
TEST(HashFileFailureTest, MissingFolderAndLinkLoopFail) {
    FsTempDir dir;
    stdfs::create_directory(dir.file("folder"));
    stdfs::create_symlink(dir.file("loop2"), dir.file("loop"));
    stdfs::create_symlink(dir.file("loop"), dir.file("loop2"));
    FsHarness h;
    for (const std::string& path : {dir.file("missing"), dir.file("loop")}) {
        FsHarness::Hashes hashes = h.hash(path);
        EXPECT_FALSE(hashes.ok) << path;
        EXPECT_TRUE(hashes.full.empty() && hashes.sparse.empty());
        EXPECT_EQ(hashes.size, 0u);
        EXPECT_EQ(hashes.mtime, 0u);
    }
    // A folder cannot be opened as a file.
    test::makeSparseFile(dir.file("folder/x"), 10, 1);
    FsHarness::Hashes folder = h.hash(dir.file("folder"));
    EXPECT_FALSE(folder.ok);
}

}  // namespace
}  // namespace corvane
