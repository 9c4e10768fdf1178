// Public link texts come from other people: the link parsers must never read past the text,
// and what they accept is always a 16-byte handle with a 16- or 32-byte key (or, for an inbox
// link, none).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "action/public_link_parser.h"

namespace {

void check(const std::optional<corvane::PublicLinkParts>& parts, bool keyOptional) {
    if (!parts) {
        return;
    }
    const size_t key = parts->key.size();
    if (parts->handle.size() != 16 || !(key == 16 || key == 32 || (keyOptional && key == 0))) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: any read past the text is a heap overflow the sanitizer reports.
    std::unique_ptr<char[]> copy(new char[size]);
    for (size_t i = 0; i < size; ++i) {
        copy[i] = static_cast<char>(data[i]);
    }
    const std::string_view text(copy.get(), size);
    const auto toDelete = corvane::parseLinkToDelete(text);
    check(toDelete, toDelete && toDelete->type == 43);
    check(corvane::parseLinkToOpen(text), false);
    return 0;
}
