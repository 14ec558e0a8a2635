// The delay proxy: the line's timetable on its own, and the proxy on the loopback between a
// client and a small server, where every byte must arrive, in order, never before its time.

#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bench/fetch/DelayLine.h"
#include "bench/fetch/DelayProxy.h"
#include "tests/support/UUEncode.h"

namespace {

using namespace std::chrono_literals;
using Clock = CDelayLine::Clock;

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

struct LineStep {
    Clock::duration enteredAt;
    std::size_t bytes;
    Clock::duration arrivesAt;
};
struct LineCase {
    const char* name;
    Clock::duration delay;
    double bytesPerSecond;
    std::vector<LineStep> steps;
};

TEST(DelayLineTest, ChunksArriveAfterTheDelayAndTakeTurnsOnACappedLine) {
    const std::vector<LineCase> cases = {
        {"uncapped: the delay alone",
         10ms,
         0,
         {{0ms, 50000, 10ms}, {0ms, 1, 10ms}, {3ms, 9, 13ms}}},
        {"capped at 1 MB/s: a chunk waits for the one before",
         10ms,
         1e6,
         {{0ms, 1000, 11ms}, {0ms, 2000, 13ms}, {1ms, 0, 13ms}}},
        {"capped: an idle line starts afresh", 0ms, 1e6, {{0ms, 1000, 1ms}, {5ms, 1000, 6ms}}},
    };
    for (const LineCase& test : cases) {
        CDelayLine line(test.delay, test.bytesPerSecond);
        const Clock::time_point start = Clock::now();
        for (const LineStep& step : test.steps) {
            const auto arrival = line.Enter(start + step.enteredAt, step.bytes) - start;
            EXPECT_NEAR(Milliseconds(arrival), Milliseconds(step.arrivesAt), 1e-3) << test.name;
        }
    }
}

TEST(DelayLineTest, SendersHoldBackOnlyOnACappedLine) {
    EXPECT_TRUE(CDelayLine(0ms, 0).Transparent());
    EXPECT_FALSE(CDelayLine(1ms, 0).Transparent());
    EXPECT_FALSE(CDelayLine(0ms, 1e6).Transparent());
    EXPECT_EQ(CDelayLine(5ms, 0).ReadyAt(), Clock::time_point::min());
    EXPECT_EQ(CDelayLine(5ms, 0).ChunkSize(65536), 65536u);
    EXPECT_EQ(CDelayLine(0ms, 12.5e6).ChunkSize(65536), 12500u);  // a millisecond's worth
    EXPECT_EQ(CDelayLine(0ms, 1e3).ChunkSize(65536), 1460u);      // but a segment at least

    CDelayLine line(0ms, 1e6, 2ms);
    const Clock::time_point start = Clock::now();
    line.Enter(start, 5000);  // on the line until start + 5 ms
    EXPECT_EQ(line.ReadyAt(), start + 3ms);
}

// A server on the loopback that sends `greeting`, then echoes what it reads until the client
// closes, and closes too; one connection after the other.
class EchoServer {
public:
    explicit EchoServer(std::string greeting) : m_greeting(std::move(greeting)) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), length);
        listen(m_fd, 16);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~EchoServer() {
        shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        close(m_fd);
    }
    int Port() const { return m_port; }
    int SessionsEnded() const { return m_sessionsEnded.load(); }

private:
    void Serve() {
        std::vector<std::thread> sessions;
        for (int client; (client = accept(m_fd, nullptr, nullptr)) >= 0;) {
            sessions.emplace_back([this, client] {
                send(client, m_greeting.data(), m_greeting.size(), MSG_NOSIGNAL);
                char buffer[8192];
                for (ssize_t got; (got = recv(client, buffer, sizeof buffer, 0)) > 0;) {
                    send(client, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL);
                }
                close(client);
                ++m_sessionsEnded;
            });
        }
        for (std::thread& session : sessions) {
            session.join();
        }
    }

    std::string m_greeting;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<int> m_sessionsEnded{0};
    std::thread m_thread;
};

// A proxy serving on a thread of its own until the test ends it.
class RunningProxy {
public:
    RunningProxy(CDelayProxy::Settings settings, Clock::duration idleLimit = 60s)
        : m_proxy(settings), m_wake(eventfd(0, EFD_CLOEXEC)) {
        EXPECT_TRUE(m_proxy.Listen(0)) << m_proxy.Error();
        m_thread = std::thread([this, idleLimit] {
            m_proxy.Serve(m_wake, idleLimit, Clock::now() + 60s);
            m_served = true;
        });
    }
    ~RunningProxy() {
        Stop();
        close(m_wake);
    }
    void Stop() {
        if (m_thread.joinable()) {
            const std::uint64_t one = 1;
            EXPECT_EQ(write(m_wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
            m_thread.join();
        }
    }
    int Port() const { return m_proxy.Port(); }
    bool Served() const { return m_served; }
    CDelayProxy::Totals Totals() const { return m_proxy.CountTotals(); }

private:
    CDelayProxy m_proxy;
    int m_wake;
    std::atomic<bool> m_served{false};
    std::thread m_thread;
};

int ConnectToLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// Reads until `count` bytes or the end of the stream.
std::string Receive(int fd, std::size_t count) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < count) {
        const ssize_t got = recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (got <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

struct ProxyCase {
    const char* name;
    Clock::duration roundTrip;
    double bitsPerSecond;
};

TEST(DelayProxyTest, EveryByteArrivesInOrderAndNotBeforeTheLineAllows) {
    const std::string greeting = test::PictureBytes(300000, 7);
    const std::string request = test::PictureBytes(200000, 8);
    constexpr int CONNECTIONS = 3;
    const std::vector<ProxyCase> cases = {
        {"no delay, no cap", 0ms, 0},
        {"40 ms round trip", 40ms, 0},
        {"capped at 64 Mbit/s", 2ms, 64e6},
    };
    EchoServer server(greeting);
    for (const ProxyCase& test : cases) {
        RunningProxy proxy({"127.0.0.1", server.Port(), test.roundTrip, test.bitsPerSecond});
        const Clock::time_point start = Clock::now();
        std::vector<std::thread> clients;
        std::vector<std::string> received(CONNECTIONS);
        std::vector<Clock::duration> firstByte(CONNECTIONS);
        for (int n = 0; n < CONNECTIONS; ++n) {
            clients.emplace_back([&, n] {
                const int fd = ConnectToLoopback(proxy.Port());
                received[n] = Receive(fd, 1);
                firstByte[n] = Clock::now() - start;
                send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                shutdown(fd, SHUT_WR);
                received[n] += Receive(fd, SIZE_MAX);  // up to the server's close
                close(fd);
            });
        }
        for (std::thread& client : clients) {
            client.join();
        }
        const Clock::duration elapsed = Clock::now() - start;
        for (int n = 0; n < CONNECTIONS; ++n) {
            EXPECT_TRUE(received[n] == greeting + request) << test.name << ", connection " << n;
            EXPECT_GE(firstByte[n], test.roundTrip / 2) << test.name;
        }
        if (test.bitsPerSecond > 0) {
            // The line is shared: everything the server sent had to pass it in turn.
            const double bytes =
                CONNECTIONS * static_cast<double>(greeting.size() + request.size());
            EXPECT_GE(std::chrono::duration<double>(elapsed).count(),
                      0.9 * bytes * 8 / test.bitsPerSecond)
                << test.name;
        }
        proxy.Stop();
        const CDelayProxy::Totals totals = proxy.Totals();
        EXPECT_EQ(totals.connections, static_cast<unsigned long>(CONNECTIONS)) << test.name;
        EXPECT_EQ(totals.toServer, CONNECTIONS * request.size()) << test.name;
        EXPECT_EQ(totals.toClients, CONNECTIONS * (greeting.size() + request.size())) << test.name;
    }
}

TEST(DelayProxyTest, ItEndsWhenWokenOrIdleAndCutsWhatIsStillOpen) {
    EchoServer server("hello");
    {
        RunningProxy idle({"127.0.0.1", server.Port(), 10ms, 0}, 100ms);
        for (int waited = 0; waited < 100 && !idle.Served(); ++waited) {
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_TRUE(idle.Served());
    }
    RunningProxy proxy({"127.0.0.1", server.Port(), 10ms, 0});
    const int fd = ConnectToLoopback(proxy.Port());
    EXPECT_EQ(Receive(fd, 5), "hello");
    proxy.Stop();  // the connection is still open
    EXPECT_EQ(Receive(fd, 1), "");
    close(fd);
}

TEST(DelayProxyTest, AClientThatGoesAwayEndsTheServerSideToo) {
    EchoServer server(std::string(4 * 1024 * 1024, 'x'));  // more than the sockets hold
    RunningProxy proxy({"127.0.0.1", server.Port(), 20ms, 0});
    const int fd = ConnectToLoopback(proxy.Port());
    EXPECT_EQ(Receive(fd, 1), "x");
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd);  // a reset, with much of the greeting still on its way
    // The proxy shuts its side to the server down, which ends the server's session.
    for (int waited = 0; waited < 100 && server.SessionsEnded() == 0; ++waited) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(server.SessionsEnded(), 1);
}

}  // namespace
