#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "util/memory_usage.h"

namespace corvane {
namespace {

TEST(MemoryUsageTest, CurrentAndPeakGrowWithTouchedMemory) {
    uint64_t before = getCurrentMemoryUsage();
    ASSERT_GT(before, 0u);
    constexpr size_t kBytes = 64 << 20;
    std::unique_ptr<char[]> block(new char[kBytes]);
    std::memset(block.get(), 1, kBytes);
    uint64_t during = getCurrentMemoryUsage();
    EXPECT_GE(during, before + kBytes / 2);
    EXPECT_GE(getPeakMemoryUsage(), during);
    EXPECT_EQ(block[kBytes - 1], 1);
}

}  // namespace
}  // namespace corvane
