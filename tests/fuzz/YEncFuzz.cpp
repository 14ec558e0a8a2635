// The yEnc decoder on fuzzed bodies. Beyond memory errors it holds: every vectorised path gives
// exactly what the byte loop gives, for the data lines alone and for whole blocks; a body cut
// after any line feed decodes, up to the cut, to a prefix of the whole, and the two pieces
// decoded one after the other (the CRC going on from the first) give the whole; the CRCs are
// those of the decoded bytes.
//
// Input: one byte that chooses where to cut, then the body.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "decode/Crc32.h"
#include "decode/YEncArticle.h"
#include "decode/YEncLines.h"
#include "tests/fuzz/CFuzzScratch.h"

namespace {

struct Decoded {
    std::string bytes;
    std::size_t consumed = 0;
    bool keywordLine = false;
    std::uint32_t crc = 0;
    bool operator==(const Decoded&) const = default;
};

Decoded Decode(std::string_view in, YEncPath path, std::uint32_t previousCrc = 0) {
    std::string out(in.size(), '\0');
    const YEncLinesResult result =
        DecodeYEncLines(in, reinterpret_cast<unsigned char*>(out.data()), previousCrc, path);
    if (result.written > in.size() || result.consumed > in.size()) {
        fuzz::Broken("the decoder reports more than its input");
    }
    out.resize(result.written);
    return {out, result.consumed, result.keywordLine, result.crc};
}

bool SamePart(const std::optional<CYEncPart>& a, const std::optional<CYEncPart>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    if (!a) {
        return true;
    }
    const auto fields = [](const CYEncPart& p) {
        return std::tie(p.name, p.fileSize, p.part, p.total, p.begin, p.end, p.data, p.dataCrc,
                        p.partCrc, p.fileCrc, p.endSize, p.endPart, p.ended, p.malformed);
    };
    return fields(*a) == fields(*b) && a->Verified() == b->Verified();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);

    const Decoded whole = Decode(body, YEncPath::Scalar);
    if (whole.crc != Crc32(whole.bytes)) {
        fuzz::Broken("the CRC is not that of the decoded bytes");
    }
    const std::optional<CYEncPart> part = DecodeYEncArticle(body, YEncPath::Scalar);
    if (part && part->dataCrc != Crc32(part->data)) {
        fuzz::Broken("the block's CRC is not that of its data");
    }
    for (const YEncPath path : AvailableYEncPaths()) {
        if (Decode(body, path) != whole) {
            fuzz::Broken("a vectorised path differs from the byte loop");
        }
        if (!SamePart(DecodeYEncArticle(body, path), part)) {
            fuzz::Broken("a vectorised path decodes the block differently");
        }
    }

    // Cut after the first line feed at or past the chosen place.
    const std::size_t feed = body.find('\n', body.empty() ? 0 : data[0] * body.size() / 256);
    if (feed == std::string_view::npos) {
        return 0;
    }
    const std::string_view head = body.substr(0, feed + 1);
    for (const YEncPath path : AvailableYEncPaths()) {
        const Decoded cut = Decode(head, path);
        if (whole.keywordLine && whole.consumed < head.size()) {
            if (cut != whole) {
                fuzz::Broken("a cut after the keyword line changes what comes before it");
            }
            continue;
        }
        if (cut.keywordLine || cut.consumed != head.size() || !whole.bytes.starts_with(cut.bytes)) {
            fuzz::Broken("a body cut at a line feed is not a prefix of the whole");
        }
        const Decoded rest = Decode(body.substr(head.size()), path, cut.crc);
        if (cut.bytes + rest.bytes != whole.bytes ||
            head.size() + rest.consumed != whole.consumed ||
            rest.keywordLine != whole.keywordLine || rest.crc != whole.crc) {
            fuzz::Broken("the two pieces of a cut body do not make the whole");
        }
    }
    return 0;
}
