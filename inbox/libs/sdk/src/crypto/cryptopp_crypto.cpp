#include "crypto/cryptopp_crypto.h"

#include <exception>
#include <utility>

#include <cryptopp/asn.h>
#include <cryptopp/filters.h>
#include <cryptopp/oids.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>

#include "crypto/aes_key_wrap.h"
#include "util/log.h"

namespace corvane {
namespace {

constexpr size_t kAesBlockSize = 16;
constexpr size_t kAes128KeySize = 16;
constexpr size_t kAes256KeySize = 32;
constexpr size_t kGcmIvSize = 12;
constexpr size_t kGcmTagSize = 16;
constexpr size_t kPbkdf2OutputSize = 64;
// RSAES-OAEP with SHA-1 needs k >= 2 * 20 + 2 bytes of modulus; shorter keys would make
// the library pad outside its buffers.
constexpr size_t kMinOaepModulusBytes = 42;

// The library is handed a valid address even for empty inputs.
const uint8_t kNoBytes[1] = {0};
const uint8_t* nonNull(const uint8_t* p) {
    return p ? p : kNoBytes;
}

CryptoBytes newBytes(size_t size) {
    return std::make_unique<std::vector<uint8_t>>(size);
}

// Where the library may write up to bytes.size() bytes; a scratch byte when that is none.
uint8_t* writableData(std::vector<uint8_t>& bytes, uint8_t& scratch) {
    return bytes.empty() ? &scratch : bytes.data();
}

// Runs a computation that may raise inside the crypto library; any raise becomes null.
template <typename Function>
CryptoBytes guarded(Function function) {
    try {
        return function();
    } catch (const std::exception&) {
        return nullptr;
    }
}

CryptoBytes fromBlock(const CryptoPP::SecByteBlock& block) {
    if (block.empty()) {
        return nullptr;
    }
    return std::make_unique<std::vector<uint8_t>>(block.begin(), block.end());
}

CryptoBytes wrapKey(const uint8_t* key, const uint8_t* kek, size_t size) {
    return guarded([&]() {
        CryptoPP::SecByteBlock output;
        aesKeyWrap(CryptoPP::SecByteBlock(key, size), CryptoPP::SecByteBlock(kek, size), output, false);
        return fromBlock(output);
    });
}

CryptoBytes unwrapKey(const uint8_t* wrapped, const uint8_t* kek, size_t keySize) {
    return guarded([&]() {
        CryptoPP::SecByteBlock output;
        aesKeyUnwrap(CryptoPP::SecByteBlock(wrapped, keySize + 8), CryptoPP::SecByteBlock(kek, keySize), output, false);
        return fromBlock(output);
    });
}

template <typename Key>
CryptoBytes encode(const Key& key) {
    auto bytes = newBytes(0);
    CryptoPP::VectorSink sink(*bytes);
    key.DEREncode(sink);
    sink.MessageEnd();
    return bytes;
}

template <typename Key>
void decode(Key& key, const uint8_t* der, uint64_t size) {
    CryptoPP::ArraySource source(nonNull(der), static_cast<size_t>(size), true);
    key.BERDecode(source);
}

// Keys that fail validation, or whose modulus is too short for OAEP, are refused.
template <typename Key>
bool decodeOaepKey(Key& key, const uint8_t* der, uint64_t size, CryptoPP::RandomNumberGenerator& random) {
    decode(key, der, size);
    return key.Validate(random, 0) && key.GetModulus().ByteCount() >= kMinOaepModulusBytes;
}

// Generates and encodes a key pair; a raise inside the library gives two nulls.
template <typename Generate>
void postKeyPair(CryptoModule* module, KeyPairCompletion completion, Generate generate) {
    CryptoBytes publicKey;
    CryptoBytes privateKey;
    try {
        generate(publicKey, privateKey);
    } catch (const std::exception&) {
        publicKey.reset();
        privateKey.reset();
    }
    module->postResult(std::move(publicKey), std::move(privateKey), std::move(completion));
}

using Ecdsa = CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA512>;

}  // namespace

// ---- random numbers

void CryptoppRandomNumberGenerator::generate(uint8_t* buffer, uint64_t size) {
    if (size == 0) {
        return;
    }
    CryptoPP::AutoSeededRandomPool random;
    random.GenerateBlock(buffer, static_cast<size_t>(size));
}

// ---- AES

CryptoppAesCrypto::CryptoppAesCrypto() {
    CLOG_INFO("Initializing Crypto++ AES crypto");
}

CryptoBytes CryptoppAesCrypto::cbcEncrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                          size_t keySize) {
    return guarded([&]() {
        cbcEncryption_.SetKeyWithIV(key, keySize, iv, kAesBlockSize);
        auto output = newBytes(0);
        output->reserve((size / kAesBlockSize + 1) * kAesBlockSize);
        CryptoPP::StreamTransformationFilter filter(cbcEncryption_, new CryptoPP::VectorSink(*output),
                                                    CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING);
        filter.Put(nonNull(input), static_cast<size_t>(size));
        filter.MessageEnd();
        return output;
    });
}

CryptoBytes CryptoppAesCrypto::cbcDecrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                          size_t keySize) {
    if (size == 0 || size % kAesBlockSize != 0) {
        return nullptr;
    }
    return guarded([&]() {
        cbcDecryption_.SetKeyWithIV(key, keySize, iv, kAesBlockSize);
        auto output = newBytes(0);
        output->reserve(static_cast<size_t>(size));
        CryptoPP::StreamTransformationFilter filter(cbcDecryption_, new CryptoPP::VectorSink(*output),
                                                    CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING);
        filter.Put(input, static_cast<size_t>(size));
        filter.MessageEnd();
        return output;
    });
}

CryptoBytes CryptoppAesCrypto::ctr(CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption& cipher, const uint8_t* input,
                                   uint64_t size, const uint8_t* iv, const uint8_t* key, size_t keySize) {
    return guarded([&]() {
        cipher.SetKeyWithIV(key, keySize, iv, kAesBlockSize);
        auto output = newBytes(static_cast<size_t>(size));
        if (size > 0) {
            cipher.ProcessData(output->data(), input, static_cast<size_t>(size));
        }
        return output;
    });
}

bool CryptoppAesCrypto::ctrInto(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                size_t keySize, uint8_t* output) {
    if (size > 0 && (!input || !output)) {
        return false;
    }
    try {
        ctrEncryption_.SetKeyWithIV(key, keySize, iv, kAesBlockSize);
        if (size > 0) {
            ctrEncryption_.ProcessData(output, input, static_cast<size_t>(size));
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

CryptoBytes CryptoppAesCrypto::gcmEncrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                          size_t keySize) {
    return guarded([&]() {
        gcmEncryption_.SetKeyWithIV(key, keySize, iv, kGcmIvSize);
        auto output = newBytes(static_cast<size_t>(size) + kGcmTagSize);
        gcmEncryption_.EncryptAndAuthenticate(output->data(), output->data() + size, kGcmTagSize, iv, kGcmIvSize,
                                              nullptr, 0, nonNull(input), static_cast<size_t>(size));
        return output;
    });
}

CryptoBytes CryptoppAesCrypto::gcmDecrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                          size_t keySize) {
    if (size < kGcmTagSize) {
        return nullptr;
    }
    return guarded([&]() -> CryptoBytes {
        const size_t plainSize = static_cast<size_t>(size) - kGcmTagSize;
        gcmDecryption_.SetKeyWithIV(key, keySize, iv, kGcmIvSize);
        auto output = newBytes(plainSize);
        uint8_t scratch = 0;
        const bool verified =
            gcmDecryption_.DecryptAndVerify(writableData(*output, scratch), input + plainSize, kGcmTagSize, iv,
                                            kGcmIvSize, nullptr, 0, input, plainSize);
        if (!verified) {
            return nullptr;
        }
        return output;
    });
}

void CryptoppAesCrypto::encryptCbc128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(cbcEncrypt(input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::decryptCbc128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(cbcDecrypt(input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::encryptCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(ctr(ctrEncryption_, input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::decryptCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(ctr(ctrDecryption_, input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::encryptGcm128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(gcmEncrypt(input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::decryptGcm128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(gcmDecrypt(input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::wrapKey128(CryptoModule* module, const uint8_t* key, const uint8_t* kek,
                                   BytesCompletion completion) {
    module->postResult(wrapKey(key, kek, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::unwrapKey128(CryptoModule* module, const uint8_t* wrapped, const uint8_t* kek,
                                     BytesCompletion completion) {
    module->postResult(unwrapKey(wrapped, kek, kAes128KeySize), std::move(completion));
}

void CryptoppAesCrypto::encryptCbc256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(cbcEncrypt(input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::decryptCbc256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(cbcDecrypt(input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::encryptCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(ctr(ctrEncryption_, input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::decryptCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(ctr(ctrDecryption_, input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::encryptGcm256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(gcmEncrypt(input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::decryptGcm256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                      const uint8_t* key, BytesCompletion completion) {
    module->postResult(gcmDecrypt(input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::wrapKey256(CryptoModule* module, const uint8_t* key, const uint8_t* kek,
                                   BytesCompletion completion) {
    module->postResult(wrapKey(key, kek, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::unwrapKey256(CryptoModule* module, const uint8_t* wrapped, const uint8_t* kek,
                                     BytesCompletion completion) {
    module->postResult(unwrapKey(wrapped, kek, kAes256KeySize), std::move(completion));
}

void CryptoppAesCrypto::transformCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                        const uint8_t* key, uint8_t* output, CheckCompletion completion) {
    module->postResult(ctrInto(input, size, iv, key, kAes128KeySize, output), std::move(completion));
}

void CryptoppAesCrypto::transformCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                        const uint8_t* key, uint8_t* output, CheckCompletion completion) {
    module->postResult(ctrInto(input, size, iv, key, kAes256KeySize, output), std::move(completion));
}

// ---- raw AES block modes

namespace {

template <typename Cipher>
CryptoBytes processBlocks(Cipher& cipher, const uint8_t* input, uint64_t size) {
    if (size % kAesBlockSize != 0) {
        return nullptr;
    }
    auto output = newBytes(static_cast<size_t>(size));
    if (size > 0) {
        cipher.ProcessData(output->data(), input, static_cast<size_t>(size));
    }
    return output;
}

template <typename Cipher>
CryptoBytes rawCbc(Cipher& cipher, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                   size_t keySize) {
    return guarded([&]() {
        cipher.SetKeyWithIV(key, keySize, iv, kAesBlockSize);
        return processBlocks(cipher, input, size);
    });
}

template <typename Cipher>
CryptoBytes rawEcb(Cipher& cipher, const uint8_t* input, uint64_t size, const uint8_t* key, size_t keySize) {
    return guarded([&]() {
        cipher.SetKey(key, keySize);
        return processBlocks(cipher, input, size);
    });
}

}  // namespace

void CryptoppAesCryptoExtra::encryptCbcRaw128(CryptoModule* module, const uint8_t* input, uint64_t size,
                                              const uint8_t* iv, const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawCbc(cbcEncryption_, input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCryptoExtra::decryptCbcRaw128(CryptoModule* module, const uint8_t* input, uint64_t size,
                                              const uint8_t* iv, const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawCbc(cbcDecryption_, input, size, iv, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCryptoExtra::encryptEcb128(CryptoModule* module, const uint8_t* input, uint64_t size,
                                           const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawEcb(ecbEncryption_, input, size, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCryptoExtra::decryptEcb128(CryptoModule* module, const uint8_t* input, uint64_t size,
                                           const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawEcb(ecbDecryption_, input, size, key, kAes128KeySize), std::move(completion));
}

void CryptoppAesCryptoExtra::encryptCbcRaw256(CryptoModule* module, const uint8_t* input, uint64_t size,
                                              const uint8_t* iv, const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawCbc(cbcEncryption_, input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCryptoExtra::decryptCbcRaw256(CryptoModule* module, const uint8_t* input, uint64_t size,
                                              const uint8_t* iv, const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawCbc(cbcDecryption_, input, size, iv, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCryptoExtra::encryptEcb256(CryptoModule* module, const uint8_t* input, uint64_t size,
                                           const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawEcb(ecbEncryption_, input, size, key, kAes256KeySize), std::move(completion));
}

void CryptoppAesCryptoExtra::decryptEcb256(CryptoModule* module, const uint8_t* input, uint64_t size,
                                           const uint8_t* key, BytesCompletion completion) {
    module->postResult(rawEcb(ecbDecryption_, input, size, key, kAes256KeySize), std::move(completion));
}

// ---- hashes

namespace {

CryptoBytes digest(CryptoPP::HashTransformation& hash, const uint8_t* data, uint64_t size) {
    return guarded([&]() {
        auto output = newBytes(hash.DigestSize());
        hash.CalculateDigest(output->data(), nonNull(data), static_cast<size_t>(size));
        return output;
    });
}

}  // namespace

void CryptoppShaHash::sha256(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) {
    module->postResult(digest(sha256_, data, size), std::move(completion));
}

void CryptoppShaHash::sha384(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) {
    module->postResult(digest(sha384_, data, size), std::move(completion));
}

void CryptoppShaHash::sha512(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) {
    module->postResult(digest(sha512_, data, size), std::move(completion));
}

void CryptoppShaHash::pbkdf2Sha512(CryptoModule* module, const uint8_t* password, uint64_t passwordSize,
                                   const uint8_t* salt, uint64_t saltSize, uint32_t iterations,
                                   BytesCompletion completion) {
    CryptoBytes result;
    if (iterations > 0) {
        result = guarded([&]() {
            CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA512> pbkdf2;
            auto output = newBytes(kPbkdf2OutputSize);
            pbkdf2.DeriveKey(output->data(), output->size(), 0, nonNull(password), static_cast<size_t>(passwordSize),
                             nonNull(salt), static_cast<size_t>(saltSize), iterations, 0);
            return output;
        });
    }
    module->postResult(std::move(result), std::move(completion));
}

// ---- RSA

void CryptoppRsaCrypto::generateKeyPair(CryptoModule* module, unsigned int bits, KeyPairCompletion completion) {
    postKeyPair(module, std::move(completion), [&](CryptoBytes& publicKey, CryptoBytes& privateKey) {
        // The library's default public exponent, 17, is the one peers expect.
        CryptoPP::RSA::PrivateKey key;
        key.Initialize(random_, bits);
        CryptoPP::RSA::PublicKey publicPart(key);
        publicKey = encode(publicPart);
        privateKey = encode(key);
    });
}

CryptoBytes CryptoppRsaCrypto::encrypt(const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                                       uint64_t publicKeySize) {
    return guarded([&]() -> CryptoBytes {
        CryptoPP::RSA::PublicKey key;
        if (!decodeOaepKey(key, publicKey, publicKeySize, random_)) {
            return nullptr;
        }
        CryptoPP::RSAES_OAEP_SHA_Encryptor encryptor(key);
        if (size > encryptor.FixedMaxPlaintextLength()) {
            return nullptr;
        }
        auto output = newBytes(encryptor.FixedCiphertextLength());
        encryptor.Encrypt(random_, nonNull(data), static_cast<size_t>(size), output->data());
        return output;
    });
}

CryptoBytes CryptoppRsaCrypto::decrypt(const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                                       uint64_t privateKeySize) {
    return guarded([&]() -> CryptoBytes {
        CryptoPP::RSA::PrivateKey key;
        if (!decodeOaepKey(key, privateKey, privateKeySize, random_)) {
            return nullptr;
        }
        CryptoPP::RSAES_OAEP_SHA_Decryptor decryptor(key);
        if (size != decryptor.FixedCiphertextLength()) {
            return newBytes(0);
        }
        auto output = newBytes(decryptor.FixedMaxPlaintextLength());
        uint8_t scratch = 0;
        const CryptoPP::DecodingResult result =
            decryptor.Decrypt(random_, ciphertext, static_cast<size_t>(size), writableData(*output, scratch));
        output->resize(result.isValidCoding ? result.messageLength : 0);
        return output;
    });
}

void CryptoppRsaCrypto::generateKeyPair2048(CryptoModule* module, KeyPairCompletion completion) {
    generateKeyPair(module, 2048, std::move(completion));
}

void CryptoppRsaCrypto::encrypt2048(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                                    uint64_t publicKeySize, BytesCompletion completion) {
    module->postResult(encrypt(data, size, publicKey, publicKeySize), std::move(completion));
}

void CryptoppRsaCrypto::decrypt2048(CryptoModule* module, const uint8_t* ciphertext, uint64_t size,
                                    const uint8_t* privateKey, uint64_t privateKeySize, BytesCompletion completion) {
    module->postResult(decrypt(ciphertext, size, privateKey, privateKeySize), std::move(completion));
}

void CryptoppRsaCrypto::generateKeyPair3072(CryptoModule* module, KeyPairCompletion completion) {
    generateKeyPair(module, 3072, std::move(completion));
}

void CryptoppRsaCrypto::encrypt3072(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                                    uint64_t publicKeySize, BytesCompletion completion) {
    module->postResult(encrypt(data, size, publicKey, publicKeySize), std::move(completion));
}

void CryptoppRsaCrypto::decrypt3072(CryptoModule* module, const uint8_t* ciphertext, uint64_t size,
                                    const uint8_t* privateKey, uint64_t privateKeySize, BytesCompletion completion) {
    module->postResult(decrypt(ciphertext, size, privateKey, privateKeySize), std::move(completion));
}

void CryptoppRsaCrypto::generateKeyPair4096(CryptoModule* module, KeyPairCompletion completion) {
    generateKeyPair(module, 4096, std::move(completion));
}

void CryptoppRsaCrypto::encrypt4096(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                                    uint64_t publicKeySize, BytesCompletion completion) {
    module->postResult(encrypt(data, size, publicKey, publicKeySize), std::move(completion));
}

void CryptoppRsaCrypto::decrypt4096(CryptoModule* module, const uint8_t* ciphertext, uint64_t size,
                                    const uint8_t* privateKey, uint64_t privateKeySize, BytesCompletion completion) {
    module->postResult(decrypt(ciphertext, size, privateKey, privateKeySize), std::move(completion));
}

// ---- ECDSA

CryptoppEcdsaCrypto::CryptoppEcdsaCrypto() : p384_(CryptoPP::ASN1::secp384r1()), p521_(CryptoPP::ASN1::secp521r1()) {
    for (Group* group : {&p384_, &p521_}) {
        group->SetEncodeAsOID(true);
        group->SetPointCompression(false);
    }
}

// Keys name their own curve; only the two curves of this system are accepted, so that key
// bytes cannot bring arbitrary curve parameters into the arithmetic.
bool CryptoppEcdsaCrypto::isSupportedGroup(const Group& group) const {
    return group == p384_ || group == p521_;
}

void CryptoppEcdsaCrypto::generateKeyPair(CryptoModule* module, const Group& group, KeyPairCompletion completion) {
    postKeyPair(module, std::move(completion), [&](CryptoBytes& publicKey, CryptoBytes& privateKey) {
        Ecdsa::PrivateKey key;
        key.Initialize(random_, group);
        Ecdsa::PublicKey publicPart;
        key.MakePublicKey(publicPart);
        publicPart.AccessGroupParameters().SetEncodeAsOID(true);
        publicPart.AccessGroupParameters().SetPointCompression(false);
        publicKey = encode(publicPart);
        privateKey = encode(key);
    });
}

CryptoBytes CryptoppEcdsaCrypto::sign(const uint8_t* message, uint64_t size, const uint8_t* privateKey,
                                      uint64_t privateKeySize) {
    return guarded([&]() -> CryptoBytes {
        Ecdsa::PrivateKey key;
        decode(key, privateKey, privateKeySize);
        const Group& group = key.GetGroupParameters();
        const CryptoPP::Integer& exponent = key.GetPrivateExponent();
        if (!isSupportedGroup(group) || !exponent.IsPositive() || exponent >= group.GetSubgroupOrder()) {
            return nullptr;
        }
        Ecdsa::Signer signer(key);
        auto output = newBytes(signer.MaxSignatureLength());
        const size_t length = signer.SignMessage(random_, nonNull(message), static_cast<size_t>(size), output->data());
        output->resize(length);
        return output;
    });
}

bool CryptoppEcdsaCrypto::verify(const uint8_t* message, uint64_t size, const uint8_t* publicKey,
                                 uint64_t publicKeySize, const uint8_t* signature, uint64_t signatureSize) {
    try {
        Ecdsa::PublicKey key;
        decode(key, publicKey, publicKeySize);
        const Group& group = key.GetGroupParameters();
        const CryptoPP::ECP::Point& point = key.GetPublicElement();
        if (!isSupportedGroup(group) || point.identity || !group.GetCurve().VerifyPoint(point)) {
            return false;
        }
        Ecdsa::Verifier verifier(key);
        // Only the exact r || s form counts; the library would ignore trailing bytes.
        if (signatureSize != verifier.SignatureLength()) {
            return false;
        }
        return verifier.VerifyMessage(nonNull(message), static_cast<size_t>(size), signature,
                                      static_cast<size_t>(signatureSize));
    } catch (const std::exception&) {
        return false;
    }
}

void CryptoppEcdsaCrypto::generateKeyPairP384(CryptoModule* module, KeyPairCompletion completion) {
    generateKeyPair(module, p384_, std::move(completion));
}

void CryptoppEcdsaCrypto::signP384(CryptoModule* module, const uint8_t* message, uint64_t size,
                                   const uint8_t* privateKey, uint64_t privateKeySize, BytesCompletion completion) {
    module->postResult(sign(message, size, privateKey, privateKeySize), std::move(completion));
}

void CryptoppEcdsaCrypto::verifyP384(CryptoModule* module, const uint8_t* message, uint64_t size,
                                     const uint8_t* publicKey, uint64_t publicKeySize, const uint8_t* signature,
                                     uint64_t signatureSize, CheckCompletion completion) {
    module->postResult(verify(message, size, publicKey, publicKeySize, signature, signatureSize),
                       std::move(completion));
}

void CryptoppEcdsaCrypto::generateKeyPairP521(CryptoModule* module, KeyPairCompletion completion) {
    generateKeyPair(module, p521_, std::move(completion));
}

void CryptoppEcdsaCrypto::signP521(CryptoModule* module, const uint8_t* message, uint64_t size,
                                   const uint8_t* privateKey, uint64_t privateKeySize, BytesCompletion completion) {
    module->postResult(sign(message, size, privateKey, privateKeySize), std::move(completion));
}

void CryptoppEcdsaCrypto::verifyP521(CryptoModule* module, const uint8_t* message, uint64_t size,
                                     const uint8_t* publicKey, uint64_t publicKeySize, const uint8_t* signature,
                                     uint64_t signatureSize, CheckCompletion completion) {
    module->postResult(verify(message, size, publicKey, publicKeySize, signature, signatureSize),
                       std::move(completion));
}

// ---- the module

struct CryptoppCrypto::Primitives {
    EcdsaCrypto* ecdsa;
    ShaHash* sha;
    RsaCrypto* rsa;
    AesCryptoExtra* aesExtra;
    AesCrypto* aes;
    RandomNumberGenerator* random;
};

CryptoppCrypto::Primitives CryptoppCrypto::createPrimitives() {
    Primitives primitives{};
    primitives.ecdsa = new CryptoppEcdsaCrypto();
    primitives.sha = new CryptoppShaHash();
    primitives.rsa = new CryptoppRsaCrypto();
    primitives.aesExtra = new CryptoppAesCryptoExtra();
    primitives.aes = new CryptoppAesCrypto();
    primitives.random = new CryptoppRandomNumberGenerator();
    return primitives;
}

CryptoppCrypto::CryptoppCrypto(TaskManager* workLoop, TaskManager* resultLoop)
    : CryptoppCrypto(createPrimitives(), workLoop, resultLoop) {
}

CryptoppCrypto::CryptoppCrypto(Primitives primitives, TaskManager* workLoop, TaskManager* resultLoop)
    : CryptoModule(primitives.random, primitives.aes, primitives.aesExtra, primitives.rsa, primitives.sha,
                   primitives.ecdsa, workLoop, resultLoop) {
}

}  // namespace corvane
