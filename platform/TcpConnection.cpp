#include "platform/TcpConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

namespace platform {
namespace {

void DrainWakeFd(int fd) {
    std::uint64_t count = 0;
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
    }
}

// One look-up on a thread of its own. The thread and the waiter share this; whichever lets go
// last frees it, so a waiter that gave up leaves the thread nothing dangling.
struct PendingLookUp {
    PendingLookUp() : doneFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~PendingLookUp() {
        if (doneFd >= 0) {
            ::close(doneFd);
        }
    }
    PendingLookUp(const PendingLookUp&) = delete;
    PendingLookUp& operator=(const PendingLookUp&) = delete;

    const int doneFd;  // readable once `addresses` holds the answer
    std::mutex mutex;
    std::vector<TcpConnection::Address> addresses;
    std::string problem;
};

// Why connect(2) failed, in a user's words.
std::string ConnectErrorText(int error) {
    switch (error) {
        case ECONNREFUSED:
            return "the connection was refused (no news server listens on that port)";
        case ETIMEDOUT:
            return "the connection timed out";
        case EHOSTUNREACH:
            return "the host cannot be reached";
        case ENETUNREACH:
            return "the network cannot be reached";
        default:
            return std::strerror(error);
    }
}

}  // namespace

TcpConnection::TcpConnection() : m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TcpConnection::~TcpConnection() {
    Close();
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

std::vector<TcpConnection::Address> TcpConnection::Resolve(const std::string& host, int port,
                                                           std::string* problem) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    // Only the low 16 bits of the port count.
    const std::string service = std::to_string(static_cast<std::uint16_t>(port));
    addrinfo* list = nullptr;
    std::vector<Address> addresses;
    if (problem != nullptr) {
        problem->clear();
    }
    const int failed =
        host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (failed != 0) {
        if (problem != nullptr) {
            *problem = failed == EAI_NONAME || failed == EAI_NODATA ? "no such host is known"
                       : failed == EAI_AGAIN
                           ? "its name could not be looked up (is the network up?)"
                           : std::string("its name could not be looked up (") +
                                 ::gai_strerror(failed) + ")";
        }
        return addresses;
    }
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        Address address;
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        address.family = entry->ai_family;
        addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    return addresses;
}

std::vector<TcpConnection::Address> TcpConnection::ResolveCancellable(const std::string& host,
                                                                      int port) {
    m_connectProblem = "the connection was cancelled";
    if (IsCancelled()) {
        return {};
    }
    const auto lookUp = std::make_shared<PendingLookUp>();
    if (lookUp->doneFd < 0 || m_wakeFd < 0) {
        return Resolve(host, port, &m_connectProblem);
    }
    try {
        std::thread([lookUp, host, port] {
            std::string problem;
            std::vector<Address> addresses = Resolve(host, port, &problem);
            {
                std::lock_guard lock(lookUp->mutex);
                lookUp->addresses = std::move(addresses);
                lookUp->problem = std::move(problem);
            }
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(lookUp->doneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: wait for the look-up here.
        return Resolve(host, port, &m_connectProblem);
    }
    for (;;) {
        pollfd fds[2] = {{lookUp->doneFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) {
            return {};
        }
        if (IsCancelled()) {
            return {};
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::lock_guard lock(lookUp->mutex);
            m_connectProblem = std::move(lookUp->problem);
            return std::move(lookUp->addresses);
        }
        if ((fds[1].revents & POLLIN) != 0) {
            DrainWakeFd(m_wakeFd);  // left from a cancel cleared since
        }
    }
}

bool TcpConnection::OpenSocket(const Address& address) {
    Close();
    const int fd =
        ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        m_connectProblem = std::string("no socket could be made (") + std::strerror(errno) + ")";
        return false;
    }
    // Commands are single short lines sent while nothing else is in flight; never hold them
    // back waiting for an acknowledgement.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(m_fdMutex);
    m_fd = fd;
    if (IsCancelled()) {
        ::shutdown(m_fd, SHUT_RDWR);
    }
    return true;
}

bool TcpConnection::ConnectTo(const Address& address, std::chrono::milliseconds timeout) {
    if (m_fd < 0 || IsCancelled()) {
        if (IsCancelled()) {
            m_connectProblem = "the connection was cancelled";
        }
        return false;
    }
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
        if (errno != EINPROGRESS) {
            m_connectProblem = ConnectErrorText(errno);
            return false;
        }
        const WaitResult waited = WaitFor(POLLOUT, timeout);
        if (waited != WaitResult::Ready) {
            if (waited == WaitResult::TimedOut) {
                m_connectProblem = ConnectErrorText(ETIMEDOUT);
            }
            return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            m_connectProblem = ConnectErrorText(error != 0 ? error : errno);
            return false;
        }
    }
    m_connectProblem.clear();
    // Connected: from here on the socket blocks, with the time-out set on the socket itself, so
    // that a receive costs one system call rather than a try, a poll and a second try. Abort()
    // ends a blocked call by shutting the connection down.
    const int flags = ::fcntl(m_fd, F_GETFL);
    return flags >= 0 && ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void TcpConnection::SetTimeout(std::chrono::milliseconds timeout) {
    if (timeout == m_socketTimeout) {
        return;
    }
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
    m_socketTimeout = timeout;
}

bool TcpConnection::StartTls(const std::string& host, const std::string& trustedFingerprint,
                             std::chrono::milliseconds timeout) {
    if (m_fd < 0 || IsCancelled()) {
        return false;
    }
    SetTimeout(timeout);
    m_tls = std::make_unique<TlsChannel>();
    return m_tls->Handshake(m_fd, host, trustedFingerprint);
}

bool TcpConnection::SendAll(std::string_view data, std::chrono::milliseconds timeout) {
    SetTimeout(timeout);
    if (m_tls) {
        return m_fd >= 0 && !IsCancelled() && m_tls->Write(data);
    }
    while (!data.empty()) {
        if (m_fd < 0 || IsCancelled()) {
            return false;
        }
        const ssize_t sent = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent == 0 || errno != EINTR) {
            return false;  // an error, or nothing taken for the whole time-out
        }
    }
    return true;
}

TcpConnection::ReceiveResult TcpConnection::Receive(std::span<char> buffer,
                                                    std::chrono::milliseconds timeout) {
    SetTimeout(timeout);
    for (;;) {
        if (IsCancelled()) {
            return {ReceiveStatus::Aborted, 0};
        }
        if (m_fd < 0) {
            return {ReceiveStatus::Failed, 0};
        }
        // Linux clears quick-ack mode again on its own, so it is set before every receive.
        // Without it the acknowledgement of a status line is delayed by up to 40 ms, and a
        // server that writes the status line and its block separately (INN does) waits for it
        // before it sends the block.
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        if (m_tls) {
            const TlsChannel::ReadResult read = m_tls->Read(buffer);
            if (read.status == TlsChannel::ReadStatus::Data) {
                return {ReceiveStatus::Data, read.count};
            }
            if (IsCancelled()) {
                return {ReceiveStatus::Aborted, 0};
            }
            switch (read.status) {
                case TlsChannel::ReadStatus::Closed:
                    return {ReceiveStatus::Closed, 0};
                case TlsChannel::ReadStatus::TimedOut:
                    return {ReceiveStatus::TimedOut, 0};
                default:
                    return {ReceiveStatus::Failed, 0};
            }
        }
        const ssize_t got = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (got > 0) {
            return {ReceiveStatus::Data, static_cast<std::size_t>(got)};
        }
        if (IsCancelled()) {
            return {ReceiveStatus::Aborted, 0};
        }
        if (got == 0) {
            return {ReceiveStatus::Closed, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {ReceiveStatus::TimedOut, 0};
        }
        return {ReceiveStatus::Failed, 0};
    }
}

bool TcpConnection::Shutdown() {
    std::lock_guard lock(m_fdMutex);
    return m_fd >= 0 && ::shutdown(m_fd, SHUT_RDWR) == 0;
}

void TcpConnection::Close() {
    m_tls.reset();
    std::lock_guard lock(m_fdMutex);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_socketTimeout = std::chrono::milliseconds{-1};
}

void TcpConnection::Cancel() {
    m_cancelled.store(true);
    Interrupt();
}

void TcpConnection::ClearCancel() {
    m_cancelled.store(false);
    DrainWakeFd(m_wakeFd);
}

void TcpConnection::Abort() {
    m_aborted.store(true);
    Interrupt();
}

void TcpConnection::Interrupt() {
    const std::uint64_t one = 1;
    if (m_wakeFd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
    std::lock_guard lock(m_fdMutex);
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
    }
}

TcpConnection::WaitResult TcpConnection::WaitFor(short events, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        pollfd fds[2] = {{m_fd, events, 0}, {m_wakeFd, POLLIN, 0}};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return WaitResult::TimedOut;
        }
        const int ready = ::poll(fds, m_wakeFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return WaitResult::Failed;
        }
        if (IsCancelled()) {
            return WaitResult::Aborted;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            // A wake-up left from a cancel that has been cleared since.
            DrainWakeFd(m_wakeFd);
            continue;
        }
        if (ready == 0) {
            return WaitResult::TimedOut;
        }
        // Errors and hang-ups are reported by the recv, send or SO_ERROR that follows.
        return WaitResult::Ready;
    }
}

}  // namespace platform
