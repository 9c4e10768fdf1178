// Inbox and record links are pasted by users and come from other people: a parser must never
// read past the text, and what it accepts is exactly the form, byte for byte.
#include <cstdlib>
#include <string>

#include "action/contact_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string link(reinterpret_cast<const char*>(data), size);
    if (auto inbox = corvane::parseInboxLink(link)) {
        if (inbox->identifier.size() != 16 || (!inbox->key.empty() && inbox->key.size() != 32)) {
            std::abort();
        }
    }
    if (auto record = corvane::parseRecordLink(link)) {
        if (record->publicHandle.size() != 16 || record->key.size() != 32) {
            std::abort();
        }
    }
    return 0;
}
