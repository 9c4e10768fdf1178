#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/crypto_primitives.h"

namespace corvane {

class CryptoModule;
class MutableNodeData;

// One numbered way of protecting keys, file data, metadata and node attributes. The scheme
// number travels with every node, filesystem and account, so data written under one scheme is
// always read back under the same one. Schemes are stateless over a module they do not own.
//
// Every operation consumes its completion: it is called exactly once, with a new vector that
// the receiver owns, or null on failure. Rejected calls and the synchronous operations
// (generateKey, deriveKey, hashFingerprint) complete on the calling thread before returning;
// the others complete on the module's result loop. Data, blob and key arguments must stay
// valid and unchanged until the completion has run.
class CryptoScheme {
public:
    using Bytes = std::vector<uint8_t>;

    static constexpr size_t kKeySize = 32;
    static constexpr size_t kWrappedKeySize = 40;
    static constexpr size_t kIvSize = 12;
    static constexpr size_t kTagSize = 16;
    static constexpr size_t kFingerprintHashSize = 20;

    using CounterBlock = std::array<uint8_t, 16>;

    // The CTR counter block of a byte offset: zeros, then offset / 16 as a big-endian 64-bit
    // number, so a slice encrypted at a 16-byte boundary matches the whole stream.
    static CounterBlock counterBlock(uint64_t offset);

    explicit CryptoScheme(CryptoModule* module) : module_(module) {}
    virtual ~CryptoScheme() = default;

    CryptoScheme(const CryptoScheme&) = delete;
    CryptoScheme& operator=(const CryptoScheme&) = delete;

    // A new random node key of kKeySize bytes.
    virtual CryptoBytes generateKey() = 0;
    // The key a child key is encrypted under; the filesystem key may be null.
    virtual void deriveKey(const Bytes* filesystemKey, const Bytes* key, BytesCompletion completion) = 0;
    virtual void encryptKey(const Bytes* key, const Bytes* cipherKey, BytesCompletion completion) = 0;
    virtual void decryptKey(const Bytes* encryptedKey, const Bytes* cipherKey, BytesCompletion completion) = 0;
    // File contents at a byte offset; the output is as long as the input.
    virtual void encryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                             BytesCompletion completion) = 0;
    virtual void decryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                             BytesCompletion completion) = 0;
    virtual void encryptMetadata(const uint8_t* data, uint64_t size, const Bytes* key, BytesCompletion completion) = 0;
    virtual void decryptMetadata(const uint8_t* blob, uint64_t size, const Bytes* key, BytesCompletion completion) = 0;
    // Seals the node's attributes record under the key.
    virtual void encryptAttributes(std::shared_ptr<MutableNodeData> node, const Bytes* key,
                                   BytesCompletion completion) = 0;
    // Opens the blob under the node's key and applies the record to the node; true when it
    // was valid and applied.
    virtual void decryptAttributes(const uint8_t* blob, uint64_t size, std::shared_ptr<MutableNodeData> node,
                                   CheckCompletion completion) = 0;
    // A keyed hash of a file fingerprint, kFingerprintHashSize bytes.
    virtual void hashFingerprint(const Bytes* fingerprint, const Bytes* key, BytesCompletion completion) = 0;

protected:
    CryptoModule* module_;
};

// Scheme 0: AES-256 key wrap for keys, AES-256-CTR for data, AES-256-GCM for blobs. A blob is
// IV (12 random bytes), ciphertext and the 16-byte tag, 28 bytes longer than its plaintext.
class DefaultCryptoScheme : public CryptoScheme {
public:
    explicit DefaultCryptoScheme(CryptoModule* module) : CryptoScheme(module) {}

    CryptoBytes generateKey() override;
    void deriveKey(const Bytes* filesystemKey, const Bytes* key, BytesCompletion completion) override;
    void encryptKey(const Bytes* key, const Bytes* cipherKey, BytesCompletion completion) override;
    void decryptKey(const Bytes* encryptedKey, const Bytes* cipherKey, BytesCompletion completion) override;
    void encryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                     BytesCompletion completion) override;
    void decryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                     BytesCompletion completion) override;
    void encryptMetadata(const uint8_t* data, uint64_t size, const Bytes* key, BytesCompletion completion) override;
    void decryptMetadata(const uint8_t* blob, uint64_t size, const Bytes* key, BytesCompletion completion) override;
    void encryptAttributes(std::shared_ptr<MutableNodeData> node, const Bytes* key,
                           BytesCompletion completion) override;
    void decryptAttributes(const uint8_t* blob, uint64_t size, std::shared_ptr<MutableNodeData> node,
                           CheckCompletion completion) override;
    void hashFingerprint(const Bytes* fingerprint, const Bytes* key, BytesCompletion completion) override;

    virtual void encryptBlob(const uint8_t* data, uint64_t size, const Bytes* key, BytesCompletion completion);
    virtual void decryptBlob(const uint8_t* blob, uint64_t size, const Bytes* key, BytesCompletion completion);

protected:
    // Passes a decrypted key on only when it has the size of a key: anything else (an RSA
    // decryption that failed its padding check gives an empty result) would only surface
    // later as unrelated failures.
    static BytesCompletion requireKeySize(BytesCompletion completion);
};

// Scheme 1: as scheme 0, but keys are encrypted to a 3072-bit RSA key pair (RSA-OAEP) and
// derivation ignores the filesystem key.
class DefaultAsymmetricCryptoScheme : public DefaultCryptoScheme {
public:
    explicit DefaultAsymmetricCryptoScheme(CryptoModule* module) : DefaultCryptoScheme(module) {}

    void deriveKey(const Bytes* filesystemKey, const Bytes* key, BytesCompletion completion) override;
    // The cipher key is the X.509 DER public key.
    void encryptKey(const Bytes* key, const Bytes* cipherKey, BytesCompletion completion) override;
    // The cipher key is the PKCS #8 DER private key.
    void decryptKey(const Bytes* encryptedKey, const Bytes* cipherKey, BytesCompletion completion) override;
};

// Scheme 2: as scheme 0, but data and blobs use AES-128 with the first 16 bytes of the key.
class FastCryptoScheme : public DefaultCryptoScheme {
public:
    static constexpr size_t kShortKeySize = 16;

    explicit FastCryptoScheme(CryptoModule* module) : DefaultCryptoScheme(module) {}

    void encryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                     BytesCompletion completion) override;
    void decryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                     BytesCompletion completion) override;
    void encryptBlob(const uint8_t* data, uint64_t size, const Bytes* key, BytesCompletion completion) override;
    void decryptBlob(const uint8_t* blob, uint64_t size, const Bytes* key, BytesCompletion completion) override;
};

}  // namespace corvane
