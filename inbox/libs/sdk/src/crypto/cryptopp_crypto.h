#pragma once

// The Crypto++ back end of the crypto primitives, and CryptoppCrypto, the crypto module built
// on it. The asynchronous primitives reuse their algorithm objects across calls: they are
// used only from the crypto loop's single thread.

#include <cryptopp/aes.h>
#include <cryptopp/eccrypto.h>
#include <cryptopp/gcm.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

#include "crypto/crypto_module.h"
#include "crypto/crypto_primitives.h"

namespace corvane {

// A fresh auto-seeded generator per call (32 bytes from the operating system each time), so
// that no state is shared between the threads that call it.
class CryptoppRandomNumberGenerator : public RandomNumberGenerator {
public:
    void generate(uint8_t* buffer, uint64_t size) override;
};

class CryptoppAesCrypto : public AesCrypto {
public:
    CryptoppAesCrypto();

    void encryptCbc128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptCbc128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void encryptCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void encryptGcm128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptGcm128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void wrapKey128(CryptoModule* module, const uint8_t* key, const uint8_t* kek, BytesCompletion completion) override;
    void unwrapKey128(CryptoModule* module, const uint8_t* wrapped, const uint8_t* kek,
                      BytesCompletion completion) override;

    void encryptCbc256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptCbc256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void encryptCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void encryptGcm256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptGcm256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key,
                       BytesCompletion completion) override;
    void wrapKey256(CryptoModule* module, const uint8_t* key, const uint8_t* kek, BytesCompletion completion) override;
    void unwrapKey256(CryptoModule* module, const uint8_t* wrapped, const uint8_t* kek,
                      BytesCompletion completion) override;
    void transformCtr128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                         const uint8_t* key, uint8_t* output, CheckCompletion completion) override;
    void transformCtr256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                         const uint8_t* key, uint8_t* output, CheckCompletion completion) override;

private:
    CryptoBytes cbcEncrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key, size_t keySize);
    CryptoBytes cbcDecrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key, size_t keySize);
    CryptoBytes ctr(CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption& cipher, const uint8_t* input, uint64_t size,
                    const uint8_t* iv, const uint8_t* key, size_t keySize);
    bool ctrInto(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key, size_t keySize,
                 uint8_t* output);
    CryptoBytes gcmEncrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key, size_t keySize);
    CryptoBytes gcmDecrypt(const uint8_t* input, uint64_t size, const uint8_t* iv, const uint8_t* key, size_t keySize);

    CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption cbcEncryption_;
    CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption cbcDecryption_;
    CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption ctrEncryption_;
    CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption ctrDecryption_;
    CryptoPP::GCM<CryptoPP::AES>::Encryption gcmEncryption_;
    CryptoPP::GCM<CryptoPP::AES>::Decryption gcmDecryption_;
};

class CryptoppAesCryptoExtra : public AesCryptoExtra {
public:
    void encryptCbcRaw128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                          const uint8_t* key, BytesCompletion completion) override;
    void decryptCbcRaw128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                          const uint8_t* key, BytesCompletion completion) override;
    void encryptEcb128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptEcb128(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                       BytesCompletion completion) override;
    void encryptCbcRaw256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                          const uint8_t* key, BytesCompletion completion) override;
    void decryptCbcRaw256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* iv,
                          const uint8_t* key, BytesCompletion completion) override;
    void encryptEcb256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                       BytesCompletion completion) override;
    void decryptEcb256(CryptoModule* module, const uint8_t* input, uint64_t size, const uint8_t* key,
                       BytesCompletion completion) override;

private:
    CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption cbcEncryption_;
    CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption cbcDecryption_;
    CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption ecbEncryption_;
    CryptoPP::ECB_Mode<CryptoPP::AES>::Decryption ecbDecryption_;
};

class CryptoppShaHash : public ShaHash {
public:
    void sha256(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) override;
    void sha384(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) override;
    void sha512(CryptoModule* module, const uint8_t* data, uint64_t size, BytesCompletion completion) override;
    void pbkdf2Sha512(CryptoModule* module, const uint8_t* password, uint64_t passwordSize, const uint8_t* salt,
                      uint64_t saltSize, uint32_t iterations, BytesCompletion completion) override;

private:
    CryptoPP::SHA256 sha256_;
    CryptoPP::SHA384 sha384_;
    CryptoPP::SHA512 sha512_;
};

class CryptoppRsaCrypto : public RsaCrypto {
public:
    void generateKeyPair2048(CryptoModule* module, KeyPairCompletion completion) override;
    void encrypt2048(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                     uint64_t publicKeySize, BytesCompletion completion) override;
    void decrypt2048(CryptoModule* module, const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                     uint64_t privateKeySize, BytesCompletion completion) override;
    void generateKeyPair3072(CryptoModule* module, KeyPairCompletion completion) override;
    void encrypt3072(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                     uint64_t publicKeySize, BytesCompletion completion) override;
    void decrypt3072(CryptoModule* module, const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                     uint64_t privateKeySize, BytesCompletion completion) override;
    void generateKeyPair4096(CryptoModule* module, KeyPairCompletion completion) override;
    void encrypt4096(CryptoModule* module, const uint8_t* data, uint64_t size, const uint8_t* publicKey,
                     uint64_t publicKeySize, BytesCompletion completion) override;
    void decrypt4096(CryptoModule* module, const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                     uint64_t privateKeySize, BytesCompletion completion) override;

private:
    void generateKeyPair(CryptoModule* module, unsigned int bits, KeyPairCompletion completion);
    CryptoBytes encrypt(const uint8_t* data, uint64_t size, const uint8_t* publicKey, uint64_t publicKeySize);
    CryptoBytes decrypt(const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey, uint64_t privateKeySize);

    // Seeded once from the operating system; supplies primes, OAEP seeds and blinding.
    CryptoPP::AutoSeededRandomPool random_;
};

class CryptoppEcdsaCrypto : public EcdsaCrypto {
public:
    CryptoppEcdsaCrypto();

    void generateKeyPairP384(CryptoModule* module, KeyPairCompletion completion) override;
    void signP384(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* privateKey,
                  uint64_t privateKeySize, BytesCompletion completion) override;
    void verifyP384(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* publicKey,
                    uint64_t publicKeySize, const uint8_t* signature, uint64_t signatureSize,
                    CheckCompletion completion) override;
    void generateKeyPairP521(CryptoModule* module, KeyPairCompletion completion) override;
    void signP521(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* privateKey,
                  uint64_t privateKeySize, BytesCompletion completion) override;
    void verifyP521(CryptoModule* module, const uint8_t* message, uint64_t size, const uint8_t* publicKey,
                    uint64_t publicKeySize, const uint8_t* signature, uint64_t signatureSize,
                    CheckCompletion completion) override;

private:
    using Group = CryptoPP::DL_GroupParameters_EC<CryptoPP::ECP>;

    void generateKeyPair(CryptoModule* module, const Group& group, KeyPairCompletion completion);
    CryptoBytes sign(const uint8_t* message, uint64_t size, const uint8_t* privateKey, uint64_t privateKeySize);
    bool verify(const uint8_t* message, uint64_t size, const uint8_t* publicKey, uint64_t publicKeySize,
                const uint8_t* signature, uint64_t signatureSize);
    bool isSupportedGroup(const Group& group) const;

    // Seeded once from the operating system; supplies private keys and signature nonces.
    CryptoPP::AutoSeededRandomPool random_;
    Group p384_;
    Group p521_;
};

// The crypto module on the Crypto++ primitives.
class CryptoppCrypto : public CryptoModule {
public:
    CryptoppCrypto(TaskManager* workLoop, TaskManager* resultLoop);

private:
    struct Primitives;
    CryptoppCrypto(Primitives primitives, TaskManager* workLoop, TaskManager* resultLoop);
    static Primitives createPrimitives();
};

}  // namespace corvane
