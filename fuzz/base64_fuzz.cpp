// Base64 texts arrive in links and from the service: decoding must never overrun, and any
// bytes must survive an encode/decode round trip in both alphabets.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    corvane::Base64 codec;
    const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first NUL when decoded

    std::vector<uint8_t> out(size);  // never more bytes than characters
    codec.decode(text.c_str(), out.data(), out.size());
    codec.decodeUrl(text.c_str(), out.data(), out.size());
    // A capacity smaller than needed drops output instead of writing past it.
    std::vector<uint8_t> small(size / 3);
    codec.decode(text.c_str(), small.data(), small.size());

    std::string encoded(corvane::Base64::encodedSize(size), '\0');
    encoded.resize(codec.encode(data, size, &encoded[0], encoded.size()));
    std::vector<uint8_t> decoded(size + 3);
    decoded.resize(codec.decode(encoded.c_str(), decoded.data(), decoded.size()));
    if (decoded.size() != size || (size && std::memcmp(decoded.data(), data, size) != 0)) {
        std::abort();
    }

    std::string url(corvane::Base64::encodedUrlSize(size), '\0');
    url.resize(codec.encodeUrl(data, size, &url[0], url.size()));
    decoded.assign(size + 3, 0);
    decoded.resize(codec.decodeUrl(url.c_str(), decoded.data(), decoded.size()));
    if (decoded.size() != size || (size && std::memcmp(decoded.data(), data, size) != 0)) {
        std::abort();
    }
    return 0;
}
