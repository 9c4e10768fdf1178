#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The inbox and record links that outboxes and sent records are filed from. Only the path
// part is read: whatever stands before the path word (normally the service's address) is
// not examined. A text that is not exactly of the form yields nothing, so that no truncated
// identifier or key is ever stored.

// "/inbox/" + 22 Base64URL characters (16 bytes), optionally "#" + the inbox key (43
// characters, 32 bytes). A "#" with nothing after it means no key.
struct InboxLinkParts {
    std::vector<uint8_t> identifier;
    std::vector<uint8_t> key;  // empty when the link carries none
};
std::optional<InboxLinkParts> parseInboxLink(const std::string& link);

// "/record/" + 22 Base64URL characters (the record's public handle, 16 bytes) + "#" + the
// record key (43 characters, 32 bytes).
struct RecordLinkParts {
    std::vector<uint8_t> publicHandle;
    std::vector<uint8_t> key;
};
std::optional<RecordLinkParts> parseRecordLink(const std::string& link);

}  // namespace corvane
