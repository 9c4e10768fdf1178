#include "action/public_link_parser.h"

#include <string>

#include "corvane/node_type.h"
#include "util/base64.h"

namespace corvane {

namespace {

// Keys travel as 16 or 32 bytes: 22 or 43 characters of Base64URL.
constexpr size_t kShortKeyTextLength = 22;
constexpr size_t kLongKeyTextLength = 43;

bool isBase64UrlCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool isBase64UrlText(std::string_view text) {
    for (char c : text) {
        if (!isBase64UrlCharacter(c)) {
            return false;
        }
    }
    return true;
}

bool isHandleText(std::string_view text) {
    return text.size() == kPublicHandleTextLength && isBase64UrlText(text);
}

bool isKeyText(std::string_view text) {
    return (text.size() == kShortKeyTextLength || text.size() == kLongKeyTextLength) && isBase64UrlText(text);
}

std::vector<uint8_t> decode(std::string_view text) {
    // The decoder reads a zero-terminated text: give it its own copy.
    const std::string copy(text);
    std::vector<uint8_t> bytes(copy.size());
    Base64 base64;
    bytes.resize(base64.decodeUrl(copy.c_str(), bytes.data(), bytes.size()));
    return bytes;
}

// Finds the path word in the working text with something after it; the working text then
// becomes what follows the word, for good.
bool takePathWord(std::string_view& working, std::string_view word) {
    const size_t at = working.find(word);
    if (at == std::string_view::npos || at + word.size() >= working.size()) {
        return false;
    }
    working.remove_prefix(at + word.size());
    return true;
}

// Handle, "#" and a well-formed key.
bool splitHandleAndKey(std::string_view rest, PublicLinkParts& parts) {
    const size_t hash = rest.find('#');
    if (hash == std::string_view::npos) {
        return false;
    }
    const std::string_view handle = rest.substr(0, hash);
    const std::string_view key = rest.substr(hash + 1);
    if (!isHandleText(handle) || !isKeyText(key)) {
        return false;
    }
    parts.handle = decode(handle);
    parts.key = decode(key);
    return true;
}

// An inbox link may end after the handle (the register root has no key).
bool splitInbox(std::string_view rest, PublicLinkParts& parts) {
    const size_t hash = rest.find('#');
    if (hash == std::string_view::npos) {
        if (!isHandleText(rest)) {
            return false;
        }
        parts.handle = decode(rest);
        return true;
    }
    return splitHandleAndKey(rest, parts);
}

}  // namespace

std::optional<PublicLinkParts> parseLinkToDelete(std::string_view link) {
    struct Form {
        std::string_view word;
        int32_t type;
    };
    static constexpr Form kForms[] = {{"/inbox/", INBOX_NODE},
                                      {"/record/", RECORD_NODE},
                                      {"/new-record/", RECORD_NODE},
                                      {"/folder/", FOLDER_NODE},
                                      {"/drive/", SHARED_DRIVE_ROOT},
                                      // File links are handed out too, so they can be withdrawn.
                                      {"/file/", FILE_NODE}};
    std::string_view working = link;
    for (const Form& form : kForms) {
        if (!takePathWord(working, form.word)) {
            continue;
        }
        PublicLinkParts parts;
        const bool accepted = form.type == INBOX_NODE ? splitInbox(working, parts) : splitHandleAndKey(working, parts);
        if (accepted) {
            parts.type = form.type;
            return parts;
        }
    }
    return std::nullopt;
}

std::optional<PublicLinkParts> parseLinkToOpen(std::string_view link) {
    std::string_view working = link;
    PublicLinkParts parts;
    if (takePathWord(working, "/file/") && splitHandleAndKey(working, parts)) {
        parts.type = FILE_NODE;
        return parts;
    }
    if (takePathWord(working, "/folder/") && splitHandleAndKey(working, parts)) {
        parts.type = FOLDER_NODE;
        return parts;
    }
    return std::nullopt;
}

}  // namespace corvane
