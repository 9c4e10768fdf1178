#include "raw_bytes.h"

#include <zlib.h>

#include <limits>

namespace corvane::service {

void fillDataBytes(uint64_t offset, char* out, size_t length) {
    for (size_t i = 0; i < length; ++i)
        out[i] = dataByte(offset + i);
}

std::string makeDataBytes(size_t length) {
    std::string bytes(length, '\0');
    fillDataBytes(0, bytes.data(), length);
    return bytes;
}

std::optional<uint64_t> parseLength(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::string gzipEncode(const std::string& bytes) {
    if (bytes.size() > std::numeric_limits<uInt>::max() / 2) return {};
    z_stream stream{};
    // Window bits 15 + 16 asks zlib for the gzip wrapper instead of the zlib one.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const size_t written = stream.total_out;
    deflateEnd(&stream);
    if (result != Z_STREAM_END) return {};
    out.resize(written);
    return out;
}

}  // namespace corvane::service
