#include "http/http_request_buffer.h"

#include <string>

#include <gtest/gtest.h>

namespace corvane {
namespace {

const uint8_t* bytes(const char* text) {
    return reinterpret_cast<const uint8_t*>(text);
}

std::string take(HttpRequestBuffer& buffer, uint32_t maximum) {
    const uint8_t* out = nullptr;
    uint32_t count = buffer.read(&out, maximum);
    return count ? std::string(reinterpret_cast<const char*>(out), count) : std::string();
}

TEST(HttpRequestBufferTest, UnboundedGrowsAndHandsOutEverything) {
    HttpRequestBuffer buffer;
    EXPECT_TRUE(buffer.write(bytes("hello "), 6));
    EXPECT_TRUE(buffer.write(bytes("world"), 5));
    EXPECT_EQ(buffer.size(), 11u);
    EXPECT_EQ(buffer.getTotalWritten(), 11u);
    EXPECT_EQ(take(buffer, 0), "hello world");
    EXPECT_EQ(buffer.size(), 0u);
    const uint8_t* out = reinterpret_cast<const uint8_t*>(1);
    EXPECT_EQ(buffer.read(&out, 0), 0u);
    EXPECT_EQ(out, nullptr);
}

TEST(HttpRequestBufferTest, UnboundedReadToItsEndThenWrittenAgainHandsOutOnlyTheNewBytes) {
    HttpRequestBuffer buffer;
    buffer.reserve(64);
    ASSERT_TRUE(buffer.write(bytes("abc"), 3));
    EXPECT_EQ(take(buffer, 0), "abc");
    ASSERT_TRUE(buffer.write(bytes("de"), 2));
    EXPECT_EQ(take(buffer, 0), "de");
    buffer.unread(2);
    EXPECT_EQ(take(buffer, 0), "de");
}

TEST(HttpRequestBufferTest, ReserveLeavesARingAsItIs) {
    HttpRequestBuffer buffer;
    buffer.setCapacity(4);
    buffer.reserve(1024);
    EXPECT_EQ(buffer.getCapacity(), 4u);
    EXPECT_TRUE(buffer.write(bytes("abcd"), 4));
    EXPECT_FALSE(buffer.write(bytes("e"), 1));
}

TEST(HttpRequestBufferTest, BoundedRefusesWhatDoesNotFitAndWritesNothing) {
    HttpRequestBuffer buffer;
    buffer.setCapacity(8);
    EXPECT_FALSE(buffer.write(bytes("0123456789"), 10));
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(buffer.getTotalWritten(), 0u);
    EXPECT_TRUE(buffer.write(bytes("01234567"), 8));
    EXPECT_FALSE(buffer.write(bytes("x"), 1));
}

TEST(HttpRequestBufferTest, ReadHandsOutOneContiguousRunAcrossTheWrap) {
    HttpRequestBuffer buffer;
    buffer.setCapacity(8);
    ASSERT_TRUE(buffer.write(bytes("abcdef"), 6));
    EXPECT_EQ(take(buffer, 6), "abcdef");
    buffer.consume(6);
    // Six bytes that wrap after two (write position 6 of 8).
    ASSERT_TRUE(buffer.write(bytes("ghijkl"), 6));
    EXPECT_EQ(take(buffer, 0), "gh");
    EXPECT_EQ(take(buffer, 0), "ijkl");
    EXPECT_EQ(take(buffer, 0), "");
}

TEST(HttpRequestBufferTest, UnreadAtTheEndOfTheRingGoesBackFromTheStorageSize) {
    HttpRequestBuffer buffer;
    buffer.setCapacity(4);
    ASSERT_TRUE(buffer.write(bytes("abcd"), 4));
    EXPECT_EQ(take(buffer, 0), "abcd");  // read position wraps to 0
    buffer.unread(2);
    EXPECT_EQ(buffer.size(), 2u);
    EXPECT_EQ(take(buffer, 0), "cd");
}

TEST(HttpRequestBufferTest, SpaceCallbackRunsOnceWhenTheWantedSpaceIsFree) {
    HttpRequestBuffer buffer;
    int calls = 0;
    void* seen = nullptr;
    int marker = 0;
    buffer.setSpaceCallback(
        [&](void* context) {
            ++calls;
            seen = context;
        },
        &marker);
    buffer.setCapacity(12);
    ASSERT_TRUE(buffer.write(bytes("01234567"), 8));  // free 4
    ASSERT_FALSE(buffer.write(bytes("abcdefghij"), 10));
    buffer.consume(2);  // free 6: still short
    EXPECT_EQ(calls, 0);
    buffer.consume(6);  // free 12
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, &marker);
    buffer.consume(1);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(buffer.write(bytes("abcdefghij"), 10));
}

TEST(HttpRequestBufferTest, ResetEmptiesButKeepsTheCapacity) {
    HttpRequestBuffer buffer;
    buffer.setCapacity(4);
    ASSERT_TRUE(buffer.write(bytes("abcd"), 4));
    buffer.reset();
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(buffer.getTotalWritten(), 0u);
    EXPECT_EQ(buffer.getCapacity(), 4u);
    EXPECT_TRUE(buffer.write(bytes("wxyz"), 4));
    EXPECT_FALSE(buffer.write(bytes("!"), 1));
    buffer.setCapacity(0);
    EXPECT_TRUE(buffer.write(bytes("unbounded again"), 15));
}

// A record is sent again and again: whatever the earlier answer left in the storage (kept
// for reuse or not), a send's reset followed by a new answer hands out that answer alone.
TEST(HttpRequestBufferTest, ReusedBufferHandsOutOnlyTheNewAnswer) {
    struct Case {
        const char* name;
        uint32_t oldCapacity;  // 0: unbounded
        uint32_t oldLength;
        uint32_t oldTaken;     // bytes of the old answer read (and given back) before the reset
        uint32_t newCapacity;  // 0: unbounded
        uint32_t newReserve;   // for an unbounded new answer
        uint32_t newLength;
        uint32_t readStep;  // maximum per read; 0: all
    };
    const uint32_t kMiB = 1u << 20;
    const Case cases[] = {
        {"unread unbounded answer, then a short one", 0, kMiB, 0, 0, 0, 100, 0},
        {"unbounded answer read to its end, then a reserved one", 0, kMiB, kMiB, 0, 5000, 5000, 0},
        {"ring half read, then a smaller ring", kMiB, kMiB, kMiB / 2, 4096, 0, 4096, 1000},
        {"ring, then an unbounded answer", kMiB, kMiB, 0, 0, 0, 3000, 0},
        {"answer above the kept size, then a ring", 0, 6 * kMiB, 0, kMiB, 0, kMiB, 65536},
        {"ring, then a longer ring", 4096, 4096, 4096, kMiB, 0, kMiB - 7, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpRequestBuffer buffer;
        buffer.setCapacity(c.oldCapacity);
        const std::string oldAnswer(c.oldLength, 'o');
        ASSERT_TRUE(buffer.write(bytes(oldAnswer.c_str()), c.oldLength));
        for (uint32_t taken = 0; taken < c.oldTaken;) {
            const uint8_t* out = nullptr;
            uint32_t count = buffer.read(&out, c.oldTaken - taken);
            ASSERT_GT(count, 0u);
            buffer.consume(count);
            taken += count;
        }

        // As a send prepares the record, then as the transport sizes it for the answer.
        buffer.setCapacity(0);
        if (c.newCapacity) {
            buffer.setCapacity(c.newCapacity);
        } else if (c.newReserve) {
            buffer.reserve(c.newReserve);
        }
        std::string newAnswer(c.newLength, '\0');
        for (uint32_t i = 0; i < c.newLength; ++i) {
            newAnswer[i] = static_cast<char>('a' + i % 26);
        }
        ASSERT_TRUE(buffer.write(bytes(newAnswer.c_str()), c.newLength));
        EXPECT_EQ(buffer.size(), c.newLength);
        EXPECT_EQ(buffer.getTotalWritten(), c.newLength);

        std::string handedOut;
        while (true) {
            std::string run = take(buffer, c.readStep);
            if (run.empty()) {
                break;
            }
            buffer.consume(static_cast<uint32_t>(run.size()));
            handedOut += run;
        }
        EXPECT_EQ(handedOut.size(), newAnswer.size());
        EXPECT_TRUE(handedOut == newAnswer);
    }
}

}  // namespace
}  // namespace corvane
