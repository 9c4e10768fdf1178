#include "action/link_text.h"

#include <iterator>

#include "corvane/node_type.h"
#include "util/base64.h"

namespace corvane {

namespace {

constexpr size_t kIdLength = 22;
constexpr size_t kIdBytes = 16;
constexpr size_t kKeyLength = 43;
constexpr size_t kKeyBytes = 32;
constexpr size_t kShortKeyLength = 22;
constexpr size_t kShortKeyBytes = 16;

constexpr std::string_view kInboxPath = "/inbox/";
constexpr std::string_view kRecordPath = "/record/";
constexpr std::string_view kNewRecordPath = "/new-record/";
constexpr std::string_view kFolderPath = "/folder/";
constexpr std::string_view kDrivePath = "/drive/";

bool isBase64UrlCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The bytes of a Base64URL part of exactly `length` characters that decodes to exactly `bytes`
// bytes; nothing for any other part (the decoder would skip foreign characters silently).
std::optional<std::vector<uint8_t>> decodePart(std::string_view part, size_t length, size_t bytes) {
    if (part.size() != length) {
        return std::nullopt;
    }
    for (char c : part) {
        if (!isBase64UrlCharacter(c)) {
            return std::nullopt;
        }
    }
    const std::string text(part);
    std::vector<uint8_t> decoded(bytes + 2);
    decoded.resize(Base64().decodeUrl(text.c_str(), decoded.data(), decoded.size()));
    if (decoded.size() != bytes) {
        return std::nullopt;
    }
    return decoded;
}

// What follows the first path part in the text, when at least one character follows it.
std::optional<std::string_view> after(std::string_view text, std::string_view path) {
    const size_t at = text.find(path);
    if (at == std::string_view::npos || at + path.size() >= text.size()) {
        return std::nullopt;
    }
    return text.substr(at + path.size());
}

std::optional<std::vector<uint8_t>> decodeKey(std::string_view part, bool shortKeys) {
    if (shortKeys && part.size() == kShortKeyLength) {
        return decodePart(part, kShortKeyLength, kShortKeyBytes);
    }
    return decodePart(part, kKeyLength, kKeyBytes);
}

std::optional<LinkText> parseInboxRest(std::string_view rest, bool shortKeys = false) {
    const size_t hash = rest.find('#');
    LinkText link;
    link.number = INBOX_NODE;
    auto id = decodePart(rest.substr(0, hash), kIdLength, kIdBytes);
    if (!id) {
        return std::nullopt;
    }
    link.id = std::move(*id);
    if (hash == std::string_view::npos) {
        return link;
    }
    auto key = decodeKey(rest.substr(hash + 1), shortKeys);
    if (!key) {
        return std::nullopt;
    }
    link.key = std::move(*key);
    return link;
}

std::optional<LinkText> parseKeyedRest(std::string_view rest, uint64_t number, bool shortKeys = false) {
    const size_t hash = rest.find('#');
    if (hash == std::string_view::npos) {
        return std::nullopt;
    }
    auto id = decodePart(rest.substr(0, hash), kIdLength, kIdBytes);
    auto key = decodeKey(rest.substr(hash + 1), shortKeys);
    if (!id || !key) {
        return std::nullopt;
    }
    return LinkText{number, std::move(*id), std::move(*key)};
}

}  // namespace

std::optional<LinkText> parseInboxLink(std::string_view text) {
    const auto rest = after(text, kInboxPath);
    return rest ? parseInboxRest(*rest) : std::nullopt;
}

std::optional<LinkText> parseRecordLink(std::string_view text) {
    const auto rest = after(text, kRecordPath);
    return rest ? parseKeyedRest(*rest, RECORD_NODE) : std::nullopt;
}

std::optional<LinkText> parseLinkForms(std::string_view text, const LinkForm* forms, size_t count, bool shortKeys) {
    std::string_view rest = text;
    for (size_t i = 0; i < count; ++i) {
        const LinkForm& form = forms[i];
        const auto found = after(rest, form.path);
        if (!found) {
            continue;
        }
        rest = *found;
        auto link =
            form.number == INBOX_NODE ? parseInboxRest(rest, shortKeys) : parseKeyedRest(rest, form.number, shortKeys);
        if (link) {
            return link;
        }
    }
    return std::nullopt;
}

std::optional<LinkText> parseSessionLink(std::string_view text) {
    static constexpr LinkForm kForms[] = {{kInboxPath, INBOX_NODE},
                                          {kRecordPath, RECORD_NODE},
                                          {kNewRecordPath, RECORD_NODE},
                                          {kFolderPath, FOLDER_NODE},
                                          {kDrivePath, SHARED_DRIVE_ROOT}};
    return parseLinkForms(text, kForms, std::size(kForms));
}

}  // namespace corvane
