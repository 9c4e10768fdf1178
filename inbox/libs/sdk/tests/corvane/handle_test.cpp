#include <gtest/gtest.h>

#include <string>

#include "corvane/handle.h"

namespace corvane {
namespace {

struct HandleCase {
    const char* name;
    uint64_t handle;
    std::string text;         // 6 low bytes
    std::string textOrEmpty;  // 6 low bytes, 0 empty
    std::string session;      // all 8 bytes
};

class HandleTextTest : public testing::TestWithParam<HandleCase> {};

TEST_P(HandleTextTest, TextForms) {
    const HandleCase& c = GetParam();
    EXPECT_EQ(getHandleText(c.handle), c.text);
    EXPECT_EQ(getHandleTextOrEmpty(c.handle), c.textOrEmpty);
    EXPECT_EQ(getSessionHandleText(c.handle), c.session);
    EXPECT_EQ(getHandleFromText(c.text), c.handle & 0xFFFFFFFFFFFFull);
    EXPECT_EQ(getHandleFromText(c.session), c.handle);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandleTextTest,
    testing::Values(HandleCase{"One", 1, "AQAAAAAA", "AQAAAAAA", "AQAAAAAAAAA"},
                    HandleCase{"Zero", 0, "AAAAAAAA", "", "AAAAAAAAAAA"},
                    HandleCase{"SixLowBytesSet", 0xFFFFFFFFFFFFull, "________", "________", "________AAA"},
                    // The two high bytes are not part of the node form.
                    HandleCase{"HighBytesDropped", 0x0102000000000003ull, "AwAAAAAA", "AwAAAAAA", "AwAAAAAAAgE"}),
    [](const testing::TestParamInfo<HandleCase>& info) { return std::string(info.param.name); });

TEST(HandleTest, Base64UrlTextOfBytes) {
    const uint8_t bytes[] = {0xFB, 0xFF};
    EXPECT_EQ(getBase64UrlText(bytes, 2), "-_8");
    EXPECT_EQ(getBase64UrlText(nullptr, 2), "");
    std::vector<uint8_t> empty;
    EXPECT_EQ(getBase64UrlText(&empty), "");
}

}  // namespace
}  // namespace corvane
