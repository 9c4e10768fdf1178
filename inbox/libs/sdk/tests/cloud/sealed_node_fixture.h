#pragma once

// Sealed nodes as the service delivers them, built with Crypto++, OpenSSL's key wrap and a
// FlatBuffers builder directly, never with the SDK's schemes: a fault in those cannot hide
// in the fixture.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/blake2.h>
#include <cryptopp/filters.h>
#include <cryptopp/gcm.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>
#include <flatbuffers/flatbuffers.h>

#include "cloud/encrypted_node_data.h"
#include "cloud_test_support.h"
#include "node_attributes_generated.h"

namespace corvane {
namespace test {

inline Bytes xorBytes(const Bytes& a, const Bytes& b) {
    Bytes out(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
    }
    return out;
}

// The attributes record: a name and, for files, a sparse hash.
inline Bytes attributesRecord(const std::string& name, const Bytes* sparseHash = nullptr) {
    flatbuffers::FlatBufferBuilder builder;
    auto nameOffset = builder.CreateString(name);
    flatbuffers::Offset<flatbuffers::Vector<uint8_t>> hashOffset;
    if (sparseHash) {
        hashOffset = builder.CreateVector(*sparseHash);
    }
    NodeAttributesBuilder attributes(builder);
    attributes.add_name(nameOffset);
    if (sparseHash) {
        attributes.add_sparseHash(hashOffset);
    }
    builder.Finish(attributes.Finish());
    return Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
}

// IV (12 bytes), ciphertext, 16-byte tag; keySize 16 uses the key's first half (scheme 2).
inline Bytes gcmSeal(const Bytes& key, size_t keySize, const Bytes& plaintext) {
    CryptoPP::AutoSeededRandomPool random;
    Bytes iv(12);
    random.GenerateBlock(iv.data(), iv.size());
    CryptoPP::GCM<CryptoPP::AES>::Encryption gcm;
    gcm.SetKeyWithIV(key.data(), keySize, iv.data(), iv.size());
    std::string sealed;
    CryptoPP::StringSource source(plaintext.data(), plaintext.size(), true,
                                  new CryptoPP::AuthenticatedEncryptionFilter(gcm, new CryptoPP::StringSink(sealed)));
    Bytes out = iv;
    out.insert(out.end(), sealed.begin(), sealed.end());
    return out;
}

// A folder under the parent sealed as the SDK seals one: its attributes under its own key, that
// key wrapped under the given key (the master key for a folder under a root).
inline std::shared_ptr<EncryptedNodeData> sealedFolder(uint64_t parent, const Bytes& key, const Bytes& wrappingKey,
                                                       const std::string& name) {
    auto folder = std::make_shared<EncryptedNodeData>();
    folder->setType(21);
    folder->setParent(parent);
    const Bytes attributes = gcmSeal(key, 32, attributesRecord(name));
    folder->setEncryptedAttributes(attributes.data(), attributes.size());
    const Bytes wrapped = wrapKey(wrappingKey, key);
    folder->setEncryptedNodeKey(wrapped.data(), wrapped.size());
    return folder;
}

inline Bytes fingerprintOf(const Bytes& key, const Bytes& hash) {
    CryptoPP::BLAKE2b blake(key.data(), key.size(), nullptr, 0, nullptr, 0, false, 20);
    Bytes digest(20);
    blake.CalculateDigest(digest.data(), hash.data(), hash.size());
    return digest;
}

// A small RSA pair for scheme 1: (X.509 DER public key, PKCS #8 DER private key).
struct RsaPair {
    Bytes publicKey;
    Bytes privateKey;
};

inline RsaPair rsaPair() {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::InvertibleRSAFunction function;
    function.Initialize(random, 2048);
    CryptoPP::RSA::PrivateKey privateKey(function);
    CryptoPP::RSA::PublicKey publicKey(function);
    RsaPair pair;
    CryptoPP::ByteQueue queue;
    privateKey.Save(queue);
    pair.privateKey.resize(queue.CurrentSize());
    queue.Get(pair.privateKey.data(), pair.privateKey.size());
    CryptoPP::ByteQueue publicQueue;
    publicKey.Save(publicQueue);
    pair.publicKey.resize(publicQueue.CurrentSize());
    publicQueue.Get(pair.publicKey.data(), pair.publicKey.size());
    return pair;
}

inline Bytes rsaSeal(const Bytes& publicKeyDer, const Bytes& key) {
    CryptoPP::AutoSeededRandomPool random;
    CryptoPP::RSA::PublicKey publicKey;
    CryptoPP::ArraySource source(publicKeyDer.data(), publicKeyDer.size(), true);
    publicKey.Load(source);
    CryptoPP::RSAES_OAEP_SHA_Encryptor encryptor(publicKey);
    Bytes out(encryptor.FixedCiphertextLength());
    encryptor.Encrypt(random, key.data(), key.size(), out.data());
    return out;
}

// Unwraps a 40-byte RFC 3394 blob; empty when the integrity check fails.
inline Bytes unwrapKey(const Bytes& kek, const Bytes& wrapped) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    Bytes out(wrapped.size() + 16);
    int length = 0;
    int total = 0;
    bool ok = EVP_DecryptInit_ex(ctx, EVP_aes_256_wrap(), nullptr, kek.data(), nullptr) == 1 &&
              EVP_DecryptUpdate(ctx, out.data(), &length, wrapped.data(), static_cast<int>(wrapped.size())) == 1;
    total = length;
    ok = ok && EVP_DecryptFinal_ex(ctx, out.data() + total, &length) == 1;
    total += length;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) {
        return Bytes();
    }
    out.resize(static_cast<size_t>(total));
    return out;
}

// Opens a scheme 0 or 2 blob; false when the tag does not verify.
inline bool gcmOpen(const Bytes& key, size_t keySize, const Bytes& blob, Bytes* plaintext) {
    if (blob.size() < 28) {
        return false;
    }
    try {
        CryptoPP::GCM<CryptoPP::AES>::Decryption gcm;
        gcm.SetKeyWithIV(key.data(), keySize, blob.data(), 12);
        std::string opened;
        CryptoPP::StringSource source(
            blob.data() + 12, blob.size() - 12, true,
            new CryptoPP::AuthenticatedDecryptionFilter(gcm, new CryptoPP::StringSink(opened),
                                                        CryptoPP::AuthenticatedDecryptionFilter::THROW_EXCEPTION));
        plaintext->assign(opened.begin(), opened.end());
        return true;
    } catch (const CryptoPP::Exception&) {
        return false;
    }
}

// The name inside an opened attributes record; empty when it does not verify.
inline std::string recordName(const Bytes& record) {
    flatbuffers::Verifier verifier(record.data(), record.size());
    if (!verifier.VerifyBuffer<NodeAttributes>(nullptr)) {
        return std::string();
    }
    const NodeAttributes* attributes = flatbuffers::GetRoot<NodeAttributes>(record.data());
    return attributes->name() ? attributes->name()->str() : std::string();
}

}  // namespace test
}  // namespace corvane
