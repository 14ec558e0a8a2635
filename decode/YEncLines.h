#pragma once

// Decodes the data lines of a yEnc block straight from the article's bytes: each byte stands for
// itself less 42, "=" makes the byte after it an escaped one (less 64 more), and CR and LF end
// lines and carry no data. It stops before a line that starts with "=y" (the =yend line, or
// anything else a block cannot hold) and leaves such lines, and everything about the block's
// header, to its caller. Three interchangeable ways of doing it give the same bytes for any
// input: plain C++ and two vectorised ones, picked by what the processor offers. Each also gives
// the CRC-32 of what it wrote: the vectorised ones fold it in with carry-less multiplication as
// they go, reading back what they have just written, and leave only the last bytes to zlib.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Sse41 and Avx2 need carry-less multiplication (PCLMULQDQ) beside the instructions they are named
// after.
enum class YEncPath { Scalar, Sse41, Avx2 };

// The paths this processor can run, plain C++ first and the fastest last.
const std::vector<YEncPath>& AvailableYEncPaths();
// The last of AvailableYEncPaths().
YEncPath FastestYEncPath();
// "scalar", "sse4.1" or "avx2".
const char* YEncPathName(YEncPath path);

struct YEncLinesResult {
    std::size_t consumed = 0;  // input bytes taken: all of it, or up to the "=y" line
    std::size_t written = 0;   // decoded bytes at the start of the output
    bool keywordLine = false;  // stopped before a line that starts with "=y"
    std::uint32_t crc = 0;     // CRC-32 of the written bytes, continued from the one given
};

// Decodes `in`, which starts at the start of a line, into `out`, which must have room for
// in.size() bytes: the vectorised paths use all of that room as scratch, though no more bytes
// than the result says are decoded. Decoding rules beyond the plain ones: "=" right before CR or
// LF, or as the last byte, escapes nothing and is dropped; a byte after "=" is escaped whatever
// it is, another "=" included. `previousCrc` is the CRC-32 of the bytes decoded before these (0
// for none). A path the processor lacks falls back to the fastest it has.
YEncLinesResult DecodeYEncLines(std::string_view in, unsigned char* out,
                                std::uint32_t previousCrc = 0, YEncPath path = FastestYEncPath());
