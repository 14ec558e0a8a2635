#include "decode/FileKind.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

namespace {

struct KnownExtension {
    std::string_view extension;
    FileKind kind;
};

// The pictures are those that Qt 6 reads on Debian 12 with qt6-image-formats-plugins (its own
// readers and the plugins' ones, SVG with the SVG module): the gallery shows what it reads.
constexpr KnownExtension KNOWN_EXTENSIONS[] = {
    {"jpg", FileKind::Picture},  {"jpeg", FileKind::Picture}, {"jpe", FileKind::Picture},
    {"jfif", FileKind::Picture}, {"png", FileKind::Picture},  {"gif", FileKind::Picture},
    {"webp", FileKind::Picture}, {"bmp", FileKind::Picture},  {"dib", FileKind::Picture},
    {"tif", FileKind::Picture},  {"tiff", FileKind::Picture}, {"ico", FileKind::Picture},
    {"cur", FileKind::Picture},  {"pbm", FileKind::Picture},  {"pgm", FileKind::Picture},
    {"ppm", FileKind::Picture},  {"pnm", FileKind::Picture},  {"xbm", FileKind::Picture},
    {"xpm", FileKind::Picture},  {"svg", FileKind::Picture},  {"svgz", FileKind::Picture},
    {"tga", FileKind::Picture},  {"icns", FileKind::Picture}, {"wbmp", FileKind::Picture},
    {"mng", FileKind::Picture},

    {"zip", FileKind::Archive},  {"rar", FileKind::Archive},  {"7z", FileKind::Archive},
    {"tar", FileKind::Archive},  {"gz", FileKind::Archive},   {"tgz", FileKind::Archive},
    {"bz2", FileKind::Archive},  {"xz", FileKind::Archive},   {"lzh", FileKind::Archive},
    {"arj", FileKind::Archive},  {"cbz", FileKind::Archive},  {"cbr", FileKind::Archive},

    {"mkv", FileKind::Video},    {"mp4", FileKind::Video},    {"avi", FileKind::Video},
    {"mov", FileKind::Video},    {"wmv", FileKind::Video},    {"mpg", FileKind::Video},
    {"mpeg", FileKind::Video},   {"m4v", FileKind::Video},    {"ts", FileKind::Video},
    {"m2ts", FileKind::Video},   {"webm", FileKind::Video},   {"flv", FileKind::Video},
    {"vob", FileKind::Video},    {"ogv", FileKind::Video},    {"3gp", FileKind::Video},
    {"divx", FileKind::Video},   {"asf", FileKind::Video},    {"rm", FileKind::Video},

    {"mp3", FileKind::Audio},    {"flac", FileKind::Audio},   {"ogg", FileKind::Audio},
    {"wav", FileKind::Audio},    {"m4a", FileKind::Audio},    {"aac", FileKind::Audio},
    {"opus", FileKind::Audio},   {"wma", FileKind::Audio},    {"ape", FileKind::Audio},
    {"mka", FileKind::Audio},    {"aiff", FileKind::Audio},   {"mid", FileKind::Audio},

    {"par2", FileKind::Parity},  {"par", FileKind::Parity},

    {"nfo", FileKind::Info},     {"sfv", FileKind::Info},     {"nzb", FileKind::Info},
    {"txt", FileKind::Info},     {"md5", FileKind::Info},     {"sha1", FileKind::Info},
    {"sha256", FileKind::Info},  {"srr", FileKind::Info},     {"srs", FileKind::Info},
    {"diz", FileKind::Info},     {"url", FileKind::Info},     {"htm", FileKind::Info},
    {"html", FileKind::Info},    {"log", FileKind::Info},

    {"exe", FileKind::Other},    {"iso", FileKind::Other},    {"pdf", FileKind::Other},
    {"doc", FileKind::Other},    {"docx", FileKind::Other},   {"apk", FileKind::Other},
    {"deb", FileKind::Other},    {"dmg", FileKind::Other},    {"bin", FileKind::Other},
    {"img", FileKind::Other},    {"epub", FileKind::Other},   {"mobi", FileKind::Other},
    {"msi", FileKind::Other},    {"jar", FileKind::Other},    {"cue", FileKind::Other},
    {"srt", FileKind::Other},    {"sub", FileKind::Other},    {"idx", FileKind::Other},
};

// The picture formats that SniffBytes cannot tell from their bytes (a DIB is a BMP without its
// file header, an SVGZ a gzip stream).
constexpr std::array<std::string_view, 5> WITHOUT_SIGNATURE{"tga", "xbm", "wbmp", "dib", "svgz"};

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return lower;
}

// The extension: what follows the last dot, lower case; empty when there is no dot.
std::string ExtensionOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : Lower(name.substr(dot + 1));
}

FileKind KindOfExtension(std::string_view extension) {
    for (const auto& known : KNOWN_EXTENSIONS) {
        if (known.extension == extension) {
            return known.kind;
        }
    }
    return FileKind::Unknown;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

unsigned Number(std::string_view digits) {
    unsigned number = 0;
    for (const char c : digits.substr(0, 6)) {
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

std::uint32_t Le32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// An SVG document: "<svg" after blanks, or an XML prolog with "<svg" later in the bytes.
bool IsSvg(std::string_view bytes) {
    if (StartsWith(bytes, "\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    while (!bytes.empty() && IsBlank(bytes.front())) {
        bytes.remove_prefix(1);
    }
    return StartsWith(bytes, "<svg") ||
           (StartsWith(bytes, "<?xml") && bytes.find("<svg") != std::string_view::npos);
}

CSniffed SniffPicture(std::string_view b) {
    using namespace std::string_view_literals;
    if (StartsWith(b, "\xFF\xD8\xFF")) {
        return {FileKind::Picture, ".jpg"};
    }
    if (StartsWith(b, "\x89PNG\r\n\x1A\n")) {
        return {FileKind::Picture, ".png"};
    }
    if (StartsWith(b, "\x8AMNG\r\n\x1A\n")) {
        return {FileKind::Picture, ".mng"};
    }
    if (StartsWith(b, "GIF87a") || StartsWith(b, "GIF89a")) {
        return {FileKind::Picture, ".gif"};
    }
    if (b.size() >= 12 && StartsWith(b, "RIFF") && b.substr(8, 4) == "WEBP") {
        return {FileKind::Picture, ".webp"};
    }
    // "BM", and the size of the header that follows the file header is one of the known ones.
    constexpr std::uint32_t BMP_HEADER_SIZES[] = {12, 16, 40, 52, 56, 64, 108, 124};
    if (b.size() >= 18 && StartsWith(b, "BM") &&
        std::find(std::begin(BMP_HEADER_SIZES), std::end(BMP_HEADER_SIZES), Le32(b, 14)) !=
            std::end(BMP_HEADER_SIZES)) {
        return {FileKind::Picture, ".bmp"};
    }
    if (StartsWith(b, "II*\0"sv) || StartsWith(b, "MM\0*"sv)) {
        return {FileKind::Picture, ".tif"};
    }
    if (b.size() >= 6 && StartsWith(b, "\0\0"sv) && (b[2] == 1 || b[2] == 2) && b[3] == 0 &&
        (b[4] != 0 || b[5] != 0)) {
        return {FileKind::Picture, b[2] == 1 ? ".ico" : ".cur"};
    }
    if (b.size() >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6' && IsBlank(b[2])) {
        constexpr std::string_view NETPBM[] = {".pbm", ".pgm", ".ppm"};
        return {FileKind::Picture, NETPBM[(b[1] - '1') % 3]};
    }
    if (StartsWith(b, "icns")) {
        return {FileKind::Picture, ".icns"};
    }
    if (StartsWith(b, "/* XPM */")) {
        return {FileKind::Picture, ".xpm"};
    }
    if (IsSvg(b)) {
        return {FileKind::Picture, ".svg"};
    }
    return {};
}

}  // namespace

FileKind KindOfName(std::string_view name) {
    if (ArchiveVolumeOf(name)) {
        return FileKind::Archive;
    }
    return KindOfExtension(ExtensionOf(name));
}

std::optional<CArchiveVolume> ArchiveVolumeOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    const std::string extension = Lower(name.substr(dot + 1));
    std::string_view stem = name.substr(0, dot);
    unsigned index = 0;
    if (extension == "rar") {
        // "x.part01.rar": the number counts from 1.
        const std::size_t part = stem.rfind('.');
        if (part != std::string_view::npos && part > 0 &&
            Lower(stem.substr(part + 1, 4)) == "part" && AllDigits(stem.substr(part + 5))) {
            const unsigned number = Number(stem.substr(part + 5));
            if (number > 0) {
                index = number - 1;
                stem = stem.substr(0, part);
            }
        }
    } else if (extension == "zip" || extension == "7z") {
        // The first volume, or the only one.
    } else if (extension.size() == 3 && extension[0] >= 'r' && extension[0] <= 'y' &&
               AllDigits(std::string_view(extension).substr(1))) {
        // The old numbering: x.rar, then x.r00 to x.r99, x.s00 to x.s99 and so on (".z01" is
        // a ZIP's own volume, not one of these).
        index = 1 + static_cast<unsigned>(extension[0] - 'r') * 100 +
                Number(std::string_view(extension).substr(1));
    } else if (extension.size() == 3 && AllDigits(extension)) {
        // A split archive: x.7z.001 and on.
        const std::size_t inner = stem.rfind('.');
        if (inner == std::string_view::npos || inner == 0 || Number(extension) == 0) {
            return std::nullopt;
        }
        const std::string format = Lower(stem.substr(inner + 1));
        if (format != "7z" && format != "zip" && format != "rar") {
            return std::nullopt;
        }
        index = Number(extension) - 1;
        stem = stem.substr(0, inner);
    } else {
        return std::nullopt;
    }
    if (stem.empty()) {
        return std::nullopt;
    }
    CArchiveVolume volume{std::string(stem), index, {}};
    const std::string inner = ExtensionOf(stem);
    if (KindOfExtension(inner) != FileKind::Unknown) {
        volume.inner = inner;
    }
    return volume;
}

CSniffed SniffBytes(std::string_view firstBytes) {
    using namespace std::string_view_literals;
    const std::string_view b = firstBytes.substr(0, SNIFF_BYTES);
    if (StartsWith(b, "PK\3\4") || StartsWith(b, "PK\5\6") || StartsWith(b, "PK\7\x8")) {
        return {FileKind::Archive, ".zip"};
    }
    if (StartsWith(b, "Rar!\x1A\x07\0"sv) || StartsWith(b, "Rar!\x1A\x07\x01\0"sv)) {
        return {FileKind::Archive, ".rar"};
    }
    if (StartsWith(b, "7z\xBC\xAF\x27\x1C")) {
        return {FileKind::Archive, ".7z"};
    }
    return SniffPicture(b);
}

bool PictureHasSignature(std::string_view extension) {
    return KindOfExtension(extension) == FileKind::Picture &&
           std::find(WITHOUT_SIGNATURE.begin(), WITHOUT_SIGNATURE.end(), extension) ==
               WITHOUT_SIGNATURE.end();
}
