// decodebench: generates uuencoded articles of 20 MB and 200 MB of pseudo-random picture data in
// a temporary folder (removed at the end), decodes each with UUDecodeFile in a child process of
// its own (so the generator's memory does not count), checks the picture's SHA-256 against the
// data's, and prints the decoded MB/s and the decoder's peak memory. When /usr/bin/uudecode is
// installed it decodes the same articles in the same run and the ratio is printed.
//
// Usage: decodebench [runs]   (each decoder runs `runs` times per article, best time counts;
// default 3). Build it without sanitizers and with -DCMAKE_BUILD_TYPE=Release for figures.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "bench/decode/ChildProcess.h"
#include "decode/UUDecoder.h"
#include "platform/Console.h"
#include "platform/ProgramFolder.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* CHILD_FLAG = "--decode-child";
constexpr const char* SYSTEM_UUDECODE = "/usr/bin/uudecode";
constexpr const char* GROUP = "alt.binaries.bench";

// splitmix64: fast, reproducible picture bytes that no encoder can shortcut.
struct Random {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

char Encode(unsigned value) {
    return value == 0 ? '`' : static_cast<char>(value + 0x20);
}

// Writes `size` pseudo-random bytes to `data` and the article that carries them uuencoded (text
// before the block, begin line, 45-byte lines, "`", "end", a signature) to `article`. Streams
// through small buffers, so the generator stays small too.
void Generate(const fs::path& data, const fs::path& article, std::uint64_t size,
              const std::string& name) {
    std::ofstream raw(data, std::ios::binary);
    std::ofstream text(article, std::ios::binary);
    text << "Here is the picture.\n\nbegin 644 " << name << "\n";
    Random random{size};
    std::vector<unsigned char> block;
    std::string lines;
    constexpr std::size_t BLOCK_BYTES = 45 * 4096;
    std::uint64_t left = size;
    while (left > 0) {
        const std::size_t now =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, BLOCK_BYTES));
        block.resize((now + 7) / 8 * 8);
        for (std::size_t i = 0; i < block.size(); i += 8) {
            const std::uint64_t value = random.Next();
            for (std::size_t b = 0; b < 8; ++b) {
                block[i + b] = static_cast<unsigned char>(value >> (8 * b));
            }
        }
        block.resize(now);
        raw.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(now));
        lines.clear();
        for (std::size_t start = 0; start < now; start += 45) {
            const std::size_t count = std::min<std::size_t>(45, now - start);
            lines += Encode(static_cast<unsigned>(count));
            for (std::size_t i = 0; i < count; i += 3) {
                const unsigned a = block[start + i];
                const unsigned b = i + 1 < count ? block[start + i + 1] : 0;
                const unsigned c = i + 2 < count ? block[start + i + 2] : 0;
                lines += Encode(a >> 2);
                lines += Encode(((a & 0x03) << 4) | (b >> 4));
                lines += Encode(((b & 0x0F) << 2) | (c >> 6));
                lines += Encode(c & 0x3F);
            }
            lines += '\n';
        }
        text << lines;
        left -= now;
    }
    text << "`\nend\n-- \nsent by decodebench\n";
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string Sha256(const fs::path& file) {
    const std::string command = "sha256sum " + Quote(file.string());
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "?";
    }
    std::array<char, 65> digest{};
    const std::size_t count = std::fread(digest.data(), 1, 64, pipe);
    ::pclose(pipe);
    return std::string(digest.data(), count);
}

// The child: decodes one article in `folder` (made the current directory and program folder, as
// the fetch worker has it) and prints "<seconds in UUDecodeFile> <VmHWM kB> <returned path>".
int DecodeChild(const std::string& folder, const std::string& article) {
    std::error_code error;
    fs::current_path(folder, error);
    if (error) {
        return 2;
    }
    platform::SetProgramFolder(folder);
    // The progress lines are not what is measured; keep the child's output to its result.
    platform::SetConsoleSink([](std::string_view) {});
    const auto start = std::chrono::steady_clock::now();
    const std::string picture = UUDecodeFile(article, std::string(GROUP));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %ld %s\n", seconds, PeakKilobytesOfThisProcess(), picture.c_str());
    return picture.empty() ? 1 : 0;
}

struct Best {
    bool ok = true;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double callSeconds = 0;
    long peakKilobytes = 0;
};

// Keeps the best wall time and the best processor time of the runs.
void Keep(Best& best, int run, double wallSeconds, double cpuSeconds) {
    best.wallSeconds = run == 0 ? wallSeconds : std::min(best.wallSeconds, wallSeconds);
    best.cpuSeconds = run == 0 ? cpuSeconds : std::min(best.cpuSeconds, cpuSeconds);
}

void Report(const char* who, std::uint64_t size, const Best& best) {
    const double megabytes = static_cast<double>(size) / 1e6;
    std::printf("  %-10s wall %7.3f s %7.1f MB/s | cpu %7.3f s %7.1f MB/s | peak %6ld kB\n", who,
                best.wallSeconds, megabytes / best.wallSeconds, best.cpuSeconds,
                megabytes / best.cpuSeconds, best.peakKilobytes);
}

bool BenchOne(const fs::path& folder, const std::string& self, std::uint64_t size, int runs) {
    const std::string name = "bench-" + std::to_string(size / 1000000) + "MB.jpg";
    const fs::path data = folder / "data.bin";
    const fs::path article = folder / "article";
    const fs::path picture = folder / "images" / GROUP / name;
    const fs::path theirs = folder / "uudecode.out";
    Generate(data, article, size, name);
    const std::string expected = Sha256(data);
    fs::remove(data);
    std::printf("%llu MB of picture data, article %llu bytes, SHA-256 %.16s...\n",
                static_cast<unsigned long long>(size / 1000000),
                static_cast<unsigned long long>(fs::file_size(article)), expected.c_str());

    Best ours;
    for (int run = 0; run < runs; ++run) {
        fs::remove(picture);
        const ChildRun child = RunChild({self, CHILD_FLAG, folder.string(), article.string()});
        double callSeconds = 0;
        long peak = 0;
        std::array<char, 4096> path{};
        if (!child.ok ||
            std::sscanf(child.output.c_str(), "%lf %ld %4095s", &callSeconds, &peak, path.data()) !=
                3 ||
            fs::path(path.data()) != picture) {
            std::printf("  zarvo: decoding failed: %s\n", child.output.c_str());
            ours.ok = false;
            break;
        }
        ours.callSeconds = run == 0 ? callSeconds : std::min(ours.callSeconds, callSeconds);
        Keep(ours, run, child.wallSeconds, child.cpuSeconds);
        ours.peakKilobytes = std::max(ours.peakKilobytes, peak);
    }
    if (ours.ok && Sha256(picture) != expected) {
        std::printf("  zarvo: the picture's SHA-256 differs from the data's\n");
        ours.ok = false;
    }
    fs::remove(picture);
    if (!ours.ok) {
        return false;
    }
    Report("zarvo", size, ours);
    std::printf("  %-10s wall %7.3f s %7.1f MB/s inside UUDecodeFile alone\n", "", ours.callSeconds,
                static_cast<double>(size) / 1e6 / ours.callSeconds);

    struct stat status {};
    if (::stat(SYSTEM_UUDECODE, &status) == 0) {
        Best system;
        for (int run = 0; run < runs; ++run) {
            fs::remove(theirs);
            const ChildRun child =
                RunChild({SYSTEM_UUDECODE, "-o", theirs.string(), article.string()});
            if (!child.ok) {
                system.ok = false;
                break;
            }
            Keep(system, run, child.wallSeconds, child.cpuSeconds);
            system.peakKilobytes = std::max(system.peakKilobytes, child.peakKilobytes);
        }
        const bool same = system.ok && Sha256(theirs) == expected;
        fs::remove(theirs);
        if (same) {
            Report("uudecode", size, system);
            // Whole process against whole process. Processor time is the steadier figure when
            // other work shares the machine; wall time is what a user waits.
            std::printf(
                "  ratio      %.2fx uudecode's throughput by wall time, %.2fx by processor "
                "time\n",
                system.wallSeconds / ours.wallSeconds, system.cpuSeconds / ours.cpuSeconds);
        } else {
            std::printf("  uudecode: failed or gave other bytes; no ratio\n");
        }
    } else {
        std::printf("  (%s not installed: no comparison)\n", SYSTEM_UUDECODE);
    }
    fs::remove(article);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == CHILD_FLAG) {
        return DecodeChild(argv[2], argv[3]);
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::error_code error;
    const std::string self = fs::read_symlink("/proc/self/exe", error).string();
    if (error) {
        std::fprintf(stderr, "decodebench: cannot find its own executable\n");
        return 1;
    }
    std::string pattern = (fs::temp_directory_path() / "decodebench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "decodebench: cannot make a temporary folder\n");
        return 1;
    }
    const fs::path folder = pattern;
    fs::create_directories(folder / "images" / GROUP);
    std::printf("decodebench: best of %d runs each, MB = 10^6 bytes of decoded picture data\n",
                runs);
    // What the decoding child needs before any article counts: the program and its libraries.
    Generate(folder / "data.bin", folder / "article", 45, "tiny.jpg");
    const ChildRun tiny =
        RunChild({self, CHILD_FLAG, folder.string(), (folder / "article").string()});
    std::printf("baseline: a child decoding a 45-byte picture peaks at %ld kB\n",
                tiny.peakKilobytes);
    bool ok = tiny.ok;
    for (const std::uint64_t size : {20000000ull, 200000000ull}) {
        ok = BenchOne(folder, self, size, runs) && ok;
        std::fflush(stdout);
    }
    fs::remove_all(folder, error);
    return ok ? 0 : 1;
}
