#pragma once

// What a file posted to a group is: by the extension of its name, by the name of an archive's
// volume, and by its first bytes for pictures and archives. It reads no file and opens no
// archive; the caller hands it names and bytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

enum class FileKind { Unknown, Picture, Archive, Video, Audio, Parity, Info, Other };

// By the name's extension, case-insensitive. Unknown for a name without an extension or with one
// not known (obfuscated posts). The volumes of a split archive ("x.7z.001", "x.r00") are Archive.
FileKind KindOfName(std::string_view name);

// One volume of an archive, by its name: "x.zip", "x.rar", "x.part01.rar" or "x.part1.rar",
// "x.r00" to "x.r99" (then "x.s00" and on), "x.7z", and the split volumes "x.7z.001",
// "x.zip.001", "x.rar.001".
struct CArchiveVolume {
    std::string stem;    // the name without the volume's suffix: "x" for all of the above
    unsigned index = 0;  // order within the set: x.rar, x.part1.rar, x.7z.001 are 0; x.r00 is 1
    std::string inner;   // the known extension before the archive's own, lower case: "mkv" for
                         // "movie.mkv.part01.rar"; empty when none
};
std::optional<CArchiveVolume> ArchiveVolumeOf(std::string_view name);

// The format the first bytes are, when they are a picture or an archive; kind Unknown otherwise.
// At most SNIFF_BYTES are looked at.
inline constexpr std::size_t SNIFF_BYTES = 64;
struct CSniffed {
    FileKind kind = FileKind::Unknown;
    std::string_view extension;  // ".jpg", ".png", ".zip", ".rar", ".7z", ...; empty for Unknown
};
CSniffed SniffBytes(std::string_view firstBytes);

// Whether a picture of this extension (without the dot, lower case) can be told by its first
// bytes. TGA, XBM, WBMP, DIB and SVGZ have none that SniffBytes knows.
bool PictureHasSignature(std::string_view extension);
