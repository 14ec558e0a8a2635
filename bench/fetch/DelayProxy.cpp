#include "bench/fetch/DelayProxy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using Clock = CDelayLine::Clock;

constexpr std::chrono::milliseconds REAP_INTERVAL{50};

void SetNoDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A connected socket to host:port, or -1.
int ConnectTo(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
        return -1;
    }
    int fd = -1;
    for (const addrinfo* address = addresses; address != nullptr && fd < 0;
         address = address->ai_next) {
        fd = socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(addresses);
    return fd;
}

}  // namespace

CDelayProxy::Socket::~Socket() {
    Reset();
}

void CDelayProxy::Socket::Reset(int fd) {
    if (m_fd >= 0) {
        close(m_fd);
    }
    m_fd = fd;
}

CDelayProxy::CDelayProxy(const Settings& settings)
    : m_settings(settings),
      m_upLine(settings.roundTrip / 2, settings.bitsPerSecond / 8),
      m_downLine(settings.roundTrip / 2, settings.bitsPerSecond / 8) {}

CDelayProxy::~CDelayProxy() = default;

bool CDelayProxy::Listen(int port) {
    m_listener.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int fd = m_listener.Fd();
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        m_error =
            "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        m_listener.Reset();
        return false;
    }
    m_port = ntohs(address.sin_port);
    return true;
}

void CDelayProxy::Serve(int wakeFd, Clock::duration idleLimit, Clock::time_point deadline) {
    auto lastBusy = Clock::now();
    for (;;) {
        pollfd fds[2] = {{m_listener.Fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, REAP_INTERVAL.count());
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            Accept();
        }
        Reap();
        const auto now = Clock::now();
        if (!m_connections.empty()) {
            lastBusy = now;
        }
        if (now >= deadline || now - lastBusy >= idleLimit) {
            break;
        }
    }
    // Count what the connections still open moved before they go.
    m_totals = CountTotals();
    m_connections.clear();
}

void CDelayProxy::Accept() {
    auto connection = std::make_unique<Connection>();
    connection->client.Reset(accept4(m_listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection->client.Fd() < 0) {
        return;
    }
    connection->server.Reset(ConnectTo(m_settings.targetHost, m_settings.targetPort));
    if (connection->server.Fd() < 0) {
        return;  // the client sees its connection closed
    }
    SetNoDelay(connection->client.Fd());
    SetNoDelay(connection->server.Fd());
    connection->toServer = std::make_unique<CDelayedPipe>(
        connection->client.Fd(), connection->server.Fd(), m_upLine, m_settings.bufferLimit);
    connection->toClient = std::make_unique<CDelayedPipe>(
        connection->server.Fd(), connection->client.Fd(), m_downLine, m_settings.bufferLimit);
    ++m_totals.connections;
    m_connections.push_back(std::move(connection));
}

void CDelayProxy::Reap() {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        const Connection& connection = **it;
        if (connection.toServer->Finished() && connection.toClient->Finished()) {
            m_totals.toServer += connection.toServer->BytesDelivered();
            m_totals.toClients += connection.toClient->BytesDelivered();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

CDelayProxy::Totals CDelayProxy::CountTotals() const {
    Totals totals = m_totals;
    for (const auto& connection : m_connections) {
        totals.toServer += connection->toServer->BytesDelivered();
        totals.toClients += connection->toClient->BytesDelivered();
    }
    return totals;
}
