#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "content_store.h"

namespace corvane::service::test {
namespace {

std::string randomContent(size_t size) {
    std::string bytes(size, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(size));
    return bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An upload completes exactly when the last byte not yet covered arrives, however the ranges
// overlap, touch or repeat, and the content then holds every byte where it belongs.
TEST(ContentStore, UploadCompletesWhenTheLastGapCloses) {
    struct Range {
        uint64_t first, last;
    };
    struct Case {
        const char* name;
        uint64_t size;
        std::vector<Range> ranges;
        int completesAt;  // index of the range that completes the upload, -1 for none
    };
    const std::vector<Case> cases = {
        {"in order", 30, {{0, 9}, {10, 19}, {20, 29}}, 2},
        {"backwards", 30, {{20, 29}, {10, 19}, {0, 9}}, 2},
        {"gap closed last", 30, {{0, 9}, {20, 29}, {10, 19}}, 2},
        {"overlapping", 30, {{0, 14}, {10, 24}, {20, 29}}, 2},
        {"repeated", 30, {{0, 9}, {0, 9}, {20, 29}, {20, 29}, {10, 19}}, 4},
        {"one byte short", 30, {{0, 9}, {10, 18}, {20, 29}}, -1},
        {"a range inside another", 30, {{0, 29}}, 0},
        {"covered inside, edges open", 30, {{1, 28}, {5, 6}, {0, 0}, {29, 29}}, 3},
        {"single bytes", 3, {{2, 2}, {0, 0}, {1, 1}}, 2},
        {"bridging two ranges", 30, {{0, 9}, {20, 29}, {5, 24}}, 2},
    };
    ContentStore store;
    ASSERT_TRUE(store.open(""));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = randomContent(c.size);
        const std::string id = store.beginUpload(7, c.size);
        ASSERT_FALSE(id.empty());
        std::string token;
        for (size_t i = 0; i < c.ranges.size(); ++i) {
            const Range& r = c.ranges[i];
            const auto outcome = store.writeChunk(id, r.first, r.last, content.data() + r.first, r.last - r.first + 1);
            const bool completes = static_cast<int>(i) == c.completesAt;
            EXPECT_EQ(outcome.result,
                      completes ? ContentStore::ChunkResult::Complete : ContentStore::ChunkResult::Stored)
                << "range " << i;
            EXPECT_EQ(outcome.completedNow, completes) << "range " << i;
            if (completes) token = outcome.token;
        }
        if (c.completesAt < 0) continue;
        const auto completed = store.completed(token);
        ASSERT_TRUE(completed);
        EXPECT_EQ(completed->account, 7u);
        EXPECT_EQ(completed->size, c.size);
        EXPECT_EQ(readFile(store.contentPath(completed->content)), content);
        // Once complete, a chunk stores nothing more and gets the same token.
        const std::string other(c.size, 'x');
        const auto late = store.writeChunk(id, 0, c.size - 1, other.data(), other.size());
        EXPECT_EQ(late.result, ContentStore::ChunkResult::Complete);
        EXPECT_FALSE(late.completedNow);
        EXPECT_EQ(late.token, token);
        EXPECT_EQ(readFile(store.contentPath(completed->content)), content);
    }
}

TEST(ContentStore, RefusesRangesOutsideTheUpload) {
    ContentStore store;
    ASSERT_TRUE(store.open(""));
    const std::string id = store.beginUpload(1, 10);
    const std::string bytes(20, 'a');
    struct Case {
        const char* name;
        std::string id;
        uint64_t first, last;
        size_t length;
        ContentStore::ChunkResult result;
    };
    const std::vector<Case> cases = {
        {"unknown upload", std::string(32, '0'), 0, 9, 10, ContentStore::ChunkResult::UnknownUpload},
        {"past the end", id, 5, 10, 6, ContentStore::ChunkResult::BadRange},
        {"length differs from the range", id, 0, 9, 9, ContentStore::ChunkResult::BadRange},
        {"backwards", id, 9, 0, 10, ContentStore::ChunkResult::BadRange},
        {"the whole", id, 0, 9, 10, ContentStore::ChunkResult::Complete},
    };
    for (const auto& c : cases)
        EXPECT_EQ(store.writeChunk(c.id, c.first, c.last, bytes.data(), c.length).result, c.result) << c.name;
}

// Uploads that never complete are forgotten, oldest first, so abandoned ones cannot pile up.
TEST(ContentStore, ForgetsTheOldestUnfinishedUploadsBeyondItsBound) {
    ContentStore store;
    ASSERT_TRUE(store.open(""));
    std::vector<std::string> ids;
    for (size_t i = 0; i < ContentStore::kMaxOpenUploads + 2; ++i)
        ids.push_back(store.beginUpload(1, 4));
    const char bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(store.writeChunk(ids[0], 0, 3, bytes, 4).result, ContentStore::ChunkResult::UnknownUpload);
    EXPECT_EQ(store.writeChunk(ids[1], 0, 3, bytes, 4).result, ContentStore::ChunkResult::UnknownUpload);
    EXPECT_EQ(store.writeChunk(ids[2], 0, 3, bytes, 4).result, ContentStore::ChunkResult::Complete);
    EXPECT_EQ(store.writeChunk(ids.back(), 0, 3, bytes, 4).result, ContentStore::ChunkResult::Complete);
}

}  // namespace
}  // namespace corvane::service::test
