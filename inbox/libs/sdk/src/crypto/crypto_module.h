#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/crypto_primitives.h"
#include "module/module.h"

namespace corvane {

// The asynchronous front of the crypto primitives. Each asynchronous operation stores its
// argument pointers (not the bytes) and the completion in a task for the work loop (the
// crypto loop); the primitive then posts the completion with its result to the result loop.
//
// Contract for callers:
// - With a work loop or a result loop, the completion never runs inside the call that
//   started it. Only a module with neither runs everything at once on the calling thread.
// - Completions run on the result loop in the order of the calls.
// - The bytes behind every pointer argument are read later on the crypto thread: keep them
//   alive and unchanged until the completion has run.
// - The work loop must be stopped, and its pending tasks gone, before the module is
//   deleted, since every task holds the module pointer.
class CryptoModule : public Module {
public:
    // Takes ownership of the six primitives; the loops are not owned and may be null.
    CryptoModule(RandomNumberGenerator* random, AesCrypto* aes, AesCryptoExtra* aesExtra, RsaCrypto* rsa, ShaHash* sha,
                 EcdsaCrypto* ecdsa, TaskManager* workLoop, TaskManager* resultLoop);
    ~CryptoModule() override;

    // Counter block and key of 16 bytes.
    void encryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          BytesCompletion completion);
    void decryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          BytesCompletion completion);
    // The same into the caller's buffer of at least size bytes (it may be the data itself),
    // which must stay alive until the completion reports whether it was written.
    void encryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          uint8_t* output, CheckCompletion completion);
    void decryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          uint8_t* output, CheckCompletion completion);
    // 12-byte IV, 16-byte key; output is ciphertext followed by the 16-byte tag.
    void encryptAes128Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                          BytesCompletion completion);
    void decryptAes128Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                          BytesCompletion completion);
    // 16-byte counter block, 32-byte key.
    void encryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          BytesCompletion completion);
    void decryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          BytesCompletion completion);
    void encryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          uint8_t* output, CheckCompletion completion);
    void decryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                          uint8_t* output, CheckCompletion completion);
    // 12-byte IV, 32-byte key.
    void encryptAes256Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                          BytesCompletion completion);
    void decryptAes256Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                          BytesCompletion completion);
    // 32-byte key under a 32-byte KEK into 40 bytes, and back.
    void wrapAes256Key(const uint8_t* key, const uint8_t* kek, BytesCompletion completion);
    void unwrapAes256Key(const uint8_t* wrapped, const uint8_t* kek, BytesCompletion completion);

    // RSA-OAEP on 3072-bit keys (X.509 / PKCS #8 DER).
    void generateRsa3072KeyPair(KeyPairCompletion completion);
    void encryptRsa(const uint8_t* data, uint64_t size, const uint8_t* publicKey, uint64_t publicKeySize,
                    BytesCompletion completion);
    void decryptRsa(const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey, uint64_t privateKeySize,
                    BytesCompletion completion);

    // ECDSA with SHA-512 on the key's curve.
    void signEcdsa(const uint8_t* message, uint64_t size, const uint8_t* privateKey, uint64_t privateKeySize,
                   BytesCompletion completion);
    void verifyEcdsa(const uint8_t* message, uint64_t size, const uint8_t* publicKey, uint64_t publicKeySize,
                     const uint8_t* signature, uint64_t signatureSize, CheckCompletion completion);

    void hashSha512(const uint8_t* data, uint64_t size, BytesCompletion completion);
    void deriveKeyPbkdf2(const uint8_t* password, uint64_t passwordSize, const uint8_t* salt, uint64_t saltSize,
                         uint32_t iterations, BytesCompletion completion);

    // Fills the buffer with random bytes on the calling thread.
    void generateRandom(uint8_t* buffer, uint64_t size);

    // Byte i is first[i] ^ second[i], as long as the shorter input.
    static CryptoBytes xorKeys(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second);

    // Used by the primitives: run the completion with the result on the result loop, or at
    // once when there is none.
    void postResult(CryptoBytes result, BytesCompletion completion);
    void postResult(CryptoBytes publicKey, CryptoBytes privateKey, KeyPairCompletion completion);
    void postResult(bool valid, CheckCompletion completion);

private:
    TaskManager* resultLoop_;
    std::unique_ptr<RandomNumberGenerator> random_;
    std::unique_ptr<AesCrypto> aes_;
    // Kept for completeness of the back end; no module operation reaches it.
    std::unique_ptr<AesCryptoExtra> aesExtra_;
    std::unique_ptr<RsaCrypto> rsa_;
    std::unique_ptr<ShaHash> sha_;
    std::unique_ptr<EcdsaCrypto> ecdsa_;
};

}  // namespace corvane
