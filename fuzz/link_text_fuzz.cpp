// Inbox, record, folder and drive links arrive as text from anyone: the parsers must never read
// past it, and what they accept must be exactly an id of 16 bytes and, where present, a key of
// 32.
#include <cstdlib>
#include <string_view>

#include "action/link_text.h"

namespace {

void check(const std::optional<corvane::LinkText>& link, bool keyRequired) {
    if (!link) {
        return;
    }
    if (link->id.size() != 16 || (keyRequired && link->key.size() != 32) ||
        (!link->key.empty() && link->key.size() != 32)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check(corvane::parseInboxLink(text), false);
    check(corvane::parseRecordLink(text), true);
    const auto session = corvane::parseSessionLink(text);
    check(session, session && session->number != 43);
    return 0;
}
