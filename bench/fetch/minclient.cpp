// The least a client can do to fetch a group: GROUP, then HEAD and BODY for every article in
// turn, each reply read to its end and thrown away. It is the yardstick for the fetch worker's
// speed: whatever the worker costs beyond it is our own code's cost.
//
// Usage: minclient --server HOST[:PORT] --group NAME

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int g_fd = -1;
std::string g_pending;

// Reads until `end` has arrived; returns the bytes up to and including it.
std::string ReadUntil(const std::string& end) {
    char buffer[256 * 1024];
    for (;;) {
        const std::size_t at = g_pending.find(end);
        if (at != std::string::npos) {
            std::string reply = g_pending.substr(0, at + end.size());
            g_pending.erase(0, at + end.size());
            return reply;
        }
        const int one = 1;
        setsockopt(g_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const ssize_t got = recv(g_fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            std::fprintf(stderr, "connection closed\n");
            std::exit(1);
        }
        g_pending.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string Command(const std::string& line) {
    const std::string out = line + "\r\n";
    send(g_fd, out.data(), out.size(), MSG_NOSIGNAL);
    return ReadUntil("\r\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string server = "127.0.0.1:119";
    std::string group;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        (option == "--server" ? server : group) = argv[i + 1];
    }
    const std::size_t colon = server.rfind(':');
    const std::string host = colon == std::string::npos ? server : server.substr(0, colon);
    const std::string port = colon == std::string::npos ? "119" : server.substr(colon + 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* address = nullptr;
    if (group.empty() || getaddrinfo(host.c_str(), port.c_str(), &hints, &address) != 0) {
        std::fprintf(stderr, "usage: minclient --server HOST[:PORT] --group NAME\n");
        return 2;
    }
    g_fd = socket(address->ai_family, SOCK_STREAM, 0);
    if (connect(g_fd, address->ai_addr, address->ai_addrlen) != 0) {
        std::perror("connect");
        return 1;
    }
    freeaddrinfo(address);
    ReadUntil("\r\n");  // greeting
    const auto start = std::chrono::steady_clock::now();
    unsigned long count = 0, first = 0, last = 0;
    std::sscanf(Command("GROUP " + group).c_str(), "211 %lu %lu %lu", &count, &first, &last);
    unsigned long articles = 0, bytes = 0;
    for (unsigned long n = first; n <= last && last != 0; ++n) {
        for (const char* verb : {"HEAD ", "BODY "}) {
            if (Command(verb + std::to_string(n))[0] == '2') {
                bytes += ReadUntil("\r\n.\r\n").size();
            }
        }
        ++articles;
    }
    Command("QUIT");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf(
        "minclient: articles %lu bytes %lu seconds %.3f articles/s %.1f MB/s %.2f cpu %.3f s "
        "(%.1f us/article) peak-rss %ld KiB\n",
        articles, bytes, seconds, static_cast<double>(articles) / seconds,
        static_cast<double>(bytes) / seconds / 1e6, cpu, cpu / static_cast<double>(articles) * 1e6,
        usage.ru_maxrss);
    return 0;
}
