#include "decode/UUDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZARVO_DECODE_SSSE3 1
#endif

#include "decode/CArticleReader.h"
#include "decode/CPictureFile.h"
#include "decode/PictureName.h"
#include "nntp/Split.h"
#include "platform/Console.h"
#include "platform/ErrorBox.h"
#include "platform/ProgramFolder.h"

namespace {

// A data line holds at most 63 bytes, decoded in groups of three: 21 groups, 84 characters.
constexpr std::size_t MAX_LINE_BYTES = 63;
constexpr std::size_t MAX_LINE_GROUPS = (MAX_LINE_BYTES + 2) / 3;
constexpr std::size_t MAX_LINE_CHARACTERS = 4 * MAX_LINE_GROUPS;

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, arguments);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return text;
}

// One table per position in a group of four characters: what the character adds to the group's
// three bytes, already in their places in a little-endian 32-bit word, so that a group costs
// four lookups and one store. Each character stands for (c - 0x20) & 0x3F, so the space and the
// grave accent both stand for 0 and no character is rejected.
enum class Position { FIRST, SECOND, THIRD, FOURTH };

constexpr std::array<std::uint32_t, 256> MakePositionTable(Position position) {
    std::array<std::uint32_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        const std::uint32_t value = (c - 0x20u) & 0x3Fu;
        // The group's bits p q r s make the bytes (p << 2 | q >> 4), (q << 4 | r >> 2), (r << 6 |
        // s).
        std::uint32_t bytes[3] = {0, 0, 0};
        switch (position) {
            case Position::FIRST:
                bytes[0] = value << 2;
                break;
            case Position::SECOND:
                bytes[0] = value >> 4;
                bytes[1] = (value & 0x0Fu) << 4;
                break;
            case Position::THIRD:
                bytes[1] = value >> 2;
                bytes[2] = (value & 0x03u) << 6;
                break;
            case Position::FOURTH:
                bytes[2] = value;
                break;
        }
        if constexpr (std::endian::native == std::endian::little) {
            table[c] = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
        } else {
            table[c] = bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8;
        }
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> FIRST = MakePositionTable(Position::FIRST);
constexpr std::array<std::uint32_t, 256> SECOND = MakePositionTable(Position::SECOND);
constexpr std::array<std::uint32_t, 256> THIRD = MakePositionTable(Position::THIRD);
constexpr std::array<std::uint32_t, 256> FOURTH = MakePositionTable(Position::FOURTH);

// The base name of the picture that a begin line announces, or nothing when the line is not an
// accepted begin line. The caller has checked that the line starts with "begin ".
std::optional<std::string> PictureBaseName(std::string_view line) {
    std::vector<std::string> fields;
    if (Split(" ", line, fields) < 3) {
        return std::nullopt;
    }
    // The mode only tells a begin line from text that happens to start with "begin "; the
    // picture gets no permissions from it.
    if (std::strtol(fields[1].c_str(), nullptr, 10) == 0) {
        return std::nullopt;
    }
    std::string name;
    for (std::size_t i = 2; i < fields.size(); ++i) {
        if (!name.empty()) {
            name += '_';
        }
        name += fields[i];
    }
    return SafePictureName(name);
}

// Decodes one data line (its length character already checked) into the picture (a CPictureFile
// or a CMemoryPicture). False when writing the picture out failed.
template <typename Picture>
bool DecodeDataLine(std::string_view line, Picture& picture) {
    const unsigned char length = static_cast<unsigned char>(line.front());
    const std::size_t count = length == 0x60 ? 0 : length - 0x20u;
    if (count == 0) {
        return true;
    }
    const std::size_t groups = (count + 2) / 3;
    std::string_view characters = line.substr(1);
    // A line cut short decodes as if the missing characters were spaces (value 0); nothing past
    // the line is read.
    std::array<char, MAX_LINE_CHARACTERS> padded;
    if (characters.size() < 4 * groups) {
        padded.fill(' ');
        characters.copy(padded.data(), characters.size());
        characters = std::string_view(padded.data(), 4 * groups);
    }
    // Whole groups are decoded, each stored as a four-byte word of which three count; only
    // `count` bytes are kept, the rest is overwritten by the next line.
    const std::span<unsigned char> space = picture.Space(3 * groups + 1);
    if (space.empty()) {
        return false;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(characters.data());
    unsigned char* out = space.data();
    for (std::size_t group = 0; group < groups; ++group) {
        const std::uint32_t bytes = FIRST[in[0]] | SECOND[in[1]] | THIRD[in[2]] | FOURTH[in[3]];
        std::memcpy(out, &bytes, sizeof bytes);
        in += 4;
        out += 3;
    }
    picture.Added(count);
    return true;
}

#ifdef ZARVO_DECODE_SSSE3
// What the fast path needs buffered: the longest data line with its terminator and the 16-byte
// loads that run past its last group.
constexpr std::size_t FAST_LOOKAHEAD = 1 + 6 * 16;
// What it may write: six 16-byte stores, 12 bytes apart.
constexpr std::size_t FAST_OUTPUT_ROOM = 5 * 12 + 16;

bool HasSsse3() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

// Decodes `characters` (a multiple of 4, at most 84) characters, 16 at a time: each 16 become 12
// bytes, stored as 16 of which the last 4 are overwritten next. Reads up to 15 bytes past the
// characters and writes up to 4 past their bytes. False when one of the characters lies below
// the space: it could end the line early (LF, NUL) or be a CR, so the line is not plain.
__attribute__((target("ssse3"))) bool DecodeGroupsSsse3(const unsigned char* in,
                                                        std::size_t characters,
                                                        unsigned char* out) {
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i sixBits = _mm_set1_epi8(0x3F);
    // p * 64 + q and r * 64 + s in 16-bit lanes, then (p q) * 4096 + (r s) in 32-bit lanes.
    const __m128i joinPairs = _mm_set1_epi32(0x01400140);
    const __m128i joinQuads = _mm_set1_epi32(0x00011000);
    // The three bytes of every 32-bit lane, most significant first, packed together.
    const __m128i packBytes = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    unsigned belowSpace = 0;
    for (std::size_t i = 0; i < characters; i += 16) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i printable = _mm_cmpeq_epi8(_mm_max_epu8(chars, space), chars);
        unsigned lanes = ~static_cast<unsigned>(_mm_movemask_epi8(printable)) & 0xFFFFu;
        if (characters - i < 16) {
            lanes &= (1u << (characters - i)) - 1;
        }
        belowSpace |= lanes;
        // (c - 0x20) & 0x3F equals (c ^ 0x20) & 0x3F: the two differ only above bit 5.
        const __m128i values = _mm_and_si128(_mm_xor_si128(chars, space), sixBits);
        const __m128i joined = _mm_madd_epi16(_mm_maddubs_epi16(values, joinPairs), joinQuads);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(joined, packBytes));
        out += 12;
    }
    return belowSpace == 0;
}
#endif

// Nearly every line of a block is a plain full data line: a length character for 1 to 63 bytes,
// exactly the characters of its groups, none of them below the space, then LF or CR LF. Such a
// line is far shorter than 299 characters, so the 300-byte rule cuts it where its terminator
// stands, and it can be decoded straight from the reader's buffer without looking for the line
// end first. Returns the bytes the line took with its terminator, or 0 when the line is not of
// that kind (or the buffer holds too little) and the general path must take it.
template <typename Picture>
std::size_t DecodeBufferedLine([[maybe_unused]] std::string_view ahead,
                               [[maybe_unused]] Picture& picture) {
#ifdef ZARVO_DECODE_SSSE3
    if (ahead.size() < FAST_LOOKAHEAD || !HasSsse3()) {
        return 0;
    }
    const unsigned char length = static_cast<unsigned char>(ahead[0]);
    if (length <= 0x20 || length >= 0x60 || (length == 'E' && ahead.starts_with("END"))) {
        return 0;
    }
    const std::size_t count = length - 0x20u;
    const std::size_t characters = 4 * ((count + 2) / 3);
    const std::size_t end = 1 + characters;
    std::size_t taken = 0;
    if (ahead[end] == '\n') {
        taken = end + 1;
    } else if (ahead[end] == '\r' && ahead[end + 1] == '\n') {
        taken = end + 2;
    } else {
        return 0;
    }
    const std::span<unsigned char> room = picture.Space(FAST_OUTPUT_ROOM);
    if (room.empty() || !DecodeGroupsSsse3(reinterpret_cast<const unsigned char*>(ahead.data()) + 1,
                                           characters, room.data())) {
        return 0;
    }
    picture.Added(count);
    return taken;
#else
    return 0;
#endif
}

// One picture decoded into memory, for an article that is in memory already: the bytes grow in
// one buffer that is handed on whole when the block ends.
class CMemoryPicture {
public:
    std::span<unsigned char> Space(std::size_t count) {
        if (m_capacity - m_used < count) {
            const std::size_t capacity = std::max(m_capacity * 2, m_used + count + 4096);
            auto* grown = static_cast<unsigned char*>(std::realloc(m_bytes.get(), capacity));
            if (grown == nullptr) {
                return {};
            }
            m_bytes.release();
            m_bytes.reset(grown);
            m_capacity = capacity;
        }
        return {m_bytes.get() + m_used, m_capacity - m_used};
    }
    void Added(std::size_t count) { m_used += count; }
    void Clear() { m_used = 0; }
    std::string_view Bytes() const {
        return {reinterpret_cast<const char*>(m_bytes.get()), m_used};
    }

private:
    struct Free {
        void operator()(unsigned char* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<unsigned char, Free> m_bytes;
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
};

bool IsEndLine(std::string_view line) {
    return line.starts_with("end") || line.starts_with("END");
}

// A line of a part counts as data when it has a data line's shape: a length character, then as
// many characters as that length needs (up to two more, which some encoders add, or up to two
// fewer, where trailing blanks were trimmed), none of them outside the uuencode alphabet.
bool LooksLikeDataLine(std::string_view line) {
    if (line.empty()) {
        return false;
    }
    const auto inAlphabet = [](char c) { return c >= 0x20 && c <= 0x60; };
    if (!std::all_of(line.begin(), line.end(), inAlphabet)) {
        return false;
    }
    const std::size_t count = (static_cast<unsigned char>(line.front()) - 0x20u) & 0x3Fu;
    const std::size_t characters = 4 * ((count + 2) / 3);
    return line.size() + 1 >= characters && line.size() - 1 <= characters + 2;
}

void AppendDataLine(std::string_view line, std::string& out) {
    const std::size_t count = (static_cast<unsigned char>(line.front()) - 0x20u) & 0x3Fu;
    const auto* in = reinterpret_cast<const unsigned char*>(line.data()) + 1;
    std::size_t characters = line.size() - 1;
    for (std::size_t done = 0; done < count; done += 3) {
        // A line cut short decodes as if the missing characters were spaces.
        unsigned char group[4] = {' ', ' ', ' ', ' '};
        for (std::size_t i = 0; i < 4 && i < characters; ++i) {
            group[i] = in[i];
        }
        const std::uint32_t bytes =
            FIRST[group[0]] | SECOND[group[1]] | THIRD[group[2]] | FOURTH[group[3]];
        // The tables put the three bytes first in memory, whatever the byte order.
        unsigned char three[4];
        std::memcpy(three, &bytes, sizeof bytes);
        out.append(reinterpret_cast<const char*>(three), std::min<std::size_t>(3, count - done));
        in += std::min<std::size_t>(4, characters);
        characters -= std::min<std::size_t>(4, characters);
    }
}

// The decoding of an article's blocks, whatever holds the article and wherever the pictures go.
// `blocks` begins a block (Begin(name), false to give the article up), receives its bytes through
// Picture(), ends it (End) or gives it up (Failed, after a write failed; Abandon, for a block
// without its end line when the article ends).
template <typename Blocks>
void DecodeBlocks(CArticleReader& article, Blocks& blocks) {
    bool decoding = false;
    std::string_view line;
    for (;;) {
        if (decoding) {
            const std::size_t taken = DecodeBufferedLine(article.Buffered(), blocks.Picture());
            if (taken > 0) {
                article.Skip(taken);
                continue;
            }
        }
        if (!article.NextLine(line)) {
            break;
        }
        if (!decoding) {
            if (!line.starts_with("begin ")) {
                continue;
            }
            const std::optional<std::string> baseName = PictureBaseName(line);
            if (!baseName) {
                continue;
            }
            if (!blocks.Begin(*baseName)) {
                break;
            }
            decoding = true;
            continue;
        }
        if (IsEndLine(line)) {
            decoding = false;
            blocks.End();
            continue;
        }
        if (line.empty()) {
            continue;
        }
        const unsigned char length = static_cast<unsigned char>(line.front());
        if (length < 0x20 || length > 0x60) {
            // Not uuencode any more (a new begin line inside the block, a corrupt line): the
            // block cannot be trusted, and the rest of the article is not looked at.
            break;
        }
        if (!DecodeDataLine(line, blocks.Picture())) {
            // The picture would be incomplete: give the block up and look for the next one.
            blocks.Failed();
            decoding = false;
        }
    }
    // A block without its end line (an article holding the first part of a picture) leaves
    // nothing behind.
    blocks.Abandon();
}

// The blocks of an article file, each written into the picture folder as it is decoded and
// published when it ends.
class CFileBlocks {
public:
    CFileBlocks(std::string folder, std::string programFolder, std::uint64_t articleSize)
        : m_folder(std::move(folder)),
          m_programFolder(std::move(programFolder)),
          // A picture is never larger than its article: small articles get a small buffer.
          m_picture(static_cast<std::size_t>(
              std::min<std::uint64_t>(articleSize, CPictureFile::BUFFER_SIZE))) {}

    CPictureFile& Picture() { return m_picture; }
    bool Begin(const std::string& baseName) {
        m_outputPath = m_folder + baseName;
        platform::WriteConsole(Format("Opening outputfile '%s'\n", m_outputPath.c_str()));
        if (!m_picture.Create(m_outputPath)) {
            platform::WriteConsole(
                Format("couldn't open output file '%s'\n", m_outputPath.c_str()));
            return false;
        }
        return true;
    }
    void End() {
        switch (m_picture.Commit()) {
            case CPictureFile::CommitResult::Done:
                // An article may carry several blocks; each complete one is written, and the
                // result names the first of them (the caller lists one picture per article). A
                // later block that fails does not take back a picture that is already in place.
                if (m_firstPicture.empty()) {
                    m_firstPicture = m_programFolder + m_picture.PublishedPath();
                }
                break;
            case CPictureFile::CommitResult::WriteFailed:
                platform::WriteConsole("fwrite failed...\n");
                break;
            case CPictureFile::CommitResult::PublishFailed:
                platform::WriteConsole(
                    Format("couldn't rename output file '%s'\n", m_outputPath.c_str()));
                break;
        }
    }
    void Failed() { platform::WriteConsole("fwrite failed...\n"); }
    void Abandon() { m_picture.Discard(); }
    const std::string& FirstPicture() const { return m_firstPicture; }

private:
    std::string m_folder;
    std::string m_programFolder;
    CPictureFile m_picture;
    std::string m_outputPath;
    std::string m_firstPicture;
};

// The blocks of an article in memory, each handed on when it ends.
class CMemoryBlocks {
public:
    explicit CMemoryBlocks(const UUBlockHandler& take) : m_take(take) {}

    CMemoryPicture& Picture() { return m_picture; }
    bool Begin(const std::string& baseName) {
        m_name = baseName;
        m_picture.Clear();
        return true;
    }
    void End() {
        ++m_blocks;
        m_take(m_name, m_picture.Bytes());
        m_picture.Clear();
    }
    void Failed() { m_picture.Clear(); }
    void Abandon() { m_picture.Clear(); }
    std::size_t Blocks() const { return m_blocks; }

private:
    const UUBlockHandler& m_take;
    CMemoryPicture m_picture;
    std::string m_name;
    std::size_t m_blocks = 0;
};

}  // namespace

CUUPart UUDecodePart(std::string_view body) {
    CUUPart part;
    bool begunHere = false;
    while (!body.empty() && !part.ended) {
        const std::size_t feed = body.find('\n');
        std::string_view line = body.substr(0, feed);
        body.remove_prefix(feed == std::string_view::npos ? body.size() : feed + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!begunHere && line.starts_with("begin ")) {
            if (const std::optional<std::string> name = PictureBaseName(line)) {
                part.name = *name;
                part.begun = begunHere = true;
                part.data.clear();  // what looked like data before the begin line was not
                continue;
            }
        }
        if (IsEndLine(line)) {
            part.ended = true;
        } else if (LooksLikeDataLine(line)) {
            AppendDataLine(line, part.data);
        }
    }
    return part;
}

std::string UUDecodeFile(const std::string& articleFile,
                         const std::optional<std::string>& subFolder, std::size_t readChunkSize) {
    const std::optional<std::string> programFolder = platform::GetProgramFolder();
    if (!programFolder) {
        platform::ShowErrorBox("GetModuleFileName failed!!");
        return {};
    }
    if (articleFile.empty()) {
        return {};
    }

    CArticleReader article(readChunkSize);
    if (!article.Open(articleFile)) {
        platform::WriteConsole(Format("Couldn't open file '%s'\n", articleFile.c_str()));
        return {};
    }
    std::uint64_t size = 0;
    if (!article.ReadSize(size)) {
        platform::WriteConsole("Couldn't stat file...\n");
        return {};
    }
    platform::WriteConsole(Format("File size is %lu\n", static_cast<unsigned long>(size)));

    CFileBlocks blocks("images/" + (subFolder ? *subFolder + "/" : std::string()), *programFolder,
                       size);
    DecodeBlocks(article, blocks);
    if (!article.Close()) {
        platform::WriteConsole(Format("fclose failed (%d)", errno));
    }
    return blocks.FirstPicture();
}

std::size_t UUDecodeArticle(std::string_view body, const UUBlockHandler& take) {
    CArticleReader article;
    article.OpenMemory(body);
    CMemoryBlocks blocks(take);
    DecodeBlocks(article, blocks);
    return blocks.Blocks();
}
