#pragma once

// A news server inside the test process, on 127.0.0.1 and a port the system picks. Each command
// line it receives is recorded and answered from a script: per exact command, or by a handler.
// A reply can be cut into chunks with pauses between them, sent a byte at a time, or followed
// by cutting the connection, so that tests can reproduce what real networks do to replies.
// Connections are served at once, each on its own thread; the handler is called for one
// command at a time.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace test {

class TestCertificate;

struct ScriptedReply {
    std::vector<std::string> chunks;     // written one write each, in order
    std::chrono::milliseconds pause{0};  // before every chunk but the first
    bool closeAfter = false;             // cut the connection after the last chunk
    bool renegotiateFirst = false;       // over TLS 1.2, ask for a new handshake before it

    static ScriptedReply Text(std::string text);
    // The text cut at the given offsets, each piece its own write.
    static ScriptedReply SplitAt(const std::string& text, const std::vector<std::size_t>& offsets,
                                 std::chrono::milliseconds pause = std::chrono::milliseconds{20});
    static ScriptedReply ByteAtATime(const std::string& text,
                                     std::chrono::milliseconds pause = std::chrono::milliseconds{
                                         0});
    // Sends the text (possibly nothing), then cuts the connection.
    static ScriptedReply CloseAfter(std::string text);
    // Sends nothing and keeps the connection open: a server that stopped answering.
    static ScriptedReply Silence();
};

class ScriptedNntpServer {
public:
    using Handler = std::function<ScriptedReply(const std::string& command)>;

    enum class Tls {
        None,
        Implicit,  // TLS from the first byte of every connection
        StartTls,  // TLS after a STARTTLS whose reply begins with "382"
    };

    ScriptedNntpServer();
    ~ScriptedNntpServer();
    ScriptedNntpServer(const ScriptedNntpServer&) = delete;
    ScriptedNntpServer& operator=(const ScriptedNntpServer&) = delete;

    int Port() const { return m_port; }
    // "127.0.0.1:PORT", as a news server name that Zarvo accepts.
    std::string Address() const;

    // Default: "200 scripted server ready (posting ok)\r\n".
    void SetGreeting(ScriptedReply greeting);
    // Greets connections beyond the first `count` with `greeting` (a server that allows no more
    // connections says "502 ...").
    void LimitConnections(int count, ScriptedReply greeting);
    // Answers every command without an exact script. Default: "500 What?\r\n", and for "quit"
    // "205 Bye\r\n" followed by closing the connection.
    void SetHandler(Handler handler);
    // The reply to this exact command line, taking precedence over the handler.
    void On(const std::string& command, ScriptedReply reply);
    // Serves later connections over TLS with the certificate (which must outlive the server).
    // With StartTls, "STARTTLS" is answered "382 go ahead" unless scripted otherwise; with
    // `tls12Only` no later version is offered.
    void UseTls(Tls mode, const TestCertificate& certificate, bool tls12Only = false);

    // Every command line received so far, over all connections, without CR LF.
    std::vector<std::string> Commands() const;
    // As Commands(), without the questions a client asks about what the server offers
    // (CAPABILITIES, OVER and XOVER), which a server without them refuses.
    std::vector<std::string> CommandsWithoutProbes() const;
    // Those of one connection, counted from 0 in the order they were accepted.
    std::vector<std::string> CommandsOf(int connection) const;
    int Connections() const;
    // The TLS handshakes that clients began so far (their ClientHellos), over all connections.
    int Handshakes() const { return m_handshakes; }
    // Waits until at least `count` commands have arrived; false after the time-out.
    bool WaitForCommands(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds{10}) const;

private:
    class Link;

    void Serve();
    void ServeConnection(int fd, int connection);
    bool Send(Link& link, const ScriptedReply& reply);
    bool Sleep(std::chrono::milliseconds pause);
    static int CountHandshake(SSL* ssl, int* alert, void* server);

    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    ScriptedReply m_greeting;
    int m_connectionLimit = -1;  // none
    ScriptedReply m_refusal;
    Handler m_handler;
    std::map<std::string, ScriptedReply> m_scripts;
    Tls m_tls = Tls::None;
    std::shared_ptr<SSL_CTX> m_tlsContext;
    std::atomic<int> m_handshakes{0};
    std::vector<std::string> m_commands;
    std::vector<std::vector<std::string>> m_commandsByConnection;
    int m_connections = 0;
    std::thread m_thread;
    std::vector<std::thread> m_connectionThreads;  // used by the accepting thread only
};

// A port on 127.0.0.1 on which nothing listens, so that connecting to it is refused.
int UnusedLoopbackPort();

}  // namespace test
