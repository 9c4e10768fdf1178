#include "fault_plan.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "raw_bytes.h"

namespace corvane::service {
namespace {

Fault faultOn(const std::string& prefix, int times, int status) {
    Fault fault;
    fault.pathPrefix = prefix;
    fault.times = times;
    fault.status = status;
    return fault;
}

std::vector<int> statusesFor(FaultPlan& plan, const std::vector<std::string>& paths) {
    std::vector<int> statuses;
    for (const auto& path : paths) {
        const auto fault = plan.take(path);
        statuses.push_back(fault ? fault->status : 0);
    }
    return statuses;
}

TEST(FaultPlan, MatchesByPrefixInOrderAddedAndUsesFaultsUp) {
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        std::vector<std::string> paths;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"once", {faultOn("/api", 1, 503)}, {"/api", "/api"}, {503, 0}},
        {"twice", {faultOn("/api", 2, 503)}, {"/api", "/api", "/api"}, {503, 503, 0}},
        {"other paths untouched", {faultOn("/data/", 1, 500)}, {"/api", "/echo", "/data/5", "/data/5"}, {0, 0, 500, 0}},
        {"empty prefix matches all", {faultOn("", 2, 404)}, {"/echo", "/api", "/api"}, {404, 404, 0}},
        {"first added wins, then the next",
         {faultOn("/api", 1, 500), faultOn("/a", 1, 403)},
         {"/api", "/api", "/api"},
         {500, 403, 0}},
        {"forever", {faultOn("/events/", -1, 502)}, {"/events/a", "/events/b", "/events/c"}, {502, 502, 502}},
        {"zero times never applies", {faultOn("", 0, 500)}, {"/api"}, {0}},
    };
    for (const auto& c : cases) {
        FaultPlan plan;
        for (const auto& fault : c.faults)
            plan.add(fault);
        EXPECT_EQ(statusesFor(plan, c.paths), c.expected) << c.name;
    }
}

TEST(FaultPlan, ClearRemovesEvenEndlessFaults) {
    FaultPlan plan;
    plan.add(faultOn("", -1, 500));
    plan.clear();
    EXPECT_FALSE(plan.take("/api").has_value());
}

TEST(FaultPlan, FlipsOnlyTheByteAtTheOffsetOfTheWholeBody) {
    std::string piece = "abcdef";
    flipBodyByte(piece.data(), piece.size(), 12, 10);  // body offset 12 = piece byte 2
    EXPECT_EQ(piece, std::string("ab") + char('c' ^ 0xFF) + "def");
    std::string untouched = "abcdef";
    flipBodyByte(untouched.data(), untouched.size(), 9, 10);
    flipBodyByte(untouched.data(), untouched.size(), 16, 10);
    flipBodyByte(untouched.data(), untouched.size(), -1, 0);
    EXPECT_EQ(untouched, "abcdef");
}

TEST(RawBytes, DataBytesFollowTheFormulaFromAnyOffset) {
    const std::string bytes = makeDataBytes(600);
    for (uint64_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(static_cast<unsigned char>(bytes[i]), (i * 7 + 3) % 256) << i;
    char piece[10];
    fillDataBytes(595, piece, 5);
    EXPECT_EQ(std::string(piece, 5), bytes.substr(595));
}

TEST(RawBytes, ParsesOnlyPlainDecimalLengths) {
    EXPECT_EQ(parseLength("0"), 0u);
    EXPECT_EQ(parseLength("1048576"), 1048576u);
    EXPECT_EQ(parseLength("9999999999999999999"), 9999999999999999999ull);
    for (const char* bad : {"", "-1", "+1", "12a", " 1", "99999999999999999999"})
        EXPECT_FALSE(parseLength(bad)) << bad;
}

TEST(RawBytes, GzipDecodesBackWithZlib) {
    const std::string original = makeDataBytes(100000);
    const std::string encoded = gzipEncode(original);
    ASSERT_GE(encoded.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(encoded[0]), 0x1F);
    EXPECT_EQ(static_cast<unsigned char>(encoded[1]), 0x8B);

    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    std::string decoded(original.size() + 1, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(encoded.data()));
    stream.avail_in = static_cast<uInt>(encoded.size());
    stream.next_out = reinterpret_cast<Bytef*>(decoded.data());
    stream.avail_out = static_cast<uInt>(decoded.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    decoded.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(decoded, original);
}

}  // namespace
}  // namespace corvane::service
