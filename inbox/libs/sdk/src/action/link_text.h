#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The parts of an inbox, record, folder or drive link. Only the path part and what follows it
// are read; what precedes it (the service's web address) is not examined. Every id is 22
// Base64URL characters (16 bytes) and every key 43 (32 bytes); a part of another length, with
// other characters or without its '#' makes the link malformed.
struct LinkText {
    uint64_t number = 0;  // the type of the link's node: 43, 44, 21 or 8
    std::vector<uint8_t> id;
    std::vector<uint8_t> key;  // empty for an inbox link without key
};

// "/inbox/<id>" with an optional "#<key>".
std::optional<LinkText> parseInboxLink(std::string_view text);

// "/record/<id>#<key>".
std::optional<LinkText> parseRecordLink(std::string_view text);

// A path word and the type of the node its links name.
struct LinkForm {
    std::string_view path;
    uint64_t number;
};

// The first of `forms`, tried in order, that applies; a form that is found but does not apply
// leaves the later ones to be looked for in what follows its path part. Inbox forms may leave
// out the "#<key>"; the others need it. `shortKeys` also accepts keys of 16 bytes (22
// characters).
std::optional<LinkText> parseLinkForms(std::string_view text, const LinkForm* forms, size_t count,
                                       bool shortKeys = false);

// The forms a link session opens on, tried in this order: inbox, record, new record, folder,
// drive. A form that is found but does not apply leaves the later ones to be looked for in
// what follows its path part.
std::optional<LinkText> parseSessionLink(std::string_view text);

}  // namespace corvane
