// Posts N uuencoded pictures of about S bytes each (pseudo-random data) to an existing group,
// for the fetch benchmark. With --list it also writes one line per article to FILE:
// "<message-id> BYTES NAME", BYTES being the body as a BODY reply carries it (dot-stuffed, with
// the terminating line, without the status line) and NAME the picture's file name.
// Usage: postpictures --server HOST:PORT --group NAME --count N --size S [--list FILE]

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/InnServer.h"
#include "tests/support/UUEncode.h"

int main(int argc, char** argv) {
    std::string server = "127.0.0.1:119";
    std::string group;
    unsigned long count = 0;
    unsigned long size = 0;
    std::string listPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--server") {
            server = value;
        } else if (option == "--group") {
            group = value;
        } else if (option == "--count") {
            count = std::strtoul(value, nullptr, 10);
        } else if (option == "--size") {
            size = std::strtoul(value, nullptr, 10);
        } else if (option == "--list") {
            listPath = value;
        }
    }
    if (group.empty() || count == 0 || size == 0) {
        std::fprintf(stderr,
                     "usage: postpictures --server HOST:PORT --group NAME --count N --size S "
                     "[--list FILE]\n");
        return 2;
    }
    std::ofstream list;
    if (!listPath.empty()) {
        list.open(listPath);
        if (!list) {
            std::fprintf(stderr, "cannot write %s\n", listPath.c_str());
            return 1;
        }
    }
    test::InnServer inn(server);
    for (unsigned long n = 0; n < count; ++n) {
        const std::string data = test::PictureBytes(size, static_cast<unsigned>(n + 1));
        const std::string name = "picture" + std::to_string(n) + ".jpg";
        const std::string body = "A picture for the benchmark.\r\n\r\n" +
                                 test::UUEncode(data, name, "\r\n") + "-- \r\nbench\r\n";
        const std::string id = inn.Post(group, name, body);
        if (id.empty()) {
            std::fprintf(stderr, "posting failed: %s\n", inn.Error().c_str());
            return 1;
        }
        if (list.is_open()) {
            // Each line that begins with "." gets one more; ".\r\n" ends the reply.
            std::size_t wireBytes = body.size() + 3 + (body.starts_with('.') ? 1 : 0);
            for (std::size_t at = body.find("\n."); at != std::string::npos;
                 at = body.find("\n.", at + 1)) {
                ++wireBytes;
            }
            list << id << ' ' << wireBytes << ' ' << name << '\n';
        }
    }
    if (!inn.WaitForArticles(group, static_cast<std::uint32_t>(count))) {
        std::fprintf(stderr, "%s\n", inn.Error().c_str());
        return 1;
    }
    if (list.is_open()) {
        list.close();
        if (list.fail()) {
            std::fprintf(stderr, "cannot write %s\n", listPath.c_str());
            return 1;
        }
    }
    return 0;
}
