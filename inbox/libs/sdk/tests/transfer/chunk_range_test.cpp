#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "transfer/transfer_processor.h"

namespace corvane {
namespace {

TEST(ChunkRangeTest, ChunksEndAtTheNextMebibyteOrAtTheLimit) {
    struct Case {
        uint64_t offset;
        uint64_t limit;
        uint64_t end;
    };
    const std::vector<Case> cases{
        {0, 3000000, 1048576},
        {1048576, 3000000, 2097152},
        {2097152, 3000000, 3000000},
        // An unaligned start gets a shorter first chunk.
        {1500000, 5000000, 2097152},
        {1048576, 2097152, 2097152},
        {0, 10, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(TransferProcessor::chunkEnd(c.offset, c.limit), c.end);
    }
}

}  // namespace
}  // namespace corvane
