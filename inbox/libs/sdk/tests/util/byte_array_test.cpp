#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "util/byte_array.h"

namespace corvane {
namespace {

TEST(ByteArrayTest, FlatbufferArrayViewsTheFinishedMessageAndEmptiesTheSource) {
    flatbuffers::FlatBufferBuilder builder;
    auto text = builder.CreateString("record");
    builder.Finish(text);
    std::vector<uint8_t> expected(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());

    flatbuffers::DetachedBuffer detached = builder.Release();
    std::unique_ptr<ByteArray> array = std::make_unique<FlatbufferByteArray>(std::move(detached));
    EXPECT_EQ(detached.size(), 0u);
    ASSERT_EQ(array->size(), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(array->data(), array->data() + array->size()), expected);
    EXPECT_EQ(array->at(expected.size() - 1), expected.back());
}

TEST(ByteArrayTest, VectorArrayOwnsItsVector) {
    std::unique_ptr<ByteArray> array = std::make_unique<VectorByteArray>(new std::vector<uint8_t>{4, 5, 6});
    EXPECT_EQ(array->size(), 3u);
    EXPECT_EQ(array->at(1), 5);
    EXPECT_EQ(array->data()[2], 6);

    VectorByteArray empty(nullptr);
    EXPECT_EQ(empty.size(), 0u);
}

}  // namespace
}  // namespace corvane
