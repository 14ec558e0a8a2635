#include "tests/support/TestCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace test {

void TestCertificate::FreeKey::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

void TestCertificate::FreeCertificate::operator()(X509* certificate) const {
    X509_free(certificate);
}

TestCertificate::TestCertificate(const Options& options)
    : m_key(EVP_EC_gen("P-256")), m_certificate(X509_new()) {
    if (!m_key || !m_certificate) {
        throw std::runtime_error("could not make a test key");
    }
    X509* certificate = m_certificate.get();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    const long hour = 3600;
    X509_gmtime_adj(X509_getm_notBefore(certificate), options.expired ? -48 * hour : -hour);
    X509_gmtime_adj(X509_getm_notAfter(certificate), options.expired ? -24 * hour : 24 * hour);
    X509_set_pubkey(certificate, m_key.get());
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(options.commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* alternative =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, options.altName.c_str());
    if (alternative != nullptr) {
        X509_add_ext(certificate, alternative, -1);
        X509_EXTENSION_free(alternative);
    }
    if (X509_sign(certificate, m_key.get(), EVP_sha256()) == 0) {
        throw std::runtime_error("could not sign the test certificate");
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha256(), digest, &length);
    char hex[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
        m_fingerprint += hex;
    }
}

TestCertificate::~TestCertificate() = default;

std::string TestCertificate::Pem() const {
    std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(memory.get(), m_certificate.get());
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace test
