#include "action/public_link_parser.h"

#include <iterator>

#include "action/link_text.h"
#include "corvane/node_type.h"

namespace corvane {

namespace {

std::optional<PublicLinkParts> toParts(std::optional<LinkText> link) {
    if (!link) {
        return std::nullopt;
    }
    PublicLinkParts parts;
    parts.type = static_cast<int32_t>(link->number);
    parts.handle = std::move(link->id);
    parts.key = std::move(link->key);
    return parts;
}

}  // namespace

std::optional<PublicLinkParts> parseLinkToDelete(std::string_view link) {
    static constexpr LinkForm kForms[] = {{"/inbox/", INBOX_NODE},
                                          {"/record/", RECORD_NODE},
                                          {"/new-record/", RECORD_NODE},
                                          {"/folder/", FOLDER_NODE},
                                          {"/drive/", SHARED_DRIVE_ROOT},
                                          // File links are handed out too, so they can be withdrawn.
                                          {"/file/", FILE_NODE}};
    return toParts(parseLinkForms(link, kForms, std::size(kForms), true));
}

std::optional<PublicLinkParts> parseLinkToOpen(std::string_view link) {
    static constexpr LinkForm kForms[] = {{"/file/", FILE_NODE}, {"/folder/", FOLDER_NODE}};
    return toParts(parseLinkForms(link, kForms, std::size(kForms), true));
}

}  // namespace corvane
