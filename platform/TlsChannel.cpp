#include "platform/TlsChannel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/CertificateFingerprint.h"

namespace platform {
namespace {

// OpenSSL reads this much from the socket at a time, so that a large article costs few system
// calls; records are decrypted straight into the caller's buffer.
constexpr int READ_BUFFER_LENGTH = 256 * 1024;

struct FreeContext {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

// The faults found in the certificate, in the order the check found them: the verify callback
// notes each into the vector the connection's application data points to.
using VerifyErrors = std::vector<long>;

int NoteVerifyError(int passed, X509_STORE_CTX* store) {
    if (passed == 1) {
        return 1;
    }
    const auto* ssl = static_cast<const SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* errors = ssl != nullptr ? static_cast<VerifyErrors*>(SSL_get_app_data(ssl)) : nullptr;
    const long error = X509_STORE_CTX_get_error(store);
    if (errors != nullptr && std::find(errors->begin(), errors->end(), error) == errors->end()) {
        errors->push_back(error);
    }
    // Go on: the verdict is the caller's, after the handshake.
    return 1;
}

// A context for one connection. Loading the system's certificate store takes a few
// milliseconds, nothing beside a connection's round trips, and a fresh context sees the store
// (and OpenSSL's SSL_CERT_FILE and SSL_CERT_DIR) as they are now.
std::unique_ptr<SSL_CTX, FreeContext> MakeContext() {
    std::unique_ptr<SSL_CTX, FreeContext> context(SSL_CTX_new(TLS_client_method()));
    if (context) {
        SSL_CTX* raw = context.get();
        SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(raw);
        // The chain and the name are still checked; the verdict is read after the handshake,
        // so that a refused certificate can be named by its fingerprint. The check goes on past
        // the first fault, so that every reason is named (NoteVerifyError).
        SSL_CTX_set_verify(raw, SSL_VERIFY_NONE, NoteVerifyError);
        SSL_CTX_set_read_ahead(raw, 1);
        SSL_CTX_set_default_read_buffer_len(raw, READ_BUFFER_LENGTH);
        // A server that closes without the closing alert has closed all the same. A new
        // handshake that the server asks for on TLS 1.2 is refused: its certificate would come
        // after the verdict on the first one, and nobody would check it.
        SSL_CTX_set_options(raw, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    }
    return context;
}

// Writes with MSG_NOSIGNAL; everything else is OpenSSL's own socket BIO.
int WriteWithoutSignal(BIO* bio, const char* data, int length) {
    int fd = -1;
    BIO_get_fd(bio, &fd);
    errno = 0;
    const ssize_t sent = ::send(fd, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    BIO_clear_retry_flags(bio);
    if (sent <= 0 && BIO_sock_should_retry(static_cast<int>(sent)) != 0) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(sent);
}

const BIO_METHOD* SocketMethodWithoutSignal() {
    static BIO_METHOD* const method = [] {
        const BIO_METHOD* socket = BIO_s_socket();
        BIO_METHOD* made = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
        if (made != nullptr) {
            BIO_meth_set_write(made, WriteWithoutSignal);
            BIO_meth_set_read(made, BIO_meth_get_read(socket));
            BIO_meth_set_puts(made, BIO_meth_get_puts(socket));
            BIO_meth_set_ctrl(made, BIO_meth_get_ctrl(socket));
            BIO_meth_set_create(made, BIO_meth_get_create(socket));
            BIO_meth_set_destroy(made, BIO_meth_get_destroy(socket));
        }
        return made;
    }();
    return method;
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string Sha256Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) {
        return {};
    }
    std::string text;
    char hex[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += hex;
    }
    return text;
}

// The names a certificate is for: its DNS and address alternative names, or else its common
// name.
std::string CertificateNames(X509* certificate) {
    std::string names;
    const auto add = [&names](std::string_view name) {
        if (!names.empty()) {
            names += ", ";
        }
        names += name;
    };
    auto* alternatives = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives, i);
        if (name->type == GEN_DNS) {
            const ASN1_STRING* text = name->d.dNSName;
            add(std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                                 static_cast<std::size_t>(ASN1_STRING_length(text))));
        } else if (name->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* bytes = name->d.iPAddress;
            char text[INET6_ADDRSTRLEN] = {};
            const int family = ASN1_STRING_length(bytes) == 4 ? AF_INET : AF_INET6;
            if (::inet_ntop(family, ASN1_STRING_get0_data(bytes), text, sizeof text) != nullptr) {
                add(text);
            }
        }
    }
    GENERAL_NAMES_free(alternatives);
    if (names.empty()) {
        char common[256] = {};
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common,
                                      sizeof common) > 0) {
            add(common);
        }
    }
    return names;
}

std::string TimeText(const ASN1_TIME* time) {
    std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), BIO_free);
    if (!memory || ASN1_TIME_print(memory.get(), time) != 1) {
        return {};
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// What is wrong with the certificate, in a user's words, after "its certificate".
std::string Describe(long verdict, X509* certificate, const std::string& host) {
    switch (verdict) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return "is self-signed: no authority this computer knows vouches for it";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "was issued by an authority this computer does not know";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "expired on " + TimeText(X509_get0_notAfter(certificate));
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "is valid only from " + TimeText(X509_get0_notBefore(certificate));
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "is for " + CertificateNames(certificate) + ", not for " + host;
        case X509_V_ERR_CERT_REVOKED:
            return "has been revoked";
        default:
            return std::string("does not verify (") + X509_verify_cert_error_string(verdict) + ")";
    }
}

// Every fault of the certificate: whom it is for first, since that is what a user checks
// first, then the others in the order found. "its certificate is for 127.0.0.1, not for
// localhost, and is self-signed: ...".
std::string DescribeAll(VerifyErrors errors, X509* certificate, const std::string& host) {
    std::stable_partition(errors.begin(), errors.end(), [](long error) {
        return error == X509_V_ERR_HOSTNAME_MISMATCH || error == X509_V_ERR_IP_ADDRESS_MISMATCH;
    });
    std::vector<std::string> faults;
    for (const long error : errors) {
        std::string fault = Describe(error, certificate, host);
        if (std::find(faults.begin(), faults.end(), fault) == faults.end()) {
            faults.push_back(std::move(fault));
        }
    }
    std::string text = "its certificate";
    for (std::size_t i = 0; i < faults.size(); ++i) {
        text += (i == 0 ? " " : ", and ") + faults[i];
    }
    return text;
}

// The last OpenSSL error as text, and the error queue emptied.
std::string LastError() {
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    if (error == 0) {
        return "the connection ended during the handshake";
    }
    char text[256];
    ERR_error_string_n(error, text, sizeof text);
    return text;
}

}  // namespace

BIO* NewSocketBio(int fd) {
    const BIO_METHOD* method = SocketMethodWithoutSignal();
    BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
    if (bio != nullptr) {
        BIO_set_fd(bio, fd, BIO_NOCLOSE);
    }
    return bio;
}

void TlsChannel::FreeSsl::operator()(ssl_st* ssl) const {
    SSL_free(ssl);
}

TlsChannel::TlsChannel() = default;
TlsChannel::~TlsChannel() = default;

bool TlsChannel::Handshake(int fd, const std::string& host, const std::string& trustedFingerprint) {
    m_problem.clear();
    m_fingerprint.clear();
    m_certificateRefused = false;
    ERR_clear_error();
    const std::unique_ptr<SSL_CTX, FreeContext> context = MakeContext();
    // The connection keeps its own reference to the context.
    m_ssl.reset(context ? SSL_new(context.get()) : nullptr);
    VerifyErrors verifyErrors;
    if (m_ssl) {
        SSL_set_app_data(m_ssl.get(), &verifyErrors);
    }
    BIO* bio = m_ssl ? NewSocketBio(fd) : nullptr;
    if (bio == nullptr) {
        m_problem = "the secure connection could not be prepared (" + LastError() + ")";
        return false;
    }
    SSL* ssl = m_ssl.get();
    // The connection takes the BIO over for reading and writing.
    SSL_set_bio(ssl, bio, bio);
    if (IsAddressLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    const bool handshaken = SSL_connect(ssl) == 1;
    // The faults are noted during the handshake alone.
    SSL_set_app_data(ssl, nullptr);
    if (!handshaken) {
        m_problem = "the secure connection could not be set up (" + LastError() + ")";
        return false;
    }
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(SSL_get1_peer_certificate(ssl),
                                                                  X509_free);
    if (!certificate) {
        m_problem = "the server showed no certificate";
        return false;
    }
    m_fingerprint = Sha256Fingerprint(certificate.get());
    const long verdict = SSL_get_verify_result(ssl);
    if (verdict != X509_V_OK && verifyErrors.empty()) {
        verifyErrors.push_back(verdict);
    }
    if (verifyErrors.empty()) {
        return true;
    }
    // Only the very certificate the user chose to trust: a renewed or forged one is refused.
    // Compared in the one form, whichever form the user's was typed in.
    if (!m_fingerprint.empty() && CanonicalFingerprint(trustedFingerprint) == m_fingerprint) {
        return true;
    }
    m_problem = DescribeAll(std::move(verifyErrors), certificate.get(), host);
    m_certificateRefused = true;
    return false;
}

TlsChannel::ReadResult TlsChannel::Read(std::span<char> buffer) {
    SSL* ssl = m_ssl.get();
    if (ssl == nullptr) {
        return {ReadStatus::Failed, 0};
    }
    std::size_t total = 0;
    for (;;) {
        std::size_t got = 0;
        if (SSL_read_ex(ssl, buffer.data() + total, buffer.size() - total, &got) == 1) {
            total += got;
            // Take every record that has already arrived, without waiting for more.
            if (total < buffer.size() && SSL_has_pending(ssl) == 1) {
                continue;
            }
            return {ReadStatus::Data, total};
        }
        if (total > 0) {
            return {ReadStatus::Data, total};  // the failure shows at the next read
        }
        const int error = SSL_get_error(ssl, 0);
        switch (error) {
            case SSL_ERROR_ZERO_RETURN:
                return {ReadStatus::Closed, 0};
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                ERR_clear_error();
                return {ReadStatus::TimedOut, 0};
            case SSL_ERROR_SYSCALL:
                ERR_clear_error();
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return {ReadStatus::TimedOut, 0};
                }
                return {errno == 0 ? ReadStatus::Closed : ReadStatus::Failed, 0};
            default:
                ERR_clear_error();
                return {ReadStatus::Failed, 0};
        }
    }
}

bool TlsChannel::Write(std::string_view data) {
    SSL* ssl = m_ssl.get();
    while (ssl != nullptr && !data.empty()) {
        std::size_t written = 0;
        if (SSL_write_ex(ssl, data.data(), data.size(), &written) != 1) {
            if (SSL_get_error(ssl, 0) == SSL_ERROR_SYSCALL && errno == EINTR) {
                ERR_clear_error();
                continue;
            }
            ERR_clear_error();
            return false;
        }
        data.remove_prefix(written);
    }
    return ssl != nullptr;
}

void TlsChannel::Close() {
    if (m_ssl) {
        SSL_shutdown(m_ssl.get());
        ERR_clear_error();
    }
}

}  // namespace platform
