// Posts N uuencoded pictures of about S bytes each (pseudo-random data) to an existing group,
// for the fetch benchmark. Usage: postpictures --server HOST:PORT --group NAME --count N --size S

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/InnServer.h"
#include "tests/support/UUEncode.h"

int main(int argc, char** argv) {
    std::string server = "127.0.0.1:119";
    std::string group;
    unsigned long count = 0;
    unsigned long size = 0;
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
        }
    }
    if (group.empty() || count == 0 || size == 0) {
        std::fprintf(stderr,
                     "usage: postpictures --server HOST:PORT --group NAME --count N --size S\n");
        return 2;
    }
    test::InnServer inn(server);
    for (unsigned long n = 0; n < count; ++n) {
        const std::string data = test::PictureBytes(size, static_cast<unsigned>(n + 1));
        const std::string name = "picture" + std::to_string(n) + ".jpg";
        const std::string body = "A picture for the benchmark.\r\n\r\n" +
                                 test::UUEncode(data, name, "\r\n") + "-- \r\nbench\r\n";
        if (inn.Post(group, name, body).empty()) {
            std::fprintf(stderr, "posting failed: %s\n", inn.Error().c_str());
            return 1;
        }
    }
    if (!inn.WaitForArticles(group, static_cast<std::uint32_t>(count))) {
        std::fprintf(stderr, "%s\n", inn.Error().c_str());
        return 1;
    }
    return 0;
}
