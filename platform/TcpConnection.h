#pragma once

// One TCP connection to a server, as the news client uses it. Every wait (resolving, connecting,
// sending, receiving) is bounded by a time-out, and another thread can end the wait under way at
// once: Cancel() until ClearCancel() (Stop), Abort() for good (Exit). It knows nothing of NNTP:
// framing and logging are the caller's. Connecting polls (so that a cancel can wake it); once
// connected the socket blocks, with the time-out kept on the socket.

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TlsChannel.h"

namespace platform {

class TcpConnection {
public:
    // One address that a host name resolved to (IPv4 or IPv6), ready for ConnectTo().
    struct Address {
        sockaddr_storage storage{};
        socklen_t length = 0;
        int family = 0;
    };

    enum class ReceiveStatus { Data, Closed, TimedOut, Failed, Aborted };
    struct ReceiveResult {
        ReceiveStatus status;
        std::size_t count;  // bytes received when status is Data
    };

    TcpConnection();
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Every address of the host for a TCP connection to the port, in the resolver's order.
    // getaddrinfo is thread-safe, so two sessions may resolve at the same time. When there is
    // none, `problem` (when given) says why in a user's words.
    static std::vector<Address> Resolve(const std::string& host, int port,
                                        std::string* problem = nullptr);
    // Resolve() on a thread of its own, so that Cancel() and Abort() end the wait at once (the
    // look-up itself cannot be cut short; it finishes on its own and its answer is dropped).
    // Nothing when the name cannot be resolved or the wait was ended.
    std::vector<Address> ResolveCancellable(const std::string& host, int port);

    // Closes the current socket, if any, and makes a new one for the address's family.
    bool OpenSocket(const Address& address);
    // The socket's descriptor, or -1.
    int Handle() const { return m_fd; }

    bool ConnectTo(const Address& address, std::chrono::milliseconds timeout);
    // Why the last look-up or ConnectTo made no connection, in a user's words ("no such host
    // is known", "the connection was refused", "the connection timed out"); empty once one
    // was made.
    const std::string& ConnectProblem() const { return m_connectProblem; }
    // Runs the TLS handshake on the connected socket; from then on every send and receive is
    // encrypted. False when it failed: Tls() says why.
    bool StartTls(const std::string& host, const std::string& trustedFingerprint,
                  std::chrono::milliseconds timeout);
    // The TLS layer, once StartTls was called on this socket; none on a plain connection.
    const TlsChannel* Tls() const { return m_tls.get(); }
    // Sends all of the data, repeating short writes; never raises SIGPIPE.
    bool SendAll(std::string_view data, std::chrono::milliseconds timeout);
    // Receives what has arrived, up to the buffer's size, waiting at most the time-out.
    ReceiveResult Receive(std::span<char> buffer, std::chrono::milliseconds timeout);
    // Shuts the connection down in both directions; true when that succeeded.
    bool Shutdown();
    // Closes the socket.
    void Close();

    // Callable from any thread: wakes a wait under way and makes every later wait fail at once,
    // until ClearCancel(). The connection under way is shut down.
    void Cancel();
    void ClearCancel();
    // Callable from any thread: as Cancel(), for good.
    void Abort();
    bool IsAborted() const { return m_aborted.load(); }
    bool IsCancelled() const { return m_cancelled.load() || m_aborted.load(); }

private:
    // Sets the socket's receive and send time-outs, unless they are set to this already.
    void SetTimeout(std::chrono::milliseconds timeout);

    enum class WaitResult { Ready, TimedOut, Failed, Aborted };
    WaitResult WaitFor(short events, std::chrono::milliseconds timeout);

    // Wakes the waits under way and shuts the connection down.
    void Interrupt();

    int m_fd = -1;
    std::unique_ptr<TlsChannel> m_tls;
    std::string m_connectProblem;
    int m_wakeFd = -1;  // an eventfd that Cancel() and Abort() make readable
    std::chrono::milliseconds m_socketTimeout{-1};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_aborted{false};
    std::mutex m_fdMutex;  // guards m_fd changes against Abort() from another thread
};

}  // namespace platform
