#include "http/http_header_parser.h"

#include <algorithm>
#include <cctype>

namespace corvane {

const char* const kOriginalLengthHeader = "corvane-original-content-length";

HeaderLine parseHeaderLine(const char* data, size_t length) {
    HeaderLine line;
    std::string text = length >= 2 ? std::string(data, length - 2) : std::string();
    if (length < 6) {
        if (length == 2 && data[0] == '\r' && data[1] == '\n') {
            line.kind = HeaderLine::Kind::EndOfHeaders;
        } else {
            line.kind = HeaderLine::Kind::Unprocessed;
            line.text = std::move(text);
        }
        return line;
    }
    if (std::string(data, 5) == "HTTP/") {
        line.kind = HeaderLine::Kind::StatusLine;
        line.text = std::move(text);
        return line;
    }
    line.text = text;
    size_t separator = text.find(": ");
    if (separator == std::string::npos) {
        line.kind = HeaderLine::Kind::Unstored;
        return line;
    }
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    line.kind = HeaderLine::Kind::Field;
    line.name = text.substr(0, separator);
    line.value = text.substr(separator + 2);
    return line;
}

OriginalLength parseOriginalLength(const std::map<std::string, std::string>& headers) {
    auto found = headers.find(kOriginalLengthHeader);
    if (found == headers.end()) {
        return {OriginalLength::Kind::Absent, -1};
    }
    std::string text = found->second;
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return {OriginalLength::Kind::Absent, -1};
    }
    if (text.size() > 18) {
        return {OriginalLength::Kind::TooLarge, -1};
    }
    int64_t value = std::stoll(text);
    if (value > kMaxOriginalLength) {
        return {OriginalLength::Kind::TooLarge, -1};
    }
    return {OriginalLength::Kind::Announced, value};
}

}  // namespace corvane
