#include "crypto/crypto_module.h"

#include <algorithm>
#include <utility>

#include "util/log.h"

namespace corvane {

CryptoModule::CryptoModule(RandomNumberGenerator* random, AesCrypto* aes, AesCryptoExtra* aesExtra, RsaCrypto* rsa,
                           ShaHash* sha, EcdsaCrypto* ecdsa, TaskManager* workLoop, TaskManager* resultLoop)
    : Module(workLoop),
      resultLoop_(resultLoop),
      random_(random),
      aes_(aes),
      aesExtra_(aesExtra),
      rsa_(rsa),
      sha_(sha),
      ecdsa_(ecdsa) {
}

CryptoModule::~CryptoModule() {
    CLOG_DEBUG("Deleting CryptoModule");
    random_.reset();
    aes_.reset();
    aesExtra_.reset();
    rsa_.reset();
    sha_.reset();
    ecdsa_.reset();
}

void CryptoModule::encryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, counter, key, completion]() {
        aes_->encryptCtr128(this, data, size, counter, key, completion);
    });
}

void CryptoModule::decryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, counter, key, completion]() {
        aes_->decryptCtr128(this, data, size, counter, key, completion);
    });
}

void CryptoModule::encryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    uint8_t* output, CheckCompletion completion) {
    execute([this, data, size, counter, key, output, completion]() {
        aes_->transformCtr128(this, data, size, counter, key, output, completion);
    });
}

void CryptoModule::decryptAes128Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    uint8_t* output, CheckCompletion completion) {
    encryptAes128Ctr(data, size, counter, key, output, std::move(completion));
}

void CryptoModule::encryptAes128Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, iv, key, completion]() { aes_->encryptGcm128(this, data, size, iv, key, completion); });
}

void CryptoModule::decryptAes128Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, iv, key, completion]() { aes_->decryptGcm128(this, data, size, iv, key, completion); });
}

void CryptoModule::encryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, counter, key, completion]() {
        aes_->encryptCtr256(this, data, size, counter, key, completion);
    });
}

void CryptoModule::decryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, counter, key, completion]() {
        aes_->decryptCtr256(this, data, size, counter, key, completion);
    });
}

void CryptoModule::encryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    uint8_t* output, CheckCompletion completion) {
    execute([this, data, size, counter, key, output, completion]() {
        aes_->transformCtr256(this, data, size, counter, key, output, completion);
    });
}

void CryptoModule::decryptAes256Ctr(const uint8_t* data, uint64_t size, const uint8_t* counter, const uint8_t* key,
                                    uint8_t* output, CheckCompletion completion) {
    encryptAes256Ctr(data, size, counter, key, output, std::move(completion));
}

void CryptoModule::encryptAes256Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, iv, key, completion]() { aes_->encryptGcm256(this, data, size, iv, key, completion); });
}

void CryptoModule::decryptAes256Gcm(const uint8_t* data, uint64_t size, const uint8_t* iv, const uint8_t* key,
                                    BytesCompletion completion) {
    execute([this, data, size, iv, key, completion]() { aes_->decryptGcm256(this, data, size, iv, key, completion); });
}

void CryptoModule::wrapAes256Key(const uint8_t* key, const uint8_t* kek, BytesCompletion completion) {
    execute([this, key, kek, completion]() { aes_->wrapKey256(this, key, kek, completion); });
}

void CryptoModule::unwrapAes256Key(const uint8_t* wrapped, const uint8_t* kek, BytesCompletion completion) {
    execute([this, wrapped, kek, completion]() { aes_->unwrapKey256(this, wrapped, kek, completion); });
}

void CryptoModule::generateRsa3072KeyPair(KeyPairCompletion completion) {
    execute([this, completion]() { rsa_->generateKeyPair3072(this, completion); });
}

void CryptoModule::encryptRsa(const uint8_t* data, uint64_t size, const uint8_t* publicKey, uint64_t publicKeySize,
                              BytesCompletion completion) {
    execute([this, data, size, publicKey, publicKeySize, completion]() {
        rsa_->encrypt3072(this, data, size, publicKey, publicKeySize, completion);
    });
}

void CryptoModule::decryptRsa(const uint8_t* ciphertext, uint64_t size, const uint8_t* privateKey,
                              uint64_t privateKeySize, BytesCompletion completion) {
    execute([this, ciphertext, size, privateKey, privateKeySize, completion]() {
        rsa_->decrypt3072(this, ciphertext, size, privateKey, privateKeySize, completion);
    });
}

void CryptoModule::signEcdsa(const uint8_t* message, uint64_t size, const uint8_t* privateKey, uint64_t privateKeySize,
                             BytesCompletion completion) {
    execute([this, message, size, privateKey, privateKeySize, completion]() {
        ecdsa_->signP384(this, message, size, privateKey, privateKeySize, completion);
    });
}

void CryptoModule::verifyEcdsa(const uint8_t* message, uint64_t size, const uint8_t* publicKey, uint64_t publicKeySize,
                               const uint8_t* signature, uint64_t signatureSize, CheckCompletion completion) {
    execute([this, message, size, publicKey, publicKeySize, signature, signatureSize, completion]() {
        ecdsa_->verifyP384(this, message, size, publicKey, publicKeySize, signature, signatureSize, completion);
    });
}

void CryptoModule::hashSha512(const uint8_t* data, uint64_t size, BytesCompletion completion) {
    execute([this, data, size, completion]() { sha_->sha512(this, data, size, completion); });
}

void CryptoModule::deriveKeyPbkdf2(const uint8_t* password, uint64_t passwordSize, const uint8_t* salt,
                                   uint64_t saltSize, uint32_t iterations, BytesCompletion completion) {
    execute([this, password, passwordSize, salt, saltSize, iterations, completion]() {
        sha_->pbkdf2Sha512(this, password, passwordSize, salt, saltSize, iterations, completion);
    });
}

void CryptoModule::generateRandom(uint8_t* buffer, uint64_t size) {
    random_->generate(buffer, size);
}

CryptoBytes CryptoModule::xorKeys(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
    const size_t size = std::min(first.size(), second.size());
    auto result = std::make_unique<std::vector<uint8_t>>(size);
    for (size_t i = 0; i < size; ++i) {
        (*result)[i] = first[i] ^ second[i];
    }
    return result;
}

// Tasks must be copyable, so the owned results travel in a shared holder; a task that a
// stopped loop drops still frees them.
void CryptoModule::postResult(CryptoBytes result, BytesCompletion completion) {
    auto holder = std::make_shared<CryptoBytes>(std::move(result));
    executeInLoop(resultLoop_, [holder, completion]() { completion(std::move(*holder)); });
}

void CryptoModule::postResult(CryptoBytes publicKey, CryptoBytes privateKey, KeyPairCompletion completion) {
    auto holder = std::make_shared<std::pair<CryptoBytes, CryptoBytes>>(std::move(publicKey), std::move(privateKey));
    executeInLoop(resultLoop_,
                  [holder, completion]() { completion(std::move(holder->first), std::move(holder->second)); });
}

void CryptoModule::postResult(bool valid, CheckCompletion completion) {
    executeInLoop(resultLoop_, [valid, completion]() { completion(valid); });
}

}  // namespace corvane
