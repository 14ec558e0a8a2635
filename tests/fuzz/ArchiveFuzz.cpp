// The archive extractor on fuzzed archives (any of ZIP, RAR 4 and 5, 7z), with small limits.
// Beyond memory errors it holds: nothing is written outside the work folder; the work folder
// holds exactly the files handed over, each a picture's complete bytes; what is handed over
// stays within the size and count limits; and the archive cut into two volumes, as a split
// "x.7z.001" and "x.7z.002", gives exactly what it gives in one piece: the same outcome, the same
// pictures in the same order, the same count passed over.
//
// Input: one byte that chooses where to cut, then the archive. The seeds are small archives
// made with tests/support/ArchiveWriter.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "decode/CArchiveExtractor.h"
#include "tests/fuzz/CFuzzScratch.h"

namespace {

namespace fs = std::filesystem;

const CArchiveLimits LIMITS{64 << 10, 32};

struct Extracted {
    CArchiveExtractor::Result result;
    std::vector<std::pair<std::string, std::string>> pictures;  // name, bytes, in handed order
};

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Extracted Extract(const std::vector<std::string>& volumes, const fs::path& work) {
    fs::create_directory(work);
    Extracted extracted;
    std::set<fs::path> handed;
    extracted.result = CArchiveExtractor::Extract(
        volumes, work.string(), LIMITS, [&](const CArchiveExtractor::Picture& picture) {
            if (fs::path(picture.temporary).parent_path() != work) {
                fuzz::Broken("a picture was handed over outside the work folder");
            }
            handed.insert(picture.temporary);
            extracted.pictures.emplace_back(picture.name, ReadWhole(picture.temporary));
            return true;
        });
    std::set<fs::path> present;
    for (const fs::directory_entry& entry : fs::directory_iterator(work)) {
        present.insert(entry.path());
    }
    if (present != handed) {
        fuzz::Broken("the work folder holds other files than those handed over");
    }
    std::uint64_t bytes = 0;
    for (const auto& [name, content] : extracted.pictures) {
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            fuzz::Broken("a picture's name is no plain file name");
        }
        bytes += content.size();
    }
    if (bytes > LIMITS.maxBytes || extracted.pictures.size() > LIMITS.maxFiles ||
        extracted.result.pictures != extracted.pictures.size()) {
        fuzz::Broken("more was handed over than the limits allow, or than was counted");
    }
    return extracted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::CFuzzScratch scratch;
    if (size < 1) {
        return 0;
    }
    const fs::path folder = scratch.Folder();
    const std::string_view archive(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t cut = data[0] * archive.size() / 255;
    Write(folder / "whole.7z", archive);
    Write(folder / "cut.7z.001", archive.substr(0, cut));
    Write(folder / "cut.7z.002", archive.substr(cut));

    const Extracted whole = Extract({(folder / "whole.7z").string()}, folder / "work-whole");
    const Extracted pieces = Extract(
        {(folder / "cut.7z.001").string(), (folder / "cut.7z.002").string()}, folder / "work-cut");

    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    if (names !=
        std::set<std::string>{"whole.7z", "cut.7z.001", "cut.7z.002", "work-whole", "work-cut"}) {
        fuzz::Broken("something was written outside the work folders");
    }
    if (whole.result.outcome != pieces.result.outcome || whole.pictures != pieces.pictures ||
        whole.result.passedOver != pieces.result.passedOver ||
        whole.result.log.empty() != pieces.result.log.empty()) {
        fuzz::Broken("the archive cut in two volumes gives other pictures than in one piece");
    }
    scratch.Clear();
    return 0;
}
