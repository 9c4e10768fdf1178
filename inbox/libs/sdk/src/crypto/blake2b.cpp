#include "crypto/blake2b.h"

#include <cryptopp/blake2.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace corvane {

namespace {

constexpr size_t kMaxOutput = 64;
constexpr size_t kMaxKey = 64;

// OpenSSL 3.0 has the unkeyed hash at 64 bytes only (its MAC refuses an empty key); an unkeyed
// hash of another size comes from Crypto++.
enum class Backend { Digest, Mac, Fallback };

Backend backendFor(size_t outputSize, size_t keySize) {
    if (keySize > 0) {
        return Backend::Mac;
    }
    return outputSize == kMaxOutput ? Backend::Digest : Backend::Fallback;
}

}  // namespace

struct Blake2b::State {
    EVP_MAC* mac = nullptr;
    EVP_MAC_CTX* macContext = nullptr;
    EVP_MD_CTX* digestContext = nullptr;
    std::unique_ptr<CryptoPP::BLAKE2b> fallback;
    bool finished = false;

    ~State() {
        EVP_MAC_CTX_free(macContext);
        EVP_MAC_free(mac);
        EVP_MD_CTX_free(digestContext);
    }
};

Blake2b::Blake2b(size_t outputSize, const uint8_t* key, size_t keySize) : outputSize_(outputSize) {
    if (outputSize == 0 || outputSize > kMaxOutput || keySize > kMaxKey || (keySize > 0 && !key)) {
        return;
    }
    auto state = std::make_unique<State>();
    Backend backend = backendFor(outputSize, keySize);
    if (backend == Backend::Fallback) {
        state->fallback = std::make_unique<CryptoPP::BLAKE2b>(false, static_cast<unsigned int>(outputSize));
    } else if (backend == Backend::Digest) {
        state->digestContext = EVP_MD_CTX_new();
        if (!state->digestContext || EVP_DigestInit_ex(state->digestContext, EVP_blake2b512(), nullptr) != 1) {
            return;
        }
    } else {
        state->mac = EVP_MAC_fetch(nullptr, "BLAKE2BMAC", nullptr);
        state->macContext = state->mac ? EVP_MAC_CTX_new(state->mac) : nullptr;
        if (!state->macContext) {
            return;
        }
        size_t size = outputSize;
        OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &size), OSSL_PARAM_END};
        if (EVP_MAC_init(state->macContext, key, keySize, params) != 1) {
            return;
        }
    }
    state_ = std::move(state);
}

Blake2b::~Blake2b() = default;

bool Blake2b::isValid() const {
    return state_ != nullptr;
}

bool Blake2b::update(const uint8_t* data, size_t size) {
    if (!state_ || state_->finished || (size > 0 && !data)) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    if (state_->fallback) {
        state_->fallback->Update(data, size);
        return true;
    }
    if (state_->digestContext) {
        return EVP_DigestUpdate(state_->digestContext, data, size) == 1;
    }
    return EVP_MAC_update(state_->macContext, data, size) == 1;
}

bool Blake2b::final(uint8_t* out) {
    if (!state_ || state_->finished || !out) {
        return false;
    }
    state_->finished = true;
    if (state_->fallback) {
        state_->fallback->Final(out);
        return true;
    }
    if (state_->digestContext) {
        unsigned int written = 0;
        return EVP_DigestFinal_ex(state_->digestContext, out, &written) == 1 && written == outputSize_;
    }
    size_t written = 0;
    return EVP_MAC_final(state_->macContext, out, &written, outputSize_) == 1 && written == outputSize_;
}

size_t Blake2b::outputSize() const {
    return outputSize_;
}

bool Blake2b::hash(const uint8_t* data, size_t size, uint8_t* out, size_t outputSize, const uint8_t* key,
                   size_t keySize) {
    Blake2b hasher(outputSize, key, keySize);
    return hasher.update(data, size) && hasher.final(out);
}

}  // namespace corvane
