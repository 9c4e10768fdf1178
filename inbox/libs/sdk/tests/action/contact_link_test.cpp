// The inbox and record links that outboxes and sent records are filed from (a bare '#' after an
// inbox id means no key): well-formed texts give their bytes back, malformed ones nothing.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "action/link_text.h"
#include "support/link_text.h"

namespace corvane {
namespace {

using test::base64Url;
using test::patternBytes;

const std::vector<uint8_t> kIdentifier = patternBytes(1, 16);
const std::vector<uint8_t> kKey = patternBytes(2, 32);
const std::string kId = base64Url(kIdentifier);
const std::string kKeyText = base64Url(kKey);

TEST(ContactLinkTest, InboxLinksGiveTheirIdentifierAndKey) {
    struct Case {
        const char* name;
        std::string link;
        bool hasKey;
    };
    const std::vector<Case> cases{
        {"with key", "https://web.example/inbox/" + kId + "#" + kKeyText, true},
        {"without key", "https://web.example/inbox/" + kId, false},
        {"with an empty key", "https://web.example/inbox/" + kId + "#", false},
        {"any address in front", "x/inbox/" + kId + "#" + kKeyText, true},
        {"no address", "/inbox/" + kId, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto parts = parseInboxLink(c.link, true);
        ASSERT_TRUE(parts.has_value());
        EXPECT_EQ(parts->id, kIdentifier);
        EXPECT_EQ(parts->key, c.hasKey ? kKey : std::vector<uint8_t>());
    }
}

TEST(ContactLinkTest, RecordLinksGiveTheirPublicHandleAndKey) {
    auto parts = parseRecordLink("https://web.example/record/" + kId + "#" + kKeyText);
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->id, kIdentifier);
    EXPECT_EQ(parts->key, kKey);
}

TEST(ContactLinkTest, MalformedLinksGiveNothing) {
    const std::string id21 = kId.substr(0, 21);
    const std::string id23 = kId + "A";
    std::string foreignId = kId;
    foreignId[5] = '+';
    std::string foreignKey = kKeyText;
    foreignKey[40] = '=';
    struct Case {
        const char* name;
        std::string path;  // after "/inbox/" or "/record/"
        bool inbox;        // malformed as an inbox link
        bool record;       // malformed as a record link
    };
    const std::vector<Case> cases{
        {"nothing after the path word", "", true, true},
        {"identifier of 21 characters", id21 + "#" + kKeyText, true, true},
        {"identifier of 23 characters", id23 + "#" + kKeyText, true, true},
        {"identifier of 23 characters, no key", id23, true, true},
        {"truncated identifier", kId.substr(0, 10), true, true},
        {"foreign character in the identifier", foreignId + "#" + kKeyText, true, true},
        {"percent-encoded character", kId.substr(0, 20) + "%2F#" + kKeyText, true, true},
        {"extra '#'", kId + "#" + kKeyText + "#", true, true},
        {"'#' in the key", kId + "#" + kKeyText.substr(0, 20) + "#" + kKeyText.substr(21), true, true},
        {"'#' before position 22", kId.substr(0, 10) + "#" + kKeyText, true, true},
        {"truncated key", kId + "#" + kKeyText.substr(0, 42), true, true},
        {"key too long", kId + "#" + kKeyText + "A", true, true},
        {"one-character key", kId + "#A", true, true},
        {"foreign character in the key", kId + "#" + foreignKey, true, true},
        {"empty key", kId + "#", false, true},
        {"no '#'", kId, false, true},
        {"query after the key", kId + "#" + kKeyText + "?a=b", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(!parseInboxLink("https://web.example/inbox/" + c.path, true).has_value(), c.inbox);
        EXPECT_EQ(!parseRecordLink("https://web.example/record/" + c.path).has_value(), c.record);
    }
    // Without the path word, or with the other kind's, nothing is read.
    const std::string whole = kId + "#" + kKeyText;
    for (const std::string& link : {whole, "https://web.example/" + whole, "https://web.example/new-record/" + whole,
                                    "https://web.example/INBOX/" + whole, std::string()}) {
        SCOPED_TRACE(link);
        EXPECT_FALSE(parseInboxLink(link, true).has_value());
        EXPECT_FALSE(parseRecordLink(link).has_value());
    }
    EXPECT_FALSE(parseInboxLink("https://web.example/record/" + whole, true).has_value());
    EXPECT_FALSE(parseRecordLink("https://web.example/inbox/" + whole).has_value());
}

// A text cut anywhere is never read past its end (the sanitizer build watches).
TEST(ContactLinkTest, EveryPrefixOfALinkIsSafeToParse) {
    const std::string link = "https://web.example/record/" + kId + "#" + kKeyText;
    for (size_t length = 0; length < link.size(); ++length) {
        const std::string cut = link.substr(0, length);
        EXPECT_FALSE(parseRecordLink(cut).has_value()) << cut;
        parseInboxLink(cut, true);
    }
}

}  // namespace
}  // namespace corvane
