#pragma once

// A user's key hierarchy made with OpenSSL alone, independent of the SDK's crypto code: the
// password derivation, the wrapped keys and sealed RSA keys a service hands out at sign-in,
// and sessions sealed for the user's RSA key.

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {
namespace test {
// A namespace of its own: other test helpers have functions of the same names.
namespace signin {

using KeyBytes = std::vector<uint8_t>;

inline KeyBytes randomKeyBytes(size_t size) {
    KeyBytes bytes(size);
    RAND_bytes(bytes.data(), static_cast<int>(size));
    return bytes;
}

inline std::string base64Url(const KeyBytes& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) {
            text += kAlphabet[(v >> shift) & 63];
        }
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        if (rest == 2) {
            v |= uint32_t(bytes[i + 1]) << 8;
        }
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        if (rest == 2) {
            text += kAlphabet[(v >> 6) & 63];
        }
    }
    return text;
}

inline std::string hexOf(const KeyBytes& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

// RFC 3394 AES-256 key wrap: 32 bytes under a 32-byte key give 40.
inline KeyBytes wrapKey(const KeyBytes& key, const KeyBytes& kek) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX_set_flags(context, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    KeyBytes out(key.size() + 16);
    int length = 0;
    int tail = 0;
    EVP_EncryptInit_ex(context, EVP_aes_256_wrap(), nullptr, kek.data(), nullptr);
    EVP_EncryptUpdate(context, out.data(), &length, key.data(), static_cast<int>(key.size()));
    EVP_EncryptFinal_ex(context, out.data() + length, &tail);
    EVP_CIPHER_CTX_free(context);
    out.resize(static_cast<size_t>(length + tail));
    return out;
}

// AES-256-GCM: 12-byte IV, ciphertext, 16-byte tag.
inline KeyBytes sealGcm(const KeyBytes& plain, const KeyBytes& key) {
    KeyBytes iv = randomKeyBytes(12);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    KeyBytes out(iv);
    out.resize(12 + plain.size() + 16);
    int length = 0;
    int tail = 0;
    EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr, key.data(), iv.data());
    EVP_EncryptUpdate(context, out.data() + 12, &length, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(context, out.data() + 12 + length, &tail);
    EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, 16, out.data() + 12 + length + tail);
    EVP_CIPHER_CTX_free(context);
    return out;
}

// PBKDF2-HMAC-SHA512, 150,000 rounds, salted with the lower-cased address and the suffix:
// bytes 0-31 the authentication key, 32-63 the password key.
inline std::pair<KeyBytes, KeyBytes> deriveUserKeys(const std::string& email, const std::string& password) {
    std::string salt;
    for (char c : email) {
        salt += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    salt += " ___TORQUIN___ ";
    KeyBytes derived(64);
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                      reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()), 150000,
                      EVP_sha512(), 64, derived.data());
    return {KeyBytes(derived.begin(), derived.begin() + 32), KeyBytes(derived.begin() + 32, derived.end())};
}

// An RSA pair: X.509 DER public key, PKCS #8 DER private key.
struct RsaPair {
    KeyBytes publicKey;
    KeyBytes privateKey;
};

inline RsaPair makeRsaPair(unsigned bits = 2048) {
    RsaPair pair;
    EVP_PKEY* key = EVP_RSA_gen(bits);
    if (key == nullptr) {
        return pair;
    }
    unsigned char* der = nullptr;
    int length = i2d_PUBKEY(key, &der);
    pair.publicKey.assign(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    der = nullptr;
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
    length = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
    pair.privateKey.assign(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    PKCS8_PRIV_KEY_INFO_free(info);
    EVP_PKEY_free(key);
    return pair;
}

// RSA-OAEP with SHA-1 to the X.509 DER public key.
inline KeyBytes sealForPublicKey(const KeyBytes& plain, const KeyBytes& publicKey) {
    const unsigned char* in = publicKey.data();
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &in, static_cast<long>(publicKey.size()));
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    KeyBytes sealed;
    size_t length = 0;
    if (EVP_PKEY_encrypt_init(context) > 0 && EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_OAEP_PADDING) > 0 &&
        EVP_PKEY_CTX_set_rsa_oaep_md(context, EVP_sha1()) > 0 &&
        EVP_PKEY_encrypt(context, nullptr, &length, plain.data(), plain.size()) > 0) {
        sealed.resize(length);
        if (EVP_PKEY_encrypt(context, sealed.data(), &length, plain.data(), plain.size()) > 0) {
            sealed.resize(length);
        } else {
            sealed.clear();
        }
    }
    EVP_PKEY_CTX_free(context);
    EVP_PKEY_free(key);
    return sealed;
}

// Everything a user's sign-in involves, fresh and random except what the password gives.
struct AccountKeys {
    AccountKeys(std::string emailText, std::string passwordText)
        : email(std::move(emailText)), password(std::move(passwordText)) {
        auto derived = deriveUserKeys(email, password);
        authKey = derived.first;
        passwordKey = derived.second;
        userRsa = makeRsaPair();
        accountRsa = makeRsaPair();
        wrappedMasterKey = wrapKey(masterKey, passwordKey);
        wrappedAccountKey = wrapKey(accountKey, masterKey);
        wrappedFingerprintKey = wrapKey(fingerprintKey, accountKey);
        sealedUserRsa = sealGcm(userRsa.privateKey, masterKey);
        sealedAccountRsa = sealGcm(accountRsa.privateKey, accountKey);
    }

    // The recovery key: the master key's 43-character text.
    std::string recoveryKey() const { return base64Url(masterKey); }

    std::string email;
    std::string password;
    KeyBytes authKey;
    KeyBytes passwordKey;
    KeyBytes masterKey = randomKeyBytes(32);
    KeyBytes accountKey = randomKeyBytes(32);
    KeyBytes fingerprintKey = randomKeyBytes(32);
    RsaPair userRsa;
    RsaPair accountRsa;
    KeyBytes wrappedMasterKey;
    KeyBytes wrappedAccountKey;
    KeyBytes wrappedFingerprintKey;
    KeyBytes sealedUserRsa;
    KeyBytes sealedAccountRsa;
};

}  // namespace signin
}  // namespace test
}  // namespace corvane
