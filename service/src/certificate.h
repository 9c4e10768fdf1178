// A fresh P-256 key with a self-signed certificate for the loopback address, made with the
// OpenSSL C API.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace corvane::service {

class SelfSignedCertificate {
public:
    // Subject CN=localhost, SAN IP:127.0.0.1 and DNS:localhost, a CA certificate so that a client
    // can trust it as its own CA file. Null when OpenSSL fails.
    static std::unique_ptr<SelfSignedCertificate> generate();
    // The certificate and key a service saved before (PEM files); null when either is missing,
    // unreadable, or the key does not belong to the certificate.
    static std::unique_ptr<SelfSignedCertificate> load(const std::string& certificateFile, const std::string& keyFile);

    ~SelfSignedCertificate();
    SelfSignedCertificate(const SelfSignedCertificate&) = delete;
    SelfSignedCertificate& operator=(const SelfSignedCertificate&) = delete;

    X509* certificate() const { return certificate_; }
    EVP_PKEY* key() const { return key_; }
    std::string certificatePem() const;
    // Writes both as PEM, the key readable by its owner only; false when either fails.
    bool save(const std::string& certificateFile, const std::string& keyFile) const;
    std::string pin() const { return pin_; }

private:
    SelfSignedCertificate(EVP_PKEY* key, X509* certificate, std::string pin);

    EVP_PKEY* key_;
    X509* certificate_;
    std::string pin_;
};

// "sha256//" + Base64(SHA-256(DER SubjectPublicKeyInfo)): the form libcurl pins a key in.
// Empty when OpenSSL fails.
std::string publicKeyPin(EVP_PKEY* key);

}  // namespace corvane::service
