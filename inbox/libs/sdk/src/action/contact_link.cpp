#include "action/contact_link.h"

#include "util/base64.h"

namespace corvane {

namespace {

constexpr const char* kInboxPath = "/inbox/";
constexpr const char* kRecordPath = "/record/";
constexpr size_t kIdentifierLength = 22;
constexpr size_t kIdentifierSize = 16;
constexpr size_t kKeyLength = 43;
constexpr size_t kKeySize = 32;

bool isBase64UrlCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The bytes of a text of exactly `length` Base64URL characters that decode to `size` bytes.
// The decoder skips foreign characters, so they are refused here before it runs.
std::optional<std::vector<uint8_t>> decodeExactly(const std::string& text, size_t length, size_t size) {
    if (text.size() != length) {
        return std::nullopt;
    }
    for (char c : text) {
        if (!isBase64UrlCharacter(c)) {
            return std::nullopt;
        }
    }
    std::vector<uint8_t> bytes(text.size());
    Base64 codec;
    bytes.resize(codec.decodeUrl(text.c_str(), bytes.data(), bytes.size()));
    if (bytes.size() != size) {
        return std::nullopt;
    }
    return bytes;
}

// The text after the first occurrence of the path word; nothing when it is missing or
// nothing follows it.
std::optional<std::string> afterPath(const std::string& link, const std::string& path) {
    const size_t at = link.find(path);
    if (at == std::string::npos || at + path.size() >= link.size()) {
        return std::nullopt;
    }
    return link.substr(at + path.size());
}

}  // namespace

std::optional<InboxLinkParts> parseInboxLink(const std::string& link) {
    const std::optional<std::string> rest = afterPath(link, kInboxPath);
    if (!rest) {
        return std::nullopt;
    }
    const size_t hash = rest->find('#');
    auto identifier = decodeExactly(rest->substr(0, hash), kIdentifierLength, kIdentifierSize);
    if (!identifier) {
        return std::nullopt;
    }
    InboxLinkParts parts;
    parts.identifier = std::move(*identifier);
    if (hash != std::string::npos && hash + 1 < rest->size()) {
        auto key = decodeExactly(rest->substr(hash + 1), kKeyLength, kKeySize);
        if (!key) {
            return std::nullopt;
        }
        parts.key = std::move(*key);
    }
    return parts;
}

std::optional<RecordLinkParts> parseRecordLink(const std::string& link) {
    const std::optional<std::string> rest = afterPath(link, kRecordPath);
    if (!rest) {
        return std::nullopt;
    }
    const size_t hash = rest->find('#');
    if (hash == std::string::npos) {
        return std::nullopt;
    }
    auto publicHandle = decodeExactly(rest->substr(0, hash), kIdentifierLength, kIdentifierSize);
    auto key = decodeExactly(rest->substr(hash + 1), kKeyLength, kKeySize);
    if (!publicHandle || !key) {
        return std::nullopt;
    }
    return RecordLinkParts{std::move(*publicHandle), std::move(*key)};
}

}  // namespace corvane
