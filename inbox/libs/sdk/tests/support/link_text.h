#pragma once

// Link texts built in the test with OpenSSL's Base64, so that a fault in the SDK's codec
// cannot hide in the fixture.

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {
namespace test {

// URL-safe alphabet, no "=" fill.
inline std::string base64Url(const std::vector<uint8_t>& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), bytes.data(), static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(length));
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    for (char& c : text) {
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    }
    return text;
}

inline std::vector<uint8_t> patternBytes(uint8_t seed, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed * 31 + i * 13);
    }
    return bytes;
}

inline std::string inboxLink(const std::string& address, const std::vector<uint8_t>& identifier,
                             const std::vector<uint8_t>& key) {
    std::string link = address + "/inbox/" + base64Url(identifier);
    return key.empty() ? link : link + "#" + base64Url(key);
}

inline std::string recordLink(const std::string& address, const std::vector<uint8_t>& publicHandle,
                              const std::vector<uint8_t>& key) {
    return address + "/record/" + base64Url(publicHandle) + "#" + base64Url(key);
}

}  // namespace test
}  // namespace corvane
