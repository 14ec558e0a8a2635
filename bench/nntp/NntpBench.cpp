// Measures how fast one news server session reads a group's articles, HEAD and BODY each, the
// way the fetch worker does. It posts N articles of about S bytes to a fresh group on a real
// server (made and removed through scripts/inn-server), reads them all with Open and
// ReadMessage, checks every body and prints one line:
//
//   articles N bytes B seconds T pairs/s P MB/s M
//
// Usage: nntpbench [--server HOST:PORT] [--articles N] [--size BYTES]
// The server defaults to ZARVO_INN, then 127.0.0.1:119. The client's log goes to standard
// error, so that standard output holds the result line alone.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "nntp/CNewsServer.h"
#include "platform/Console.h"
#include "tests/support/InnServer.h"

namespace {

struct Options {
    std::string server;
    unsigned long articles = 2000;
    unsigned long size = 20 * 1024;
};

bool ParseCount(const char* text, unsigned long& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || parsed == 0) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    const char* fromEnvironment = std::getenv(test::InnServer::ENVIRONMENT_VARIABLE);
    options.server =
        fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : "127.0.0.1:119";
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (option == "--server") {
            options.server = value;
        } else if (option == "--articles") {
            if (!ParseCount(value, options.articles)) {
                return false;
            }
        } else if (option == "--size") {
            if (!ParseCount(value, options.size)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

// About `size` bytes of uuencoded-looking lines, different for every article.
std::string ArticleBody(unsigned long article, unsigned long size) {
    std::string body = "begin 644 picture" + std::to_string(article) + ".jpg\r\n";
    body.reserve(size + 64);
    static constexpr std::string_view ALPHABET =
        "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    for (unsigned long line = 0; body.size() < size; ++line) {
        body += 'M';
        for (unsigned long k = 0; k < 60; ++k) {
            body += ALPHABET[(article * 31 + line * 7 + k) % ALPHABET.size()];
        }
        body += "\r\n";
    }
    return body + "`\r\nend\r\n";
}

// The processor time this process has used so far, user and system.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "nntpbench: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: nntpbench [--server HOST:PORT] [--articles N] [--size BYTES]\n");
        return 2;
    }
    platform::SetConsoleSink(
        [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); });

    test::InnServer inn(options.server);
    if (!inn.Available()) {
        return Fail(inn.Error());
    }
    const std::string group = inn.CreateGroup();
    if (group.empty()) {
        return Fail(inn.Error());
    }
    using Clock = std::chrono::steady_clock;
    // Made before the clock runs, so that checking a body costs only the comparison.
    std::vector<std::string> bodies;
    bodies.reserve(options.articles);
    for (unsigned long i = 0; i < options.articles; ++i) {
        bodies.push_back(ArticleBody(i, options.size));
    }
    const Clock::time_point postStart = Clock::now();
    for (unsigned long i = 0; i < options.articles; ++i) {
        if (inn.Post(group, "nntpbench " + std::to_string(i), bodies[i]).empty()) {
            return Fail(inn.Error());
        }
    }
    if (!inn.WaitForArticles(group, static_cast<std::uint32_t>(options.articles))) {
        return Fail(inn.Error());
    }
    const std::chrono::duration<double> postTime = Clock::now() - postStart;
    std::fprintf(stderr, "nntpbench: posted %lu articles to %s in %.2f s\n", options.articles,
                 group.c_str(), postTime.count());

    CNewsServer session(inn.Address(), CNewsServer::NNTP_PORT);
    std::unique_ptr<CNewsGroup> selected;
    if (!session.Init() || !session.Connect() || !session.Open(group, selected)) {
        return Fail("could not select " + group + " on " + inn.Address());
    }
    const auto first = static_cast<std::uint32_t>(selected->first);
    const auto last = static_cast<std::uint32_t>(selected->last);
    if (last < first || last - first + 1 != options.articles) {
        return Fail("the group holds articles " + std::to_string(first) + " to " +
                    std::to_string(last) + ", not " + std::to_string(options.articles));
    }

    std::uint64_t bytes = 0;
    unsigned long wrong = 0;
    const double cpuStart = CpuSeconds();
    const Clock::time_point readStart = Clock::now();
    for (std::uint32_t number = first; number <= last; ++number) {
        const std::unique_ptr<CNewsMessage> message = session.ReadMessage(number);
        if (!message) {
            return Fail("article " + std::to_string(number) + " could not be read");
        }
        bytes += message->headerLength + message->bodyLength;
        if (message->body != bodies[number - first]) {
            ++wrong;
        }
    }
    const std::chrono::duration<double> readTime = Clock::now() - readStart;
    const double cpu = CpuSeconds() - cpuStart;
    session.Disconnect();
    if (wrong != 0) {
        return Fail(std::to_string(wrong) + " bodies differ from what was posted");
    }

    const double seconds = readTime.count();
    // Tells whether the client or the server sets the pace.
    std::fprintf(stderr, "nntpbench: the client used %.3f s of processor time while reading\n",
                 cpu);
    std::printf("articles %lu bytes %llu seconds %.3f pairs/s %.0f MB/s %.1f\n", options.articles,
                static_cast<unsigned long long>(bytes), seconds,
                static_cast<double>(options.articles) / seconds,
                static_cast<double>(bytes) / seconds / 1e6);
    return 0;
}
