#pragma once

// A yEnc encoder for tests, with knobs for what real posters do differently: the line length,
// which characters are escaped beyond the critical ones, blanks after the keyword values, LF-only
// line ends, a wrong CRC, and single- or multi-part blocks. It writes a block only, no article
// around it, and never dot-stuffs (the decoder gets bodies with dot-stuffing undone).

#include <cstdint>
#include <string>
#include <string_view>

namespace test {

struct YEncOptions {
    std::size_t lineLength = 128;  // encoded characters per line (an escape may run one over)
    std::string lineEnd = "\r\n";  // "\n" for LF-only posts
    std::string extraEscapes{};    // encoded characters escaped besides NUL, LF, CR and "="
    bool escapeLineEdges = true;   // TAB and space at a line's ends, "." at its start
    std::string trailingBlanks{};  // after every keyword value, before the next field
    bool badCrc = false;           // pcrc32 and crc32 one off the true ones
    std::uint32_t part = 0;        // 0: a single-part post (no part=, no =ypart line)
    std::uint32_t total = 0;       // 0: no total= (as 1.2 posts)
    std::uint64_t begin = 1;       // the part's first byte of the file, 1-based
    std::uint64_t end = 0;         // its last byte, inclusive; 0 for the end of the file
};

// The data lines for `data`, each followed by the line end.
std::string YEncEncodeLines(std::string_view data, const YEncOptions& options = {});

// A whole block for bytes begin..end of `file`: =ybegin (and =ypart for a part), the data
// lines, =yend with size, part, pcrc32 (parts only) and crc32 of the whole file.
std::string YEncEncode(std::string_view file, std::string_view name,
                       const YEncOptions& options = {});

// Part `number` of `count` of a yEnc posting of `file`, cut in parts of equal size.
std::string YEncPart(const std::string& file, const std::string& name, std::uint32_t number,
                     std::uint32_t count, bool badCrc = false);

}  // namespace test
