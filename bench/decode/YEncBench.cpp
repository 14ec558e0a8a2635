// yencbench: the yEnc decoder's throughput (decoding and CRC-32 together, through
// DecodeYEncArticle) and peak memory, on 64 parts of 716,800 bytes (the usual part size of
// today's posts) and on one single-part file of 200 MB, beside Debian's python3-sabyenc on the
// very same article bytes in the same run. Each round runs Zarvo's decoder and the peer's once
// per workload, alternating, each in a child process of its own (so that peak memory is the
// decoder's); the medians of the rounds and their ratio are printed. It also prints what the
// data-line decoder alone does on each path this processor has.
//
// Usage: yencbench [rounds] [peer script]   (5 rounds by default; the peer script defaults to
// sabyenc-peer.py beside this source, run with /usr/bin/python3; without it, or without the
// python3-sabyenc package, only Zarvo's figures are printed). bench/decode/run-yenc-bench
// installs the peer, builds in Release and runs it.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "bench/decode/ChildProcess.h"
#include "decode/Crc32.h"
#include "decode/YEncArticle.h"
#include "decode/YEncLines.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* CHILD_FLAG = "--decode-child";
constexpr const char* PYTHON = "/usr/bin/python3";
constexpr std::size_t PART_SIZE = 716'800;
constexpr std::size_t PART_COUNT = 64;
constexpr std::size_t LARGE_SIZE = 200'000'000;
constexpr std::size_t LINE_LENGTH = 128;

// splitmix64: reproducible bytes that no decoder can shortcut.
struct Random {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

std::string RandomBytes(std::size_t size, std::uint64_t seed) {
    Random random{seed};
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t value = random.Next();
        for (std::size_t b = 0; b < 8 && i + b < size; ++b) {
            bytes[i + b] = static_cast<char>(value >> (8 * b));
        }
    }
    return bytes;
}

// A yEnc block as posters write it: 128 characters a line, CR LF, the critical characters
// escaped, and TAB and space at a line's edges and "." at its start (so that no line needs
// dot-stuffing and the body is the same with or without it).
std::string Encode(const std::string& file, std::uint64_t begin, std::uint64_t end,
                   std::uint32_t part, std::uint32_t total, const std::string& name) {
    const std::string_view data = std::string_view(file).substr(begin - 1, end - begin + 1);
    std::string block;
    block.reserve(data.size() + data.size() / 32 + 256);
    char header[256];
    std::snprintf(header, sizeof header,
                  "=ybegin part=%u total=%u line=%zu size=%zu name=%s\r\n=ypart begin=%llu "
                  "end=%llu\r\n",
                  part, total, LINE_LENGTH, file.size(), name.c_str(),
                  static_cast<unsigned long long>(begin), static_cast<unsigned long long>(end));
    block += header;
    std::size_t column = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(static_cast<unsigned char>(data[i]) + 42);
        const bool edge = column == 0 || column + 1 >= LINE_LENGTH || i + 1 == data.size();
        if (c == 0 || c == '\n' || c == '\r' || c == '=' || (edge && (c == '\t' || c == ' ')) ||
            (column == 0 && c == '.')) {
            block += '=';
            block += static_cast<char>(c + 64);
            column += 2;
        } else {
            block += static_cast<char>(c);
            ++column;
        }
        if (column >= LINE_LENGTH || i + 1 == data.size()) {
            block += "\r\n";
            column = 0;
        }
    }
    std::snprintf(header, sizeof header, "=yend size=%zu part=%u pcrc32=%08x crc32=%08x\r\n",
                  data.size(), part, Crc32(data), Crc32(file));
    block += header;
    return block;
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The child: reads the article files (each as the server sends it, ending in the "." line),
// decodes each body `iterations` times over and prints "<best MB/s> <VmHWM kB>"; exits 1 when a
// part does not decode and verify.
int DecodeChild(int iterations, const std::vector<std::string>& files) {
    std::vector<std::string> bodies;
    for (const std::string& file : files) {
        std::string article = ReadWhole(file);
        // The session hands the decoder the body without its terminating "." line.
        article.resize(article.size() - 3);
        bodies.push_back(std::move(article));
    }
    double best = 0;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        std::uint64_t decoded = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& body : bodies) {
            const std::optional<CYEncPart> part = DecodeYEncArticle(body);
            if (!part || !part->Verified()) {
                std::printf("a part did not verify\n");
                return 1;
            }
            decoded += part->data.size();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, static_cast<double>(decoded) / seconds / 1e6);
    }
    std::printf("%.1f %ld\n", best, PeakKilobytesOfThisProcess());
    return 0;
}

struct ChildResult {
    bool ok = false;
    double megabytesPerSecond = 0;
    long peakKilobytes = 0;
};

// Runs a child that prints "<MB/s> <peak kB>" on its standard output.
ChildResult RunMeasuringChild(const std::vector<std::string>& arguments) {
    ChildResult result;
    const ChildRun run = RunChild(arguments);
    result.ok = run.ok && std::sscanf(run.output.c_str(), "%lf %ld", &result.megabytesPerSecond,
                                      &result.peakKilobytes) == 2;
    if (!result.ok) {
        std::printf("  child %s failed: %s\n", arguments[0].c_str(), run.output.c_str());
    }
    return result;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Workload {
    const char* what;
    std::vector<std::string> files;
    int iterations;  // decodes of the whole workload inside one child
    std::vector<double> ours;
    std::vector<double> peers;
    long ourPeak = 0;
    long peerPeak = 0;
};

// The data-line decoder alone on each path, on the 716,800-byte parts: no header lines, no
// buffer to allocate (the CRC is part of it).
void ReportPaths(const std::vector<std::string>& files) {
    std::vector<std::string> bodies;
    std::size_t decodedSize = 0;
    for (const std::string& file : files) {
        std::string body = ReadWhole(file);
        // From the first data line (after =ybegin and =ypart) to the end of the body.
        std::size_t start = body.find("\n=ypart");
        start = body.find('\n', start + 1) + 1;
        bodies.push_back(body.substr(start, body.size() - 3 - start));
        decodedSize += PART_SIZE;
    }
    std::string out(PART_SIZE * 2, '\0');
    std::printf("data lines alone (with their CRC), 64 parts of 716,800 bytes, best of 20:");
    for (const YEncPath path : AvailableYEncPaths()) {
        double best = 0;
        for (int iteration = 0; iteration < 20; ++iteration) {
            const auto start = std::chrono::steady_clock::now();
            for (const std::string& body : bodies) {
                DecodeYEncLines(body, reinterpret_cast<unsigned char*>(out.data()), 0, path);
            }
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            best = std::max(best, static_cast<double>(decodedSize) / seconds / 1e6);
        }
        std::printf("  %s %.0f MB/s", YEncPathName(path), best);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == CHILD_FLAG) {
        return DecodeChild(std::max(1, std::atoi(argv[2])),
                           std::vector<std::string>(argv + 3, argv + argc));
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string peer =
        argc > 2 ? argv[2] : (fs::path(__FILE__).parent_path() / "sabyenc-peer.py").string();
    std::error_code error;
    const std::string self = fs::read_symlink("/proc/self/exe", error).string();
    if (error) {
        std::fprintf(stderr, "yencbench: cannot find its own executable\n");
        return 1;
    }
    const bool withPeer = fs::exists(PYTHON) && fs::exists(peer) &&
                          std::system("/usr/bin/python3 -c 'import sabyenc3' 2>/dev/null") == 0;
    std::string pattern = (fs::temp_directory_path() / "yencbench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "yencbench: cannot make a temporary folder\n");
        return 1;
    }
    const fs::path folder = pattern;

    // The articles as the server sends them: the body, then the "." line. No line starts with
    // ".", so the body is the same dot-stuffed or not.
    const auto write = [&](const std::string& name, const std::string& block) {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << block << ".\r\n";
        return path.string();
    };
    Workload parts{"64 parts of 716,800 bytes", {}, 20, {}, {}, 0, 0};
    {
        const std::string file = RandomBytes(PART_SIZE * PART_COUNT, 1);
        for (std::uint32_t part = 0; part < PART_COUNT; ++part) {
            parts.files.push_back(write("part" + std::to_string(part + 1),
                                        Encode(file, part * PART_SIZE + 1, (part + 1) * PART_SIZE,
                                               part + 1, PART_COUNT, "bench-parts.jpg")));
        }
    }
    Workload large{"one 200 MB single-part file", {}, 3, {}, {}, 0, 0};
    {
        const std::string file = RandomBytes(LARGE_SIZE, 2);
        large.files.push_back(write("large", Encode(file, 1, LARGE_SIZE, 1, 1, "bench-200MB.jpg")));
    }

    std::printf(
        "yencbench: %d rounds, each Zarvo's decoder and then %s, in children of their own;\n"
        "MB = 10^6 bytes of decoded output, decoding and CRC-32 included; fastest path: %s\n",
        rounds, withPeer ? "python3-sabyenc" : "(no peer: python3-sabyenc missing)",
        YEncPathName(FastestYEncPath()));
    ReportPaths(parts.files);
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        for (Workload* workload : {&parts, &large}) {
            std::vector<std::string> ourArguments{self, CHILD_FLAG,
                                                  std::to_string(workload->iterations)};
            ourArguments.insert(ourArguments.end(), workload->files.begin(), workload->files.end());
            const ChildResult ours = RunMeasuringChild(ourArguments);
            ok = ok && ours.ok;
            workload->ours.push_back(ours.megabytesPerSecond);
            workload->ourPeak = std::max(workload->ourPeak, ours.peakKilobytes);
            if (withPeer) {
                std::vector<std::string> peerArguments{PYTHON, peer,
                                                       std::to_string(workload->iterations)};
                peerArguments.insert(peerArguments.end(), workload->files.begin(),
                                     workload->files.end());
                const ChildResult theirs = RunMeasuringChild(peerArguments);
                ok = ok && theirs.ok;
                workload->peers.push_back(theirs.megabytesPerSecond);
                workload->peerPeak = std::max(workload->peerPeak, theirs.peakKilobytes);
            }
        }
    }
    if (ok) {
        for (const Workload* workload : {&parts, &large}) {
            const double ours = Median(workload->ours);
            std::printf("%s:\n  zarvo    %8.0f MB/s (median of %d)  peak %7ld kB\n", workload->what,
                        ours, rounds, workload->ourPeak);
            if (withPeer) {
                const double theirs = Median(workload->peers);
                std::printf(
                    "  sabyenc  %8.0f MB/s (median of %d)  peak %7ld kB\n"
                    "  ratio    %.2fx sabyenc's MB/s\n",
                    theirs, rounds, workload->peerPeak, ours / theirs);
            }
        }
    }
    fs::remove_all(folder, error);
    return ok ? 0 : 1;
}
