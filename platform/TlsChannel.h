#pragma once

// TLS on a connected socket (RFC 8143 for implicit TLS, RFC 4642 once STARTTLS was accepted),
// through OpenSSL: the client handshake with SNI and with the server's certificate checked
// against the system's certificate store and the host name, then reads and writes. A
// certificate that does not pass is refused with the reason in words a user understands and
// its SHA-256 fingerprint, unless it is exactly the one the user chose to trust for this
// server. It does no waiting of its own: the socket's time-outs bound every call, and shutting
// the socket down from another thread ends a blocked call as it does without TLS.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

struct ssl_st;
struct bio_st;

namespace platform {

// An OpenSSL BIO on the socket that never raises SIGPIPE: a write to a connection the other side
// has closed fails with EPIPE instead of ending the process, as the plain path's sends do. The
// socket is not closed with the BIO. Null on failure.
bio_st* NewSocketBio(int fd);

class TlsChannel {
public:
    enum class ReadStatus { Data, Closed, TimedOut, Failed };
    struct ReadResult {
        ReadStatus status;
        std::size_t count;  // bytes read when status is Data
    };

    TlsChannel();
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Runs the handshake on the socket for the host. `trustedFingerprint` (in any form that
    // CanonicalFingerprint takes; may be empty) is a certificate the user chose to trust for
    // this server although it does not verify. False when the handshake failed or
    // the certificate is refused: Problem() says why, Fingerprint() names the certificate.
    bool Handshake(int fd, const std::string& host, const std::string& trustedFingerprint);

    // Why the handshake failed, for the user; empty after success.
    const std::string& Problem() const { return m_problem; }
    // True when the handshake failed because of the certificate alone: trusting it would help.
    bool CertificateRefused() const { return m_certificateRefused; }
    // The SHA-256 fingerprint of the server's certificate, once it was received.
    const std::string& Fingerprint() const { return m_fingerprint; }

    // Reads what has arrived, as much as fits (several TLS records at once when they are
    // there).
    ReadResult Read(std::span<char> buffer);
    // Writes all of the data; false on failure or time-out.
    bool Write(std::string_view data);
    // Sends the closing alert without waiting for the server's.
    void Close();

private:
    struct FreeSsl {
        void operator()(ssl_st* ssl) const;
    };

    std::unique_ptr<ssl_st, FreeSsl> m_ssl;
    std::string m_problem;
    std::string m_fingerprint;
    bool m_certificateRefused = false;
};

}  // namespace platform
