#include "certificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>

namespace corvane::service {

namespace {

constexpr long kValiditySeconds = 10L * 365 * 24 * 3600;
constexpr long kBackdateSeconds = 3600;  // tolerates a client clock slightly behind

bool addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool setRandomSerial(X509* certificate) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    bytes[0] &= 0x7F;  // a positive serial
    BIGNUM* number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    if (!number) return false;
    const bool set = BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate)) != nullptr;
    BN_free(number);
    return set;
}

X509* makeCertificate(EVP_PKEY* key) {
    X509* certificate = X509_new();
    if (!certificate) return nullptr;
    X509_NAME* name = X509_get_subject_name(certificate);
    const bool ok = X509_set_version(certificate, 2) == 1 && setRandomSerial(certificate) &&
                    X509_gmtime_adj(X509_getm_notBefore(certificate), -kBackdateSeconds) != nullptr &&
                    X509_gmtime_adj(X509_getm_notAfter(certificate), kValiditySeconds) != nullptr &&
                    X509_set_pubkey(certificate, key) == 1 &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0) == 1 &&
                    X509_set_issuer_name(certificate, name) == 1 &&
                    addExtension(certificate, NID_basic_constraints, "critical,CA:TRUE") &&
                    addExtension(certificate, NID_key_usage, "critical,digitalSignature,keyCertSign") &&
                    addExtension(certificate, NID_ext_key_usage, "serverAuth") &&
                    addExtension(certificate, NID_subject_key_identifier, "hash") &&
                    addExtension(certificate, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
                    X509_sign(certificate, key, EVP_sha256()) > 0;
    if (!ok) {
        X509_free(certificate);
        return nullptr;
    }
    return certificate;
}

}  // namespace

std::string publicKeyPin(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0) return {};
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(der, static_cast<size_t>(length), digest);
    OPENSSL_free(der);
    unsigned char text[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
    const int textLength = EVP_EncodeBlock(text, digest, SHA256_DIGEST_LENGTH);
    return "sha256//" + std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(textLength));
}

std::unique_ptr<SelfSignedCertificate> SelfSignedCertificate::generate() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) return nullptr;
    X509* certificate = makeCertificate(key);
    std::string pin = certificate ? publicKeyPin(key) : std::string();
    if (pin.empty()) {
        X509_free(certificate);
        EVP_PKEY_free(key);
        return nullptr;
    }
    return std::unique_ptr<SelfSignedCertificate>(new SelfSignedCertificate(key, certificate, std::move(pin)));
}

SelfSignedCertificate::SelfSignedCertificate(EVP_PKEY* key, X509* certificate, std::string pin)
    : key_(key), certificate_(certificate), pin_(std::move(pin)) {
}

SelfSignedCertificate::~SelfSignedCertificate() {
    X509_free(certificate_);
    EVP_PKEY_free(key_);
}

std::unique_ptr<SelfSignedCertificate> SelfSignedCertificate::load(const std::string& certificateFile,
                                                                   const std::string& keyFile) {
    FILE* file = std::fopen(certificateFile.c_str(), "rb");
    if (!file) return nullptr;
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    file = std::fopen(keyFile.c_str(), "rb");
    EVP_PKEY* key = file ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
    if (file) std::fclose(file);
    std::string pin = certificate && key && X509_check_private_key(certificate, key) == 1 ? publicKeyPin(key) : "";
    if (pin.empty()) {
        X509_free(certificate);
        EVP_PKEY_free(key);
        return nullptr;
    }
    return std::unique_ptr<SelfSignedCertificate>(new SelfSignedCertificate(key, certificate, std::move(pin)));
}

bool SelfSignedCertificate::save(const std::string& certificateFile, const std::string& keyFile) const {
    const mode_t previous = ::umask(077);
    FILE* keyOut = std::fopen(keyFile.c_str(), "wb");
    ::umask(previous);
    if (!keyOut) return false;
    const bool keyWritten = PEM_write_PrivateKey(keyOut, key_, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (std::fclose(keyOut) != 0 || !keyWritten) return false;
    FILE* certificateOut = std::fopen(certificateFile.c_str(), "wb");
    if (!certificateOut) return false;
    const bool written = PEM_write_X509(certificateOut, certificate_) == 1;
    return std::fclose(certificateOut) == 0 && written;
}

std::string SelfSignedCertificate::certificatePem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio) return {};
    std::string pem;
    if (PEM_write_bio_X509(bio, certificate_) == 1) {
        char* data = nullptr;
        const long length = BIO_get_mem_data(bio, &data);
        if (length > 0) pem.assign(data, static_cast<size_t>(length));
    }
    BIO_free(bio);
    return pem;
}

}  // namespace corvane::service
