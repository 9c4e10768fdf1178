#include "action/link_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/node_type.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

// 22 characters for 16 bytes of 0xFB 0xEF 0xBE ..., 43 for 32 bytes.
const std::string kId = "--------------------_w";
const std::string kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8";
const std::string kWeb = "https://web.example";

Bytes keyBytes() {
    Bytes key;
    for (uint8_t i = 0; i < 32; ++i) {
        key.push_back(i);
    }
    return key;
}

TEST(LinkTextTest, WellFormedLinksGiveTheirParts) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<LinkText> (*parse)(std::string_view);
        uint64_t number;
        bool keyed;
    };
    const std::vector<Case> cases = {
        {"inbox with key", kWeb + "/inbox/" + kId + "#" + kKey, &parseInboxLink, INBOX_NODE, true},
        {"inbox without key", kWeb + "/inbox/" + kId, &parseInboxLink, INBOX_NODE, false},
        {"record", kWeb + "/record/" + kId + "#" + kKey, &parseRecordLink, RECORD_NODE, true},
        {"session on inbox", kWeb + "/inbox/" + kId + "#" + kKey, &parseSessionLink, INBOX_NODE, true},
        {"session on record", kWeb + "/record/" + kId + "#" + kKey, &parseSessionLink, RECORD_NODE, true},
        {"session on new record", kWeb + "/new-record/" + kId + "#" + kKey, &parseSessionLink, RECORD_NODE, true},
        {"session on folder", kWeb + "/folder/" + kId + "#" + kKey, &parseSessionLink, FOLDER_NODE, true},
        {"session on drive", kWeb + "/drive/" + kId + "#" + kKey, &parseSessionLink, SHARED_DRIVE_ROOT, true},
        {"no web address", "/record/" + kId + "#" + kKey, &parseSessionLink, RECORD_NODE, true},
        // An inbox form that does not apply leaves the record form to what follows it.
        {"later form after a failed inbox", kWeb + "/inbox/x/record/" + kId + "#" + kKey, &parseSessionLink,
         RECORD_NODE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto link = c.parse(c.text);
        ASSERT_TRUE(link);
        EXPECT_EQ(link->number, c.number);
        EXPECT_EQ(link->id, Bytes({0xFB, 0xEF, 0xBE, 0xFB, 0xEF, 0xBE, 0xFB, 0xEF, 0xBE, 0xFB, 0xEF, 0xBE, 0xFB, 0xEF,
                                   0xBE, 0xFF}));
        EXPECT_EQ(link->key, c.keyed ? keyBytes() : Bytes());
    }
}

// Each is refused by every parser it is given to; none may read past the text or crash.
TEST(LinkTextTest, MalformedLinksAreRefused) {
    const std::string id21 = kId.substr(1);
    const std::string id23 = kId + "A";
    struct Case {
        const char* name;
        std::string rest;  // after the path part
    };
    const std::vector<Case> cases = {
        {"nothing", ""},
        {"truncated id", kId.substr(0, 10)},
        {"truncated key", kId + "#" + kKey.substr(0, 20)},
        {"21-character id", id21 + "#" + kKey},
        {"23-character id", id23 + "#" + kKey},
        {"23 characters, no key", id23},
        {"hash at 21", id21 + "#"},
        {"extra hash", kId + "#" + kKey + "#"},
        {"two hashes", kId + "##" + kKey},
        {"non-Base64URL id", kId.substr(0, 21) + "+" + "#" + kKey},
        {"non-Base64URL key", kId + "#" + kKey.substr(0, 42) + "/"},
        {"padded key", kId + "#" + kKey.substr(0, 42) + "="},
        {"space in id", kId.substr(0, 21) + " #" + kKey},
        {"empty key", kId + "#"},
        {"44-character key", kId + "#" + kKey + "A"},
        {"high bytes", std::string(22, '\xC3') + "#" + kKey},
        {"NUL inside", kId.substr(0, 11) + std::string(1, '\0') + kId.substr(12) + "#" + kKey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parseInboxLink(kWeb + "/inbox/" + c.rest));
        EXPECT_FALSE(parseRecordLink(kWeb + "/record/" + c.rest));
        for (const char* path : {"/inbox/", "/record/", "/new-record/", "/folder/", "/drive/"}) {
            EXPECT_FALSE(parseSessionLink(kWeb + path + c.rest)) << path;
        }
    }
    // No path part at all, or one without '#' where a key is required.
    for (const std::string& text : {std::string(), kWeb, kWeb + "/file/" + kId + "#" + kKey, kWeb + "/record/" + kId,
                                    kWeb + "/folder/" + kId, "/inbox" + kId}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseSessionLink(text));
        EXPECT_FALSE(parseRecordLink(text));
    }
    // The text is a view: what lies beyond it is never read.
    const std::string longer = kWeb + "/record/" + kId + "#" + kKey;
    EXPECT_FALSE(parseRecordLink(std::string_view(longer).substr(0, longer.size() - 1)));
}

}  // namespace
}  // namespace corvane
