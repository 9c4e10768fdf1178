#pragma once

// The abstract cryptographic primitives behind CryptoModule.
//
// Conventions of every asynchronous operation below:
// - The owning CryptoModule comes first, the completion last. The operation runs to its end
//   on the calling thread (the crypto loop) and hands its result to module->postResult, which
//   runs the completion on the module's result loop. The completion is called exactly once.
// - Byte inputs are a pointer and, where the operation does not fix the length, a 64-bit
//   count. Keys, IVs and KEKs have the fixed length the operation names; the pointer must
//   address at least that many bytes. A pointer may be null only when its count is 0.
// - A byte result is a newly allocated vector owned by the receiver; null means failure, and
//   a successful operation that produces no bytes passes an empty vector.
// - Nothing raised inside the crypto library escapes, and nothing is logged.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace corvane {

class CryptoModule;

// An owned result of a crypto operation; null on failure.
using CryptoBytes = std::unique_ptr<std::vector<uint8_t>>;

using BytesCompletion = std::function<void(CryptoBytes result)>;
// Key pairs arrive as (public key DER, private key DER).
using KeyPairCompletion = std::function<void(CryptoBytes publicKey, CryptoBytes privateKey)>;
using CheckCompletion = std::function<void(bool valid)>;

// Synchronous; safe from any thread.
class RandomNumberGenerator {
public:
    virtual ~RandomNumberGenerator() = default;
    virtual void generate(uint8_t* buffer, uint64_t size) = 0;
};

// AES-128 (16-byte keys) and AES-256 (32-byte keys) in parallel families.
// CBC: 16-byte IV, PKCS #7 padding; decryption fails on a bad length or padding.
// CTR: the 16-byte IV is the initial counter block, incremented as one big-endian 128-bit
//      number per 16 bytes; encryption and decryption are the same transformation.
// GCM: 12-byte IV, no associated data; output is ciphertext followed by the 16-byte tag,
//      decryption fails on a tag mismatch or an input shorter than the tag.
// Key wrap (RFC 3394, no padding): a 16-byte key under a 16-byte KEK gives 24 bytes, a
//      32-byte key under a 32-byte KEK 40 bytes; unwrap reads exactly 24 or 40 bytes and
//      fails when the integrity check does.
class AesCrypto {
public:
    virtual ~AesCrypto() = default;

    virtual void encryptCbc128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptCbc128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void encryptCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void encryptGcm128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptGcm128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void wrapKey128(CryptoModule* module, const uint8_t* key, const uint8_t* kek,
                            BytesCompletion completion) = 0;
    virtual void unwrapKey128(CryptoModule* module, const uint8_t* wrapped, const uint8_t* kek,
                              BytesCompletion completion) = 0;

    virtual void encryptCbc256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptCbc256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void encryptCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void encryptGcm256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptGcm256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                               const uint8_t* key, BytesCompletion completion) = 0;
    virtual void wrapKey256(CryptoModule* module, const uint8_t* key, const uint8_t* kek,
                            BytesCompletion completion) = 0;
    virtual void unwrapKey256(CryptoModule* module, const uint8_t* wrapped, const uint8_t* kek,
                              BytesCompletion completion) = 0;

    // CTR (encryption and decryption alike) into the caller's buffer of at least size bytes,
    // which may be the input itself: a chunk loop reuses one buffer instead of receiving a
    // fresh zero-filled vector per call. The check reports whether every byte was written.
    virtual void transformCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                 const uint8_t* key, uint8_t* output, CheckCompletion completion) = 0;
    virtual void transformCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                 const uint8_t* key, uint8_t* output, CheckCompletion completion) = 0;
};

// Raw block modes without padding; an input whose length is not a multiple of 16 fails.
class AesCryptoExtra {
public:
    virtual ~AesCryptoExtra() = default;

    virtual void encryptCbcRaw128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                  const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptCbcRaw128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                  const uint8_t* key, BytesCompletion completion) = 0;
    virtual void encryptEcb128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                               BytesCompletion completion) = 0;
    virtual void decryptEcb128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                               BytesCompletion completion) = 0;
    virtual void encryptCbcRaw256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                  const uint8_t* key, BytesCompletion completion) = 0;
    virtual void decryptCbcRaw256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                                  const uint8_t* key, BytesCompletion completion) = 0;
    virtual void encryptEcb256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                               BytesCompletion completion) = 0;
    virtual void decryptEcb256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                               BytesCompletion completion) = 0;
};

// SHA-2 digests and PBKDF2 (RFC 8018) with HMAC-SHA-512, 64 bytes of output. An iteration
// count of 0 fails: PBKDF2 needs at least one.
class ShaHash {
public:
    virtual ~ShaHash() = default;

    virtual void sha256(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) = 0;
    virtual void sha384(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) = 0;
    virtual void sha512(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) = 0;
    virtual void pbkdf2Sha512(CryptoModule* module, const uint8_t* password, uint64_t passwordSize, const uint8_t* salt,
                              uint64_t saltSize, uint32_t iterations, BytesCompletion completion) = 0;
};

// RSAES-OAEP with SHA-1 and MGF1-SHA-1, empty label, public exponent 17. Public keys are
// X.509 SubjectPublicKeyInfo DER, private keys PKCS #8 PrivateKeyInfo DER. Encryption and
// decryption take the modulus from the key; the size in their names only names the family.
// Encryption fails (null) for a plaintext longer than k - 42 bytes (342 for 3072 bits) or a
// key that does not decode. Decryption gives null for a key that does not decode, and an
// empty vector when the ciphertext is not exactly k bytes or its OAEP decoding fails.
class RsaCrypto {
public:
    virtual ~RsaCrypto() = default;

    virtual void generateKeyPair2048(CryptoModule* module, KeyPairCompletion completion) = 0;
    virtual void encrypt2048(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                             uint64_t publicKeySize, BytesCompletion completion) = 0;
    virtual void decrypt2048(CryptoModule* module, const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                             uint64_t privateKeySize, BytesCompletion completion) = 0;
    virtual void generateKeyPair3072(CryptoModule* module, KeyPairCompletion completion) = 0;
    virtual void encrypt3072(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                             uint64_t publicKeySize, BytesCompletion completion) = 0;
    virtual void decrypt3072(CryptoModule* module, const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                             uint64_t privateKeySize, BytesCompletion completion) = 0;
    virtual void generateKeyPair4096(CryptoModule* module, KeyPairCompletion completion) = 0;
    virtual void encrypt4096(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                             uint64_t publicKeySize, BytesCompletion completion) = 0;
    virtual void decrypt4096(CryptoModule* module, const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                             uint64_t privateKeySize, BytesCompletion completion) = 0;
};

// ECDSA with SHA-512 on P-384 and P-521, random nonces. Public keys are X.509 DER with the
// named-curve OID and an uncompressed point (120 bytes on P-384), private keys PKCS #8 DER.
// Signatures are r followed by s (IEEE P1363): 96 bytes on P-384, 132 on P-521. Signing and
// verification take the curve from the key. A verification that cannot run reports false.
class EcdsaCrypto {
public:
    virtual ~EcdsaCrypto() = default;

    virtual void generateKeyPairP384(CryptoModule* module, KeyPairCompletion completion) = 0;
    virtual void signP384(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* privateKey,
                          uint64_t privateKeySize, BytesCompletion completion) = 0;
    virtual void verifyP384(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* publicKey,
                            uint64_t publicKeySize, const uint8_t* signature, uint64_t signatureSize,
                            CheckCompletion completion) = 0;
    virtual void generateKeyPairP521(CryptoModule* module, KeyPairCompletion completion) = 0;
    virtual void signP521(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* privateKey,
                          uint64_t privateKeySize, BytesCompletion completion) = 0;
    virtual void verifyP521(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* publicKey,
                            uint64_t publicKeySize, const uint8_t* signature, uint64_t signatureSize,
                            CheckCompletion completion) = 0;
};

}  // namespace corvane
