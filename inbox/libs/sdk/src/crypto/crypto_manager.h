#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crypto/crypto_primitives.h"

namespace corvane {

class CryptoModule;
class CryptoScheme;
class DefaultCryptoScheme;
class MutableNodeData;

// The one door through which the SDK encrypts, decrypts, derives and hashes. Scheme-dependent
// requests go to the scheme whose number the caller names (the crypto byte of the node,
// filesystem or account involved) after the arguments have been checked.
//
// Called on the SDK main loop. Rejected calls, generateNodeKey, newRandomKey and the
// synchronous scheme operations complete on the calling thread; everything else completes on
// the crypto module's result loop, in the order the work ran. Argument buffers must stay alive
// and unchanged until the completion has run.
class CryptoManager {
public:
    using Bytes = std::vector<uint8_t>;
    // (first key, second key): the authentication key sent to the service and the password
    // key that wraps the master key. Both null on failure.
    using DerivedKeysCompletion = std::function<void(CryptoBytes firstKey, CryptoBytes secondKey)>;
    // The session text; empty on failure.
    using SessionCompletion = std::function<void(std::string session)>;

    static constexpr uint32_t kPbkdf2Iterations = 150000;
    static const char kUserKeySaltSuffix[];
    static const char kSecretKeySaltSuffix[];

    // The P-384 public key (X.509 DER) that self-update information is verified against.
    static const Bytes& defaultUpdatePublicKey();

    explicit CryptoManager(CryptoModule* module);
    // With another update-information public key than the built-in one (tests sign with a key
    // pair of their own).
    CryptoManager(CryptoModule* module, Bytes updatePublicKey);
    virtual ~CryptoManager();

    CryptoManager(const CryptoManager&) = delete;
    CryptoManager& operator=(const CryptoManager&) = delete;

    // --- scheme-dependent; an invalid scheme logs and completes with null (false) ---

    // A new random node key; null for an invalid scheme. The node type is not consulted.
    CryptoBytes generateNodeKey(uint32_t scheme, int32_t nodeType);
    // The key a child key is encrypted under; the filesystem key may be null.
    void deriveNodeKey(uint32_t scheme, const Bytes* filesystemKey, const Bytes* key, BytesCompletion completion);
    void encryptNodeKey(uint32_t scheme, const Bytes* key, const Bytes* cipherKey, BytesCompletion completion);
    void decryptNodeKey(uint32_t scheme, const Bytes* encryptedKey, const Bytes* cipherKey, BytesCompletion completion);
    // Scheme 0.
    void encryptNodeKey(const Bytes* key, const Bytes* cipherKey, BytesCompletion completion);
    void decryptNodeKey(const Bytes* encryptedKey, const Bytes* cipherKey, BytesCompletion completion);
    void encryptData(uint32_t scheme, const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                     BytesCompletion completion);
    void decryptData(uint32_t scheme, const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                     BytesCompletion completion);
    void encryptMetadata(uint32_t scheme, const uint8_t* data, uint64_t size, const Bytes* key,
                         BytesCompletion completion);
    void decryptMetadata(uint32_t scheme, const uint8_t* data, uint64_t size, const Bytes* key,
                         BytesCompletion completion);
    void encryptAttributes(uint32_t scheme, std::shared_ptr<MutableNodeData> node, const Bytes* key,
                           BytesCompletion completion);
    // Opens the blob under the node's own key and applies it to the node.
    void decryptAttributes(uint32_t scheme, const uint8_t* blob, uint64_t size, std::shared_ptr<MutableNodeData> node,
                           CheckCompletion completion);
    void hashFingerprint(uint32_t scheme, const Bytes* fingerprint, const Bytes* key, BytesCompletion completion);

    // --- scheme-independent ---

    // 32 random bytes.
    CryptoBytes newRandomKey();
    // PBKDF2-HMAC-SHA512 of the password, salted with the lower-cased e-mail address.
    void deriveUserKeys(const char* email, const char* password, DerivedKeysCompletion completion);
    // The same with a secret's name and its own salt suffix.
    void deriveSecretKeys(const char* name, const char* password, DerivedKeysCompletion completion);
    // A 3072-bit pair: (X.509 DER public key, PKCS #8 DER private key).
    void generateRsaKey(KeyPairCompletion completion);
    // The private key sealed under a 32-byte key with AES-256-GCM, whatever the account's
    // scheme: IV, ciphertext, tag.
    void encryptRsaKey(const Bytes* privateKey, const Bytes* key, BytesCompletion completion);
    void decryptRsaKey(const Bytes* blob, const Bytes* key, BytesCompletion completion);
    // The session sent by the service, RSA-decrypted and given as Base64URL text.
    void decryptSession(const Bytes* encryptedSession, const Bytes* privateKey, SessionCompletion completion);
    // SHA-512 of the file contents.
    void hashUpdateFile(const Bytes* data, BytesCompletion completion);
    // ECDSA with SHA-512 (r followed by s) under a PKCS #8 DER private key.
    void signUpdateInfo(const Bytes* data, const Bytes* privateKey, BytesCompletion completion);
    // Checks a signature against the update-information public key.
    void verifyUpdateInfo(const Bytes* data, const Bytes* signature, CheckCompletion completion);

private:
    // The scheme of that number, or null after logging.
    CryptoScheme* scheme(uint32_t number) const;
    void deriveKeys(const char* kind, const char* text, const char* suffix, const char* password,
                    DerivedKeysCompletion completion);

    std::vector<std::unique_ptr<CryptoScheme>> schemes_;
    // Scheme 0, whose blobs seal the RSA private key whatever the account's scheme.
    DefaultCryptoScheme* privateKeySealer_;
    CryptoModule* module_;
    uint32_t schemeCount_;
    Bytes updatePublicKey_;
};

}  // namespace corvane
