#include <memory>
#include <string>
#include <vector>

#include <cryptopp/eccrypto.h>
#include <cryptopp/filters.h>
#include <cryptopp/oids.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "crypto_test_support.h"

namespace corvane {
namespace {

using test::Bytes;
using test::derOf;
using test::fromHex;
using test::SyncModule;
using test::textBytes;
using test::toHex;

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// OpenSSL reads the keys as the independent check of their encodings.
Pkey opensslPublicKey(const Bytes& der) {
    const unsigned char* p = der.data();
    Pkey key(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
    EXPECT_EQ(p, der.data() + der.size()) << "trailing bytes after the public key";
    return key;
}

Pkey opensslPrivateKey(const Bytes& der) {
    const unsigned char* p = der.data();
    return Pkey(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size())));
}

Bytes opensslOaep(EVP_PKEY* key, bool encrypt, const Bytes& input) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EXPECT_EQ(encrypt ? EVP_PKEY_encrypt_init(ctx) : EVP_PKEY_decrypt_init(ctx), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha1()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha1()), 1);
    size_t length = 0;
    const int sized = encrypt ? EVP_PKEY_encrypt(ctx, nullptr, &length, input.data(), input.size())
                              : EVP_PKEY_decrypt(ctx, nullptr, &length, input.data(), input.size());
    EXPECT_EQ(sized, 1);
    Bytes out(length);
    const int done = encrypt ? EVP_PKEY_encrypt(ctx, out.data(), &length, input.data(), input.size())
                             : EVP_PKEY_decrypt(ctx, out.data(), &length, input.data(), input.size());
    EXPECT_EQ(done, 1);
    EVP_PKEY_CTX_free(ctx);
    out.resize(length);
    return out;
}

// 256 bits, too short a modulus for OAEP with SHA-1.
CryptoPP::RSA::PrivateKey tinyRsaKey() {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::RSA::PrivateKey key;
    key.Initialize(random, 256);
    return key;
}

class RsaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SyncModule sync;
        CryptoppRsaCrypto rsa;
        auto pair =
            sync.keyPair([&](CryptoModule* module, KeyPairCompletion done) { rsa.generateKeyPair3072(module, done); });
        ASSERT_TRUE(pair.first && pair.second);
        publicKey_ = new Bytes(*pair.first);
        privateKey_ = new Bytes(*pair.second);
    }

    static void TearDownTestSuite() {
        delete publicKey_;
        delete privateKey_;
        publicKey_ = privateKey_ = nullptr;
    }

    CryptoBytes encrypt(const Bytes& data, const Bytes& key) {
        return sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
            rsa_.encrypt3072(module, data.empty() ? nullptr : data.data(), data.size(), key.data(), key.size(), done);
        });
    }

    CryptoBytes decrypt(const Bytes& data, const Bytes& key) {
        // A heap copy of the exact length, so that reading past it is caught.
        auto copy = std::make_unique<uint8_t[]>(data.size() + 1);
        std::copy(data.begin(), data.end(), copy.get());
        return sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
            rsa_.decrypt3072(module, copy.get(), data.size(), key.data(), key.size(), done);
        });
    }

    static Bytes* publicKey_;
    static Bytes* privateKey_;
    SyncModule sync_;
    CryptoppRsaCrypto rsa_;
};

Bytes* RsaTest::publicKey_ = nullptr;
Bytes* RsaTest::privateKey_ = nullptr;

TEST_F(RsaTest, KeyPairEncodings) {
    Pkey publicKey = opensslPublicKey(*publicKey_);
    ASSERT_TRUE(publicKey);
    EXPECT_EQ(EVP_PKEY_get_base_id(publicKey.get()), EVP_PKEY_RSA);
    EXPECT_EQ(EVP_PKEY_get_bits(publicKey.get()), 3072);
    BIGNUM* exponent = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(publicKey.get(), OSSL_PKEY_PARAM_RSA_E, &exponent), 1);
    EXPECT_EQ(BN_get_word(exponent), 17u);
    BN_free(exponent);

    Pkey privateKey = opensslPrivateKey(*privateKey_);
    ASSERT_TRUE(privateKey);
    EXPECT_EQ(EVP_PKEY_get_bits(privateKey.get()), 3072);

    // The private key re-encodes to the same bytes.
    CryptoPP::RSA::PrivateKey decoded;
    CryptoPP::ArraySource source(privateKey_->data(), privateKey_->size(), true);
    decoded.BERDecode(source);
    EXPECT_EQ(derOf(decoded), *privateKey_);
}

TEST_F(RsaTest, PlaintextSizeLimits) {
    struct Case {
        size_t size;
        bool succeeds;
    };
    for (const Case& c : std::vector<Case>{{0, true}, {1, true}, {32, true}, {342, true}, {343, false}, {400, false}}) {
        SCOPED_TRACE(c.size);
        const Bytes plain(c.size, 0x5a);
        CryptoBytes cipher = encrypt(plain, *publicKey_);
        if (!c.succeeds) {
            EXPECT_FALSE(cipher);
            continue;
        }
        ASSERT_TRUE(cipher);
        EXPECT_EQ(cipher->size(), 384u);
        CryptoBytes back = decrypt(*cipher, *privateKey_);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, plain);
    }
}

TEST_F(RsaTest, InteroperatesWithAnIndependentOaep) {
    const Bytes key(32, 0xa7);
    Pkey privateKey = opensslPrivateKey(*privateKey_);
    ASSERT_TRUE(privateKey);

    CryptoBytes ours = encrypt(key, *publicKey_);
    ASSERT_TRUE(ours);
    EXPECT_EQ(opensslOaep(privateKey.get(), false, *ours), key);

    Pkey publicKey = opensslPublicKey(*publicKey_);
    const Bytes theirs = opensslOaep(publicKey.get(), true, key);
    CryptoBytes back = decrypt(theirs, *privateKey_);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, key);

    CryptoBytes again = encrypt(key, *publicKey_);
    ASSERT_TRUE(again);
    EXPECT_NE(*again, *ours) << "the OAEP seed must be random";
}

TEST_F(RsaTest, DecryptionFailures) {
    const Bytes tinyDer = derOf(tinyRsaKey());

    CryptoBytes valid = encrypt(Bytes(32, 1), *publicKey_);
    ASSERT_TRUE(valid);
    Bytes randomBlock(384);
    CryptoPP::AutoSeededRandomPool random;
    random.GenerateBlock(randomBlock.data(), randomBlock.size());
    randomBlock[0] = 0;  // below the modulus, so only the OAEP check can refuse it
    Bytes flipped = *valid;
    flipped[200] ^= 0x10;

    struct Case {
        const char* name;
        Bytes ciphertext;
        Bytes key;
        bool null;  // otherwise an empty vector
    };
    const std::vector<Case> cases = {
        {"383_bytes", Bytes(valid->begin(), valid->end() - 1), *privateKey_, false},
        {"385_bytes",
         [&] {
             Bytes b = *valid;
             b.push_back(0);
             return b;
         }(),
         *privateKey_, false},
        {"empty", Bytes(), *privateKey_, false},
        {"random_block", randomBlock, *privateKey_, false},
        {"flipped_bit", flipped, *privateKey_, false},
        {"truncated_key", *valid, Bytes(privateKey_->begin(), privateKey_->begin() + 200), true},
        {"public_key_as_private", *valid, *publicKey_, true},
        {"garbage_key", *valid, Bytes(64, 0x30), true},
        {"empty_key", *valid, Bytes(), true},
        {"modulus_too_short", Bytes(32, 1), tinyDer, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CryptoBytes out = decrypt(c.ciphertext, c.key);
        if (c.null) {
            EXPECT_FALSE(out);
        } else {
            ASSERT_TRUE(out);
            EXPECT_TRUE(out->empty());
        }
    }
}

TEST_F(RsaTest, EncryptionRefusesUnusableKeys) {
    // A modulus too short for OAEP with SHA-1 would make the padding run outside its block.
    const Bytes tinyDer = derOf(CryptoPP::RSA::PublicKey(tinyRsaKey()));

    struct Case {
        const char* name;
        Bytes key;
    };
    const std::vector<Case> cases = {
        {"modulus_too_short", tinyDer},
        {"truncated", Bytes(publicKey_->begin(), publicKey_->begin() + 100)},
        {"private_key_as_public", *privateKey_},
        {"garbage", Bytes(50, 0xff)},
        {"empty", Bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(encrypt(Bytes(), c.key));
        EXPECT_FALSE(encrypt(Bytes(1, 1), c.key));
    }
}

TEST(RsaKeySizesTest, EveryFamilyTakesItsModulusFromTheKey) {
    SyncModule sync;
    CryptoppRsaCrypto rsa;
    auto pair =
        sync.keyPair([&](CryptoModule* module, KeyPairCompletion done) { rsa.generateKeyPair2048(module, done); });
    ASSERT_TRUE(pair.first && pair.second);
    Pkey publicKey = opensslPublicKey(*pair.first);
    ASSERT_TRUE(publicKey);
    EXPECT_EQ(EVP_PKEY_get_bits(publicKey.get()), 2048);
    const Bytes plain(214, 3);  // 256 - 42
    CryptoBytes cipher = sync.bytes([&](CryptoModule* module, BytesCompletion done) {
        rsa.encrypt4096(module, plain.data(), plain.size(), pair.first->data(), pair.first->size(), done);
    });
    ASSERT_TRUE(cipher);
    EXPECT_EQ(cipher->size(), 256u);
    CryptoBytes back = sync.bytes([&](CryptoModule* module, BytesCompletion done) {
        rsa.decrypt2048(module, cipher->data(), cipher->size(), pair.second->data(), pair.second->size(), done);
    });
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, plain);
}

// ---- ECDSA

Bytes p1363ToDer(const Bytes& signature) {
    const size_t half = signature.size() / 2;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), static_cast<int>(half), nullptr),
                   BN_bin2bn(signature.data() + half, static_cast<int>(half), nullptr));
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig, &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return out;
}

Bytes derToP1363(const Bytes& der, size_t half) {
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(sig, &r, &s);
    Bytes out(2 * half);
    BN_bn2binpad(r, out.data(), static_cast<int>(half));
    BN_bn2binpad(s, out.data() + half, static_cast<int>(half));
    ECDSA_SIG_free(sig);
    return out;
}

bool opensslVerify(const Bytes& publicKey, const Bytes& message, const Bytes& signature) {
    Pkey key = opensslPublicKey(publicKey);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestVerifyInit(ctx, nullptr, EVP_sha512(), nullptr, key.get());
    const Bytes der = p1363ToDer(signature);
    const int result = EVP_DigestVerify(ctx, der.data(), der.size(), message.data(), message.size());
    EVP_MD_CTX_free(ctx);
    return result == 1;
}

Bytes opensslSign(const Bytes& privateKey, const Bytes& message, size_t half) {
    Pkey key = opensslPrivateKey(privateKey);
    EXPECT_TRUE(key);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, EVP_sha512(), nullptr, key.get());
    size_t length = 0;
    EVP_DigestSign(ctx, nullptr, &length, message.data(), message.size());
    Bytes der(length);
    EVP_DigestSign(ctx, der.data(), &length, message.data(), message.size());
    der.resize(length);
    EVP_MD_CTX_free(ctx);
    return derToP1363(der, half);
}

class EcdsaTest : public ::testing::Test {
protected:
    std::pair<CryptoBytes, CryptoBytes> generate(bool p521) {
        return sync_.keyPair([&](CryptoModule* module, KeyPairCompletion done) {
            p521 ? ecdsa_.generateKeyPairP521(module, done) : ecdsa_.generateKeyPairP384(module, done);
        });
    }

    CryptoBytes sign(bool p521, const Bytes& message, const Bytes& key) {
        return sync_.bytes([&](CryptoModule* module, BytesCompletion done) {
            p521 ? ecdsa_.signP521(module, message.data(), message.size(), key.data(), key.size(), done)
                 : ecdsa_.signP384(module, message.data(), message.size(), key.data(), key.size(), done);
        });
    }

    bool verify(bool p521, const Bytes& message, const Bytes& key, const Bytes& signature) {
        auto copy = std::make_unique<uint8_t[]>(signature.size() + 1);
        std::copy(signature.begin(), signature.end(), copy.get());
        return sync_.check([&](CryptoModule* module, CheckCompletion done) {
            p521 ? ecdsa_.verifyP521(module, message.data(), message.size(), key.data(), key.size(), copy.get(),
                                     signature.size(), done)
                 : ecdsa_.verifyP384(module, message.data(), message.size(), key.data(), key.size(), copy.get(),
                                     signature.size(), done);
        });
    }

    SyncModule sync_;
    CryptoppEcdsaCrypto ecdsa_;
};

TEST_F(EcdsaTest, P384PublicKeyEncoding) {
    auto pair = generate(false);
    ASSERT_TRUE(pair.first && pair.second);
    ASSERT_EQ(pair.first->size(), 120u);
    // SubjectPublicKeyInfo: id-ecPublicKey, secp384r1, then the uncompressed point.
    const std::string header =
        "3076301006072a8648ce3d020106052b81040022036200"
        "04";
    EXPECT_EQ(toHex(*pair.first).substr(0, header.size()), header);
    Pkey publicKey = opensslPublicKey(*pair.first);
    ASSERT_TRUE(publicKey);
    EXPECT_EQ(EVP_PKEY_get_bits(publicKey.get()), 384);
    Pkey privateKey = opensslPrivateKey(*pair.second);
    ASSERT_TRUE(privateKey);
    EXPECT_EQ(EVP_PKEY_get_base_id(privateKey.get()), EVP_PKEY_EC);
}

TEST_F(EcdsaTest, SignAndVerifyOnBothCurves) {
    struct Case {
        const char* name;
        bool p521;
        size_t signatureSize;
    };
    for (const Case& c : std::vector<Case>{{"p384", false, 96}, {"p521", true, 132}}) {
        SCOPED_TRACE(c.name);
        auto pair = generate(c.p521);
        ASSERT_TRUE(pair.first && pair.second);
        const Bytes message = textBytes("update information 1.2.3");

        CryptoBytes signature = sign(c.p521, message, *pair.second);
        ASSERT_TRUE(signature);
        EXPECT_EQ(signature->size(), c.signatureSize);
        EXPECT_TRUE(verify(c.p521, message, *pair.first, *signature));
        EXPECT_TRUE(opensslVerify(*pair.first, message, *signature));

        const Bytes theirs = opensslSign(*pair.second, message, c.signatureSize / 2);
        EXPECT_TRUE(verify(c.p521, message, *pair.first, theirs));

        CryptoBytes second = sign(c.p521, message, *pair.second);
        ASSERT_TRUE(second);
        EXPECT_NE(*second, *signature) << "nonces must be random";

        CryptoBytes ofEmpty = sign(c.p521, Bytes(), *pair.second);
        ASSERT_TRUE(ofEmpty);
        EXPECT_TRUE(verify(c.p521, Bytes(), *pair.first, *ofEmpty));
    }
}

TEST_F(EcdsaTest, VerificationRefusals) {
    auto pair = generate(false);
    ASSERT_TRUE(pair.first && pair.second);
    const Bytes message = textBytes("update information");
    const Bytes signature = *sign(false, message, *pair.second);
    auto flipped = [](Bytes bytes, size_t index) {
        bytes[index] ^= 0x01;
        return bytes;
    };
    auto other = generate(false);
    ASSERT_TRUE(other.first);

    struct Case {
        const char* name;
        Bytes message;
        Bytes key;
        Bytes signature;
    };
    const std::vector<Case> cases = {
        {"flipped_message_bit", flipped(message, 0), *pair.first, signature},
        {"flipped_signature_bit", message, *pair.first, flipped(signature, 50)},
        {"other_key", message, *other.first, signature},
        {"ten_byte_signature", message, *pair.first, Bytes(signature.begin(), signature.begin() + 10)},
        {"short_signature", message, *pair.first, Bytes(signature.begin(), signature.end() - 1)},
        {"trailing_byte", message, *pair.first,
         [&] {
             Bytes b = signature;
             b.push_back(0);
             return b;
         }()},
        {"empty_signature", message, *pair.first, Bytes()},
        {"zero_signature", message, *pair.first, Bytes(96, 0)},
        {"truncated_key", message, Bytes(pair.first->begin(), pair.first->begin() + 60), signature},
        {"point_off_curve", message, flipped(*pair.first, 119), signature},
        {"private_key_as_public", message, *pair.second, signature},
        {"empty_key", message, Bytes(), signature},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(verify(false, c.message, c.key, c.signature));
    }
    // The P-521 slot takes the curve from the key; short signatures are refused there too.
    EXPECT_FALSE(verify(true, message, *pair.first, Bytes(10, 1)));
}

TEST_F(EcdsaTest, SigningRefusals) {
    auto pair = generate(false);
    ASSERT_TRUE(pair.second);

    // A key on a curve this system does not use, made with the library directly.
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA512>::PrivateKey p256;
    p256.Initialize(random, CryptoPP::ASN1::secp256r1());
    const Bytes p256Der = derOf(p256);
    CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA512>::PublicKey p256Public;
    p256.MakePublicKey(p256Public);
    const Bytes p256PublicDer = derOf(p256Public);

    struct Case {
        const char* name;
        Bytes key;
    };
    const std::vector<Case> cases = {
        {"truncated", Bytes(pair.second->begin(), pair.second->begin() + 40)},
        {"public_key_as_private", *pair.first},
        {"garbage", Bytes(80, 0x30)},
        {"empty", Bytes()},
        {"unsupported_curve", p256Der},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(sign(false, textBytes("message"), c.key));
    }

    // A valid signature under the unsupported curve is not accepted either.
    CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA512>::Signer signer(p256);
    const Bytes message = textBytes("message");
    Bytes signature(signer.MaxSignatureLength());
    signature.resize(signer.SignMessage(random, message.data(), message.size(), signature.data()));
    EXPECT_FALSE(verify(false, message, p256PublicDer, signature));
}

}  // namespace
}  // namespace corvane
