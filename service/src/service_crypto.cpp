#include "service_crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>

namespace corvane::service {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Context = std::unique_ptr<EVP_PKEY_CTX, ContextFree>;

// The RSA key of a DER SubjectPublicKeyInfo that holds nothing after it; null otherwise.
Key rsaPublicKey(const std::string& der) {
    if (der.empty()) return nullptr;
    const auto* start = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* at = start;
    Key key(d2i_PUBKEY(nullptr, &at, static_cast<long>(der.size())));
    if (!key || at != start + der.size()) return nullptr;
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA || EVP_PKEY_get_bits(key.get()) < kMinRsaBits) return nullptr;
    return key;
}

}  // namespace

std::string randomSecret(size_t size) {
    std::string bytes(size, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(size)) != 1) return {};
    return bytes;
}

std::string base64Url(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(length));
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    for (char& c : text) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    return text;
}

std::string sha256(const std::string& bytes) {
    std::string digest(32, '\0');
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(digest.data()), &length, EVP_sha256(),
               nullptr);
    digest.resize(length);
    return digest;
}

bool sameSecret(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool isRsaPublicKey(const std::string& der) {
    return rsaPublicKey(der) != nullptr;
}

std::optional<std::string> sealToPublicKey(const std::string& der, const std::string& plain) {
    Key key = rsaPublicKey(der);
    if (!key) return std::nullopt;
    Context context(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!context || EVP_PKEY_encrypt_init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_OAEP_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(context.get(), EVP_sha1()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(context.get(), EVP_sha1()) <= 0)
        return std::nullopt;
    const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
    size_t length = 0;
    if (EVP_PKEY_encrypt(context.get(), nullptr, &length, in, plain.size()) <= 0) return std::nullopt;
    std::string sealed(length, '\0');
    if (EVP_PKEY_encrypt(context.get(), reinterpret_cast<unsigned char*>(sealed.data()), &length, in, plain.size()) <=
        0)
        return std::nullopt;
    sealed.resize(length);
    return sealed;
}

}  // namespace corvane::service
