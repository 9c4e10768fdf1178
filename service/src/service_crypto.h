// The little cryptography the stand-in does itself, on OpenSSL: random secrets, the hash kept of
// an authentication key and its constant-time check, and sessions sealed with RSA-OAEP (SHA-1,
// MGF1 SHA-1, empty label) to the user's public key, as the client opens them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace corvane::service {

// Bytes from OpenSSL's generator; "" when it fails.
std::string randomSecret(size_t size);

// Base64URL without '=' fill.
std::string base64Url(const std::string& bytes);

std::string sha256(const std::string& bytes);

// Compares two byte strings in time that depends only on their lengths.
bool sameSecret(const std::string& a, const std::string& b);

// True when the bytes are exactly one DER SubjectPublicKeyInfo of an RSA key of at least
// kMinRsaBits bits.
constexpr int kMinRsaBits = 2048;
bool isRsaPublicKey(const std::string& der);

// The plain text sealed to the RSA public key (DER SubjectPublicKeyInfo); nothing when the key
// does not parse or the text is too long for it.
std::optional<std::string> sealToPublicKey(const std::string& der, const std::string& plain);

}  // namespace corvane::service
