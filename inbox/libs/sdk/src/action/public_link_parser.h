#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace corvane {

// The parts of a public link text. Only the path part is read: whatever stands before the
// path word (scheme and host) is skipped. Pure functions; any thread.
struct PublicLinkParts {
    int32_t type = 0;             // node type the path word names
    std::vector<uint8_t> handle;  // the decoded public handle
    std::vector<uint8_t> key;     // the decoded key; empty when the link carries none
};

// Characters of a public handle's text: 16 bytes in Base64URL.
constexpr size_t kPublicHandleTextLength = 22;

// A link to withdraw: "/inbox/" (43, the "#" and key may be left out), "/record/" and
// "/new-record/" (44), "/folder/" (21), "/drive/" (8), "/file/" (20), tried in this order, each on the text
// after the path word found before. The key is checked but not kept.
std::optional<PublicLinkParts> parseLinkToDelete(std::string_view link);

// A link to open: "/file/" (20) or "/folder/" (21) with the handle, "#" and a key.
std::optional<PublicLinkParts> parseLinkToOpen(std::string_view link);

}  // namespace corvane
