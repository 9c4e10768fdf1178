#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/string_copy.h"

namespace corvane {
namespace {

TEST(StringCopyTest, CopyStringIsAnIndependentCopy) {
    char source[] = "inbox";
    char* copy = copyString(source);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, source);
    source[0] = 'X';
    EXPECT_STREQ(copy, "inbox");
    freeString(copy);
    EXPECT_EQ(copyString(nullptr), nullptr);
}

TEST(StringCopyTest, CopyDataOfNoBytesIsNotNull) {
    const uint8_t byte = 7;
    uint8_t* copy = copyData(&byte, 0);
    EXPECT_NE(copy, nullptr);
    freeData(copy);
    EXPECT_EQ(copyData(nullptr, 10), nullptr);
}

TEST(StringCopyTest, ReplaceStringFreesTheOldCopyAndNullClears) {
    char* field = copyString("first");
    char* stored = replaceString(&field, "second");
    EXPECT_EQ(stored, field);
    EXPECT_STREQ(field, "second");
    EXPECT_EQ(replaceString(&field, nullptr), nullptr);
    EXPECT_EQ(field, nullptr);
}

// A record that re-sets a field from its own getter must not read freed memory.
TEST(StringCopyTest, ReplaceWithTheFieldsOwnContentKeepsIt) {
    char* field = copyString("same");
    replaceString(&field, field);
    EXPECT_STREQ(field, "same");
    freeString(field);

    const uint8_t bytes[] = {1, 2, 3};
    uint8_t* data = copyData(bytes, sizeof(bytes));
    replaceData(&data, data, sizeof(bytes));
    EXPECT_EQ(std::memcmp(data, bytes, sizeof(bytes)), 0);
    replaceData(&data, nullptr, 0);
    EXPECT_EQ(data, nullptr);
}

}  // namespace
}  // namespace corvane
