#pragma once

// A TCP proxy that makes the loopback look like a distant line: it listens on 127.0.0.1,
// connects each client it accepts to the target, and carries the bytes of each direction
// through a CDelayLine shared by all connections, as one link would. Connecting itself is not
// delayed: the first delayed bytes are the server's greeting. It serves until told to stop, and
// ends on its own after a time without any connection or at a deadline.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "bench/fetch/DelayLine.h"
#include "bench/fetch/DelayedPipe.h"

class CDelayProxy {
public:
    struct Settings {
        std::string targetHost = "127.0.0.1";
        int targetPort = 119;
        CDelayLine::Clock::duration roundTrip{};    // half of it each way
        double bitsPerSecond = 0;                   // per direction; 0 for no cap
        std::size_t bufferLimit = 4 * 1024 * 1024;  // per connection and direction
    };
    struct Totals {
        unsigned long connections = 0;
        std::uint64_t toServer = 0;
        std::uint64_t toClients = 0;
    };

    explicit CDelayProxy(const Settings& settings);
    ~CDelayProxy();
    CDelayProxy(const CDelayProxy&) = delete;
    CDelayProxy& operator=(const CDelayProxy&) = delete;

    // Listens on 127.0.0.1:port (0: a free port of the system's choice). False with Error() on
    // failure.
    bool Listen(int port);
    // The port it listens on.
    int Port() const { return m_port; }
    // Serves until `wakeFd` (a descriptor that becomes readable, such as a signalfd) says stop,
    // until no connection was open for `idleLimit`, or until `deadline`. Every connection still
    // open is cut when it returns.
    void Serve(int wakeFd, CDelayLine::Clock::duration idleLimit,
               CDelayLine::Clock::time_point deadline);
    // What went through, the connections that are still open included.
    Totals CountTotals() const;
    const std::string& Error() const { return m_error; }

private:
    // A socket descriptor closed when it goes.
    class Socket {
    public:
        explicit Socket(int fd = -1) : m_fd(fd) {}
        ~Socket();
        Socket(const Socket&) = delete;
        Socket& operator=(const Socket&) = delete;
        int Fd() const { return m_fd; }
        // Closes the descriptor held and takes `fd` instead.
        void Reset(int fd = -1);

    private:
        int m_fd;
    };
    struct Connection {
        Socket client;
        Socket server;
        // After the sockets, so that the pipes end before the sockets close.
        std::unique_ptr<CDelayedPipe> toServer;
        std::unique_ptr<CDelayedPipe> toClient;
    };

    void Accept();
    // Drops the connections that have ended, adding up what went through them.
    void Reap();

    Settings m_settings;
    CDelayLine m_upLine;
    CDelayLine m_downLine;
    Socket m_listener;
    int m_port = 0;
    std::list<std::unique_ptr<Connection>> m_connections;
    Totals m_totals;  // every connection accepted, and the bytes of those that are gone
    std::string m_error;
};
