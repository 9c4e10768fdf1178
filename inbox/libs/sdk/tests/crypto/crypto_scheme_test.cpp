#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/blake2.h>
#include <cryptopp/filters.h>
#include <cryptopp/gcm.h>
#include <cryptopp/modes.h>
#include <cryptopp/oaep.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>
#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "crypto/crypto_scheme.h"
#include "crypto/cryptopp_crypto.h"
#include "crypto/node_attributes.h"
#include "crypto_test_support.h"
#include "database/mutable_node_data.h"
#include "node_attributes_generated.h"
#include "support/log_capture.h"

namespace corvane {
namespace {

using test::Bytes;
using test::derOf;
using test::pattern;
using test::referenceGcmOpen;

// --- independent reference computations (Crypto++ called directly) ---

Bytes referenceCtr(const Bytes& key, size_t keySize, const CryptoScheme::CounterBlock& counter, const Bytes& data) {
    CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption ctr(key.data(), keySize, counter.data());
    Bytes out(data.size());
    ctr.ProcessData(out.data(), data.data(), data.size());
    return out;
}

Bytes referenceGcmSeal(const Bytes& key, size_t keySize, const Bytes& iv, const Bytes& plaintext) {
    CryptoPP::GCM<CryptoPP::AES>::Encryption gcm;
    gcm.SetKeyWithIV(key.data(), keySize, iv.data(), iv.size());
    std::string out;
    CryptoPP::AuthenticatedEncryptionFilter filter(gcm, new CryptoPP::StringSink(out), false, 16);
    filter.Put(plaintext.data(), plaintext.size());
    filter.MessageEnd();
    Bytes blob(iv);
    blob.insert(blob.end(), out.begin(), out.end());
    return blob;
}

// Crypto++, since the scheme's own BLAKE2b runs on OpenSSL.
Bytes referenceKeyedBlake2b(const Bytes& key, const Bytes& data) {
    CryptoPP::BLAKE2b hash(key.data(), key.size(), nullptr, 0, nullptr, 0, false, 20);
    hash.Update(data.data(), data.size());
    Bytes out(hash.DigestSize());
    hash.Final(out.data());
    return out;
}

struct RsaPair {
    Bytes publicKey;
    Bytes privateKey;
    CryptoPP::RSA::PrivateKey key;
};

// 2048 bits keeps the test quick; the scheme takes the modulus from the key.
const RsaPair& referenceRsaPair() {
    static const RsaPair pair = [] {
        RsaPair made;
        CryptoPP::AutoSeededRandomPool random;
        made.key.GenerateRandomWithKeySize(random, 2048);
        made.publicKey = derOf(CryptoPP::RSA::PublicKey(made.key));
        made.privateKey = derOf(made.key);
        return made;
    }();
    return pair;
}

Bytes referenceRsaEncrypt(const Bytes& plaintext) {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::RSAES<CryptoPP::OAEP<CryptoPP::SHA1>>::Encryptor encryptor{
        CryptoPP::RSA::PublicKey(referenceRsaPair().key)};
    Bytes out(encryptor.CiphertextLength(plaintext.size()));
    encryptor.Encrypt(random, plaintext.data(), plaintext.size(), out.data());
    return out;
}

Bytes referenceRsaDecrypt(const Bytes& ciphertext) {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::RSAES<CryptoPP::OAEP<CryptoPP::SHA1>>::Decryptor decryptor(referenceRsaPair().key);
    Bytes out(decryptor.MaxPlaintextLength(ciphertext.size()));
    CryptoPP::DecodingResult result = decryptor.Decrypt(random, ciphertext.data(), ciphertext.size(), out.data());
    out.resize(result.isValidCoding ? result.messageLength : 0);
    return out;
}

// --- fixture: the three schemes over a module without loops, so every completion runs
// before the call returns ---

class CryptoSchemeTest : public ::testing::Test {
protected:
    CryptoScheme& scheme(int number) { return *schemes_[number]; }
    DefaultCryptoScheme& blobScheme(int number) { return static_cast<DefaultCryptoScheme&>(*schemes_[number]); }

    // Runs an operation and returns what its completion received; the completion must run
    // exactly once, before the call returns.
    CryptoBytes run(const std::function<void(BytesCompletion)>& operation) {
        int calls = 0;
        CryptoBytes received;
        operation([&](CryptoBytes result) {
            ++calls;
            received = std::move(result);
        });
        EXPECT_EQ(calls, 1);
        return received;
    }

    bool runCheck(const std::function<void(CheckCompletion)>& operation) {
        int calls = 0;
        bool received = false;
        operation([&](bool valid) {
            ++calls;
            received = valid;
        });
        EXPECT_EQ(calls, 1);
        return received;
    }

    CryptoppCrypto module_{nullptr, nullptr};
    std::vector<std::unique_ptr<CryptoScheme>> schemes_ = [this] {
        std::vector<std::unique_ptr<CryptoScheme>> made;
        made.emplace_back(new DefaultCryptoScheme(&module_));
        made.emplace_back(new DefaultAsymmetricCryptoScheme(&module_));
        made.emplace_back(new FastCryptoScheme(&module_));
        return made;
    }();
    Bytes key_ = pattern(32, 7);
};

TEST(CryptoSchemeCounterTest, CounterBlockHoldsTheBlockIndexBigEndian) {
    struct Case {
        uint64_t offset;
        std::string hex;
    };
    const std::vector<Case> cases = {
        {0, "00000000000000000000000000000000"},
        {15, "00000000000000000000000000000000"},
        {16, "00000000000000000000000000000001"},
        {4096, "00000000000000000000000000000100"},
        {4100, "00000000000000000000000000000100"},
        {16 * ((uint64_t(1) << 32) + 1), "00000000000000000000000100000001"},
        {UINT64_MAX, "00000000000000000fffffffffffffff"},
    };
    for (const Case& c : cases) {
        CryptoScheme::CounterBlock block = CryptoScheme::counterBlock(c.offset);
        EXPECT_EQ(Bytes(block.begin(), block.end()), test::fromHex(c.hex)) << c.offset;
    }
}

struct DataCase {
    int scheme;
    size_t aesKeySize;
};

class CryptoSchemeDataTest : public CryptoSchemeTest, public ::testing::WithParamInterface<DataCase> {};

TEST_P(CryptoSchemeDataTest, CtrSlicesMatchTheWholeStreamAndAnIndependentCipher) {
    const DataCase& c = GetParam();
    Bytes plain = pattern(8192, 3);

    CryptoBytes whole =
        run([&](BytesCompletion done) { scheme(c.scheme).encryptData(plain.data(), plain.size(), 0, &key_, done); });
    ASSERT_TRUE(whole);
    EXPECT_EQ(*whole, referenceCtr(key_, c.aesKeySize, CryptoScheme::counterBlock(0), plain));

    CryptoBytes first =
        run([&](BytesCompletion done) { scheme(c.scheme).encryptData(plain.data(), 4096, 0, &key_, done); });
    CryptoBytes second =
        run([&](BytesCompletion done) { scheme(c.scheme).encryptData(plain.data() + 4096, 4096, 4096, &key_, done); });
    ASSERT_TRUE(first && second);
    first->insert(first->end(), second->begin(), second->end());
    EXPECT_EQ(*first, *whole);

    // The low 4 bits of the offset are dropped: 4100 starts the block of 4096.
    CryptoBytes unaligned =
        run([&](BytesCompletion done) { scheme(c.scheme).encryptData(plain.data() + 4096, 100, 4100, &key_, done); });
    ASSERT_TRUE(unaligned);
    EXPECT_EQ(*unaligned, Bytes(whole->begin() + 4096, whole->begin() + 4196));

    CryptoBytes back =
        run([&](BytesCompletion done) { scheme(c.scheme).decryptData(whole->data() + 4096, 4096, 4096, &key_, done); });
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, Bytes(plain.begin() + 4096, plain.end()));
}

TEST_P(CryptoSchemeDataTest, BlobsOpenWithAnIndependentCipherAndRefuseDamage) {
    const DataCase& c = GetParam();
    Bytes plain = pattern(1000, 11);

    CryptoBytes blob =
        run([&](BytesCompletion done) { scheme(c.scheme).encryptMetadata(plain.data(), plain.size(), &key_, done); });
    ASSERT_TRUE(blob);
    ASSERT_EQ(blob->size(), plain.size() + 28);
    Bytes opened;
    ASSERT_TRUE(referenceGcmOpen(key_, c.aesKeySize, *blob, &opened));
    EXPECT_EQ(opened, plain);

    CryptoBytes back =
        run([&](BytesCompletion done) { scheme(c.scheme).decryptMetadata(blob->data(), blob->size(), &key_, done); });
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, plain);

    // Two seals of the same data differ in their random IV.
    CryptoBytes again =
        run([&](BytesCompletion done) { scheme(c.scheme).encryptMetadata(plain.data(), plain.size(), &key_, done); });
    ASSERT_TRUE(again);
    EXPECT_NE(Bytes(again->begin(), again->begin() + 12), Bytes(blob->begin(), blob->begin() + 12));

    Bytes otherKey = pattern(32, 99);
    struct Damage {
        std::string label;
        Bytes blob;
        const Bytes* key;
    };
    std::vector<Damage> damages;
    damages.push_back({"wrong key", *blob, &otherKey});
    Bytes flippedTag = *blob;
    flippedTag.back() ^= 0x01;
    damages.push_back({"flipped tag", flippedTag, &key_});
    Bytes flippedIv = *blob;
    flippedIv[0] ^= 0x80;
    damages.push_back({"flipped iv", flippedIv, &key_});
    Bytes flippedBody = *blob;
    flippedBody[20] ^= 0x10;
    damages.push_back({"flipped ciphertext", flippedBody, &key_});
    damages.push_back({"truncated", Bytes(blob->begin(), blob->end() - 1), &key_});
    damages.push_back({"shorter than a tag", Bytes(blob->begin(), blob->begin() + 20), &key_});
    for (const Damage& damage : damages) {
        CryptoBytes refused = run([&](BytesCompletion done) {
            scheme(c.scheme).decryptMetadata(damage.blob.data(), damage.blob.size(), damage.key, done);
        });
        EXPECT_FALSE(refused) << damage.label;
    }
}

TEST_P(CryptoSchemeDataTest, BlobEdgeSizes) {
    const DataCase& c = GetParam();
    uint8_t one = 0x5A;
    CryptoBytes blob = run([&](BytesCompletion done) { blobScheme(c.scheme).encryptBlob(&one, 1, &key_, done); });
    ASSERT_TRUE(blob);
    EXPECT_EQ(blob->size(), 29u);

    // A 28-byte blob holds an empty plaintext; it opens to an empty vector, not null.
    Bytes empty = referenceGcmSeal(key_, c.aesKeySize, pattern(12, 1), Bytes());
    ASSERT_EQ(empty.size(), 28u);
    CryptoBytes opened =
        run([&](BytesCompletion done) { blobScheme(c.scheme).decryptBlob(empty.data(), empty.size(), &key_, done); });
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->empty());

    test::LogCapture log;
    Bytes twelve = pattern(12, 0);
    EXPECT_FALSE(run(
        [&](BytesCompletion done) { blobScheme(c.scheme).decryptBlob(twelve.data(), twelve.size(), &key_, done); }));
    EXPECT_FALSE(run([&](BytesCompletion done) { blobScheme(c.scheme).encryptBlob(&one, 0, &key_, done); }));
    EXPECT_FALSE(run([&](BytesCompletion done) { blobScheme(c.scheme).encryptBlob(nullptr, 5, &key_, done); }));
    EXPECT_EQ(log.count("Invalid data"), 3u);
}

INSTANTIATE_TEST_SUITE_P(SymmetricSchemes, CryptoSchemeDataTest,
                         ::testing::Values(DataCase{0, 32}, DataCase{1, 32}, DataCase{2, 16}),
                         [](const ::testing::TestParamInfo<DataCase>& info) {
                             return "scheme" + std::to_string(info.param.scheme);
                         });

TEST_F(CryptoSchemeTest, KeyLengthsEachSchemeAccepts) {
    Bytes shortKey = pattern(16, 1);
    Bytes plain = pattern(64, 2);
    test::LogCapture log;
    // Scheme 2 seals only under a full key but opens and runs CTR with the first 16 bytes.
    EXPECT_FALSE(
        run([&](BytesCompletion done) { blobScheme(2).encryptBlob(plain.data(), plain.size(), &shortKey, done); }));
    EXPECT_TRUE(log.contains("Invalid encryption key"));
    EXPECT_TRUE(run([&](BytesCompletion done) { scheme(2).encryptData(plain.data(), 64, 0, &shortKey, done); }));
    EXPECT_TRUE(run([&](BytesCompletion done) { scheme(2).decryptData(plain.data(), 64, 0, &shortKey, done); }));
    Bytes sealed = referenceGcmSeal(shortKey, 16, pattern(12, 4), plain);
    CryptoBytes opened =
        run([&](BytesCompletion done) { blobScheme(2).decryptBlob(sealed.data(), sealed.size(), &shortKey, done); });
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, plain);

    // Schemes 0 and 1 want exactly 32 bytes everywhere.
    for (int number : {0, 1}) {
        EXPECT_FALSE(
            run([&](BytesCompletion done) { scheme(number).encryptData(plain.data(), 64, 0, &shortKey, done); }));
        EXPECT_FALSE(run([&](BytesCompletion done) {
            blobScheme(number).decryptBlob(sealed.data(), sealed.size(), &shortKey, done);
        }));
    }
    Bytes longKey = pattern(33, 1);
    EXPECT_FALSE(
        run([&](BytesCompletion done) { blobScheme(0).encryptBlob(plain.data(), plain.size(), &longKey, done); }));
    Bytes fifteen = pattern(15, 1);
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(2).encryptData(plain.data(), 64, 0, &fifteen, done); }));
}

TEST_F(CryptoSchemeTest, KeyWrapMatchesThePublishedVectorAndRefusesBadInput) {
    // RFC 3394 section 4.6: a 256-bit key under a 256-bit KEK.
    Bytes kek = test::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    Bytes key = test::fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
    Bytes wrapped = test::fromHex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
    for (int number : {0, 2}) {
        CryptoBytes encrypted = run([&](BytesCompletion done) { scheme(number).encryptKey(&key, &kek, done); });
        ASSERT_TRUE(encrypted);
        EXPECT_EQ(*encrypted, wrapped);
        CryptoBytes decrypted = run([&](BytesCompletion done) { scheme(number).decryptKey(&wrapped, &kek, done); });
        ASSERT_TRUE(decrypted);
        EXPECT_EQ(*decrypted, key);
    }

    Bytes damaged = wrapped;
    damaged[39] ^= 1;
    Bytes otherKek = pattern(32, 5);
    Bytes short32 = Bytes(wrapped.begin(), wrapped.begin() + 32);
    Bytes shortKey = pattern(16, 0);
    test::LogCapture log;
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(0).decryptKey(&damaged, &kek, done); }));
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(0).decryptKey(&wrapped, &otherKek, done); }));
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(0).decryptKey(&short32, &kek, done); }));
    EXPECT_TRUE(log.contains("Invalid encrypted key"));
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(0).decryptKey(&wrapped, &shortKey, done); }));
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(0).encryptKey(&shortKey, &kek, done); }));
    EXPECT_TRUE(log.contains("Invalid key"));
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(0).encryptKey(&key, &shortKey, done); }));
    EXPECT_TRUE(log.contains("Invalid encryption key"));
}

TEST_F(CryptoSchemeTest, AsymmetricSchemeEncryptsKeysToAnRsaKeyPair) {
    const RsaPair& pair = referenceRsaPair();
    CryptoBytes encrypted = run([&](BytesCompletion done) { scheme(1).encryptKey(&key_, &pair.publicKey, done); });
    ASSERT_TRUE(encrypted);
    EXPECT_EQ(encrypted->size(), 256u);
    EXPECT_EQ(referenceRsaDecrypt(*encrypted), key_);

    Bytes independent = referenceRsaEncrypt(key_);
    CryptoBytes decrypted =
        run([&](BytesCompletion done) { scheme(1).decryptKey(&independent, &pair.privateKey, done); });
    ASSERT_TRUE(decrypted);
    EXPECT_EQ(*decrypted, key_);

    Bytes shortKey = pattern(31, 0);
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(1).encryptKey(&shortKey, &pair.publicKey, done); }));
    Bytes brokenPublicKey(pair.publicKey.begin(), pair.publicKey.begin() + 40);
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(1).encryptKey(&key_, &brokenPublicKey, done); }));
}

// An RSA decryption whose padding check fails gives an empty result rather than null; passed
// on, it would be taken for a node key and the node would fail later for unrelated reasons.
TEST_F(CryptoSchemeTest, DecryptedKeysThatAreNotKeysAreRefused) {
    const RsaPair& pair = referenceRsaPair();
    struct Case {
        std::string label;
        Bytes ciphertext;
    };
    Bytes garbage = pattern(256, 77);
    garbage[0] = 0;  // below the modulus, so the raw operation runs and the padding check fails
    const std::vector<Case> cases = {
        {"failed padding", garbage},
        {"wrong length", pattern(255, 1)},
        {"16-byte plaintext", referenceRsaEncrypt(pattern(16, 1))},
        {"empty plaintext", referenceRsaEncrypt(Bytes())},
    };
    for (const Case& c : cases) {
        test::LogCapture log;
        CryptoBytes decrypted =
            run([&](BytesCompletion done) { scheme(1).decryptKey(&c.ciphertext, &pair.privateKey, done); });
        EXPECT_FALSE(decrypted) << c.label;
        EXPECT_TRUE(log.contains("Decrypted key has an invalid size")) << c.label;
    }
    Bytes brokenPrivateKey(pair.privateKey.begin(), pair.privateKey.begin() + 100);
    Bytes valid = referenceRsaEncrypt(key_);
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(1).decryptKey(&valid, &brokenPrivateKey, done); }));
}

TEST_F(CryptoSchemeTest, DerivationXorsWithTheFilesystemKeyExceptUnderScheme1) {
    Bytes filesystemKey = pattern(16, 200);
    for (int number : {0, 2}) {
        CryptoBytes derived = run([&](BytesCompletion done) { scheme(number).deriveKey(&filesystemKey, &key_, done); });
        ASSERT_TRUE(derived);
        ASSERT_EQ(derived->size(), 16u);
        for (size_t i = 0; i < 16; ++i) {
            EXPECT_EQ((*derived)[i], filesystemKey[i] ^ key_[i]);
        }
        CryptoBytes copy = run([&](BytesCompletion done) { scheme(number).deriveKey(nullptr, &key_, done); });
        ASSERT_TRUE(copy);
        EXPECT_EQ(*copy, key_);
    }
    CryptoBytes ignored = run([&](BytesCompletion done) { scheme(1).deriveKey(&filesystemKey, &key_, done); });
    ASSERT_TRUE(ignored);
    EXPECT_EQ(*ignored, key_);
}

TEST_F(CryptoSchemeTest, GeneratedKeysAreFreshAndFull) {
    CryptoBytes first = scheme(0).generateKey();
    CryptoBytes second = scheme(2).generateKey();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 32u);
    EXPECT_EQ(second->size(), 32u);
    EXPECT_NE(*first, *second);
}

TEST_F(CryptoSchemeTest, FingerprintHashIsKeyedBlake2bOf20Bytes) {
    // Short fingerprints and the edges of BLAKE2b's 128-byte block.
    for (size_t size : {1, 20, 127, 128, 129, 4096}) {
        Bytes fingerprint = pattern(size, 9);
        for (int number : {0, 1, 2}) {
            CryptoBytes hash =
                run([&](BytesCompletion done) { scheme(number).hashFingerprint(&fingerprint, &key_, done); });
            ASSERT_TRUE(hash) << size;
            EXPECT_EQ(*hash, referenceKeyedBlake2b(key_, fingerprint)) << size << " under scheme " << number;
        }
    }

    Bytes fingerprint = pattern(4096, 9);
    CryptoBytes hash = run([&](BytesCompletion done) { scheme(0).hashFingerprint(&fingerprint, &key_, done); });
    ASSERT_TRUE(hash);
    EXPECT_EQ(hash->size(), 20u);

    Bytes otherKey = pattern(32, 8);
    CryptoBytes other = run([&](BytesCompletion done) { scheme(2).hashFingerprint(&fingerprint, &otherKey, done); });
    ASSERT_TRUE(other);
    EXPECT_NE(*other, *hash);

    Bytes shortKey = pattern(31, 0);
    test::LogCapture log;
    EXPECT_FALSE(run([&](BytesCompletion done) { scheme(0).hashFingerprint(&fingerprint, &shortKey, done); }));
    EXPECT_TRUE(log.contains("Invalid key"));
}

class CryptoSchemeAttributesTest : public CryptoSchemeTest, public ::testing::WithParamInterface<DataCase> {
protected:
    std::shared_ptr<MutableNodeData> recordNode() {
        auto node = std::make_shared<MutableNodeData>();
        node->setType(44);
        node->setName("Quarterly figures");
        node->setModificationTime(1234);
        node->setContactInfo("ana@example.com");
        node->setRecordMessage("See attached");
        node->setKey(&key_);
        return node;
    }

    std::shared_ptr<MutableNodeData> emptyRecordNode(const Bytes& key) {
        auto node = std::make_shared<MutableNodeData>();
        node->setType(44);
        node->setName("placeholder");
        node->setKey(&key);
        return node;
    }
};

TEST_P(CryptoSchemeAttributesTest, SealedAttributesOpenIntoAnotherNode) {
    const DataCase& c = GetParam();
    auto source = recordNode();
    CryptoBytes blob = run([&](BytesCompletion done) { scheme(c.scheme).encryptAttributes(source, &key_, done); });
    ASSERT_TRUE(blob);

    // The blob is an ordinary sealed record.
    Bytes record;
    ASSERT_TRUE(referenceGcmOpen(key_, c.aesKeySize, *blob, &record));
    flatbuffers::Verifier verifier(record.data(), record.size());
    ASSERT_TRUE(verifier.VerifyBuffer<NodeAttributes>(nullptr));
    EXPECT_STREQ(flatbuffers::GetRoot<NodeAttributes>(record.data())->name()->c_str(), "Quarterly figures");

    auto target = emptyRecordNode(key_);
    EXPECT_TRUE(runCheck(
        [&](CheckCompletion done) { scheme(c.scheme).decryptAttributes(blob->data(), blob->size(), target, done); }));
    EXPECT_STREQ(target->getOwnName(), "Quarterly figures");
    EXPECT_EQ(target->getModificationTime(), 1234);
    EXPECT_STREQ(target->getContact(), "ana@example.com");
    EXPECT_STREQ(target->getRecordMessage(), "See attached");
}

TEST_P(CryptoSchemeAttributesTest, AttributesThatDoNotOpenLeaveTheNodeAlone) {
    const DataCase& c = GetParam();
    auto source = recordNode();
    CryptoBytes blob = run([&](BytesCompletion done) { scheme(c.scheme).encryptAttributes(source, &key_, done); });
    ASSERT_TRUE(blob);

    Bytes flipped = *blob;
    flipped[flipped.size() / 2] ^= 0x04;
    // A blob that opens but holds no record.
    Bytes notARecord = referenceGcmSeal(key_, c.aesKeySize, pattern(12, 3), pattern(40, 0xEE));
    Bytes otherKey = pattern(32, 1);
    struct Case {
        std::string label;
        Bytes blob;
        Bytes key;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"wrong key", *blob, otherKey, "Unable to decrypt node attributes"},
        {"flipped byte", flipped, key_, "Unable to decrypt node attributes"},
        {"truncated", Bytes(blob->begin(), blob->begin() + 12), key_, "Unable to decrypt node attributes"},
        {"not a record", notARecord, key_, "Invalid flatbuffer node attributes"},
    };
    for (const Case& item : cases) {
        auto target = emptyRecordNode(item.key);
        test::LogCapture log;
        EXPECT_FALSE(runCheck([&](CheckCompletion done) {
            scheme(c.scheme).decryptAttributes(item.blob.data(), item.blob.size(), target, done);
        })) << item.label;
        EXPECT_TRUE(log.contains(item.logLine)) << item.label;
        EXPECT_STREQ(target->getOwnName(), "placeholder") << item.label;
        EXPECT_EQ(target->getRecordMessage(), nullptr) << item.label;
    }
}

INSTANTIATE_TEST_SUITE_P(SymmetricSchemes, CryptoSchemeAttributesTest,
                         ::testing::Values(DataCase{0, 32}, DataCase{2, 16}),
                         [](const ::testing::TestParamInfo<DataCase>& info) {
                             return "scheme" + std::to_string(info.param.scheme);
                         });

}  // namespace
}  // namespace corvane
