#include "totp.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace corvane::service {

namespace {

constexpr uint32_t kModulus = 1000000;  // six digits

}  // namespace

int32_t totpCode(const std::string& secret, uint64_t step) {
    unsigned char counter[8];
    for (int i = 7; i >= 0; --i) {
        counter[i] = static_cast<unsigned char>(step & 0xFF);
        step >>= 8;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()), counter, sizeof counter, digest, &length) ||
        length < 20)
        return -1;
    // Dynamic truncation: four bytes from the offset the last nibble names, top bit cleared.
    const unsigned offset = digest[length - 1] & 0x0F;
    const uint32_t value = (uint32_t(digest[offset] & 0x7F) << 24) | (uint32_t(digest[offset + 1]) << 16) |
                           (uint32_t(digest[offset + 2]) << 8) | uint32_t(digest[offset + 3]);
    return static_cast<int32_t>(value % kModulus);
}

bool totpAccepts(const std::string& secret, int32_t code, int64_t unixTime) {
    if (secret.empty() || code < 0 || unixTime < 0) return false;
    const int64_t step = unixTime / kTotpStepSeconds;
    bool accepted = false;
    // Every candidate is computed, so the time taken says nothing about which one matched.
    for (int64_t candidate = step - kTotpSlack; candidate <= step + kTotpSlack; ++candidate) {
        if (candidate >= 0 && totpCode(secret, static_cast<uint64_t>(candidate)) == code) accepted = true;
    }
    return accepted;
}

std::string base32(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string text;
    uint32_t buffer = 0;
    int bits = 0;
    for (unsigned char c : bytes) {
        buffer = (buffer << 8) | c;
        bits += 8;
        while (bits >= 5) {
            text += kAlphabet[(buffer >> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    if (bits > 0) text += kAlphabet[(buffer << (5 - bits)) & 31];
    return text;
}

}  // namespace corvane::service
