#include "decode/YEncLines.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "decode/Crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZARVO_YENC_X86 1
#endif

namespace {

// A plain byte is the data byte plus 42; an escaped one is that plus 64 more.
constexpr unsigned char PLAIN_OFFSET = 42;
constexpr unsigned char ESCAPED_OFFSET = 42 + 64;

// What the bytes before a position leave behind for the next one.
struct DecodeState {
    bool escaped = false;   // the byte before was an "=" that escapes this one
    bool lineStart = true;  // this byte starts a line: it follows LF, or nothing
};

// Decodes [in, stop) a byte at a time, carrying `state` in and out. `end` is the end of the
// whole input: the test for "=y" at a line start may look one byte past `stop`. Returns false
// when it stopped before such a line, with `in` at its "=".
bool DecodeScalar(const unsigned char*& in, const unsigned char* stop, const unsigned char* end,
                  unsigned char*& out, DecodeState& state) {
    const unsigned char* position = in;
    unsigned char* written = out;
    bool escaped = state.escaped;
    bool lineStart = state.lineStart;
    bool keywordLine = false;
    for (; position < stop; ++position) {
        const unsigned char c = *position;
        if (c == '\n' || c == '\r') {
            // A line end is never data: an "=" before it escapes nothing.
            escaped = false;
            lineStart = c == '\n';
        } else if (escaped) {
            *written++ = static_cast<unsigned char>(c - ESCAPED_OFFSET);
            escaped = false;
            lineStart = false;
        } else if (c == '=') {
            if (lineStart && position + 1 < end && position[1] == 'y') {
                keywordLine = true;
                break;
            }
            escaped = true;
            lineStart = false;
        } else {
            *written++ = static_cast<unsigned char>(c - PLAIN_OFFSET);
            lineStart = false;
        }
    }
    in = position;
    out = written;
    state.escaped = escaped;
    state.lineStart = lineStart;
    return !keywordLine;
}

YEncLinesResult Result(const unsigned char* inStart, const unsigned char* in,
                       const unsigned char* outStart, const unsigned char* out, bool keywordLine,
                       std::uint32_t crc) {
    return {static_cast<std::size_t>(in - inStart), static_cast<std::size_t>(out - outStart),
            keywordLine, crc};
}

YEncLinesResult DecodeYEncLinesScalar(const unsigned char* begin, const unsigned char* end,
                                      unsigned char* outStart, std::uint32_t previousCrc) {
    const unsigned char* in = begin;
    unsigned char* out = outStart;
    DecodeState state;
    const bool finished = DecodeScalar(in, end, end, out, state);
    const std::uint32_t crc = Crc32(std::string_view(reinterpret_cast<const char*>(outStart),
                                                     static_cast<std::size_t>(out - outStart)),
                                    previousCrc);
    return Result(begin, in, outStart, out, !finished, crc);
}

#ifdef ZARVO_YENC_X86

// For every pattern of 8 bytes to keep (bit i for byte i), the shuffle that packs the kept bytes
// to the front, for the low and the high half of 16 bytes, and how many are kept.
struct PackTables {
    std::array<std::uint64_t, 256> low{};
    std::array<std::uint64_t, 256> high{};
    std::array<unsigned char, 256> count{};
};

constexpr PackTables MakePackTables() {
    PackTables tables;
    for (unsigned keep = 0; keep < 256; ++keep) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        unsigned kept = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((keep >> bit & 1u) != 0) {
                low |= std::uint64_t{bit} << (8 * kept);
                high |= std::uint64_t{bit + 8} << (8 * kept);
                ++kept;
            }
        }
        // The rest of the lanes take zeros (an index with the top bit set).
        for (unsigned lane = kept; lane < 8; ++lane) {
            low |= std::uint64_t{0x80} << (8 * lane);
            high |= std::uint64_t{0x80} << (8 * lane);
        }
        tables.low[keep] = low;
        tables.high[keep] = high;
        tables.count[keep] = static_cast<unsigned char>(kept);
    }
    return tables;
}

constexpr PackTables PACK = MakePackTables();

// x^n modulo the CRC-32 polynomial, bit i for the coefficient of x^i.
constexpr std::uint64_t PowerOfXModulo(unsigned n) {
    std::uint64_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if ((remainder >> 32) != 0) {
            remainder ^= 0x104C11DB7ull;
        }
    }
    return remainder;
}

// A remainder of degree below 32 as a 33-bit multiplier in the CRC's bit order, where the first
// bit of the data stands for the highest power: the carry-less product of a reflected 64-bit half
// and this multiplier lands as the reflected product moved up by x^32.
constexpr std::uint64_t Reflect33(std::uint64_t remainder) {
    std::uint64_t reflected = 0;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if ((remainder >> bit & 1u) != 0) {
            reflected |= std::uint64_t{1} << (32 - bit);
        }
    }
    return reflected;
}

// What moves a 128-bit lane `distance` bits further along the data: its first half (the higher
// powers) is multiplied by x^(distance + 64) and its second by x^distance, each less the x^32
// that the reflected product adds.
struct FoldMultipliers {
    std::uint64_t firstHalf;
    std::uint64_t secondHalf;
};
constexpr FoldMultipliers FoldBy(unsigned distance) {
    return {Reflect33(PowerOfXModulo(distance + 32)), Reflect33(PowerOfXModulo(distance - 32))};
}
constexpr FoldMultipliers FOLD_512 = FoldBy(512);
constexpr FoldMultipliers FOLD_128 = FoldBy(128);

// The CRC-32 of the decoded bytes, taken 64 at a time into four 128-bit lanes as the decoder
// writes them. Each lane holds a polynomial of at most 128 bits that is congruent, modulo the CRC
// polynomial, to the bytes it has taken moved along to where the lane stands. At the end the four
// lanes fold into one, whose 16 bytes stand for every byte taken; zlib finishes with those 16
// bytes and the last ones that made no whole 64.
struct CrcFolder {
    const unsigned char* next;  // the first written byte not taken yet
    std::uint32_t previous;     // the CRC of the bytes before the output
    bool started = false;
    __m128i lanes[4] = {};
};

__attribute__((target("sse4.1,pclmul"))) inline __m128i Fold(__m128i lane,
                                                             FoldMultipliers multipliers,
                                                             __m128i next) {
    const __m128i both = _mm_set_epi64x(static_cast<long long>(multipliers.secondHalf),
                                        static_cast<long long>(multipliers.firstHalf));
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, both, 0x00),
                                       _mm_clmulepi64_si128(lane, both, 0x11)),
                         next);
}

// Takes the written bytes that lie more than `lag` bytes behind `written`, 64 at a time. The lag
// lets the decoder's last stores settle before they are read back.
__attribute__((target("sse4.1,pclmul"))) inline void TakeWritten(CrcFolder& folder,
                                                                 const unsigned char* written,
                                                                 std::ptrdiff_t lag) {
    while (written - folder.next >= 64 + lag) {
        __m128i bytes[4];
        for (int lane = 0; lane < 4; ++lane) {
            bytes[lane] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(folder.next) + lane);
        }
        if (folder.started) {
            for (int lane = 0; lane < 4; ++lane) {
                folder.lanes[lane] = Fold(folder.lanes[lane], FOLD_512, bytes[lane]);
            }
        } else {
            // The CRC's starting register (the inverted previous CRC) is the same as those bits
            // added to the first 32 bits of the data.
            bytes[0] =
                _mm_xor_si128(bytes[0], _mm_cvtsi32_si128(static_cast<int>(~folder.previous)));
            for (int lane = 0; lane < 4; ++lane) {
                folder.lanes[lane] = bytes[lane];
            }
            folder.started = true;
        }
        folder.next += 64;
    }
}

__attribute__((target("sse4.1,pclmul"))) std::uint32_t FinishCrc(CrcFolder& folder,
                                                                 const unsigned char* written) {
    TakeWritten(folder, written, 0);
    const std::string_view rest(reinterpret_cast<const char*>(folder.next),
                                static_cast<std::size_t>(written - folder.next));
    if (!folder.started) {
        return Crc32(rest, folder.previous);
    }
    __m128i one = Fold(folder.lanes[0], FOLD_128, folder.lanes[1]);
    one = Fold(one, FOLD_128, folder.lanes[2]);
    one = Fold(one, FOLD_128, folder.lanes[3]);
    alignas(16) char folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), one);
    // The starting register is in the lanes already: the 16 bytes go in from a register of zero,
    // which is what zlib starts from when handed 0xFFFFFFFF (it inverts it first).
    return Crc32(rest, Crc32(std::string_view(folded, sizeof folded), 0xFFFFFFFFu));
}

// How far the CRC stays behind the decoder's writes.
constexpr std::ptrdiff_t CRC_LAG = 256;

// Whether an "=" at the start of a line (bits of `lineStartEscapes`, positions from `in`) is
// followed by "y". The byte after the last position is always there.
bool KeywordLineAmong(const unsigned char* in, std::uint32_t lineStartEscapes) {
    for (; lineStartEscapes != 0; lineStartEscapes &= lineStartEscapes - 1) {
        if (in[__builtin_ctz(lineStartEscapes) + 1] == 'y') {
            return true;
        }
    }
    return false;
}

// Stores the bytes of `values` whose bits are set in `keep` (16 bits) packed together at `out`
// and moves `out` past them. Writes 16 bytes at `out` whatever it keeps.
__attribute__((target("sse4.1"))) inline void Pack16(__m128i values, std::uint32_t keep,
                                                     unsigned char*& out) {
    const unsigned low = keep & 0xFFu;
    const unsigned high = keep >> 8 & 0xFFu;
    const __m128i order = _mm_set_epi64x(static_cast<long long>(PACK.high[high]),
                                         static_cast<long long>(PACK.low[low]));
    const __m128i packed = _mm_shuffle_epi8(values, order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
    out += PACK.count[low];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(packed, packed));
    out += PACK.count[high];
}

// 16 bytes at a time. A block with an "=" after an "=", or with "=y" at a line start, goes to
// the byte loop; any other block is decoded with a few compares, a subtraction and a shuffle that
// drops the "=", CR and LF bytes. The last byte of the input is always left to the byte loop, so
// that the look at the byte after a block stays inside the input.
__attribute__((target("sse4.1,pclmul"))) YEncLinesResult DecodeYEncLinesSse41(
    const unsigned char* begin, const unsigned char* end, unsigned char* outStart,
    std::uint32_t previousCrc) {
    constexpr std::ptrdiff_t BLOCK = 16;
    const unsigned char* in = begin;
    unsigned char* out = outStart;
    DecodeState state;
    CrcFolder crc{outStart, previousCrc};
    const __m128i escapeByte = _mm_set1_epi8('=');
    const __m128i crByte = _mm_set1_epi8('\r');
    const __m128i lfByte = _mm_set1_epi8('\n');
    const __m128i plainOffset = _mm_set1_epi8(PLAIN_OFFSET);
    const __m128i escapedExtra = _mm_set1_epi8(ESCAPED_OFFSET - PLAIN_OFFSET);
    // The escape bytes of the block before, for the byte after each of them.
    __m128i previousEscapes = _mm_setzero_si128();
    while (end - in > BLOCK) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i escapes = _mm_cmpeq_epi8(bytes, escapeByte);
        const __m128i lineFeeds = _mm_cmpeq_epi8(bytes, lfByte);
        const __m128i dropped =
            _mm_or_si128(escapes, _mm_or_si128(lineFeeds, _mm_cmpeq_epi8(bytes, crByte)));
        const auto escapeBits = static_cast<std::uint32_t>(_mm_movemask_epi8(escapes));
        const auto lineFeedBits = static_cast<std::uint32_t>(_mm_movemask_epi8(lineFeeds));
        const std::uint32_t escapedBits = (escapeBits << 1 | state.escaped) & 0xFFFFu;
        const std::uint32_t lineStartEscapes =
            escapeBits & ((lineFeedBits << 1 | state.lineStart) & 0xFFFFu);
        if ((escapeBits & escapedBits) != 0 ||
            (lineStartEscapes != 0 && KeywordLineAmong(in, lineStartEscapes))) {
            if (!DecodeScalar(in, in + BLOCK, end, out, state)) {
                return Result(begin, in, outStart, out, true, FinishCrc(crc, out));
            }
            TakeWritten(crc, out, CRC_LAG);
            previousEscapes = state.escaped ? _mm_set1_epi8(-1) : _mm_setzero_si128();
            continue;
        }
        const __m128i escaped = _mm_alignr_epi8(escapes, previousEscapes, 15);
        const __m128i values =
            _mm_sub_epi8(_mm_sub_epi8(bytes, plainOffset), _mm_and_si128(escaped, escapedExtra));
        const auto droppedBits = static_cast<std::uint32_t>(_mm_movemask_epi8(dropped));
        Pack16(values, ~droppedBits & 0xFFFFu, out);
        previousEscapes = escapes;
        state.escaped = (escapeBits >> 15) != 0;
        state.lineStart = (lineFeedBits >> 15) != 0;
        in += BLOCK;
        TakeWritten(crc, out, CRC_LAG);
    }
    const bool finished = DecodeScalar(in, end, end, out, state);
    return Result(begin, in, outStart, out, !finished, FinishCrc(crc, out));
}

// The same as the SSE4.1 path, 32 bytes at a time.
__attribute__((target("avx2,pclmul"))) YEncLinesResult DecodeYEncLinesAvx2(
    const unsigned char* begin, const unsigned char* end, unsigned char* outStart,
    std::uint32_t previousCrc) {
    constexpr std::ptrdiff_t BLOCK = 32;
    const unsigned char* in = begin;
    unsigned char* out = outStart;
    DecodeState state;
    CrcFolder crc{outStart, previousCrc};
    const __m256i escapeByte = _mm256_set1_epi8('=');
    const __m256i crByte = _mm256_set1_epi8('\r');
    const __m256i lfByte = _mm256_set1_epi8('\n');
    const __m256i plainOffset = _mm256_set1_epi8(PLAIN_OFFSET);
    const __m256i escapedExtra = _mm256_set1_epi8(ESCAPED_OFFSET - PLAIN_OFFSET);
    __m256i previousEscapes = _mm256_setzero_si256();
    while (end - in > BLOCK) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i escapes = _mm256_cmpeq_epi8(bytes, escapeByte);
        const __m256i lineFeeds = _mm256_cmpeq_epi8(bytes, lfByte);
        const __m256i dropped =
            _mm256_or_si256(escapes, _mm256_or_si256(lineFeeds, _mm256_cmpeq_epi8(bytes, crByte)));
        const auto escapeBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(escapes));
        const auto lineFeedBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(lineFeeds));
        const std::uint32_t escapedBits = escapeBits << 1 | state.escaped;
        const std::uint32_t lineStartEscapes = escapeBits & (lineFeedBits << 1 | state.lineStart);
        if ((escapeBits & escapedBits) != 0 ||
            (lineStartEscapes != 0 && KeywordLineAmong(in, lineStartEscapes))) {
            if (!DecodeScalar(in, in + BLOCK, end, out, state)) {
                return Result(begin, in, outStart, out, true, FinishCrc(crc, out));
            }
            TakeWritten(crc, out, CRC_LAG);
            previousEscapes = state.escaped ? _mm256_set1_epi8(-1) : _mm256_setzero_si256();
            continue;
        }
        // Each byte's left neighbour, across the two 128-bit lanes and from the block before.
        const __m256i escaped = _mm256_alignr_epi8(
            escapes, _mm256_permute2x128_si256(previousEscapes, escapes, 0x21), 15);
        const __m256i values = _mm256_sub_epi8(_mm256_sub_epi8(bytes, plainOffset),
                                               _mm256_and_si256(escaped, escapedExtra));
        const std::uint32_t kept = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(dropped));
        Pack16(_mm256_castsi256_si128(values), kept & 0xFFFFu, out);
        Pack16(_mm256_extracti128_si256(values, 1), kept >> 16, out);
        previousEscapes = escapes;
        state.escaped = (escapeBits >> 31) != 0;
        state.lineStart = (lineFeedBits >> 31) != 0;
        in += BLOCK;
        TakeWritten(crc, out, CRC_LAG);
    }
    const bool finished = DecodeScalar(in, end, end, out, state);
    return Result(begin, in, outStart, out, !finished, FinishCrc(crc, out));
}

#endif

}  // namespace

const std::vector<YEncPath>& AvailableYEncPaths() {
    static const std::vector<YEncPath> paths = [] {
        std::vector<YEncPath> available{YEncPath::Scalar};
#ifdef ZARVO_YENC_X86
        __builtin_cpu_init();
        const bool pclmul = __builtin_cpu_supports("pclmul") != 0;
        if (pclmul && __builtin_cpu_supports("sse4.1")) {
            available.push_back(YEncPath::Sse41);
        }
        if (pclmul && __builtin_cpu_supports("avx2")) {
            available.push_back(YEncPath::Avx2);
        }
#endif
        return available;
    }();
    return paths;
}

YEncPath FastestYEncPath() {
    return AvailableYEncPaths().back();
}

const char* YEncPathName(YEncPath path) {
    switch (path) {
        case YEncPath::Scalar:
            return "scalar";
        case YEncPath::Sse41:
            return "sse4.1";
        case YEncPath::Avx2:
            return "avx2";
    }
    return "?";
}

YEncLinesResult DecodeYEncLines(std::string_view in, unsigned char* out, std::uint32_t previousCrc,
                                YEncPath path) {
    const auto* begin = reinterpret_cast<const unsigned char*>(in.data());
    const unsigned char* end = begin + in.size();
    const std::vector<YEncPath>& available = AvailableYEncPaths();
    if (path != YEncPath::Scalar &&
        std::find(available.begin(), available.end(), path) == available.end()) {
        path = available.back();
    }
    switch (path) {
#ifdef ZARVO_YENC_X86
        case YEncPath::Sse41:
            return DecodeYEncLinesSse41(begin, end, out, previousCrc);
        case YEncPath::Avx2:
            return DecodeYEncLinesAvx2(begin, end, out, previousCrc);
#endif
        default:
            return DecodeYEncLinesScalar(begin, end, out, previousCrc);
    }
}
