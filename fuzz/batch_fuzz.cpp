// The stand-in reads batches that tests may damage on purpose: splitting and verifying any
// body must stay within its bytes.
#include <string>
#include <vector>

#include "batch_framing.h"
#include "message_verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> messages;
    if (!corvane::service::splitBatch(body, messages)) {
        return 0;
    }
    for (const std::string& message : messages) {
        const std::string identifier = corvane::service::messageIdentifier(message);
        if (const corvane::service::MessageKind* kind = corvane::service::findMessageKind(identifier)) {
            corvane::service::verifyMessage(*kind, message);
        }
    }
    return 0;
}
