#include <string>
#include <vector>

#include <cryptopp/blake2.h>
#include <gtest/gtest.h>

#include "crypto_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::fromHex;
using test::SyncModule;
using test::textBytes;
using test::toHex;

TEST(ShaHashTest, DigestsOfPublishedVectors) {
    SyncModule sync;
    CryptoppShaHash sha;
    using Digest = void (CryptoppShaHash::*)(CryptoModule*, const uint8_t*, uint64_t, BytesCompletion);
    struct Case {
        const char* name;
        Digest digest;
        std::string input;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"sha256_abc", &CryptoppShaHash::sha256, "abc",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"sha256_empty", &CryptoppShaHash::sha256, "",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"sha384_abc", &CryptoppShaHash::sha384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {"sha384_empty", &CryptoppShaHash::sha384, "",
         "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
        {"sha512_abc", &CryptoppShaHash::sha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {"sha512_empty", &CryptoppShaHash::sha512, "",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
         "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Twice: the hash objects are reused and must start clean every call.
        for (int round = 0; round < 2; ++round) {
            const Bytes input = textBytes(c.input);
            CryptoBytes digest = sync.bytes([&](CryptoModule* module, BytesCompletion done) {
                (sha.*c.digest)(module, input.empty() ? nullptr : input.data(), input.size(), done);
            });
            ASSERT_TRUE(digest);
            EXPECT_EQ(toHex(*digest), c.expected);
        }
    }
}

// Expected values computed independently with Python's hashlib.pbkdf2_hmac("sha512", ...).
TEST(ShaHashTest, Pbkdf2HmacSha512) {
    SyncModule sync;
    CryptoppShaHash sha;
    struct Case {
        const char* name;
        std::string password;
        std::string salt;
        uint32_t iterations;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"one_iteration", "password", "salt", 1,
         "867f70cf1ade02cff3752599a3a53dc4af34c7a669815ae5d513554e1c8cf252"
         "c02d470a285a0501bad999bfe943c08f050235d7d68b1da55e63f73b60a57fce"},
        {"two_iterations", "password", "salt", 2,
         "e1d9c16aa681708a45f5c7c4e215ceb66e011a2e9f0040713f18aefdb866d53c"
         "f76cab2868a39b9f7840edce4fef5a82be67335c77a6068e04112754f27ccf4e"},
        {"4096_iterations", "password", "salt", 4096,
         "d197b1b33db0143e018b12f3d1d1479e6cdebdcc97c5c0f87f6902e072f457b5"
         "143f30602641b3d55cd335988cb36b84376060ecd532e039b742a239434af2d5"},
        {"long_inputs", "passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "8c0511f4c6e597c6ac6315d8f0362e225f3c501495ba23b868c005174dc4ee71"
         "115b59f9e60cd9532fa33e0f75aefe30225c583a186cd82bd4daea9724a3d3b8"},
        {"empty_password", "", "salt", 1,
         "00ef42cdbfc98d29db20976608e455567fdddf141f6eb03b5a85addd25974f5d"
         "2375bd5082b803e8f4cfa88ae1bd25256fcbddd2318676566ff2797792302aee"},
        {"embedded_zeros_at_login_count", std::string("pass\0word", 9), std::string("sa\0lt", 5), 150000,
         "3c690afe53fe71c1d22e690387121610e9e6f23da5b197305161fea0a2eee3cc"
         "62055434c2c5f796e2b47183e51ae7b65d6c44b89c9be3c045a74d494b94a1e7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes password = textBytes(c.password);
        const Bytes salt = textBytes(c.salt);
        CryptoBytes key = sync.bytes([&](CryptoModule* module, BytesCompletion done) {
            sha.pbkdf2Sha512(module, password.empty() ? nullptr : password.data(), password.size(), salt.data(),
                             salt.size(), c.iterations, done);
        });
        ASSERT_TRUE(key);
        EXPECT_EQ(toHex(*key), c.expected);
    }
}

TEST(ShaHashTest, Pbkdf2RefusesZeroIterations) {
    SyncModule sync;
    CryptoppShaHash sha;
    const Bytes password = textBytes("password");
    EXPECT_FALSE(sync.bytes([&](CryptoModule* module, BytesCompletion done) {
        sha.pbkdf2Sha512(module, password.data(), password.size(), password.data(), password.size(), 0, done);
    }));
}

// Crypto++ is the independent reference of the BLAKE2b tests: its parameters for the sizes
// in use give the reference digests; expected values from Python's hashlib.blake2b.
TEST(Blake2bTest, CryptoppParametersMatchTheReference) {
    Bytes key(32);
    for (size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<uint8_t>(i);
    }
    Bytes longInput;
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 256; ++i) {
            longInput.push_back(static_cast<uint8_t>(i));
        }
    }
    struct Case {
        const char* name;
        Bytes input;
        const char* expected;
    };
    const std::vector<Case> keyed = {
        {"abc", textBytes("abc"), "9a44793314a8cd80c4d8dbf3ea3a8ab62c65ea6a"},
        {"empty", Bytes(), "6fc1ea081256429020c89c3df5eac0b2a384d570"},
        {"several_blocks", longInput, "77a8c8445e6ce9f938b63057360fb203f49c82a6"},
    };
    for (const Case& c : keyed) {
        SCOPED_TRACE(c.name);
        CryptoPP::BLAKE2b hash(key.data(), key.size(), nullptr, 0, nullptr, 0, false, 20);
        Bytes digest(hash.DigestSize());
        hash.CalculateDigest(digest.data(), c.input.data(), c.input.size());
        EXPECT_EQ(toHex(digest), c.expected);
    }

    CryptoPP::BLAKE2b unkeyed(false, 32);
    Bytes digest(unkeyed.DigestSize());
    const Bytes abc = textBytes("abc");
    unkeyed.CalculateDigest(digest.data(), abc.data(), abc.size());
    EXPECT_EQ(toHex(digest), "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
}

}  // namespace
}  // namespace corvane
