#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "crypto_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::fromHex;
using test::pattern;
using test::SyncModule;
using test::toHex;

// OpenSSL as the independent reference for the block-level expectations.
Bytes openssl(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key, const uint8_t* iv, const Bytes& input,
              bool padding) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EXPECT_EQ(EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
    Bytes out(input.size() + 32);
    int length = 0;
    int finalLength = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &length, input.data(), static_cast<int>(input.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + length, &finalLength), 1);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(length + finalLength));
    return out;
}

Bytes ecbEncrypt(const Bytes& key, const Bytes& block) {
    return openssl(key.size() == 16 ? EVP_aes_128_ecb() : EVP_aes_256_ecb(), true, key, nullptr, block, false);
}

class AesTest : public ::testing::Test {
protected:
    CryptoBytes run(void (CryptoppAesCrypto::*op)(CryptoModule*, const uint8_t*, uint64_t, const uint8_t*,
                                                  const uint8_t*, BytesCompletion),
                    const Bytes& input, const Bytes& iv, const Bytes& key) {
        return sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
            (aes_.*op)(module, input.data(), input.size(), iv.data(), key.data(), done);
        });
    }

    SyncModule sync_;
    CryptoppAesCrypto aes_;
};

// NIST SP 800-38A F.5.1 and F.5.5.
TEST_F(AesTest, CtrPublishedVectors) {
    const Bytes counter = fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const Bytes plain = fromHex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    struct Case {
        const char* name;
        const char* key;
        const char* cipher;
        bool aes256;
    };
    const std::vector<Case> cases = {
        {"aes128", "2b7e151628aed2a6abf7158809cf4f3c",
         "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
         "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee",
         false},
        {"aes256", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
         "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto encrypt = c.aes256 ? &CryptoppAesCrypto::encryptCtr256 : &CryptoppAesCrypto::encryptCtr128;
        const auto decrypt = c.aes256 ? &CryptoppAesCrypto::decryptCtr256 : &CryptoppAesCrypto::decryptCtr128;
        CryptoBytes cipher = run(encrypt, plain, counter, fromHex(c.key));
        ASSERT_TRUE(cipher);
        EXPECT_EQ(toHex(*cipher), c.cipher);
        CryptoBytes back = run(decrypt, fromHex(c.cipher), counter, fromHex(c.key));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, plain);
        // A stream that does not end on a block boundary is cut, not padded.
        CryptoBytes partial = run(encrypt, Bytes(plain.begin(), plain.begin() + 21), counter, fromHex(c.key));
        ASSERT_TRUE(partial);
        EXPECT_EQ(toHex(*partial), std::string(c.cipher).substr(0, 42));
    }
}

// The whole 16-byte counter block is one big-endian number: each keystream block must be the
// AES encryption of the expected counter value.
TEST_F(AesTest, CtrCounterCarriesAcrossTheWholeBlock) {
    struct Case {
        const char* name;
        const char* start;
        std::vector<const char*> following;
    };
    const std::vector<Case> cases = {
        {"carry_into_upper_half",
         "0000000000000000ffffffffffffffff",
         {"00000000000000010000000000000000", "00000000000000010000000000000001"}},
        {"carry_inside_lower_half", "0000000000000000 00000000ffffffff", {"00000000000000000000000100000000"}},
        {"wraps_to_zero", "ffffffffffffffffffffffffffffffff", {"00000000000000000000000000000000"}},
        {"large_offset_block", "00000000000000000000000100000001", {"00000000000000000000000100000002"}},
    };
    for (bool aes256 : {false, true}) {
        const Bytes key = pattern(aes256 ? 32 : 16, 3);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (aes256 ? " aes256" : " aes128"));
            std::string startHex = c.start;
            startHex.erase(std::remove(startHex.begin(), startHex.end(), ' '), startHex.end());
            const Bytes start = fromHex(startHex);
            const size_t blocks = c.following.size() + 1;
            CryptoBytes keystream = run(aes256 ? &CryptoppAesCrypto::encryptCtr256 : &CryptoppAesCrypto::encryptCtr128,
                                        Bytes(blocks * 16, 0), start, key);
            ASSERT_TRUE(keystream);
            ASSERT_EQ(keystream->size(), blocks * 16);
            Bytes expected = ecbEncrypt(key, start);
            for (const char* next : c.following) {
                const Bytes block = ecbEncrypt(key, fromHex(next));
                expected.insert(expected.end(), block.begin(), block.end());
            }
            EXPECT_EQ(toHex(*keystream), toHex(expected));
        }
    }
}

TEST_F(AesTest, CtrOfNothingIsEmptyNotNull) {
    for (auto op : {&CryptoppAesCrypto::encryptCtr128, &CryptoppAesCrypto::decryptCtr256}) {
        CryptoBytes out = sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
            (aes_.*op)(module, nullptr, 0, Bytes(16, 0).data(), Bytes(32, 1).data(), done);
        });
        ASSERT_TRUE(out);
        EXPECT_TRUE(out->empty());
    }
}

// The GCM test cases published with the algorithm (also used by NIST SP 800-38D tests).
// Into the caller's buffer: every byte written, nothing past the end touched, in place too,
// with the bytes of OpenSSL's CTR and of the vector form.
TEST_F(AesTest, CtrIntoTheCallersBuffer) {
    constexpr size_t kGuard = 16;
    const Bytes counter = fromHex("0000000000000000fffffffffffffffe");
    for (bool aes256 : {false, true}) {
        const Bytes key = pattern(aes256 ? 32 : 16, 5);
        const auto transform = aes256 ? &CryptoppAesCrypto::transformCtr256 : &CryptoppAesCrypto::transformCtr128;
        for (size_t size : {size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{4101}, size_t{(1 << 20) + 3}}) {
            for (bool inPlace : {false, true}) {
                SCOPED_TRACE(std::to_string(size) + (aes256 ? " aes256" : " aes128") + (inPlace ? " in place" : ""));
                const Bytes input = pattern(size, 7);
                const Bytes expected =
                    openssl(aes256 ? EVP_aes_256_ctr() : EVP_aes_128_ctr(), true, key, counter.data(), input, false);
                CryptoBytes vectorForm =
                    run(aes256 ? &CryptoppAesCrypto::encryptCtr256 : &CryptoppAesCrypto::encryptCtr128, input, counter,
                        key);
                ASSERT_TRUE(vectorForm);
                EXPECT_EQ(*vectorForm, expected);

                Bytes buffer = inPlace ? input : Bytes(size, 0xee);
                buffer.resize(size + kGuard, 0xa5);
                const uint8_t* source = inPlace ? buffer.data() : input.data();
                EXPECT_TRUE(sync_.check([&](CryptoModule* module, CheckCompletion done) {
                    (aes_.*transform)(module, source, size, counter.data(), key.data(), buffer.data(), done);
                }));
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
                EXPECT_EQ(Bytes(buffer.begin() + size, buffer.end()), Bytes(kGuard, 0xa5));
            }
        }
    }
}

TEST_F(AesTest, CtrIntoNoBufferFailsUnlessThereIsNothingToWrite) {
    const Bytes key(32, 1);
    const Bytes iv(16, 0);
    const Bytes input(32, 2);
    EXPECT_FALSE(sync_.check([&](CryptoModule* module, CheckCompletion done) {
        aes_.transformCtr256(module, input.data(), input.size(), iv.data(), key.data(), nullptr, done);
    }));
    EXPECT_TRUE(sync_.check([&](CryptoModule* module, CheckCompletion done) {
        aes_.transformCtr128(module, nullptr, 0, iv.data(), key.data(), nullptr, done);
    }));
}

TEST_F(AesTest, GcmPublishedVectors) {
    const std::string p3 =
        "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
        "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255";
    struct Case {
        const char* name;
        std::string key;
        const char* iv;
        std::string plain;
        const char* sealed;
    };
    const std::vector<Case> cases = {
        {"tc1_empty", std::string(32, '0'), "000000000000000000000000", "", "58e2fccefa7e3061367f1d57a4e7455a"},
        {"tc2", std::string(32, '0'), "000000000000000000000000", std::string(32, '0'),
         "0388dace60b6a392f328c2b971b2fe78ab6e47d42cec13bdf53a67b21257bddf"},
        {"tc3", "feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", p3,
         "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa05"
         "1ba30b396a0aac973d58e091473f59854d5c2af327cd64a62cf35abd2ba6fab4"},
        {"tc13_empty", std::string(64, '0'), "000000000000000000000000", "", "530f8afbc74536b9a963b4f1c4cb738b"},
        {"tc14", std::string(64, '0'), "000000000000000000000000", std::string(32, '0'),
         "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919"},
        {"tc15", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", p3,
         "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838"
         "c5f61e6393ba7a0abcc9f662898015adb094dac5d93471bdec1a502270e3cc6c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool aes256 = c.key.size() == 64;
        CryptoBytes sealed = run(aes256 ? &CryptoppAesCrypto::encryptGcm256 : &CryptoppAesCrypto::encryptGcm128,
                                 fromHex(c.plain), fromHex(c.iv), fromHex(c.key));
        ASSERT_TRUE(sealed);
        EXPECT_EQ(toHex(*sealed), c.sealed);
        CryptoBytes opened = run(aes256 ? &CryptoppAesCrypto::decryptGcm256 : &CryptoppAesCrypto::decryptGcm128,
                                 fromHex(c.sealed), fromHex(c.iv), fromHex(c.key));
        ASSERT_TRUE(opened);
        EXPECT_EQ(toHex(*opened), c.plain);
    }
}

// A stored blob is IV || ciphertext || tag, so one plaintext byte takes 29 bytes.
TEST_F(AesTest, GcmBlobLayout) {
    const Bytes key = pattern(32, 9);
    const Bytes iv = pattern(12, 1);
    const Bytes plain = {0x42};
    CryptoBytes sealed = run(&CryptoppAesCrypto::encryptGcm256, plain, iv, key);
    ASSERT_TRUE(sealed);
    Bytes blob = iv;
    blob.insert(blob.end(), sealed->begin(), sealed->end());
    EXPECT_EQ(blob.size(), 29u);

    const Bytes blobIv(blob.begin(), blob.begin() + 12);
    const Bytes body(blob.begin() + 12, blob.end());
    CryptoBytes opened = run(&CryptoppAesCrypto::decryptGcm256, body, blobIv, key);
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, plain);
}

TEST_F(AesTest, GcmRefusesDamagedOrShortInput) {
    for (bool aes256 : {false, true}) {
        const Bytes key = pattern(aes256 ? 32 : 16, 5);
        const Bytes iv = pattern(12, 2);
        const auto encrypt = aes256 ? &CryptoppAesCrypto::encryptGcm256 : &CryptoppAesCrypto::encryptGcm128;
        const auto decrypt = aes256 ? &CryptoppAesCrypto::decryptGcm256 : &CryptoppAesCrypto::decryptGcm128;
        const Bytes sealed = *run(encrypt, pattern(40, 7), iv, key);
        const Bytes emptySealed = *run(encrypt, Bytes(), iv, key);
        ASSERT_EQ(emptySealed.size(), 16u);

        struct Case {
            std::string name;
            Bytes input;
            Bytes iv;
            Bytes key;
        };
        std::vector<Case> cases;
        auto flipped = [](Bytes bytes, size_t index) {
            bytes[index] ^= 0x01;
            return bytes;
        };
        cases.push_back({"flipped_tag_byte", flipped(sealed, sealed.size() - 1), iv, key});
        cases.push_back({"flipped_cipher_byte", flipped(sealed, 3), iv, key});
        cases.push_back({"empty_message_flipped_tag", flipped(emptySealed, 0), iv, key});
        cases.push_back({"truncated", Bytes(sealed.begin(), sealed.end() - 1), iv, key});
        cases.push_back({"wrong_key", sealed, iv, flipped(key, 0)});
        cases.push_back({"wrong_iv", sealed, flipped(iv, 11), key});
        for (size_t size = 0; size < 16; ++size) {
            cases.push_back({"short_" + std::to_string(size), Bytes(sealed.begin(), sealed.begin() + size), iv, key});
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + (aes256 ? " aes256" : " aes128"));
            // Heap copies so that AddressSanitizer sees any read past the input.
            auto input = std::make_unique<uint8_t[]>(c.input.size() + 1);
            std::copy(c.input.begin(), c.input.end(), input.get());
            CryptoBytes out = sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
                (aes_.*decrypt)(module, input.get(), c.input.size(), c.iv.data(), c.key.data(), done);
            });
            EXPECT_FALSE(out);
        }
        CryptoBytes empty = run(decrypt, emptySealed, iv, key);
        ASSERT_TRUE(empty);
        EXPECT_TRUE(empty->empty());
    }
}

TEST_F(AesTest, CbcPadsAndMatchesAnIndependentImplementation) {
    for (bool aes256 : {false, true}) {
        const Bytes key = pattern(aes256 ? 32 : 16, 11);
        const Bytes iv = pattern(16, 4);
        for (size_t size : {0, 1, 15, 16, 17, 31, 32, 100}) {
            SCOPED_TRACE(std::to_string(size) + (aes256 ? " aes256" : " aes128"));
            const Bytes plain = pattern(size, 13);
            CryptoBytes cipher =
                run(aes256 ? &CryptoppAesCrypto::encryptCbc256 : &CryptoppAesCrypto::encryptCbc128, plain, iv, key);
            ASSERT_TRUE(cipher);
            EXPECT_EQ(cipher->size(), (size / 16 + 1) * 16);
            EXPECT_EQ(*cipher,
                      openssl(aes256 ? EVP_aes_256_cbc() : EVP_aes_128_cbc(), true, key, iv.data(), plain, true));
            CryptoBytes back =
                run(aes256 ? &CryptoppAesCrypto::decryptCbc256 : &CryptoppAesCrypto::decryptCbc128, *cipher, iv, key);
            ASSERT_TRUE(back);
            EXPECT_EQ(*back, plain);
        }
    }
}

TEST_F(AesTest, CbcRefusesBadLengthsAndPadding) {
    const Bytes key = pattern(32, 11);
    const Bytes iv = pattern(16, 4);
    // Ciphertexts of chosen last blocks, made without padding by the independent implementation.
    auto encryptRaw = [&](const std::string& plainHex) {
        return openssl(EVP_aes_256_cbc(), true, key, iv.data(), fromHex(plainHex), false);
    };
    const std::string body = "000102030405060708090a0b0c0d0e";
    struct Case {
        const char* name;
        Bytes input;
    };
    const std::vector<Case> cases = {
        {"empty", Bytes()},
        {"fifteen_bytes", Bytes(15, 1)},
        {"seventeen_bytes", Bytes(17, 1)},
        {"last_byte_zero", encryptRaw(body + "00")},
        {"last_byte_seventeen", encryptRaw(body + "11")},
        {"inconsistent_padding", encryptRaw("000102030405060708090a0b0c0d0302")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(run(&CryptoppAesCrypto::decryptCbc256, c.input, iv, key));
    }
    CryptoBytes fullBlockPad =
        run(&CryptoppAesCrypto::decryptCbc256, encryptRaw("10101010101010101010101010101010"), iv, key);
    ASSERT_TRUE(fullBlockPad);
    EXPECT_TRUE(fullBlockPad->empty());
}

TEST_F(AesTest, KeyWrapSlots) {
    const Bytes kek256 = fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const Bytes key256 = fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
    const Bytes kek128 = fromHex("000102030405060708090A0B0C0D0E0F");
    const Bytes key128 = fromHex("00112233445566778899AABBCCDDEEFF");
    auto wrap = [&](bool aes256, const Bytes& key, const Bytes& kek) {
        return sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
            aes256 ? aes_.wrapKey256(module, key.data(), kek.data(), done)
                   : aes_.wrapKey128(module, key.data(), kek.data(), done);
        });
    };
    auto unwrap = [&](bool aes256, const Bytes& wrapped, const Bytes& kek) {
        return sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
            aes256 ? aes_.unwrapKey256(module, wrapped.data(), kek.data(), done)
                   : aes_.unwrapKey128(module, wrapped.data(), kek.data(), done);
        });
    };
    CryptoBytes wrapped256 = wrap(true, key256, kek256);
    ASSERT_TRUE(wrapped256);
    EXPECT_EQ(toHex(*wrapped256), "28c9f404c4b810f4cbccb35cfb87f8263f5786e2d80ed326cbc7f0e71a99f43bfb988b9b7a02dd21");
    CryptoBytes wrapped128 = wrap(false, key128, kek128);
    ASSERT_TRUE(wrapped128);
    EXPECT_EQ(toHex(*wrapped128), "1fa68b0a8112b447aef34bd8fb5a7b829d3e862371d2cfe5");

    CryptoBytes back256 = unwrap(true, *wrapped256, kek256);
    ASSERT_TRUE(back256);
    EXPECT_EQ(*back256, key256);
    CryptoBytes back128 = unwrap(false, *wrapped128, kek128);
    ASSERT_TRUE(back128);
    EXPECT_EQ(*back128, key128);

    Bytes otherKek = kek256;
    otherKek[31] ^= 0x80;
    EXPECT_FALSE(unwrap(true, *wrapped256, otherKek));
    Bytes damaged = *wrapped128;
    damaged[0] ^= 1;
    EXPECT_FALSE(unwrap(false, damaged, kek128));
}

TEST(AesCryptoExtraTest, RawModesMatchAnIndependentImplementation) {
    SyncModule sync;
    CryptoppAesCryptoExtra extra;
    const Bytes plain = pattern(48, 21);
    const Bytes iv = pattern(16, 8);
    for (bool aes256 : {false, true}) {
        SCOPED_TRACE(aes256 ? "aes256" : "aes128");
        const Bytes key = pattern(aes256 ? 32 : 16, 17);
        CryptoBytes cbc = sync.bytes([&](CryptoModule* m, BytesCompletion done) {
            aes256 ? extra.encryptCbcRaw256(m, plain.data(), plain.size(), iv.data(), key.data(), done)
                   : extra.encryptCbcRaw128(m, plain.data(), plain.size(), iv.data(), key.data(), done);
        });
        ASSERT_TRUE(cbc);
        EXPECT_EQ(*cbc, openssl(aes256 ? EVP_aes_256_cbc() : EVP_aes_128_cbc(), true, key, iv.data(), plain, false));
        CryptoBytes cbcBack = sync.bytes([&](CryptoModule* m, BytesCompletion done) {
            aes256 ? extra.decryptCbcRaw256(m, cbc->data(), cbc->size(), iv.data(), key.data(), done)
                   : extra.decryptCbcRaw128(m, cbc->data(), cbc->size(), iv.data(), key.data(), done);
        });
        ASSERT_TRUE(cbcBack);
        EXPECT_EQ(*cbcBack, plain);

        CryptoBytes ecb = sync.bytes([&](CryptoModule* m, BytesCompletion done) {
            aes256 ? extra.encryptEcb256(m, plain.data(), plain.size(), key.data(), done)
                   : extra.encryptEcb128(m, plain.data(), plain.size(), key.data(), done);
        });
        ASSERT_TRUE(ecb);
        EXPECT_EQ(*ecb, ecbEncrypt(key, plain));
        CryptoBytes ecbBack = sync.bytes([&](CryptoModule* m, BytesCompletion done) {
            aes256 ? extra.decryptEcb256(m, ecb->data(), ecb->size(), key.data(), done)
                   : extra.decryptEcb128(m, ecb->data(), ecb->size(), key.data(), done);
        });
        ASSERT_TRUE(ecbBack);
        EXPECT_EQ(*ecbBack, plain);

        // Without padding only whole blocks can be processed.
        EXPECT_FALSE(sync.bytes([&](CryptoModule* m, BytesCompletion done) {
            aes256 ? extra.encryptEcb256(m, plain.data(), 17, key.data(), done)
                   : extra.encryptEcb128(m, plain.data(), 17, key.data(), done);
        }));
        EXPECT_FALSE(sync.bytes([&](CryptoModule* m, BytesCompletion done) {
            aes256 ? extra.decryptCbcRaw256(m, plain.data(), 5, iv.data(), key.data(), done)
                   : extra.decryptCbcRaw128(m, plain.data(), 5, iv.data(), key.data(), done);
        }));
    }
}

}  // namespace
}  // namespace corvane
