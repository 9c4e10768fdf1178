#include "crypto/aes_key_wrap.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "crypto_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::fromHex;
using test::toHex;

CryptoPP::SecByteBlock block(const Bytes& bytes) {
    return CryptoPP::SecByteBlock(bytes.data(), bytes.size());
}

Bytes bytesOf(const CryptoPP::SecByteBlock& block) {
    return Bytes(block.begin(), block.end());
}

struct WrapVector {
    const char* name;
    const char* kek;
    const char* key;
    const char* wrapped;
    bool padding;
};

const std::vector<WrapVector> kWrapVectors = {
    // RFC 3394 section 4.
    {"kek128_key128", "000102030405060708090A0B0C0D0E0F", "00112233445566778899AABBCCDDEEFF",
     "1FA68B0A8112B447AEF34BD8FB5A7B829D3E862371D2CFE5", false},
    {"kek192_key128", "000102030405060708090A0B0C0D0E0F1011121314151617", "00112233445566778899AABBCCDDEEFF",
     "96778B25AE6CA435F92B5B97C050AED2468AB8A17AD84E5D", false},
    {"kek256_key128", "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
     "00112233445566778899AABBCCDDEEFF", "64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7", false},
    {"kek192_key192", "000102030405060708090A0B0C0D0E0F1011121314151617",
     "00112233445566778899AABBCCDDEEFF0001020304050607",
     "031D33264E15D33268F24EC260743EDCE1C6C7DDEE725A936BA814915C6762D2", false},
    {"kek256_key192", "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
     "00112233445566778899AABBCCDDEEFF0001020304050607",
     "A8F9BC1612C68B3FF6E6F4FBE30E71E4769C8B80A32CB8958CD5D17D6B254DA1", false},
    {"kek256_key256", "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
     "00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F",
     "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21", false},
    // RFC 5649 section 6.
    {"padded_key20", "5840df6e29b02af1ab493b705bf16ea1ae8338f4dcc176a8", "c37b7e6492584340bed12207808941155068f738",
     "138bdeaa9b8fa7fc61f97742e72248ee5ae6ae5360d1ae6a5f54f373fa543b6a", true},
    {"padded_key7_single_block", "5840df6e29b02af1ab493b705bf16ea1ae8338f4dcc176a8", "466f7250617369",
     "afbeb0f07dfbf5419200f2ccb50bb24f", true},
};

TEST(AesKeyWrapTest, PublishedVectorsWrapAndUnwrap) {
    for (const WrapVector& v : kWrapVectors) {
        SCOPED_TRACE(v.name);
        CryptoPP::SecByteBlock wrapped;
        aesKeyWrap(block(fromHex(v.key)), block(fromHex(v.kek)), wrapped, v.padding);
        EXPECT_EQ(sbb2hex(wrapped), sbb2hex(block(fromHex(v.wrapped))));

        CryptoPP::SecByteBlock key;
        aesKeyUnwrap(block(fromHex(v.wrapped)), block(fromHex(v.kek)), key, v.padding);
        EXPECT_EQ(toHex(bytesOf(key)), toHex(fromHex(v.key)));
    }
}

TEST(AesKeyWrapTest, EveryFlippedBitFailsTheIntegrityCheck) {
    for (const WrapVector& v : kWrapVectors) {
        SCOPED_TRACE(v.name);
        const Bytes wrapped = fromHex(v.wrapped);
        for (size_t bit = 0; bit < wrapped.size() * 8; ++bit) {
            Bytes damaged = wrapped;
            damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            CryptoPP::SecByteBlock output(fromHex("0102").data(), 2);
            try {
                aesKeyUnwrap(block(damaged), block(fromHex(v.kek)), output, v.padding);
                ADD_FAILURE() << "bit " << bit << " unwrapped";
            } catch (const CryptoPP::Exception& e) {
                EXPECT_EQ(e.GetErrorType(), CryptoPP::Exception::DATA_INTEGRITY_CHECK_FAILED) << "bit " << bit;
            }
            EXPECT_EQ(sbb2hex(output), "0102") << "output changed on failure, bit " << bit;
        }
    }
}

// A padded wrap made with an arbitrary initial value (OpenSSL's raw key wrap), to reach the
// checks that an honest wrap never trips.
Bytes forgePaddedWrap(const Bytes& kek, const Bytes& initialValue, const Bytes& blocks) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    Bytes out(blocks.size() + 8);
    int length = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_192_wrap(), nullptr, kek.data(), initialValue.data()), 1);
    EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &length, blocks.data(), static_cast<int>(blocks.size())), 1);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(length));
    return out;
}

TEST(AesKeyWrapTest, PaddedUnwrapChecksLengthIndicatorAndPadding) {
    const Bytes kek = fromHex("5840df6e29b02af1ab493b705bf16ea1ae8338f4dcc176a8");
    const std::string key20 = "c37b7e6492584340bed12207808941155068f738";
    struct Case {
        const char* name;
        const char* initialValue;
        std::string blocks;
        const char* error;  // null: unwraps to the first MLI bytes
    };
    const std::vector<Case> cases = {
        {"honest", "A65959A600000014", key20 + "00000000", nullptr},
        {"nonzero_padding", "A65959A600000014", key20 + "00000001", "key unwrap failed"},
        {"length_below_last_block", "A65959A600000010", key20 + "00000000", "key unwrap failed"},
        {"length_beyond_blocks", "A65959A600000019", key20 + "00000000", "message too long"},
        {"wrong_prefix", "A65959A700000014", key20 + "00000000", "key unwrap failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes wrapped = forgePaddedWrap(kek, fromHex(c.initialValue), fromHex(c.blocks));
        CryptoPP::SecByteBlock output;
        try {
            aesKeyUnwrap(block(wrapped), block(kek), output, true);
            EXPECT_EQ(c.error, nullptr);
            EXPECT_EQ(toHex(bytesOf(output)), key20);
        } catch (const CryptoPP::Exception& e) {
            ASSERT_NE(c.error, nullptr) << e.what();
            EXPECT_EQ(e.GetWhat(), c.error);
        }
    }
}

TEST(AesKeyWrapTest, RefusedInputsRaiseTheirMessages) {
    const Bytes kek32(32, 7);
    const Bytes kek20(20, 7);
    struct Case {
        const char* name;
        std::function<void()> call;
        CryptoPP::Exception::ErrorType type;
        const char* message;
    };
    CryptoPP::SecByteBlock out;
    const std::vector<Case> cases = {
        {"key_not_multiple_of_8", [&] { aesKeyWrap(block(Bytes(20, 1)), block(kek32), out, false); },
         CryptoPP::Exception::INVALID_ARGUMENT, "key must be a multiple of 64-bit (8 byte) blocks"},
        {"wrap_bad_kek", [&] { aesKeyWrap(block(Bytes(32, 1)), block(kek20), out, false); },
         CryptoPP::Exception::INVALID_ARGUMENT, "KEK must be 128, 192 or 256 bits (16, 24 or 32 bytes)"},
        {"padded_wrap_bad_kek", [&] { aesKeyWrap(block(Bytes(5, 1)), block(kek20), out, true); },
         CryptoPP::Exception::INVALID_ARGUMENT, "KEK must be 128, 192 or 256 bits (16, 24 or 32 bytes)"},
        {"unwrap_bad_kek", [&] { aesKeyUnwrap(block(Bytes(40, 1)), block(kek20), out, false); },
         CryptoPP::Exception::INVALID_ARGUMENT, "KEK must be 128, 192 or 256 bits (16, 24 or 32 bytes)"},
        {"wrapped_41_bytes", [&] { aesKeyUnwrap(block(Bytes(41, 1)), block(kek32), out, false); },
         CryptoPP::Exception::INVALID_ARGUMENT, "wrapped key must be a multiple of 64-bit (8 byte) blocks"},
        {"wrapped_empty", [&] { aesKeyUnwrap(block(Bytes()), block(kek32), out, false); },
         CryptoPP::Exception::DATA_INTEGRITY_CHECK_FAILED, "key unwrap failed"},
        {"wrapped_one_block", [&] { aesKeyUnwrap(block(fromHex("A6A6A6A6A6A6A6A6")), block(kek32), out, false); },
         CryptoPP::Exception::DATA_INTEGRITY_CHECK_FAILED, "key unwrap failed"},
        {"padded_wrapped_one_block", [&] { aesKeyUnwrap(block(Bytes(8, 0)), block(kek32), out, true); },
         CryptoPP::Exception::DATA_INTEGRITY_CHECK_FAILED, "key unwrap failed"},
        {"hex_odd", [] { hex2sbb("abc"); }, CryptoPP::Exception::INVALID_ARGUMENT, "hex2sbb: odd number of hex digits"},
        {"hex_bad_pair", [] { hex2sbb("a6G1"); }, CryptoPP::Exception::INVALID_ARGUMENT,
         "hex2sbb: non-hexdigit 'G1' in input"},
        {"hex_digit", [] { hexdigit2int('g'); }, CryptoPP::Exception::INVALID_ARGUMENT, "hexdigit2int: bad hex digit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.call();
            ADD_FAILURE() << "no exception";
        } catch (const CryptoPP::Exception& e) {
            EXPECT_EQ(e.GetErrorType(), c.type);
            EXPECT_EQ(e.GetWhat(), c.message);
        }
    }
}

TEST(AesKeyWrapTest, HexConversions) {
    EXPECT_EQ(toHex(bytesOf(hex2sbb("a6A6"))), "a6a6");
    EXPECT_EQ(toHex(bytesOf(hex2sbb(""))), "");
    EXPECT_EQ(sbb2hex(block(fromHex("00ff10ab"))), "00FF10AB");
    EXPECT_EQ(hexdigit2int('0'), 0);
    EXPECT_EQ(hexdigit2int('f'), 15);
    EXPECT_EQ(hexdigit2int('F'), 15);
}

}  // namespace
}  // namespace corvane
