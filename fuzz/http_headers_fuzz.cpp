// Header lines come straight from the network.
#include <map>
#include <string>

#include "http/http_header_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const corvane::HeaderLine line = corvane::parseHeaderLine(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> headers;
    headers[corvane::kOriginalLengthHeader] = line.kind == corvane::HeaderLine::Kind::Field
                                                  ? line.value
                                                  : std::string(reinterpret_cast<const char*>(data), size);
    const corvane::OriginalLength length = corvane::parseOriginalLength(headers);
    if (length.kind == corvane::OriginalLength::Kind::Announced &&
        (length.value < 0 || length.value > corvane::kMaxOriginalLength)) {
        __builtin_trap();
    }
    return 0;
}
