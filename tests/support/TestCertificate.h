#pragma once

// A self-signed certificate and its key, made in memory for the tests' TLS servers: for
// 127.0.0.1 (or the given name) and valid from an hour ago for a day, unless told to have
// expired. Nothing is written to disk.

#include <openssl/types.h>

#include <memory>
#include <string>

namespace test {

class TestCertificate {
public:
    struct Options {
        std::string commonName = "zarvo scripted server";
        std::string altName = "IP:127.0.0.1";  // an X.509 subjectAltName value
        bool expired = false;
    };

    TestCertificate() : TestCertificate(Options{}) {}
    explicit TestCertificate(const Options& options);
    ~TestCertificate();
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    X509* Certificate() const { return m_certificate.get(); }
    EVP_PKEY* Key() const { return m_key.get(); }
    // Its SHA-256 fingerprint as the client gives it: "AB:CD:...".
    const std::string& Fingerprint() const { return m_fingerprint; }
    // The certificate in PEM form.
    std::string Pem() const;

private:
    struct FreeKey {
        void operator()(EVP_PKEY* key) const;
    };
    struct FreeCertificate {
        void operator()(X509* certificate) const;
    };

    std::unique_ptr<EVP_PKEY, FreeKey> m_key;
    std::unique_ptr<X509, FreeCertificate> m_certificate;
    std::string m_fingerprint;
};

}  // namespace test
