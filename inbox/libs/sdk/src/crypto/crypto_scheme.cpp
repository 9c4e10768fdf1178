#include "crypto/crypto_scheme.h"

#include <utility>

#include "crypto/argument_check.h"
#include "crypto/blake2b.h"
#include "crypto/crypto_module.h"
#include "crypto/node_attributes.h"
#include "database/mutable_node_data.h"
#include "util/byte_array.h"
#include "util/log.h"

namespace corvane {

namespace {

using Bytes = CryptoScheme::Bytes;

constexpr log::Level kError = log::Level::err;

// A module AES operation: input, size, IV or counter block, key, completion.
using CipherOperation = void (CryptoModule::*)(const uint8_t*, uint64_t, const uint8_t*, const uint8_t*,
                                               BytesCompletion);

// The blob framing and data stream shared by the schemes' AES variants; keyFits is the
// variant's own verdict on the key, checked after the data.
void sealBlob(CryptoModule* module, CipherOperation seal, bool keyFits, const uint8_t* data, uint64_t size,
              const Bytes* key, BytesCompletion completion) {
    if (!checkArguments({{data && size > 0, "Invalid data", kError}, {keyFits, "Invalid encryption key", kError}})) {
        completion(nullptr);
        return;
    }
    // The IV travels inside the completion, so it outlives the crypto thread's read of it.
    auto iv = std::make_shared<std::array<uint8_t, CryptoScheme::kIvSize>>();
    module->generateRandom(iv->data(), iv->size());
    (module->*seal)(data, size, iv->data(), key->data(), [iv, completion](CryptoBytes sealed) {
        if (sealed) {
            sealed->insert(sealed->begin(), iv->begin(), iv->end());
            CLOG_DEBUG("Encryption finished ({} bytes)", sealed->size());
        }
        completion(std::move(sealed));
    });
}

void openBlob(CryptoModule* module, CipherOperation open, bool keyFits, const uint8_t* blob, uint64_t size,
              const Bytes* key, BytesCompletion completion) {
    if (!checkArguments({{blob && size > CryptoScheme::kIvSize, "Invalid data", kError},
                         {keyFits, "Invalid encryption key", kError}})) {
        completion(nullptr);
        return;
    }
    (module->*open)(blob + CryptoScheme::kIvSize, size - CryptoScheme::kIvSize, blob, key->data(),
                    std::move(completion));
}

void runCtr(CryptoModule* module, CipherOperation operation, bool keyFits, const uint8_t* data, uint64_t size,
            uint64_t offset, const Bytes* key, BytesCompletion completion) {
    if (!keyFits) {
        CLOG_WARN("Invalid key");
        completion(nullptr);
        return;
    }
    // The counter block travels inside the completion, which the module keeps until the
    // result has been delivered, so it outlives the crypto thread's read of it.
    auto counter = std::make_shared<CryptoScheme::CounterBlock>(CryptoScheme::counterBlock(offset));
    (module->*operation)(data, size, counter->data(), key->data(),
                         [counter, completion](CryptoBytes result) { completion(std::move(result)); });
}

}  // namespace

CryptoScheme::CounterBlock CryptoScheme::counterBlock(uint64_t offset) {
    CounterBlock block{};
    uint64_t blockIndex = offset >> 4;
    for (int i = 15; i >= 8; --i) {
        block[i] = static_cast<uint8_t>(blockIndex & 0xFF);
        blockIndex >>= 8;
    }
    return block;
}

// --- scheme 0 ---

CryptoBytes DefaultCryptoScheme::generateKey() {
    CryptoBytes key(new Bytes(kKeySize, 0));
    module_->generateRandom(key->data(), key->size());
    return key;
}

void DefaultCryptoScheme::deriveKey(const Bytes* filesystemKey, const Bytes* key, BytesCompletion completion) {
    if (!key) {
        completion(nullptr);
        return;
    }
    if (filesystemKey) {
        completion(CryptoModule::xorKeys(*filesystemKey, *key));
    } else {
        completion(CryptoBytes(new Bytes(*key)));
    }
}

void DefaultCryptoScheme::encryptKey(const Bytes* key, const Bytes* cipherKey, BytesCompletion completion) {
    if (!checkArguments({{key && key->size() == kKeySize, "Invalid key", kError},
                         {cipherKey && cipherKey->size() == kKeySize, "Invalid encryption key", kError}})) {
        completion(nullptr);
        return;
    }
    module_->wrapAes256Key(key->data(), cipherKey->data(), std::move(completion));
}

void DefaultCryptoScheme::decryptKey(const Bytes* encryptedKey, const Bytes* cipherKey, BytesCompletion completion) {
    if (!checkArguments({{encryptedKey && encryptedKey->size() == kWrappedKeySize, "Invalid encrypted key", kError},
                         {cipherKey && cipherKey->size() == kKeySize, "Invalid encryption key", kError}})) {
        completion(nullptr);
        return;
    }
    module_->unwrapAes256Key(encryptedKey->data(), cipherKey->data(), requireKeySize(std::move(completion)));
}

void DefaultCryptoScheme::encryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                                      BytesCompletion completion) {
    runCtr(module_, &CryptoModule::encryptAes256Ctr, key && key->size() == kKeySize, data, size, offset, key,
           std::move(completion));
}

void DefaultCryptoScheme::decryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                                      BytesCompletion completion) {
    runCtr(module_, &CryptoModule::decryptAes256Ctr, key && key->size() == kKeySize, data, size, offset, key,
           std::move(completion));
}

void DefaultCryptoScheme::encryptMetadata(const uint8_t* data, uint64_t size, const Bytes* key,
                                          BytesCompletion completion) {
    encryptBlob(data, size, key, std::move(completion));
}

void DefaultCryptoScheme::decryptMetadata(const uint8_t* blob, uint64_t size, const Bytes* key,
                                          BytesCompletion completion) {
    decryptBlob(blob, size, key, std::move(completion));
}

void DefaultCryptoScheme::encryptAttributes(std::shared_ptr<MutableNodeData> node, const Bytes* key,
                                            BytesCompletion completion) {
    if (!node) {
        CLOG_WARN("Invalid node");
        completion(nullptr);
        return;
    }
    std::shared_ptr<ByteArray> record(buildNodeAttributes(*node));
    CLOG_DEBUG("Encrypting node attributes of size {}", record->size());
    encryptBlob(record->data(), record->size(), key, [record, completion](CryptoBytes blob) {
        if (!blob) {
            CLOG_ERROR("Unable to encrypt node attributes");
        }
        completion(std::move(blob));
    });
}

void DefaultCryptoScheme::decryptAttributes(const uint8_t* blob, uint64_t size, std::shared_ptr<MutableNodeData> node,
                                            CheckCompletion completion) {
    if (!node) {
        CLOG_WARN("Invalid node");
        completion(false);
        return;
    }
    // The node stays usable on its own loop meanwhile; a private copy of its key keeps the
    // bytes the crypto thread reads from changing under it.
    std::shared_ptr<Bytes> key;
    if (node->getKey()) {
        key = std::make_shared<Bytes>(*node->getKey());
    }
    decryptBlob(blob, size, key.get(), [key, node, completion](CryptoBytes plaintext) {
        completion(applyNodeAttributes(std::move(plaintext), *node));
    });
}

void DefaultCryptoScheme::hashFingerprint(const Bytes* fingerprint, const Bytes* key, BytesCompletion completion) {
    if (!key || key->size() != kKeySize) {
        CLOG_WARN("Invalid key");
        completion(nullptr);
        return;
    }
    if (!fingerprint) {
        completion(nullptr);
        return;
    }
    CryptoBytes digest(new Bytes(kFingerprintHashSize));
    if (!Blake2b::hash(fingerprint->data(), fingerprint->size(), digest->data(), digest->size(), key->data(),
                       key->size())) {
        digest.reset();
    }
    completion(std::move(digest));
}

void DefaultCryptoScheme::encryptBlob(const uint8_t* data, uint64_t size, const Bytes* key,
                                      BytesCompletion completion) {
    sealBlob(module_, &CryptoModule::encryptAes256Gcm, key && key->size() == kKeySize, data, size, key,
             std::move(completion));
}

void DefaultCryptoScheme::decryptBlob(const uint8_t* blob, uint64_t size, const Bytes* key,
                                      BytesCompletion completion) {
    openBlob(module_, &CryptoModule::decryptAes256Gcm, key && key->size() == kKeySize, blob, size, key,
             std::move(completion));
}

BytesCompletion DefaultCryptoScheme::requireKeySize(BytesCompletion completion) {
    return [completion](CryptoBytes key) {
        if (key && key->size() != kKeySize) {
            CLOG_ERROR("Decrypted key has an invalid size: {}", key->size());
            key.reset();
        }
        completion(std::move(key));
    };
}

// --- scheme 1 ---

void DefaultAsymmetricCryptoScheme::deriveKey(const Bytes* filesystemKey, const Bytes* key,
                                              BytesCompletion completion) {
    completion(key ? CryptoBytes(new Bytes(*key)) : nullptr);
}

void DefaultAsymmetricCryptoScheme::encryptKey(const Bytes* key, const Bytes* cipherKey, BytesCompletion completion) {
    if (!checkArguments({{key && key->size() == kKeySize, "Invalid key", kError},
                         {cipherKey != nullptr, "Invalid encryption key", kError}})) {
        completion(nullptr);
        return;
    }
    module_->encryptRsa(key->data(), key->size(), cipherKey->data(), cipherKey->size(), std::move(completion));
}

void DefaultAsymmetricCryptoScheme::decryptKey(const Bytes* encryptedKey, const Bytes* cipherKey,
                                               BytesCompletion completion) {
    if (!encryptedKey || !cipherKey) {
        completion(nullptr);
        return;
    }
    module_->decryptRsa(encryptedKey->data(), encryptedKey->size(), cipherKey->data(), cipherKey->size(),
                        requireKeySize(std::move(completion)));
}

// --- scheme 2 ---

void FastCryptoScheme::encryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                                   BytesCompletion completion) {
    runCtr(module_, &CryptoModule::encryptAes128Ctr, key && key->size() >= kShortKeySize, data, size, offset, key,
           std::move(completion));
}

void FastCryptoScheme::decryptData(const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                                   BytesCompletion completion) {
    runCtr(module_, &CryptoModule::decryptAes128Ctr, key && key->size() >= kShortKeySize, data, size, offset, key,
           std::move(completion));
}

void FastCryptoScheme::encryptBlob(const uint8_t* data, uint64_t size, const Bytes* key, BytesCompletion completion) {
    // Sealing asks for a full key even though only its first half is used, as the blobs of
    // this scheme always have.
    sealBlob(module_, &CryptoModule::encryptAes128Gcm, key && key->size() >= kKeySize, data, size, key,
             std::move(completion));
}

void FastCryptoScheme::decryptBlob(const uint8_t* blob, uint64_t size, const Bytes* key, BytesCompletion completion) {
    openBlob(module_, &CryptoModule::decryptAes128Gcm, key && key->size() >= kShortKeySize, blob, size, key,
             std::move(completion));
}

}  // namespace corvane
