#pragma once

// Helpers of the crypto tests: hexadecimal fixtures and a synchronous way to call the
// asynchronous primitives.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

inline Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

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
