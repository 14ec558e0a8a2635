#include "decode/PictureName.h"

#include <array>

#include "decode/PicturePublisher.h"

namespace {

// Windows-1252's characters for 0x80 to 0x9F; the five it leaves undefined keep their Latin-1
// code points.
constexpr std::array<char32_t, 32> WINDOWS_1252_HIGH = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The length of the well-formed UTF-8 character that `text` starts with (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF); 0 when it starts with none.
std::size_t Utf8CharacterLength(std::string_view text) {
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < secondLow || byte(1) > secondHigh) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) {
            return 0;
        }
    }
    return length;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code & 0x3F));
}

// The name as valid UTF-8: its well-formed characters as they are, every other byte read as
// Windows-1252.
std::string ValidUtf8(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    while (!name.empty()) {
        std::size_t length = Utf8CharacterLength(name);
        if (length > 0) {
            out.append(name.substr(0, length));
        } else {
            const auto byte = static_cast<unsigned char>(name.front());
            AppendUtf8(out, byte < 0xA0 ? WINDOWS_1252_HIGH[byte - 0x80u] : char32_t{byte});
            length = 1;
        }
        name.remove_prefix(length);
    }
    return out;
}

}  // namespace

std::optional<std::string> SafePictureName(std::string_view posted) {
    // Valid UTF-8 first: the window reads names as UTF-8, and a byte it could not read would
    // make two names one. A separator byte is never part of a longer character, so this changes
    // no separator.
    const std::string readable = ValidUtf8(posted);
    // Only the last part of a name that carries a folder, a drive or a parent reference is kept,
    // so no post can write outside the picture folder. A leading "/" is dropped all the same,
    // since on Linux it would make the name absolute.
    const std::string_view whole = readable;
    const std::size_t separator = whole.find_last_of("\\/:");
    std::string_view base =
        separator != std::string_view::npos && separator > 0 ? whole.substr(separator + 1) : whole;
    if (base.starts_with('/')) {
        base.remove_prefix(1);
    }
    // A name the file system would refuse is cut down, keeping its extension so that the
    // picture still opens as what it is.
    std::string safe = NumberedPictureName(base, 1);
    if (safe.empty() || safe == "." || safe == "..") {
        return std::nullopt;
    }
    return safe;
}
