#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace corvane {

// The response header that announces the decoded length of a (compressed) answer body.
extern const char* const kOriginalLengthHeader;

// The largest announced length taken as a buffer size. The announced length becomes one
// allocation, so a bogus or hostile value must not reserve gigabytes; the largest real
// answers (a full account snapshot in one batch answer, 1 MiB transfer chunks) stay far below.
constexpr int64_t kMaxOriginalLength = int64_t(256) << 20;

// One line handed to the transport's header function, line end included.
struct HeaderLine {
    enum class Kind {
        EndOfHeaders,  // exactly CR LF
        Unprocessed,   // any other line shorter than 6 bytes
        StatusLine,    // "HTTP/..."
        Field,         // "name: value", stored lower-cased
        Unstored,      // a longer line without ": "
    };
    Kind kind;
    std::string text;   // the line without its last two bytes (empty for EndOfHeaders)
    std::string name;   // Field only
    std::string value;  // Field only
};

HeaderLine parseHeaderLine(const char* data, size_t length);

// What the headers say about the original length.
struct OriginalLength {
    enum class Kind {
        Absent,     // no header, or a value that is not a decimal number
        Announced,  // value holds it (0 included)
        TooLarge,   // above kMaxOriginalLength: the answer cannot be taken
    };
    Kind kind;
    int64_t value;  // -1 unless announced
};

OriginalLength parseOriginalLength(const std::map<std::string, std::string>& headers);

}  // namespace corvane
