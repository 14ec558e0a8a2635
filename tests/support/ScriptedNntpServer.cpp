#include "tests/support/ScriptedNntpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <cerrno>
#include <utility>

#include "platform/TlsChannel.h"
#include "tests/support/TestCertificate.h"

namespace test {
namespace {

int ListenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 16);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Waits until the descriptor is readable; false when the server is stopping.
bool WaitReadable(int fd, const std::atomic<bool>& stopping) {
    while (!stopping.load()) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 20);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

}  // namespace

// One accepted connection, plain or, once StartTls() went through, encrypted.
class ScriptedNntpServer::Link {
public:
    explicit Link(int fd) : m_fd(fd) {}
    ~Link() {
        if (m_ssl != nullptr) {
            SSL_free(m_ssl);
        }
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    int Fd() const { return m_fd; }

    bool StartTls(SSL_CTX* context) {
        m_ssl = SSL_new(context);
        BIO* bio = m_ssl != nullptr ? platform::NewSocketBio(m_fd) : nullptr;
        if (bio == nullptr) {
            return false;
        }
        SSL_set_bio(m_ssl, bio, bio);
        return SSL_accept(m_ssl) == 1;
    }
    // Sends the request for a new handshake, which the client answers when it next reads.
    bool Renegotiate() {
        return m_ssl != nullptr && SSL_renegotiate(m_ssl) == 1 && SSL_do_handshake(m_ssl) == 1;
    }
    // Bytes that TLS has decrypted already, which no poll of the socket would show.
    bool HasBuffered() const { return m_ssl != nullptr && SSL_pending(m_ssl) > 0; }
    ssize_t Read(char* buffer, std::size_t size) {
        if (m_ssl == nullptr) {
            return ::recv(m_fd, buffer, size, 0);
        }
        std::size_t got = 0;
        return SSL_read_ex(m_ssl, buffer, size, &got) == 1 ? static_cast<ssize_t>(got) : -1;
    }
    bool Write(const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            if (m_ssl != nullptr) {
                std::size_t wrote = 0;
                if (SSL_write_ex(m_ssl, data.data() + sent, data.size() - sent, &wrote) != 1) {
                    return false;
                }
                sent += wrote;
                continue;
            }
            const ssize_t wrote =
                ::send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(wrote);
        }
        return true;
    }

private:
    int m_fd;
    SSL* m_ssl = nullptr;
};

ScriptedReply ScriptedReply::Text(std::string text) {
    ScriptedReply reply;
    reply.chunks.push_back(std::move(text));
    return reply;
}

ScriptedReply ScriptedReply::SplitAt(const std::string& text,
                                     const std::vector<std::size_t>& offsets,
                                     std::chrono::milliseconds pause) {
    ScriptedReply reply;
    std::size_t start = 0;
    for (const std::size_t offset : offsets) {
        reply.chunks.push_back(text.substr(start, offset - start));
        start = offset;
    }
    reply.chunks.push_back(text.substr(start));
    reply.pause = pause;
    return reply;
}

ScriptedReply ScriptedReply::ByteAtATime(const std::string& text, std::chrono::milliseconds pause) {
    ScriptedReply reply;
    for (const char byte : text) {
        reply.chunks.emplace_back(1, byte);
    }
    reply.pause = pause;
    return reply;
}

ScriptedReply ScriptedReply::CloseAfter(std::string text) {
    ScriptedReply reply = Text(std::move(text));
    reply.closeAfter = true;
    return reply;
}

ScriptedReply ScriptedReply::Silence() {
    return ScriptedReply{};
}

ScriptedNntpServer::ScriptedNntpServer()
    : m_greeting(ScriptedReply::Text("200 scripted server ready (posting ok)\r\n")) {
    m_listenFd = ListenOnLoopback(m_port);
    m_thread = std::thread([this] { Serve(); });
}

ScriptedNntpServer::~ScriptedNntpServer() {
    m_stopping.store(true);
    m_changed.notify_all();
    m_thread.join();
    for (std::thread& connection : m_connectionThreads) {
        connection.join();
    }
    ::close(m_listenFd);
}

std::string ScriptedNntpServer::Address() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

void ScriptedNntpServer::SetGreeting(ScriptedReply greeting) {
    std::lock_guard lock(m_mutex);
    m_greeting = std::move(greeting);
}

void ScriptedNntpServer::LimitConnections(int count, ScriptedReply greeting) {
    std::lock_guard lock(m_mutex);
    m_connectionLimit = count;
    m_refusal = std::move(greeting);
}

void ScriptedNntpServer::SetHandler(Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void ScriptedNntpServer::On(const std::string& command, ScriptedReply reply) {
    std::lock_guard lock(m_mutex);
    m_scripts[command] = std::move(reply);
}

std::vector<std::string> ScriptedNntpServer::Commands() const {
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::vector<std::string> ScriptedNntpServer::CommandsWithoutProbes() const {
    std::vector<std::string> commands = Commands();
    std::erase_if(commands, [](const std::string& command) {
        return command == "CAPABILITIES" || command.starts_with("OVER ") ||
               command.starts_with("XOVER ");
    });
    return commands;
}

std::vector<std::string> ScriptedNntpServer::CommandsOf(int connection) const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(connection) < m_commandsByConnection.size()
               ? m_commandsByConnection[static_cast<std::size_t>(connection)]
               : std::vector<std::string>{};
}

int ScriptedNntpServer::Connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

bool ScriptedNntpServer::WaitForCommands(std::size_t count,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_commands.size() >= count; });
}

void ScriptedNntpServer::Serve() {
    while (WaitReadable(m_listenFd, m_stopping)) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        int connection;
        {
            std::lock_guard lock(m_mutex);
            connection = m_connections++;
            m_commandsByConnection.emplace_back();
        }
        // Each connection on its own thread: a client may hold several at once.
        m_connectionThreads.emplace_back([this, fd, connection] {
            ServeConnection(fd, connection);
            ::close(fd);
        });
    }
}

void ScriptedNntpServer::UseTls(Tls mode, const TestCertificate& certificate, bool tls12Only) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    SSL_CTX_use_certificate(context.get(), certificate.Certificate());
    SSL_CTX_use_PrivateKey(context.get(), certificate.Key());
    if (tls12Only) {
        SSL_CTX_set_max_proto_version(context.get(), TLS1_2_VERSION);
    }
    SSL_CTX_set_client_hello_cb(context.get(), &ScriptedNntpServer::CountHandshake, this);
    std::lock_guard lock(m_mutex);
    m_tls = mode;
    m_tlsContext = std::move(context);
}

void ScriptedNntpServer::ServeConnection(int fd, int connection) {
    ScriptedReply greeting;
    Tls tls;
    std::shared_ptr<SSL_CTX> context;
    {
        std::lock_guard lock(m_mutex);
        greeting =
            m_connectionLimit >= 0 && connection >= m_connectionLimit ? m_refusal : m_greeting;
        tls = m_tls;
        context = m_tlsContext;
    }
    Link link(fd);
    if (tls == Tls::Implicit && !link.StartTls(context.get())) {
        return;
    }
    if (!Send(link, greeting)) {
        return;
    }
    std::string received;
    char buffer[4096];
    while (link.HasBuffered() || WaitReadable(fd, m_stopping)) {
        const ssize_t got = link.Read(buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = received.find("\r\n")) != std::string::npos) {
            const std::string command = received.substr(0, end);
            received.erase(0, end + 2);
            ScriptedReply reply;
            {
                std::lock_guard lock(m_mutex);
                m_commands.push_back(command);
                m_commandsByConnection[static_cast<std::size_t>(connection)].push_back(command);
                m_changed.notify_all();
                if (const auto script = m_scripts.find(command); script != m_scripts.end()) {
                    reply = script->second;
                } else if (command == "STARTTLS" && tls == Tls::StartTls) {
                    reply = ScriptedReply::Text("382 go ahead\r\n");
                } else if (m_handler) {
                    reply = m_handler(command);
                } else if (command == "quit") {
                    reply = ScriptedReply::CloseAfter("205 Bye\r\n");
                } else {
                    reply = ScriptedReply::Text("500 What?\r\n");
                }
            }
            if (!Send(link, reply)) {
                return;
            }
            const bool goAhead = !reply.chunks.empty() && reply.chunks.front().starts_with("382");
            if (command == "STARTTLS" && tls == Tls::StartTls && goAhead) {
                // Whatever the client sent after STARTTLS in plain text is dropped.
                received.clear();
                if (!link.StartTls(context.get())) {
                    return;
                }
            }
        }
    }
}

int ScriptedNntpServer::CountHandshake(SSL* /*ssl*/, int* /*alert*/, void* server) {
    ++static_cast<ScriptedNntpServer*>(server)->m_handshakes;
    return SSL_CLIENT_HELLO_SUCCESS;
}

bool ScriptedNntpServer::Send(Link& link, const ScriptedReply& reply) {
    if (reply.renegotiateFirst && !link.Renegotiate()) {
        return false;
    }
    bool first = true;
    for (const std::string& chunk : reply.chunks) {
        if (!first && reply.pause.count() > 0 && !Sleep(reply.pause)) {
            return false;
        }
        first = false;
        if (!link.Write(chunk)) {
            return false;
        }
    }
    if (reply.closeAfter) {
        ::shutdown(link.Fd(), SHUT_RDWR);
        return false;
    }
    return true;
}

bool ScriptedNntpServer::Sleep(std::chrono::milliseconds pause) {
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, pause, [this] { return m_stopping.load(); });
}

int UnusedLoopbackPort() {
    int port = 0;
    const int fd = ListenOnLoopback(port);
    ::close(fd);
    return port;
}

}  // namespace test
