#include "http/http_header_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace corvane {
namespace {

using Kind = HeaderLine::Kind;

TEST(HttpHeaderParserTest, ClassifiesLines) {
    struct Case {
        const char* name;
        std::string line;
        Kind kind;
        std::string text, field, value;
    };
    const std::vector<Case> cases = {
        {"end of headers", "\r\n", Kind::EndOfHeaders, "", "", ""},
        {"short line", "ab\r\n", Kind::Unprocessed, "ab", "", ""},
        {"bare LF", "\n", Kind::Unprocessed, "", "", ""},
        {"status line", "HTTP/1.1 200 OK\r\n", Kind::StatusLine, "HTTP/1.1 200 OK", "", ""},
        {"field lower-cased, value too", "Corvane-Original-Content-Length: 1048576\r\n", Kind::Field,
         "Corvane-Original-Content-Length: 1048576", "corvane-original-content-length", "1048576"},
        {"first colon-space splits", "X-Note: a: B\r\n", Kind::Field, "X-Note: a: B", "x-note", "a: b"},
        {"empty value", "X-Empty: \r\n", Kind::Field, "X-Empty: ", "x-empty", ""},
        {"colon without space", "Content-Type:text/plain\r\n", Kind::Unstored, "Content-Type:text/plain", "", ""},
        {"no colon", "garbage line\r\n", Kind::Unstored, "garbage line", "", ""},
    };
    for (const Case& c : cases) {
        HeaderLine line = parseHeaderLine(c.line.data(), c.line.size());
        EXPECT_EQ(line.kind, c.kind) << c.name;
        EXPECT_EQ(line.text, c.text) << c.name;
        EXPECT_EQ(line.name, c.field) << c.name;
        EXPECT_EQ(line.value, c.value) << c.name;
    }
}

TEST(HttpHeaderParserTest, ReadsTheOriginalLengthWithinTheCap) {
    using LengthKind = OriginalLength::Kind;
    struct Case {
        const char* name;
        const char* value;  // null: header absent
        LengthKind kind;
        int64_t length;
    };
    const std::vector<Case> cases = {
        {"absent", nullptr, LengthKind::Absent, -1},
        {"one MiB", "1048576", LengthKind::Announced, 1048576},
        {"zero", "0", LengthKind::Announced, 0},
        {"padded", " 42 ", LengthKind::Announced, 42},
        {"at the cap", "268435456", LengthKind::Announced, kMaxOriginalLength},
        {"above the cap", "268435457", LengthKind::TooLarge, -1},
        {"beyond 64 bits", "99999999999999999999999", LengthKind::TooLarge, -1},
        {"negative", "-5", LengthKind::Absent, -1},
        {"not a number", "abc", LengthKind::Absent, -1},
        {"empty", "", LengthKind::Absent, -1},
    };
    for (const Case& c : cases) {
        std::map<std::string, std::string> headers{{"content-type", "application/octet-stream"}};
        if (c.value) {
            headers[kOriginalLengthHeader] = c.value;
        }
        OriginalLength length = parseOriginalLength(headers);
        EXPECT_EQ(length.kind, c.kind) << c.name;
        EXPECT_EQ(length.value, c.length) << c.name;
    }
}

}  // namespace
}  // namespace corvane
