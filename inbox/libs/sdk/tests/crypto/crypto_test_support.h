#pragma once

// Helpers of the crypto tests: hexadecimal and patterned fixtures, reference computations made
// with Crypto++ directly, and a synchronous way to call the asynchronous primitives.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/gcm.h>
#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include "crypto/cryptopp_crypto.h"

namespace corvane {
namespace test {

using Bytes = std::vector<uint8_t>;

inline Bytes fromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

inline std::string toHex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    return hex;
}

inline Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 31);
    }
    return bytes;
}

template <typename Key>
Bytes derOf(const Key& key) {
    CryptoPP::ByteQueue queue;
    key.DEREncode(queue);
    Bytes bytes(queue.MaxRetrievable());
    queue.Get(bytes.data(), bytes.size());
    return bytes;
}

// Opens IV || ciphertext || tag with the first keySize bytes of the key; false when the tag
// does not verify.
inline bool referenceGcmOpen(const Bytes& key, size_t keySize, const Bytes& blob, Bytes* plaintext) {
    try {
        CryptoPP::GCM<CryptoPP::AES>::Decryption gcm;
        gcm.SetKeyWithIV(key.data(), keySize, blob.data(), 12);
        std::string out;
        CryptoPP::AuthenticatedDecryptionFilter filter(gcm, new CryptoPP::StringSink(out),
                                                       CryptoPP::AuthenticatedDecryptionFilter::THROW_EXCEPTION, 16);
        filter.Put(blob.data() + 12, blob.size() - 12);
        filter.MessageEnd();
        plaintext->assign(out.begin(), out.end());
        return true;
    } catch (const CryptoPP::Exception&) {
        return false;
    }
}

// A module without loops: primitives handed this module run their completion before they
// return, so a test can call them like functions.
class SyncModule {
public:
    CryptoModule* get() { return &module_; }

    // Calls the primitive with a completion and returns what it received; fails the test
    // when the completion did not run exactly once.
    template <typename Call>
    CryptoBytes bytes(Call call) {
        int calls = 0;
        CryptoBytes received;
        call(&module_, [&](CryptoBytes result) {
            ++calls;
            received = std::move(result);
        });
        EXPECT_EQ(calls, 1);
        return received;
    }

    template <typename Call>
    std::pair<CryptoBytes, CryptoBytes> keyPair(Call call) {
        int calls = 0;
        std::pair<CryptoBytes, CryptoBytes> received;
        call(&module_, [&](CryptoBytes publicKey, CryptoBytes privateKey) {
            ++calls;
            received = {std::move(publicKey), std::move(privateKey)};
        });
        EXPECT_EQ(calls, 1);
        return received;
    }

    template <typename Call>
    bool check(Call call) {
        int calls = 0;
        bool received = false;
        call(&module_, [&](bool valid) {
            ++calls;
            received = valid;
        });
        EXPECT_EQ(calls, 1);
        return received;
    }

private:
    CryptoppCrypto module_{nullptr, nullptr};
};

}  // namespace test
}  // namespace corvane
