// Posts a mixed group to an existing group of the local INN, as today's picture groups look:
// pictures in one and in several yEnc parts, ZIP sets of pictures, a picture under a name that
// says nothing, and beside them most of the bytes in videos, an archive set of a video, and the
// PAR2 and NFO files of the sets. Prints the bytes of the articles a picture collector needs
// (those of the pictures and the archives of pictures) and of all the articles, as the bodies
// the server gives back, for run-mixed-bench.
// Usage: postmixed --server HOST:PORT --group NAME [--scale N (1 by default: about 105 MB)]

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/ArchiveWriter.h"
#include "tests/support/InnServer.h"
#include "tests/support/UUEncode.h"
#include "tests/support/YEncEncode.h"

namespace {

constexpr std::size_t PART = 716800;  // the part size today's posting tools use

struct CPoster {
    test::InnServer& inn;
    std::string group;
    unsigned long long wanted = 0;
    unsigned long long total = 0;
    unsigned long articles = 0;

    // Posts `file` as yEnc in parts of PART bytes; false when posting failed.
    bool Post(const std::string& name, const std::string& file, bool needed) {
        const std::uint32_t count = static_cast<std::uint32_t>((file.size() + PART - 1) / PART);
        for (std::uint32_t part = 1; part <= count; ++part) {
            const std::string body =
                count == 1 ? test::YEncEncode(file, name) : test::YEncPart(file, name, part, count);
            const std::string subject = "\"" + name + "\" yEnc (" + std::to_string(part) + "/" +
                                        std::to_string(count) + ") " + std::to_string(file.size());
            if (inn.Post(group, subject, body).empty()) {
                std::fprintf(stderr, "posting failed: %s\n", inn.Error().c_str());
                return false;
            }
            ++articles;
            total += body.size();
            wanted += needed ? body.size() : 0;
        }
        return true;
    }
};

// "prefix<number>suffix", built piece by piece: GCC 12 at -O2 warns of an overlapping copy
// (-Wrestrict) in a literal + std::string temporary.
std::string Name(std::string prefix, unsigned number, const char* suffix) {
    prefix += std::to_string(number);
    prefix += suffix;
    return prefix;
}

}  // namespace

int main(int argc, char** argv) {
    std::string server = "127.0.0.1:119";
    std::string group;
    unsigned scale = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--server") {
            server = argv[i + 1];
        } else if (option == "--group") {
            group = argv[i + 1];
        } else if (option == "--scale") {
            scale = static_cast<unsigned>(std::max(1L, std::strtol(argv[i + 1], nullptr, 10)));
        }
    }
    if (group.empty()) {
        std::fprintf(stderr, "usage: postmixed --server HOST:PORT --group NAME [--scale N]\n");
        return 2;
    }
    test::InnServer inn(server);
    CPoster poster{inn, group};
    unsigned seed = 1;
    bool posted = true;
    for (unsigned round = 0; round < scale && posted; ++round) {
        for (int i = 0; i < 60 && posted; ++i) {
            posted =
                poster.Post(Name("photo", seed, ".jpg"), test::PictureBytes(100000, seed), true);
            ++seed;
        }
        for (int i = 0; i < 10 && posted; ++i) {
            posted = poster.Post(Name("large", seed, ".jpg"),
                                 test::PictureBytes(3 * PART - 1000, seed), true);
            ++seed;
        }
        for (int set = 0; set < 2 && posted; ++set) {
            std::vector<test::ArchiveEntry> entries;
            for (int i = 0; i < 10; ++i) {
                entries.push_back({Name("p", static_cast<unsigned>(i), ".jpg"),
                                   test::PictureBytes(100000, seed++), test::EntryKind::File});
            }
            const std::string name = Name("set", seed, "");
            // Pictures hardly compress: stored in effect, as in today's sets.
            posted =
                poster.Post(name + ".zip", test::ZipArchive(entries), true) &&
                poster.Post(name + ".nfo", std::string(2000, 'n'), false) &&
                poster.Post(name + ".par2", test::PictureBytes(50000, seed++), false) &&
                poster.Post(name + ".vol00+05.par2", test::PictureBytes(500000, seed++), false);
        }
        posted = posted &&
                 poster.Post(Name("a", seed, "f9e8d7c6"), test::PictureBytes(300000, seed), true);
        ++seed;
        for (int video = 0; video < 5 && posted; ++video) {
            posted = poster.Post(Name("holiday", seed, ".mkv"), test::PictureBytes(10000000, seed),
                                 false);
            ++seed;
        }
        for (int volume = 1; volume <= 5 && posted; ++volume) {
            posted =
                poster.Post(Name("movie", round, ".mkv.part0") + std::to_string(volume) + ".rar",
                            test::PictureBytes(3000000, seed++), false);
        }
    }
    if (!posted) {
        return 1;
    }
    if (!inn.WaitForArticles(group, static_cast<std::uint32_t>(poster.articles))) {
        std::fprintf(stderr, "%s\n", inn.Error().c_str());
        return 1;
    }
    std::printf("postmixed: articles %lu wanted-bytes %llu total-bytes %llu (%.0f%% not wanted)\n",
                poster.articles, poster.wanted, poster.total,
                100.0 * static_cast<double>(poster.total - poster.wanted) /
                    static_cast<double>(poster.total));
    return 0;
}
