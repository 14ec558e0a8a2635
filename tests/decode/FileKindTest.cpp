// What a file is by its name, by the name of an archive's volume, and by its first bytes,
// including the near misses that must not pass for a picture or an archive.

#include "decode/FileKind.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(FileKindTest, KindOfName) {
    const struct {
        const char* name;
        FileKind expected;
    } cases[] = {
        {"holiday.JPG", FileKind::Picture},
        {"scan.tiff", FileKind::Picture},
        {"icon.Cur", FileKind::Picture},
        {"dir/frame.tga", FileKind::Picture},
        {"pictures.part07.rar", FileKind::Archive},
        {"pictures.r12", FileKind::Archive},
        {"pictures.7z.002", FileKind::Archive},
        {"movie.mkv", FileKind::Video},
        {"song.FLAC", FileKind::Audio},
        {"set.vol03+04.par2", FileKind::Parity},
        {"set.nfo", FileKind::Info},
        {"setup.exe", FileKind::Other},
        {"README", FileKind::Unknown},
        {"a8f3c2d1e9", FileKind::Unknown},
        {"a8f3c2d1e9.x7q", FileKind::Unknown},
        {"split.001", FileKind::Unknown},  // a split file of no known format
        {"name.", FileKind::Unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KindOfName(c.name), c.expected) << c.name;
    }
}

TEST(FileKindTest, ArchiveVolumeOf) {
    const struct {
        const char* name;
        bool volume;
        std::string stem;
        unsigned index;
        std::string inner;
    } cases[] = {
        {"set.rar", true, "set", 0, ""},
        {"set.part1.rar", true, "set", 0, ""},
        {"set.PART01.RAR", true, "set", 0, ""},
        {"set.part12.rar", true, "set", 11, ""},
        {"set.part0.rar", true, "set.part0", 0, ""},  // parts count from 1
        {"set.r00", true, "set", 1, ""},
        {"set.r99", true, "set", 100, ""},
        {"set.s00", true, "set", 101, ""},
        {"set.7z", true, "set", 0, ""},
        {"set.7z.001", true, "set", 0, ""},
        {"set.7z.010", true, "set", 9, ""},
        {"set.zip.002", true, "set", 1, ""},
        {"movie.mkv.part01.rar", true, "movie.mkv", 0, "mkv"},
        {"Photos.JPG.7z.001", true, "Photos.JPG", 0, "jpg"},
        {"holiday.2019.rar", true, "holiday.2019", 0, ""},  // not an extension
        {"set.7z.000", false, "", 0, ""},
        {"set.001", false, "", 0, ""},
        {"set.z01", false, "", 0, ""},
        {"set.rar.txt", false, "", 0, ""},
        {".rar", false, "", 0, ""},
        {"picture.jpg", false, "", 0, ""},
    };
    for (const auto& c : cases) {
        const std::optional<CArchiveVolume> volume = ArchiveVolumeOf(c.name);
        ASSERT_EQ(volume.has_value(), c.volume) << c.name;
        if (volume) {
            EXPECT_EQ(volume->stem, c.stem) << c.name;
            EXPECT_EQ(volume->index, c.index) << c.name;
            EXPECT_EQ(volume->inner, c.inner) << c.name;
        }
    }
}

TEST(FileKindTest, SniffBytes) {
    const std::string bmpHeader = "BM"s + std::string(12, '\0');
    const struct {
        const char* what;
        std::string bytes;
        FileKind kind;
        std::string extension;
    } cases[] = {
        {"JPEG", "\xFF\xD8\xFF\xE0\0\x10JFIF"s, FileKind::Picture, ".jpg"},
        {"PNG", "\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, FileKind::Picture, ".png"},
        {"GIF89a", "GIF89a\x01\0"s, FileKind::Picture, ".gif"},
        {"GIF87a", "GIF87a", FileKind::Picture, ".gif"},
        {"WebP", "RIFF\x24\0\0\0WEBPVP8 "s, FileKind::Picture, ".webp"},
        {"BMP", bmpHeader + "\x28\0\0\0"s, FileKind::Picture, ".bmp"},
        {"TIFF little-endian", "II*\0\x08\0\0\0"s, FileKind::Picture, ".tif"},
        {"TIFF big-endian", "MM\0*\0\0\0\x08"s, FileKind::Picture, ".tif"},
        {"ICO", "\0\0\x01\0\x01\0\x10\x10"s, FileKind::Picture, ".ico"},
        {"CUR", "\0\0\x02\0\x02\0"s, FileKind::Picture, ".cur"},
        {"PBM", "P1\n2 2\n", FileKind::Picture, ".pbm"},
        {"PGM binary", "P5 2 2 255 ", FileKind::Picture, ".pgm"},
        {"PPM", "P6\r\n", FileKind::Picture, ".ppm"},
        {"ICNS", "icns\0\0\x10\0"s, FileKind::Picture, ".icns"},
        {"XPM", "/* XPM */\nstatic char", FileKind::Picture, ".xpm"},
        {"SVG", "<svg xmlns=\"http://www.w3.org/2000/svg\">", FileKind::Picture, ".svg"},
        {"SVG after a BOM and blanks", "\xEF\xBB\xBF\n  <svg>", FileKind::Picture, ".svg"},
        {"SVG after an XML prolog", "<?xml version=\"1.0\"?>\n<svg>", FileKind::Picture, ".svg"},
        {"MNG", "\x8AMNG\r\n\x1A\n", FileKind::Picture, ".mng"},
        {"ZIP", "PK\3\4\x14\0"s, FileKind::Archive, ".zip"},
        {"empty ZIP", "PK\5\6"s + std::string(18, '\0'), FileKind::Archive, ".zip"},
        {"spanned ZIP", "PK\7\x08PK\3\4"s, FileKind::Archive, ".zip"},
        {"RAR 4", "Rar!\x1A\x07\0\xCF\x90\x73"s, FileKind::Archive, ".rar"},
        {"RAR 5", "Rar!\x1A\x07\x01\0"s, FileKind::Archive, ".rar"},
        {"7z", "7z\xBC\xAF\x27\x1C\0\x04"s, FileKind::Archive, ".7z"},

        {"nothing", "", FileKind::Unknown, ""},
        {"JPEG cut short", "\xFF\xD8", FileKind::Unknown, ""},
        {"PNG signature cut short", "\x89PNG\r\n", FileKind::Unknown, ""},
        {"GIF of no version", "GIF88a", FileKind::Unknown, ""},
        {"RIFF that is WAVE", "RIFF\x24\0\0\0WAVEfmt "s, FileKind::Unknown, ""},
        {"BM with no known header size", bmpHeader + "\x29\0\0\0"s, FileKind::Unknown, ""},
        {"BM cut before the header size", "BM\0\0\0\0"s, FileKind::Unknown, ""},
        {"ICO that holds no image", "\0\0\x01\0\0\0"s, FileKind::Unknown, ""},
        {"P7 (PAM, which Qt does not read)", "P7\n", FileKind::Unknown, ""},
        {"P6 not followed by a blank", "P6x", FileKind::Unknown, ""},
        {"XML that is no SVG", "<?xml version=\"1.0\"?><html>", FileKind::Unknown, ""},
        {"RAR of an unknown version", "Rar!\x1A\x07\x02\0"s, FileKind::Unknown, ""},
        {"text", "Just some notes about the pictures.", FileKind::Unknown, ""},
    };
    for (const auto& c : cases) {
        const CSniffed sniffed = SniffBytes(c.bytes);
        EXPECT_EQ(sniffed.kind, c.kind) << c.what;
        EXPECT_EQ(sniffed.extension, c.extension) << c.what;
    }
    // Only SNIFF_BYTES are looked at: an SVG element past them is not seen.
    EXPECT_EQ(SniffBytes("<?xml" + std::string(SNIFF_BYTES, ' ') + "<svg>").kind,
              FileKind::Unknown);
}

TEST(FileKindTest, PictureHasSignature) {
    for (const char* extension : {"jpg", "png", "gif", "webp", "bmp", "tif", "ico", "pgm", "svg"}) {
        EXPECT_TRUE(PictureHasSignature(extension)) << extension;
    }
    for (const char* extension : {"tga", "xbm", "wbmp", "dib", "svgz", "nfo", "rar"}) {
        EXPECT_FALSE(PictureHasSignature(extension)) << extension;
    }
}

}  // namespace
