#include "crypto/crypto_manager.h"

#include <utility>

#include "crypto/argument_check.h"
#include "crypto/crypto_module.h"
#include "crypto/crypto_scheme.h"
#include "crypto/node_attributes.h"
#include "util/base64.h"
#include "util/log.h"

namespace corvane {

namespace {

using Bytes = CryptoManager::Bytes;

constexpr size_t kKeySize = CryptoScheme::kKeySize;
constexpr size_t kIvSize = CryptoScheme::kIvSize;
constexpr size_t kDerivedSize = 2 * kKeySize;

// The public half of the key that signs the self-update information: P-384, X.509 DER
// (id-ecPublicKey, secp384r1, uncompressed point).
const uint8_t kUpdatePublicKey[] = {
    0x30, 0x76, 0x30, 0x10, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x05, 0x2b, 0x81, 0x04,
    0x00, 0x22, 0x03, 0x62, 0x00, 0x04, 0xbb, 0xc4, 0x39, 0x82, 0x5c, 0xc9, 0xd8, 0x93, 0x13, 0x03, 0x15, 0x28,
    0x6c, 0xb2, 0x35, 0x8b, 0xc0, 0x77, 0x6d, 0x16, 0xa8, 0xfd, 0xd9, 0x31, 0xae, 0xec, 0x18, 0x5c, 0x86, 0xdf,
    0xb3, 0xf8, 0xed, 0x4d, 0x8c, 0xce, 0xd1, 0x46, 0x25, 0x82, 0x1d, 0x04, 0x50, 0x31, 0xbc, 0xe7, 0xcb, 0x8b,
    0x5d, 0x21, 0xff, 0x8b, 0x99, 0x74, 0x20, 0x5e, 0x02, 0xbd, 0x98, 0xa4, 0x6a, 0x4e, 0xfe, 0xa7, 0x36, 0xc3,
    0xfc, 0xb4, 0x80, 0xe4, 0x0c, 0xe4, 0x43, 0xae, 0xb3, 0xc7, 0xf9, 0xa4, 0xa4, 0x85, 0xc8, 0x5c, 0x9d, 0x3e,
    0x4e, 0x3d, 0x3d, 0x47, 0x9b, 0x31, 0x6b, 0xda, 0x3f, 0xcf, 0x42, 0xf6,
};

// Overwrites secrets before their memory goes back to the allocator.
void wipe(std::string& text) {
    volatile char* bytes = &text[0];
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[i] = 0;
    }
}

void wipe(Bytes& bytes) {
    volatile uint8_t* data = bytes.data();
    for (size_t i = 0; i < bytes.size(); ++i) {
        data[i] = 0;
    }
}

std::shared_ptr<std::string> secretText(std::string text) {
    return std::shared_ptr<std::string>(new std::string(std::move(text)), [](std::string* secret) {
        wipe(*secret);
        delete secret;
    });
}

// An absent fingerprint or fingerprint key is an ordinary case and logs at debug level; an
// empty fingerprint is a caller's fault.
constexpr corvane::log::Level kError = corvane::log::Level::err;
constexpr corvane::log::Level kDebug = corvane::log::Level::debug;

}  // namespace

const char CryptoManager::kUserKeySaltSuffix[] = " ___TORQUIN___ ";
const char CryptoManager::kSecretKeySaltSuffix[] = " ___TORQUIN_HIDDEN___ ";

const Bytes& CryptoManager::defaultUpdatePublicKey() {
    static const Bytes key(std::begin(kUpdatePublicKey), std::end(kUpdatePublicKey));
    return key;
}

CryptoManager::CryptoManager(CryptoModule* module) : CryptoManager(module, defaultUpdatePublicKey()) {
}

CryptoManager::CryptoManager(CryptoModule* module, Bytes updatePublicKey)
    : privateKeySealer_(new DefaultCryptoScheme(module)),
      module_(module),
      schemeCount_(0),
      updatePublicKey_(std::move(updatePublicKey)) {
    schemes_.emplace_back(privateKeySealer_);
    schemes_.emplace_back(new DefaultAsymmetricCryptoScheme(module));
    schemes_.emplace_back(new FastCryptoScheme(module));
    schemeCount_ = static_cast<uint32_t>(schemes_.size());
}

CryptoManager::~CryptoManager() = default;

CryptoScheme* CryptoManager::scheme(uint32_t number) const {
    if (number >= schemeCount_) {
        CLOG_ERROR("Invalid scheme: {}", number);
        return nullptr;
    }
    return schemes_[number].get();
}

// --- scheme-dependent ---

CryptoBytes CryptoManager::generateNodeKey(uint32_t number, int32_t nodeType) {
    CryptoScheme* chosen = scheme(number);
    return chosen ? chosen->generateKey() : nullptr;
}

void CryptoManager::deriveNodeKey(uint32_t number, const Bytes* filesystemKey, const Bytes* key,
                                  BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{key != nullptr, "Invalid key"}})) {
        completion(nullptr);
        return;
    }
    if (filesystemKey) {
        CLOG_DEBUG("Deriving key with filesystem key");
    } else {
        CLOG_DEBUG("Deriving key without filesystem key");
    }
    chosen->deriveKey(filesystemKey, key, std::move(completion));
}

void CryptoManager::encryptNodeKey(uint32_t number, const Bytes* key, const Bytes* cipherKey,
                                   BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{key != nullptr, "Invalid key"}, {cipherKey != nullptr, "Invalid cipherkey"}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Encrypting key with scheme {}", number);
    chosen->encryptKey(key, cipherKey, std::move(completion));
}

void CryptoManager::decryptNodeKey(uint32_t number, const Bytes* encryptedKey, const Bytes* cipherKey,
                                   BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen ||
        !checkArguments({{encryptedKey != nullptr, "Invalid key"}, {cipherKey != nullptr, "Invalid cipherkey"}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Decrypting key with scheme {}", number);
    chosen->decryptKey(encryptedKey, cipherKey, std::move(completion));
}

void CryptoManager::encryptNodeKey(const Bytes* key, const Bytes* cipherKey, BytesCompletion completion) {
    encryptNodeKey(0, key, cipherKey, std::move(completion));
}

void CryptoManager::decryptNodeKey(const Bytes* encryptedKey, const Bytes* cipherKey, BytesCompletion completion) {
    decryptNodeKey(0, encryptedKey, cipherKey, std::move(completion));
}

void CryptoManager::encryptData(uint32_t number, const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                                BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{key != nullptr, "Invalid key"}, {data != nullptr, "Invalid data"}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Encrypting data");
    chosen->encryptData(data, size, offset, key, std::move(completion));
}

void CryptoManager::decryptData(uint32_t number, const uint8_t* data, uint64_t size, uint64_t offset, const Bytes* key,
                                BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{key != nullptr, "Invalid key"}, {data != nullptr, "Invalid data"}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Decrypting data");
    chosen->decryptData(data, size, offset, key, std::move(completion));
}

void CryptoManager::encryptMetadata(uint32_t number, const uint8_t* data, uint64_t size, const Bytes* key,
                                    BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{key != nullptr, "Invalid key"}, {data != nullptr, "Invalid data"}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Encrypting metadata ({} bytes)", size);
    chosen->encryptMetadata(data, size, key, std::move(completion));
}

void CryptoManager::decryptMetadata(uint32_t number, const uint8_t* data, uint64_t size, const Bytes* key,
                                    BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{key != nullptr, "Invalid key"}, {data != nullptr, "Invalid data"}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Decrypting metadata");
    chosen->decryptMetadata(data, size, key, std::move(completion));
}

void CryptoManager::encryptAttributes(uint32_t number, std::shared_ptr<MutableNodeData> node, const Bytes* key,
                                      BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{key != nullptr, "Invalid key"}, {node != nullptr, "Invalid node"}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Encrypting node attributes");
    chosen->encryptAttributes(std::move(node), key, std::move(completion));
}

void CryptoManager::decryptAttributes(uint32_t number, const uint8_t* blob, uint64_t size,
                                      std::shared_ptr<MutableNodeData> node, CheckCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{node != nullptr, "Invalid node"},
                                    {hasNodeKey(node.get()), "Invalid key"},
                                    {blob != nullptr, "Invalid data"}})) {
        completion(false);
        return;
    }
    CLOG_DEBUG("Decrypting node attributes");
    chosen->decryptAttributes(blob, size, std::move(node), std::move(completion));
}

void CryptoManager::hashFingerprint(uint32_t number, const Bytes* fingerprint, const Bytes* key,
                                    BytesCompletion completion) {
    CryptoScheme* chosen = scheme(number);
    if (!chosen || !checkArguments({{fingerprint != nullptr, "No fingerprint", kDebug},
                                    {fingerprint && !fingerprint->empty(), "Invalid fingerprint", kError},
                                    {key != nullptr, "Invalid key"},
                                    {key && !key->empty(), "No fingerprint key", kDebug}})) {
        completion(nullptr);
        return;
    }
    CLOG_DEBUG("Hashing fingerprint");
    chosen->hashFingerprint(fingerprint, key, std::move(completion));
}

// --- scheme-independent ---

CryptoBytes CryptoManager::newRandomKey() {
    CryptoBytes key(new Bytes(kKeySize, 0));
    module_->generateRandom(key->data(), key->size());
    return key;
}

void CryptoManager::deriveUserKeys(const char* email, const char* password, DerivedKeysCompletion completion) {
    if (!email) {
        CLOG_WARN("Invalid email");
        completion(nullptr, nullptr);
        return;
    }
    deriveKeys("user", email, kUserKeySaltSuffix, password, std::move(completion));
}

void CryptoManager::deriveSecretKeys(const char* name, const char* password, DerivedKeysCompletion completion) {
    if (!name) {
        CLOG_WARN("Invalid name");
        completion(nullptr, nullptr);
        return;
    }
    deriveKeys("secret", name, kSecretKeySaltSuffix, password, std::move(completion));
}

void CryptoManager::deriveKeys(const char* kind, const char* text, const char* suffix, const char* password,
                               DerivedKeysCompletion completion) {
    if (!password) {
        CLOG_WARN("Invalid password");
        completion(nullptr, nullptr);
        return;
    }
    CLOG_DEBUG("Deriving {} keys", kind);

    // Only ASCII letters fold: the salt has always been made byte by byte, whatever the locale.
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    auto salt = std::make_shared<std::string>(lowered + suffix);
    // The crypto thread reads the password later; the caller's buffer need not live that long.
    auto secret = secretText(password);

    module_->deriveKeyPbkdf2(
        reinterpret_cast<const uint8_t*>(secret->data()), secret->size(),
        reinterpret_cast<const uint8_t*>(salt->data()), salt->size(), kPbkdf2Iterations,
        [kind, salt, secret, completion](CryptoBytes output) {
            CLOG_DEBUG("Derivation of {} keys completed", kind);
            if (!output || output->size() < kDerivedSize) {
                completion(nullptr, nullptr);
                return;
            }
            CryptoBytes first(new Bytes(output->begin(), output->begin() + kKeySize));
            CryptoBytes second(new Bytes(output->begin() + kKeySize, output->begin() + kDerivedSize));
            wipe(*output);
            completion(std::move(first), std::move(second));
        });
}

void CryptoManager::generateRsaKey(KeyPairCompletion completion) {
    CLOG_DEBUG("Generating RSA 3072 key");
    module_->generateRsa3072KeyPair([completion](CryptoBytes publicKey, CryptoBytes privateKey) {
        CLOG_DEBUG("Generation of RSA 3072 key completed");
        completion(std::move(publicKey), std::move(privateKey));
    });
}

void CryptoManager::encryptRsaKey(const Bytes* privateKey, const Bytes* key, BytesCompletion completion) {
    if (!checkArguments({{privateKey && !privateKey->empty(), "Invalid key", kError},
                         {key && key->size() == kKeySize, "Invalid encryption key", kError}})) {
        completion(nullptr);
        return;
    }
    privateKeySealer_->encryptBlob(privateKey->data(), privateKey->size(), key, std::move(completion));
}

void CryptoManager::decryptRsaKey(const Bytes* blob, const Bytes* key, BytesCompletion completion) {
    if (!checkArguments({{blob && blob->size() > kIvSize, "Invalid key", kError},
                         {key && key->size() == kKeySize, "Invalid encryption key", kError}})) {
        completion(nullptr);
        return;
    }
    privateKeySealer_->decryptBlob(blob->data(), blob->size(), key, std::move(completion));
}

void CryptoManager::decryptSession(const Bytes* encryptedSession, const Bytes* privateKey,
                                   SessionCompletion completion) {
    if (!checkArguments({{encryptedSession && !encryptedSession->empty(), "Invalid encrypted session", kError},
                         {privateKey && !privateKey->empty(), "Invalid RSA private key", kError}})) {
        completion(std::string());
        return;
    }
    module_->decryptRsa(encryptedSession->data(), encryptedSession->size(), privateKey->data(), privateKey->size(),
                        [completion](CryptoBytes session) {
                            // A failed padding check gives no bytes rather than null.
                            if (!session || session->empty()) {
                                CLOG_ERROR("Unable to decrypt session");
                                completion(std::string());
                                return;
                            }
                            Base64 codec;
                            std::string text(Base64::encodedUrlSize(session->size()), '\0');
                            text.resize(codec.encodeUrl(session->data(), session->size(), &text[0], text.size()));
                            wipe(*session);
                            completion(std::move(text));
                        });
}

void CryptoManager::hashUpdateFile(const Bytes* data, BytesCompletion completion) {
    if (!data) {
        CLOG_ERROR("Invalid data");
        completion(nullptr);
        return;
    }
    module_->hashSha512(data->data(), data->size(), std::move(completion));
}

void CryptoManager::signUpdateInfo(const Bytes* data, const Bytes* privateKey, BytesCompletion completion) {
    if (!data || !privateKey) {
        completion(nullptr);
        return;
    }
    module_->signEcdsa(data->data(), data->size(), privateKey->data(), privateKey->size(), std::move(completion));
}

void CryptoManager::verifyUpdateInfo(const Bytes* data, const Bytes* signature, CheckCompletion completion) {
    if (!data || !signature) {
        completion(false);
        return;
    }
    module_->verifyEcdsa(data->data(), data->size(), updatePublicKey_.data(), updatePublicKey_.size(),
                         signature->data(), signature->size(), std::move(completion));
}

}  // namespace corvane
