#include <gtest/gtest.h>

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>

#include <string>
#include <vector>

#include "util/base64.h"

namespace corvane {
namespace {

std::string encodeText(bool url, const std::vector<uint8_t>& bytes) {
    std::string text(Base64::encodedSize(bytes.size()) + 4, '?');
    Base64 codec;
    size_t n = url ? codec.encodeUrl(bytes.data(), bytes.size(), &text[0], text.size())
                   : codec.encode(bytes.data(), bytes.size(), &text[0], text.size());
    text.resize(n);
    return text;
}

std::vector<uint8_t> decodeText(bool url, const std::string& text, size_t capacity = 64) {
    std::vector<uint8_t> bytes(capacity);
    Base64 codec;
    size_t n = url ? codec.decodeUrl(text.c_str(), bytes.data(), bytes.size())
                   : codec.decode(text.c_str(), bytes.data(), bytes.size());
    bytes.resize(n);
    return bytes;
}

// Crypto++'s encoders as the independent reference.
std::string referenceEncode(bool url, const std::vector<uint8_t>& bytes) {
    std::string text;
    if (url) {
        CryptoPP::StringSource(bytes.data(), bytes.size(), true,
                               new CryptoPP::Base64URLEncoder(new CryptoPP::StringSink(text), false));
    } else {
        CryptoPP::StringSource(bytes.data(), bytes.size(), true,
                               new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), false));
    }
    return text;
}

TEST(Base64Test, MatchesTheReferenceForEveryLengthAndBothAlphabets) {
    CryptoPP::AutoSeededRandomPool random;
    for (size_t length = 0; length <= 70; ++length) {
        std::vector<uint8_t> bytes(length);
        random.GenerateBlock(bytes.data(), bytes.size());
        for (bool url : {false, true}) {
            SCOPED_TRACE(testing::Message() << "length " << length << (url ? " url" : " standard"));
            std::string text = encodeText(url, bytes);
            EXPECT_EQ(text, referenceEncode(url, bytes));
            EXPECT_EQ(text.size(), url ? Base64::encodedUrlSize(length) : Base64::encodedSize(length));
            EXPECT_EQ(decodeText(url, text, 128), bytes);
        }
    }
}

TEST(Base64Test, LengthsAndPadding) {
    EXPECT_EQ(encodeText(false, {0xFB, 0xFF}), "+/8=");
    EXPECT_EQ(encodeText(true, {0xFB, 0xFF}), "-_8");
    EXPECT_EQ(encodeText(true, std::vector<uint8_t>(6, 0xFF)), "________");
    EXPECT_EQ(encodeText(true, std::vector<uint8_t>(32, 0)).size(), 43u);
    EXPECT_EQ(encodeText(false, {}), "");
}

struct DecodeCase {
    const char* name;
    bool url;
    const char* text;
    std::vector<uint8_t> bytes;
};

class Base64DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(Base64DecodeTest, SkipsCharactersOutsideTheAlphabet) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(decodeText(c.url, c.text), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, Base64DecodeTest,
                         testing::Values(DecodeCase{"UrlCharacters", true, "-_-_", {0xFB, 0xFF, 0xBF}},
                                         // "-" and "_" are not standard: only "a" and "b" remain, 12 bits, one byte.
                                         DecodeCase{"UrlCharactersInStandard", false, "a-_b", {0x69}},
                                         DecodeCase{"PaddingAndSpaces", false, " +/8=\n", {0xFB, 0xFF}},
                                         DecodeCase{"StandardCharactersInUrl", true, "+/AQ==", {0x01}},
                                         DecodeCase{"LeftoverBitsDropped", true, "A", {}},
                                         DecodeCase{"Empty", true, "", {}}),
                         [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(Base64Test, OutputIsCutAtTheCapacity) {
    EXPECT_EQ(decodeText(false, "AAECAwQF", 4), (std::vector<uint8_t>{0, 1, 2, 3}));

    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
    char text[5] = {};
    EXPECT_EQ(Base64().encodeUrl(bytes, sizeof(bytes), text, 5), 5u);
    EXPECT_EQ(std::string(text, 5), "AQIDB");
    EXPECT_EQ(Base64().decode(nullptr, nullptr, 0), 0u);
}

}  // namespace
}  // namespace corvane
