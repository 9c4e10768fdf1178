#include "crypto/blake2b.h"

#include <blake2.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace corvane {
namespace {

// Fetched once: a fetch walks the provider tables under a lock. The fetched algorithms are
// reference counted and safe to share between threads; they live as long as the process.
EVP_MAC* macAlgorithm() {
    static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "BLAKE2BMAC", nullptr);
    return mac;
}

EVP_MD* digestAlgorithm() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "BLAKE2B-512", nullptr);
    return md;
}

}  // namespace

struct Blake2b::State {
    EVP_MAC_CTX* mac = nullptr;
    EVP_MD_CTX* digest = nullptr;
    std::unique_ptr<blake2b_state> small;

    ~State() {
        EVP_MAC_CTX_free(mac);
        EVP_MD_CTX_free(digest);
        if (small) {
            OPENSSL_cleanse(small.get(), sizeof(blake2b_state));
        }
    }
};

Blake2b::Blake2b(size_t outputSize, const uint8_t* key, size_t keySize) : outputSize_(outputSize) {
    if (outputSize == 0 || outputSize > kMaxOutputSize || keySize > kMaxKeySize || (!key && keySize > 0)) {
        return;
    }
    auto state = std::make_unique<State>();
    if (keySize > 0) {
        EVP_MAC* mac = macAlgorithm();
        state->mac = mac ? EVP_MAC_CTX_new(mac) : nullptr;
        OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &outputSize), OSSL_PARAM_END};
        if (!state->mac || EVP_MAC_init(state->mac, key, keySize, params) != 1) {
            return;
        }
    } else if (outputSize == kMaxOutputSize) {
        EVP_MD* md = digestAlgorithm();
        state->digest = md ? EVP_MD_CTX_new() : nullptr;
        if (!state->digest || EVP_DigestInit_ex2(state->digest, md, nullptr) != 1) {
            return;
        }
    } else {
        state->small = std::make_unique<blake2b_state>();
        if (blake2b_init(state->small.get(), outputSize) != 0) {
            return;
        }
    }
    state_ = std::move(state);
}

Blake2b::~Blake2b() = default;

bool Blake2b::isValid() const {
    return state_ != nullptr;
}

size_t Blake2b::outputSize() const {
    return outputSize_;
}

bool Blake2b::update(const uint8_t* data, size_t size) {
    if (!state_ || finished_ || (!data && size > 0)) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    if (state_->mac) {
        return EVP_MAC_update(state_->mac, data, size) == 1;
    }
    if (state_->digest) {
        return EVP_DigestUpdate(state_->digest, data, size) == 1;
    }
    return blake2b_update(state_->small.get(), data, size) == 0;
}

bool Blake2b::final(uint8_t* out) {
    if (!state_ || finished_ || !out) {
        return false;
    }
    finished_ = true;
    if (state_->mac) {
        size_t written = 0;
        return EVP_MAC_final(state_->mac, out, &written, outputSize_) == 1 && written == outputSize_;
    }
    if (state_->digest) {
        unsigned int written = 0;
        return EVP_DigestFinal_ex(state_->digest, out, &written) == 1 && written == outputSize_;
    }
    return blake2b_final(state_->small.get(), out, outputSize_) == 0;
}

bool Blake2b::hash(const uint8_t* data, size_t size, uint8_t* out, size_t outputSize, const uint8_t* key,
                   size_t keySize) {
    Blake2b hash(outputSize, key, keySize);
    return hash.update(data, size) && hash.final(out);
}

}  // namespace corvane
