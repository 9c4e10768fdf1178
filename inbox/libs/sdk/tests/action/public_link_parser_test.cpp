#include "action/public_link_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/node_type.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

// 16 bytes 0..15 and 32 bytes 0xFF.
const std::string kHandle = "AAECAwQFBgcICQoLDA0ODw";
const std::string kKey = "__________________________________________8";
const std::string kShortKey = "AAECAwQFBgcICQoLDA0ODw";

Bytes handleBytes() {
    Bytes bytes;
    for (uint8_t i = 0; i < 16; ++i) {
        bytes.push_back(i);
    }
    return bytes;
}

struct ParserCase {
    const char* name;
    std::string link;
    int32_t type;  // 0: refused
    bool withKey = false;
};

TEST(LinkToDeleteTest, FormsAndRefusals) {
    const std::string key = kKey;
    const std::vector<ParserCase> cases{
        {"inbox without key", "https://w/inbox/" + kHandle, INBOX_NODE},
        {"inbox with key", "https://w/inbox/" + kHandle + "#" + key, INBOX_NODE, true},
        {"inbox, address ignored", "anything at all/inbox/" + kHandle, INBOX_NODE},
        {"record", "/record/" + kHandle + "#" + key, RECORD_NODE, true},
        {"new record", "https://w/new-record/" + kHandle + "#" + kShortKey, RECORD_NODE, true},
        {"folder", "https://w/folder/" + kHandle + "#" + key, FOLDER_NODE, true},
        {"drive", "https://w/drive/" + kHandle + "#" + key, SHARED_DRIVE_ROOT, true},
        {"drive with empty key", "https://w/drive/" + kHandle + "#", 0},
        {"inbox with empty key", "https://w/inbox/" + kHandle + "#", 0},
        // A refused inbox form leaves the later forms to the rest.
        {"bad inbox, then a folder", "https://w/inbox/abc#/folder/" + kHandle + "#" + key, FOLDER_NODE, true},
        {"inbox with 21 characters", "https://w/inbox/" + kHandle.substr(1), 0},
        {"inbox with 23 characters", "https://w/inbox/" + kHandle + "A", 0},
        {"inbox, hash at 3", "https://w/inbox/abc#" + kHandle, 0},
        {"record without hash", "https://w/record/" + kHandle, 0},
        {"record, hash first", "https://w/record/#" + kHandle, 0},
        {"record handle of 21", "https://w/record/" + kHandle.substr(1) + "#" + key, 0},
        {"record handle of 23", "https://w/record/" + kHandle + "A#" + key, 0},
        {"extra hash", "https://w/folder/" + kHandle + "#" + key + "#", 0},
        {"key of 42 characters", "https://w/folder/" + kHandle + "#" + key.substr(1), 0},
        {"key of 44 characters", "https://w/folder/" + kHandle + "#" + key + "A", 0},
        {"standard alphabet in the key", "https://w/folder/" + kHandle + "#+" + key.substr(1), 0},
        {"non-Base64URL handle", "https://w/folder/" + kHandle.substr(1) + "!#" + key, 0},
        {"truncated after the word", "https://w/folder/", 0},
        {"truncated handle", "https://w/drive/AAEC", 0},
        {"no path word", "https://w/" + kHandle + "#" + key, 0},
        {"file", "https://w/file/" + kHandle + "#" + key, FILE_NODE, true},
        {"empty", "", 0},
        {"zero byte in the handle", std::string("https://w/inbox/") + std::string(22, '\0'), 0},
    };
    for (const ParserCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parts = parseLinkToDelete(c.link);
        ASSERT_EQ(parts.has_value(), c.type != 0);
        if (!parts) {
            continue;
        }
        EXPECT_EQ(parts->type, c.type);
        EXPECT_EQ(parts->handle, handleBytes());
        EXPECT_EQ(parts->key.empty(), !c.withKey);
    }
}

TEST(LinkToOpenTest, FormsAndRefusals) {
    const std::string key = kKey;
    const std::vector<ParserCase> cases{
        {"file", "https://w/file/" + kHandle + "#" + key, FILE_NODE, true},
        {"folder", "https://w/folder/" + kHandle + "#" + kShortKey, FOLDER_NODE, true},
        // A file form that fails leaves "/folder/" to be searched in its rest.
        {"bad file, then a folder", "https://w/file/x/folder/" + kHandle + "#" + key, FOLDER_NODE, true},
        {"empty key", "https://w/file/" + kHandle + "#", 0},
        {"no hash", "https://w/file/" + kHandle, 0},
        {"hash first", "https://w/file/#" + key, 0},
        {"extra hash", "https://w/file/" + kHandle + "##" + key, 0},
        {"handle of 21", "https://w/file/" + kHandle.substr(1) + "#" + key, 0},
        {"handle of 23", "https://w/file/" + kHandle + "A#" + key, 0},
        {"key of 21", "https://w/file/" + kHandle + "#" + kShortKey.substr(1), 0},
        {"non-Base64URL key", "https://w/file/" + kHandle + "#" + key.substr(1) + "=", 0},
        {"space in the handle", "https://w/folder/" + kHandle.substr(1) + " #" + key, 0},
        {"inbox link", "https://w/inbox/" + kHandle + "#" + key, 0},
        {"drive link", "https://w/drive/" + kHandle + "#" + key, 0},
        {"truncated", "https://w/fil", 0},
    };
    for (const ParserCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parts = parseLinkToOpen(c.link);
        ASSERT_EQ(parts.has_value(), c.type != 0);
        if (!parts) {
            continue;
        }
        EXPECT_EQ(parts->type, c.type);
        EXPECT_EQ(parts->handle, handleBytes());
        EXPECT_TRUE(parts->key.size() == 16 || parts->key.size() == 32);
    }
}

TEST(LinkToOpenTest, KeyBytesAreDecoded) {
    const auto parts = parseLinkToOpen("/file/" + kHandle + "#" + kKey);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->key, Bytes(32, 0xFF));
}

}  // namespace
}  // namespace corvane
