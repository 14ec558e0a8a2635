#include "decode/CPendingRecord.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace {

// The version written. The one before it (1) had no source after a part.
constexpr std::string_view FIRST_LINE = "zarvo pending picture 2";
constexpr std::string_view FIRST_LINE_1 = "zarvo pending picture 1";

std::string Hex(std::string_view bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0x0F];
    }
    return text;
}

std::optional<std::string> FromHex(std::string_view text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (error != std::errc() || end != text.data() + i + 2) {
            return std::nullopt;
        }
        bytes += static_cast<char>(value);
    }
    return bytes;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() &&
           text.front() != '-' && text.front() != '+';
}

// The words of a line, split at single blanks.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t blank = line.find(' ', start);
        words.push_back(line.substr(start, blank - start));
        if (blank == std::string_view::npos) {
            return words;
        }
        start = blank + 1;
    }
}

}  // namespace

std::string CPendingRecord::Serialize() const {
    std::string text(FIRST_LINE);
    text += "\nkind ";
    text += kind == Kind::Ranges ? "ranges" : "ordered";
    text += "\nkey " + Hex(key) + "\nname " + Hex(name) + "\nsize " + std::to_string(fileSize) +
            "\ntotal " + std::to_string(total) + "\ncrc ";
    if (fileCrc) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", *fileCrc);
        text += crc;
    } else {
        text += "none";
    }
    text += "\nlast ";
    text += lastSeen ? "1" : "0";
    for (const Piece& piece : pieces) {
        text += "\npart " + std::to_string(piece.number) + " " + std::to_string(piece.offset) +
                " " + std::to_string(piece.length) + " " +
                (piece.source.empty() ? "-" : Hex(piece.source));
    }
    text += "\nend\n";
    return text;
}

std::optional<CPendingRecord> CPendingRecord::Parse(std::string_view text) {
    if (!text.ends_with("\nend\n")) {
        return std::nullopt;  // cut short: never half believed
    }
    text.remove_suffix(5);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    // The first line, then kind, key, name, size, total, crc and last in that order, then parts.
    constexpr std::size_t FIXED = 8;
    if (lines.size() < FIXED || (lines[0] != FIRST_LINE && lines[0] != FIRST_LINE_1)) {
        return std::nullopt;
    }
    const std::size_t partWords = lines[0] == FIRST_LINE ? 5 : 4;
    CPendingRecord record;
    const char* const keys[] = {"kind", "key", "name", "size", "total", "crc", "last"};
    std::string_view values[std::size(keys)];
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        const std::vector<std::string_view> words = Words(lines[i + 1]);
        if (words.size() != 2 || words[0] != keys[i]) {
            return std::nullopt;
        }
        values[i] = words[1];
    }
    if (values[0] == "ranges" || values[0] == "ordered") {
        record.kind = values[0] == "ranges" ? Kind::Ranges : Kind::Ordered;
    } else {
        return std::nullopt;
    }
    std::optional<std::string> key = FromHex(values[1]);
    std::optional<std::string> name = FromHex(values[2]);
    std::uint32_t crc = 0;
    if (!key || !name || !ParseNumber(values[3], record.fileSize) ||
        !ParseNumber(values[4], record.total) || (values[6] != "0" && values[6] != "1")) {
        return std::nullopt;
    }
    if (values[5] != "none") {
        if (values[5].size() != 8 || !ParseNumber(values[5], crc, 16)) {
            return std::nullopt;
        }
        record.fileCrc = crc;
    }
    record.key = std::move(*key);
    record.name = std::move(*name);
    record.lastSeen = values[6] == "1";
    for (std::size_t i = FIXED; i < lines.size(); ++i) {
        const std::vector<std::string_view> words = Words(lines[i]);
        Piece piece;
        if (words.size() != partWords || words[0] != "part" ||
            !ParseNumber(words[1], piece.number) || !ParseNumber(words[2], piece.offset) ||
            !ParseNumber(words[3], piece.length) || piece.number == 0) {
            return std::nullopt;
        }
        if (partWords == 5 && words[4] != "-") {
            std::optional<std::string> source = FromHex(words[4]);
            if (!source || source->empty()) {
                return std::nullopt;
            }
            piece.source = std::move(*source);
        }
        if (!record.Add(piece)) {
            return std::nullopt;
        }
    }
    return record;
}

const CPendingRecord::Piece* CPendingRecord::Find(std::uint32_t number) const {
    const auto found = std::lower_bound(
        pieces.begin(), pieces.end(), number,
        [](const Piece& piece, std::uint32_t wanted) { return piece.number < wanted; });
    return found != pieces.end() && found->number == number ? &*found : nullptr;
}

bool CPendingRecord::Add(const Piece& piece) {
    if (piece.length > UINT64_MAX - piece.offset) {
        return false;  // no file reaches that far
    }
    const auto place = std::lower_bound(
        pieces.begin(), pieces.end(), piece.number,
        [](const Piece& existing, std::uint32_t wanted) { return existing.number < wanted; });
    if (place != pieces.end() && place->number == piece.number) {
        return false;
    }
    pieces.insert(place, piece);
    return true;
}

bool CPendingRecord::Complete() const {
    if (total != 0 && pieces.size() < total) {
        return false;
    }
    if (kind == Kind::Ordered) {
        // Parts 1 to the one that ended the picture, none missing between.
        return lastSeen && !pieces.empty() && pieces.back().number == pieces.size() &&
               (total == 0 || pieces.size() == total);
    }
    // Every byte from the first to the last, wherever the parts overlap.
    std::vector<Piece> byOffset = pieces;
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
    std::uint64_t covered = 0;
    for (const Piece& piece : byOffset) {
        if (piece.offset > covered) {
            return false;  // a gap: later bytes never move to fill it
        }
        covered = std::max(covered, piece.offset + piece.length);
    }
    return fileSize > 0 && covered >= fileSize;
}
