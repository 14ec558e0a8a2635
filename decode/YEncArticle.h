#pragma once

// The first yEnc block of an article body, decoded: what its =ybegin, =ypart and =yend lines
// say, the decoded bytes and their CRC-32, and whether the block passes its own checks. The body
// is the text the news server session hands over: lines ending in CR LF or LF, dot-stuffing
// already undone. It writes no file and knows nothing of the other parts of a multi-part post.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decode/YEncLines.h"

struct CYEncPart {
    std::string name;                      // =ybegin name=, as posted (blanks around it dropped)
    std::uint64_t fileSize = 0;            // =ybegin size=: the whole file's size
    std::uint32_t part = 0;                // =ybegin part=; 0 for a single-part post
    std::uint32_t total = 0;               // =ybegin total=; 0 when missing
    std::uint64_t begin = 1;               // =ypart begin= (1-based); 1 without =ypart
    std::uint64_t end = 0;                 // =ypart end= (inclusive); fileSize without =ypart
    std::string data;                      // the decoded bytes of this block
    std::uint32_t dataCrc = 0;             // CRC-32 of data, computed
    std::optional<std::uint32_t> partCrc;  // =yend pcrc32=
    std::optional<std::uint32_t> fileCrc;  // =yend crc32=
    std::optional<std::uint64_t> endSize;  // =yend size=
    std::optional<std::uint32_t> endPart;  // =yend part=
    bool ended = false;                    // an =yend line closed the block
    bool malformed = false;                // a size, part, position or CRC value was unreadable

    // The block's own checks: it ended; no value was unreadable; begin and end lie inside the
    // file and the data's size is end - begin + 1; =yend size= and part= agree when given;
    // pcrc32 matches dataCrc when given, and so does crc32 when the block is the whole file.
    bool Verified() const;
    // The block holds the whole file (a single-part post, or part 1 of 1): it starts at the
    // file's first byte and ends at its last, and says of no other part.
    bool WholeFile() const;
};

// The first block of `body` that starts with an =ybegin line, decoded on `path`; nothing when no
// line starts with "=ybegin ". The block's data runs to the first line that starts with "=y"
// after its header lines, which closes it when it is an =yend line; without one the block is
// not ended.
std::optional<CYEncPart> DecodeYEncArticle(std::string_view body,
                                           YEncPath path = FastestYEncPath());
