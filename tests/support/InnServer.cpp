#include "tests/support/InnServer.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#ifndef ZARVO_SOURCE_DIR
#error "ZARVO_SOURCE_DIR must name the source folder, where scripts/inn-server lives"
#endif

namespace test {
namespace {

constexpr int NNTP_PORT = 119;
constexpr std::size_t MAX_STATUS_LINE = 64 * 1024;
constexpr std::chrono::milliseconds POLL_INTERVAL{20};

std::string ScriptPath() {
    return std::string(ZARVO_SOURCE_DIR) + "/scripts/inn-server";
}

// One argument for /bin/sh, in single quotes.
std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

bool HoldsLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// The leading decimal number of a text, or 0.
std::uint32_t LeadingNumber(std::string_view text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// Reads "host:port", "[v6-address]:port", a bare host or a bare IPv6 address (port 119).
bool ParseAddress(const std::string& address, std::string& host, int& port) {
    std::string portText;
    bool hasPort = false;
    port = NNTP_PORT;
    if (address.starts_with("[")) {
        const std::size_t close = address.find(']');
        host = address.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && address.compare(close + 1, 1, ":") == 0) {
            portText = address.substr(close + 2);
            hasPort = true;
        } else if (close == std::string::npos || close + 1 != address.size()) {
            host.clear();  // no closing bracket, or something else after it
        }
    } else if (const std::size_t colon = address.find(':');
               colon != std::string::npos && address.find(':', colon + 1) == std::string::npos) {
        host = address.substr(0, colon);
        portText = address.substr(colon + 1);
        hasPort = true;
    } else {
        host = address;  // a bare host, or a bare IPv6 address
    }
    if (hasPort) {
        const bool digits = !portText.empty() && portText.size() <= 5 &&
                            portText.find_first_not_of("0123456789") == std::string::npos;
        port = digits ? static_cast<int>(LeadingNumber(portText)) : 0;
    }
    return !host.empty() && port > 0 && port <= 65535;
}

// The file's content from the offset on (the benchmarks build this file without the other
// test helpers).
std::string ReadFrom(const std::string& path, std::uintmax_t offset) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

InnServer::InnServer() {
    const std::string address = Environment(ENVIRONMENT_VARIABLE);
    if (!address.empty()) {
        SetAddress(address);
    }
    std::string tlsHost;
    if (ParseAddress(Environment(TLS_VARIABLE), tlsHost, m_tlsPort)) {
        m_tlsAddress = Environment(TLS_VARIABLE);
    } else {
        m_tlsPort = 0;
    }
    m_certificatePath = Environment(CERTIFICATE_VARIABLE);
    SetCredentials(Environment(USER_VARIABLE), Environment(PASSWORD_VARIABLE));
    m_logPath = Environment(LOG_VARIABLE);
}

InnServer::InnServer(const std::string& address) {
    SetAddress(address);
}

void InnServer::SetAddress(const std::string& address) {
    if (!ParseAddress(address, m_host, m_port)) {
        m_error = "'" + address + "' is not a news server address (host:port)";
        return;
    }
    const bool v6 = m_host.find(':') != std::string::npos;
    m_address = (v6 ? "[" + m_host + "]" : m_host) + ":" + std::to_string(m_port);
}

InnServer::~InnServer() {
    CloseConnection();
    // Remove the groups so that repeated runs do not pile them up on the server.
    while (!m_groups.empty()) {
        const std::string name = m_groups.back();
        if (!RemoveGroup(name)) {
            std::fprintf(stderr, "InnServer: %s\n", m_error.c_str());
            m_groups.pop_back();
        }
    }
}

std::string InnServer::SkipReason() {
    return std::string(ENVIRONMENT_VARIABLE) +
           " is not set: these tests need the real news server that the test command starts "
           "(scripts/inn-server start; then ZARVO_INN=127.0.0.1:119)";
}

bool InnServer::SecureAvailable() const {
    return Available() && m_tlsPort > 0 && !m_certificatePath.empty() && !m_user.empty() &&
           !m_password.empty();
}

std::string InnServer::SecureSkipReason() {
    return std::string(ENVIRONMENT_VARIABLE) + ", " + TLS_VARIABLE + ", " + CERTIFICATE_VARIABLE +
           ", " + USER_VARIABLE + " and " + PASSWORD_VARIABLE +
           " are not all set: these tests need the real news server that the test command "
           "starts (scripts/inn-server start; then eval \"$(scripts/inn-server env)\")";
}

void InnServer::SetCredentials(const std::string& user, const std::string& password) {
    m_user = user;
    m_password = password;
    CloseConnection();  // a connection logged in as someone else
}

std::string InnServer::CertificateFingerprint() {
    std::string output;
    if (!RunCommand("openssl x509 -noout -fingerprint -sha256 -in " + ShellQuote(m_certificatePath),
                    output)) {
        return {};
    }
    // "sha256 Fingerprint=AB:CD:...", in whatever case the label comes.
    const std::size_t equals = output.find('=');
    if (equals == std::string::npos) {
        Fail("no fingerprint in what openssl printed: " + output);
        return {};
    }
    return WithoutLineEnd(output.substr(equals + 1));
}

bool InnServer::Fail(std::string message) {
    m_error = std::move(message);
    return false;
}

bool InnServer::RunScript(const std::string& arguments) {
    std::string output;
    return RunCommand(ShellQuote(ScriptPath()) + " " + arguments, output);
}

bool InnServer::RunCommand(const std::string& command, std::string& output) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
    if (!pipe) {
        return Fail("could not run " + command + ": " + std::strerror(errno));
    }
    output.clear();
    std::array<char, 4096> chunk;
    std::size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0) {
        output.append(chunk.data(), got);
    }
    // The script's exit status comes only from pclose itself, so the pipe is closed here
    // rather than by the unique_ptr (which covers the early returns).
    const int status = ::pclose(pipe.release());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return Fail(command + " failed (status " + std::to_string(status) +
                    "): " + WithoutLineEnd(output));
    }
    return true;
}

std::string InnServer::CreateGroup(GroupAccess access) {
    if (!Available()) {
        Fail(SkipReason());
        return {};
    }
    static std::atomic<unsigned> counter{0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    // Every component begins with a letter: INN keeps articles in folders named by the group's
    // components and files named by number, and an all-digit component could collide with them.
    const std::string name =
        (access == GroupAccess::LoginToRead ? std::string(LOGIN_HIERARCHY) : "zarvo.test.") + "p" +
        std::to_string(::getpid()) + ".n" + std::to_string(++counter) + ".t" +
        std::to_string(seconds.count());
    if (!RunScript("newgroup " + ShellQuote(name))) {
        return {};
    }
    m_groups.push_back(name);
    // The reader may learn of the new group a moment after innd made it.
    const auto deadline = std::chrono::steady_clock::now() + SETTLE_TIMEOUT;
    for (;;) {
        bool known = false;
        std::uint32_t count = 0;
        if (!QueryGroup(name, known, count)) {
            return {};
        }
        if (known) {
            return name;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            Fail("the reader does not know the new group " + name + " after " +
                 std::to_string(SETTLE_TIMEOUT.count()) + " s");
            return {};
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}

bool InnServer::RemoveGroup(const std::string& name) {
    std::erase(m_groups, name);
    return RunScript("rmgroup " + ShellQuote(name));
}

bool InnServer::DeleteArticle(const std::string& messageId) {
    return RunScript("delete " + ShellQuote(messageId));
}

std::string InnServer::Post(const std::string& group, const std::string& subject,
                            std::string_view body) {
    if (HoldsLineBreak(group) || HoldsLineBreak(subject)) {
        Fail("a group name or subject with a line break cannot be posted");
        return {};
    }
    std::string article;
    article.reserve(body.size() + body.size() / 32 + 256);
    article += "From: Zarvo Tests <zarvo-tests@example.com>\r\n";
    article += "Newsgroups: " + group + "\r\n";
    article += "Subject: " + subject + "\r\n";
    article += "\r\n";
    // RFC 3977, 3.1.1: a line that begins with "." is sent with one more, so that no line of
    // the article can read as the terminating dot line.
    std::size_t start = 0;
    while (start < body.size()) {
        const std::size_t end = body.find('\n', start);
        const bool terminated = end != std::string_view::npos;
        // The line without its line end; the only CR allowed is the one before the LF.
        const std::string_view line =
            body.substr(start, terminated ? end - start : std::string_view::npos);
        const std::string_view text =
            terminated && line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
        if (terminated && text.size() == line.size()) {
            Fail("the body holds a bare LF at offset " + std::to_string(end));
            return {};
        }
        if (const std::size_t cr = text.find('\r'); cr != std::string_view::npos) {
            Fail("the body holds a bare CR at offset " + std::to_string(start + cr));
            return {};
        }
        if (text.starts_with('.')) {
            article += '.';
        }
        article.append(text).append("\r\n");
        start = terminated ? end + 1 : body.size();
    }
    article += ".\r\n";

    std::string status;
    if (!Exchange("POST", status, group)) {
        return {};
    }
    if (!status.starts_with("340")) {
        Fail("POST to " + group + " refused: " + status);
        return {};
    }
    if (!SendAll(article) || !ReadStatusLine(status)) {
        CloseConnection();
        return {};
    }
    if (!status.starts_with("240")) {
        Fail("the article posted to " + group + " was refused: " + status);
        return {};
    }
    // "240 Article received <message-id>"
    const std::size_t open = status.find('<');
    const std::size_t close = status.find('>', open);
    if (open == std::string::npos || close == std::string::npos) {
        Fail("no message id in the reply to the article: " + status);
        return {};
    }
    return status.substr(open, close + 1 - open);
}

bool InnServer::WaitForArticles(const std::string& group, std::uint32_t count) {
    // innd counts a posted article in the group a moment after it acknowledged it.
    const auto deadline = std::chrono::steady_clock::now() + SETTLE_TIMEOUT;
    for (;;) {
        bool known = false;
        std::uint32_t have = 0;
        if (!QueryGroup(group, known, have)) {
            return false;
        }
        if (!known) {
            return Fail("the reader does not know the group " + group);
        }
        if (have >= count) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Fail("the reader counts " + std::to_string(have) + " of " +
                        std::to_string(count) + " articles in " + group + " after " +
                        std::to_string(SETTLE_TIMEOUT.count()) + " s");
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}

bool InnServer::QueryGroup(const std::string& group, bool& known, std::uint32_t& count) {
    // Each look over a fresh connection: INN's reader can go on reporting the numbers it first
    // saw for the rest of a connection (seen with a group made in the place of a removed one),
    // so a kept connection could wait forever for articles that are there.
    CloseConnection();
    std::string status;
    if (!Exchange("GROUP " + group, status, group)) {
        return false;
    }
    // RFC 3977, 6.1.1.2: "211 count first last name", or 411 for a group the server lacks.
    if (status.starts_with("211 ")) {
        known = true;
        count = LeadingNumber(std::string_view(status).substr(4));
        return true;
    }
    if (status.starts_with("411")) {
        known = false;
        return true;
    }
    return Fail("GROUP " + group + " answered: " + status);
}

bool InnServer::Exchange(const std::string& command, std::string& status,
                         const std::string& group) {
    const bool needsLogIn = group.starts_with(LOGIN_HIERARCHY);
    // A kept connection may have been closed by the server while idle: one fresh try.
    const bool wasConnected = m_fd >= 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!EnsureConnected()) {
            return false;
        }
        if (needsLogIn && !m_loggedIn && !LogIn()) {
            CloseConnection();
            return false;
        }
        if (SendAll(command + "\r\n") && ReadStatusLine(status)) {
            return true;
        }
        CloseConnection();
        if (!wasConnected) {
            break;
        }
    }
    m_error = command + ": " + m_error;
    return false;
}

bool InnServer::EnsureConnected() {
    if (m_fd >= 0) {
        return true;
    }
    if (!Available()) {
        return Fail(SkipReason());
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved =
        ::getaddrinfo(m_host.c_str(), std::to_string(m_port).c_str(), &hints, &found);
    if (resolved != 0) {
        return Fail("cannot resolve " + m_host + ": " + ::gai_strerror(resolved));
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, ::freeaddrinfo);
    std::string failure = "no address";
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        const int fd =
            ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) {
            failure = std::strerror(errno);
            continue;
        }
        // Bounded waits: a server that stops answering fails the test instead of hanging it.
        const timeval limit{static_cast<time_t>(IO_TIMEOUT.count()), 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd, entry->ai_addr, entry->ai_addrlen) == 0) {
            m_fd = fd;
            break;
        }
        failure = std::strerror(errno);
        ::close(fd);
    }
    if (m_fd < 0) {
        return Fail("cannot connect to the news server " + m_address + ": " + failure +
                    " (is it running? scripts/inn-server start)");
    }
    m_pending.clear();
    std::string greeting;
    if (!ReadStatusLine(greeting)) {
        CloseConnection();
        return Fail("no greeting from " + m_address + ": " + m_error);
    }
    // RFC 3977, 5.1.1: 200 allows posting, 201 does not.
    if (!greeting.starts_with("200")) {
        CloseConnection();
        return Fail("the news server " + m_address + " does not allow posting: " + greeting);
    }
    return true;
}

void InnServer::CloseConnection() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_pending.clear();
    m_loggedIn = false;
}

bool InnServer::LogIn() {
    if (m_user.empty()) {
        return Fail("no user to log in as: " + SecureSkipReason());
    }
    // RFC 4643, 2.3: 381 asks for the password, 281 accepts. The failures name the step, never
    // the password.
    std::string status;
    if (!SendAll("AUTHINFO USER " + m_user + "\r\n") || !ReadStatusLine(status)) {
        return Fail("AUTHINFO USER " + m_user + ": " + m_error);
    }
    if (status.starts_with("381")) {
        if (!SendAll("AUTHINFO PASS " + m_password + "\r\n") || !ReadStatusLine(status)) {
            return Fail("AUTHINFO PASS: " + m_error);
        }
    }
    if (!status.starts_with("281")) {
        return Fail("logging in as " + m_user + " failed: " + status);
    }
    m_loggedIn = true;
    return true;
}

bool InnServer::LogAvailable() const {
    return !m_logPath.empty() && ::access(m_logPath.c_str(), R_OK) == 0;
}

std::string InnServer::MarkLog() {
    if (!LogAvailable()) {
        Fail(std::string(LOG_VARIABLE) + " names no log that can be read ('" + m_logPath + "')");
        return {};
    }
    static std::atomic<unsigned> counter{0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const std::string mark = "zarvo-tests mark p" + std::to_string(::getpid()) + ".n" +
                             std::to_string(++counter) + ".t" + std::to_string(seconds.count());
    // The log only grows while the server runs: the mark lands after what is there now.
    std::error_code ignored;
    const std::uintmax_t size = std::filesystem::file_size(m_logPath, ignored);
    const std::uintmax_t from = size == static_cast<std::uintmax_t>(-1) ? 0 : size;
    ::syslog(LOG_USER | LOG_NOTICE, "%s", mark.c_str());
    const auto deadline = std::chrono::steady_clock::now() + SETTLE_TIMEOUT;
    while (ReadFrom(m_logPath, from).find(mark) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            Fail("the mark '" + mark + "' did not reach " + m_logPath + " within " +
                 std::to_string(SETTLE_TIMEOUT.count()) + " s");
            return {};
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    return mark;
}

std::optional<int> InnServer::CountLogLinesSince(const std::string& mark, const std::string& text) {
    const std::string end = MarkLog();
    if (end.empty()) {
        return std::nullopt;
    }
    const std::string log = ReadFrom(m_logPath, 0);
    const std::size_t from = log.find(mark);
    if (from == std::string::npos) {
        Fail("the mark '" + mark + "' is not in " + m_logPath);
        return std::nullopt;
    }
    const std::size_t to = log.find(end, from);
    int count = 0;
    for (std::size_t line = log.find('\n', from); line < to;) {
        const std::size_t next = log.find('\n', line + 1);
        if (log.substr(line + 1, next - line - 1).find(text) != std::string::npos) {
            ++count;
        }
        line = next;
    }
    return count;
}

bool InnServer::SendAll(std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            return Fail(std::string("sending failed: ") +
                        (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)
                             ? "timed out"
                             : std::strerror(errno)));
        }
    }
    return true;
}

bool InnServer::ReadStatusLine(std::string& line) {
    std::array<char, 4096> chunk;
    for (;;) {
        const std::size_t end = m_pending.find("\r\n");
        if (end != std::string::npos) {
            line.assign(m_pending, 0, end);
            m_pending.erase(0, end + 2);
            return true;
        }
        if (m_pending.size() > MAX_STATUS_LINE) {
            return Fail("the server sent a status line longer than " +
                        std::to_string(MAX_STATUS_LINE) + " bytes");
        }
        // INN writes a status line and what follows in separate writes; acknowledge at once
        // (Linux clears the flag again by itself) rather than wait for the delayed ACK.
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const ssize_t got = ::recv(m_fd, chunk.data(), chunk.size(), 0);
        if (got > 0) {
            m_pending.append(chunk.data(), static_cast<std::size_t>(got));
        } else if (got == 0) {
            return Fail("the server closed the connection");
        } else if (errno != EINTR) {
            return Fail(errno == EAGAIN || errno == EWOULDBLOCK
                            ? "no reply within " + std::to_string(IO_TIMEOUT.count()) + " s"
                            : std::string("receiving failed: ") + std::strerror(errno));
        }
    }
}

}  // namespace test
