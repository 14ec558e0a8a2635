// The content index on whatever a damaged or foreign file may hold. Beyond memory errors it
// checks that an index that reads is read the same by a fresh object after Flush and after
// ForgetMissing, that ForgetMissing forgets what CountMissing counted, and that the file written
// in pieces by separate appends reads, after each piece, as a part of the whole and at the end as
// the whole. Opening with the stop flag set never writes: a damaged file fails instead.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/CContentIndex.h"
#include "tests/fuzz/CFuzzScratch.h"

namespace {

const std::atomic<bool> STOP = true;
constexpr const char* WHOLE = "whole.index";
constexpr const char* PIECES = "pieces.index";

// The digest each line would name: its first 64 characters read as hex, whatever they are.
std::vector<CContentIndex::Digest> Candidates(std::string_view text) {
    std::vector<CContentIndex::Digest> digests{CContentIndex::DigestOf("added")};
    std::size_t start = 0;
    while (start < text.size()) {
        if (text.size() - start >= 64) {
            CContentIndex::Digest& digest = digests.emplace_back();
            for (std::size_t i = 0; i < digest.size(); ++i) {
                const auto nibble = [&](std::size_t at) {
                    const int c = text[start + at];
                    return (c & 0x40 ? c + 9 : c) & 0xF;  // right for 0-9 and a-f
                };
                digest[i] = static_cast<unsigned char>(nibble(2 * i) << 4 | nibble(2 * i + 1));
            }
        }
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return digests;
}

bool Open(CContentIndex& index, const char* path) {
    std::string error;
    return index.Open(path, "images", error, {}, &STOP);
}

void ExpectSame(const CContentIndex& fresh, const CContentIndex& index,
                const std::vector<CContentIndex::Digest>& candidates, const char* invariant) {
    if (fresh.Size() != index.Size()) {
        fuzz::Broken(invariant);
    }
    for (const CContentIndex::Digest& digest : candidates) {
        if (fresh.Contains(digest) != index.Contains(digest)) {
            fuzz::Broken(invariant);
        }
    }
}

void Append(const char* path, std::string_view piece) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) {
        fuzz::Broken("the scratch folder takes an append");
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::CFuzzScratch scratch;
    scratch.Clear();
    FuzzedDataProvider input(data, size);
    std::vector<std::size_t> cuts(input.ConsumeIntegralInRange<std::size_t>(0, 6));
    for (std::size_t& cut : cuts) {
        cut = input.ConsumeIntegralInRange<std::size_t>(0, 200);
    }
    const std::string text = input.ConsumeRemainingBytesAsString();
    const std::vector<CContentIndex::Digest> candidates = Candidates(text);
    Append(WHOLE, text);
    CContentIndex index;
    const bool loaded = Open(index, WHOLE);

    // In pieces: every piece that holds the first line whole reads when the whole does, as a
    // part of it; the last reads as the whole.
    std::size_t offset = 0;
    cuts.push_back(text.size());
    for (const std::size_t cut : cuts) {
        const std::size_t length = std::min(cut, text.size() - offset);
        Append(PIECES, std::string_view(text).substr(offset, length));
        offset += length;
        CContentIndex part;
        const bool partLoaded = Open(part, PIECES);
        const bool headerWhole = text.find('\n') < offset;
        if (loaded && headerWhole && (!partLoaded || part.Size() > index.Size())) {
            fuzz::Broken("a part of a readable index reads as a part of it");
        }
        if (offset == text.size() && partLoaded != loaded) {
            fuzz::Broken("an index appended in pieces reads as the whole");
        }
    }
    CContentIndex pieces;
    if (!loaded || !Open(pieces, PIECES)) {
        return 0;
    }
    ExpectSame(pieces, index, candidates, "an index appended in pieces reads as the whole");

    std::string error;
    index.Add(CContentIndex::DigestOf("added"), 5, "images/g/added.jpg");
    if (!index.Flush(error)) {
        fuzz::Broken("a readable index takes an append");
    }
    CContentIndex flushed;
    if (!Open(flushed, WHOLE)) {
        fuzz::Broken("an index reads after an append");
    }
    ExpectSame(flushed, index, candidates, "an index reads the same after an append");

    const std::size_t missing = index.CountMissing();
    if (index.ForgetMissing(error) != missing || index.CountMissing() != 0 ||
        index.Contains(CContentIndex::DigestOf("added"))) {
        fuzz::Broken("ForgetMissing forgets what CountMissing counts");
    }
    CContentIndex sifted;
    if (!Open(sifted, WHOLE)) {
        fuzz::Broken("an index reads after ForgetMissing");
    }
    ExpectSame(sifted, index, candidates, "an index reads the same after ForgetMissing");
    return 0;
}
