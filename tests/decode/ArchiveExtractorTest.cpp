// The pictures inside archives: every format and way of cutting an archive into volumes gives
// the same pictures, and hostile archives (paths out of the folder, links, bombs, damage,
// encryption, archives inside) give only the pictures they really hold, byte for byte. In
// every case nothing is written outside the work folder, and the work folder holds nothing but
// what was handed over.

#include "decode/CArchiveExtractor.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "decode/Crc32.h"
#include "tests/support/ArchiveWriter.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using test::ArchiveEntry;
using test::EntryKind;
using Outcome = CArchiveExtractor::Outcome;

// A picture handed over: its name and bytes. Printed by name, size and CRC.
struct Taken {
    std::string name;
    std::string bytes;
    auto operator<=>(const Taken&) const = default;
};
void PrintTo(const Taken& taken, std::ostream* out) {
    *out << taken.name << " (" << taken.bytes.size() << " bytes, CRC " << std::hex
         << Crc32(taken.bytes) << std::dec << ")";
}
using Pictures = std::vector<Taken>;  // sorted

// Bytes that no compressor shrinks, after a picture's signature.
std::string Picture(const std::string& signature, std::size_t size, unsigned seed) {
    std::string bytes = signature;
    std::uint32_t state = seed * 2654435761u + 1;
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        bytes += static_cast<char>(state >> 24);
    }
    return bytes;
}

const std::string JPEG = Picture("\xFF\xD8\xFF\xE0", 3000, 1);
const std::string PNG = Picture("\x89PNG\r\n\x1A\n", 2500, 2);
const std::string GIF = Picture("GIF89a", 1200, 3);
const std::string TGA = Picture(std::string(3, '\0'), 700, 4);  // no signature at all
const std::string TEXT = "Posted by someone, with love.\n";

struct Extracted {
    CArchiveExtractor::Result result;
    Pictures pictures;
};

struct RunOptions {
    CArchiveLimits limits{};
    bool refuse = false;     // `take` keeps nothing and says so
    bool stopFirst = false;  // Stop is set before the start
};

// Writes the volumes into a fresh folder, extracts them into its "work" folder and checks what
// every extraction must hold: each picture handed over is a complete 0600 file in the work
// folder, the work folder is empty once they are taken away, and the rest of the folder is as
// it was.
Extracted ExtractVolumes(const std::vector<std::string>& volumes, const RunOptions& run = {}) {
    const test::TempDir dir;
    const fs::path work = dir.Path() / "work";
    fs::create_directory(work);
    std::vector<std::string> paths;
    std::set<std::string> before{"work"};
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const std::string name = "set.7z.00" + std::to_string(i + 1);
        test::WriteFile(dir.Path() / name, volumes[i]);
        paths.push_back((dir.Path() / name).string());
        before.insert(name);
    }
    Extracted extracted;
    const auto take = [&](const CArchiveExtractor::Picture& picture) {
        EXPECT_EQ(fs::path(picture.temporary).parent_path(), work);
        struct stat status {};
        EXPECT_EQ(::stat(picture.temporary.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        extracted.pictures.push_back({picture.name, test::ReadFile(picture.temporary)});
        fs::remove(picture.temporary);
        return !run.refuse;
    };
    const std::atomic<bool> stop{run.stopFirst};
    extracted.result = CArchiveExtractor::Extract(paths, work.string(), run.limits, take, &stop);
    std::sort(extracted.pictures.begin(), extracted.pictures.end());

    EXPECT_TRUE(fs::is_empty(work)) << "left in the work folder";
    std::set<std::string> after;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.Path())) {
        after.insert(entry.path().filename().string());
    }
    EXPECT_EQ(after, before) << "written outside the work folder";
    EXPECT_EQ(extracted.result.pictures, extracted.pictures.size());
    const bool quiet =
        extracted.result.outcome == Outcome::Done || extracted.result.outcome == Outcome::Stopped;
    EXPECT_EQ(extracted.result.log.empty(), quiet) << extracted.result.log;
    if (!quiet) {
        EXPECT_TRUE(extracted.result.log.starts_with("set.7z.001: ")) << extracted.result.log;
    }
    return extracted;
}

std::vector<ArchiveEntry> MixedEntries() {
    return {
        {"pictures", "", EntryKind::Directory},
        {"pictures/beach.jpg", JPEG},
        {"pictures/sunset.PNG", PNG},
        {"read me.nfo", TEXT},
        {"movie.mkv", Picture("\x1A\x45\xDF\xA3", 900, 5)},
        {"animated.gif", GIF},
        {"frame.tga", TGA},
        {"notes.txt", TEXT},
        {"a8f3c2d1e9", JPEG},  // an obfuscated name, a JPEG by its bytes
    };
}

const Pictures MIXED_PICTURES = {
    {"a8f3c2d1e9.jpg", JPEG}, {"animated.gif", GIF}, {"beach.jpg", JPEG},
    {"frame.tga", TGA},       {"sunset.PNG", PNG},
};
constexpr unsigned MIXED_PASSED_OVER = 3;  // the nfo, the mkv and the txt

// The 7z cut at a third and two thirds, as 7-Zip's split volumes.
std::vector<std::string> SplitInThree(const std::string& archive) {
    return test::SplitVolumes(archive, {archive.size() / 3, archive.size() * 2 / 3});
}

TEST(ArchiveExtractorTest, EveryFormatAndVolumeSetGivesThePictures) {
    const std::vector<ArchiveEntry> entries = MixedEntries();
    const std::string zip = test::ZipArchive(entries);
    const std::string sevenZip = test::SevenZipArchive(entries);
    const struct {
        const char* what;
        std::vector<std::string> volumes;
    } cases[] = {
        {"ZIP", {zip}},
        {"ZIP split in two", test::SplitVolumes(zip, {zip.size() / 2})},
        {"7z", {sevenZip}},
        {"7z split in three", SplitInThree(sevenZip)},
        {"7z split after its signature", test::SplitVolumes(sevenZip, {6})},
        {"RAR 4", test::Rar4Volumes(entries)},
        {"RAR 4 in volumes, files cut across them", test::Rar4Volumes(entries, {2000})},
        // The JPEG fills the first volume exactly: libarchive ends the set there by itself.
        {"RAR 4 in volumes, a file ending at a volume's edge", test::Rar4Volumes(entries, {3000})},
        {"RAR 5", test::Rar5Volumes(entries)},
        {"RAR 5 in volumes, files cut across them", test::Rar5Volumes(entries, {2000})},
        {"RAR 5 in volumes, a file ending at a volume's edge", test::Rar5Volumes(entries, {3000})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Extracted extracted = ExtractVolumes(c.volumes);
        EXPECT_EQ(extracted.result.outcome, Outcome::Done) << extracted.result.log;
        EXPECT_EQ(extracted.pictures, MIXED_PICTURES);
        EXPECT_EQ(extracted.result.passedOver, MIXED_PASSED_OVER);
    }
}

TEST(ArchiveExtractorTest, HostileArchives) {
    const std::string smallZip = test::ZipArchive({{"inner.jpg", JPEG}});
    // A PNG's signature and 8 MiB of zeros: some kilobytes once deflated.
    const std::string bombPicture = "\x89PNG\r\n\x1A\n" + std::string(8 << 20, '\0');
    const std::string twoPictures = test::ZipArchive({{"first.gif", GIF}, {"second.jpg", JPEG}});
    const std::vector<std::string> twoInRar = test::Rar4Volumes({{"a.gif", GIF}, {"b.jpg", JPEG}});
    std::vector<ArchiveEntry> manyPictures;
    for (int i = 0; i < 6; ++i) {
        manyPictures.push_back({"p" + std::to_string(i) + ".gif", GIF});
    }
    const CArchiveLimits small{1 << 20, 100};
    const CArchiveLimits fewFiles{1 << 30, 4};

    const struct {
        const char* what;
        std::vector<std::string> volumes;
        CArchiveLimits limits;
        Outcome outcome;
        Pictures pictures;
        unsigned passedOver;
    } cases[] = {
        {"parent references and absolute paths keep only the base name",
         {test::ZipArchive({{"../../escaped.jpg", JPEG},
                            {"/etc/absolute.png", PNG},
                            {"a/../../../deep.gif", GIF}})},
         {},
         Outcome::Done,
         {{"absolute.png", PNG}, {"deep.gif", GIF}, {"escaped.jpg", JPEG}},
         0},
        {"a picture whose name leaves no base name is called by its format",
         test::Rar4Volumes({{"..", JPEG}, {"ok.jpg", JPEG}}),
         {},
         Outcome::Done,
         {{"ok.jpg", JPEG}, {"picture.jpg", JPEG}},
         0},
        {"backslashes of a RAR name are folders too",
         test::Rar4Volumes({{"..\\..\\windows.jpg", JPEG}}),
         {},
         Outcome::Done,
         {{"windows.jpg", JPEG}},
         0},
        {"a symlink is passed over, the file of its name after it is written afresh",
         {test::ZipArchive({{"link.jpg", "/etc/passwd", EntryKind::Symlink},
                            {"dir.jpg", "/tmp", EntryKind::Symlink},
                            {"link.jpg", JPEG}})},
         {},
         Outcome::Done,
         {{"link.jpg", JPEG}},
         2},
        {"a symlink in RAR 4",
         test::Rar4Volumes({{"up.png", "../../outside.png", EntryKind::Symlink}, {"b.png", PNG}}),
         {},
         Outcome::Done,
         {{"b.png", PNG}},
         1},
        {"a symlink in RAR 5",
         test::Rar5Volumes({{"up.png", "../../outside.png", EntryKind::Symlink}, {"b.png", PNG}}),
         {},
         Outcome::Done,
         {{"b.png", PNG}},
         1},
        {"a hard link is passed over",
         test::Rar5Volumes({{"real.jpg", JPEG}, {"again.jpg", "real.jpg", EntryKind::Hardlink}}),
         {},
         Outcome::Done,
         {{"real.jpg", JPEG}},
         1},
        {"a ZIP bomb stops at the size limit",
         {test::ZipArchive({{"small.jpg", JPEG}, {"bomb.png", bombPicture}})},
         small,
         Outcome::LimitReached,
         {{"small.jpg", JPEG}},
         0},
        {"the count limit",
         {test::ZipArchive(manyPictures)},
         fewFiles,
         Outcome::LimitReached,
         {{"p0.gif", GIF}, {"p1.gif", GIF}, {"p2.gif", GIF}, {"p3.gif", GIF}},
         0},
        {"a ZIP cut inside its second picture",
         {twoPictures.substr(0, twoPictures.size() / 2 + 800)},
         {},
         Outcome::Damaged,
         {{"first.gif", GIF}},
         0},
        {"a RAR cut inside its second picture",
         {twoInRar[0].substr(0, twoInRar[0].size() - 1000)},
         {},
         Outcome::Damaged,
         {{"a.gif", GIF}},
         0},
        // (libarchive 3.6 checks no CRC of a stored RAR file: such damage passes unseen there.)
        {"a ZIP picture whose bytes do not match its CRC",
         {[&] {
             std::string zip = twoPictures;
             zip[zip.size() - 400] ^= 1;
             return zip;
         }()},
         {},
         Outcome::Damaged,
         {{"first.gif", GIF}},
         0},
        {"a 7z set with its last volume missing",
         {SplitInThree(test::SevenZipArchive({{"a.gif", GIF}}))[0]},
         {},
         Outcome::Damaged,
         {},
         0},
        {"an encrypted ZIP",
         {test::ZipArchive({{"a.jpg", JPEG}}, true)},
         {},
         Outcome::Encrypted,
         {},
         0},
        {"an encrypted RAR 4",
         test::Rar4Volumes({{"a.jpg", JPEG}}, {0, true}),
         {},
         Outcome::Encrypted,
         {},
         0},
        {"an encrypted RAR 5 set",
         test::Rar5Volumes({{"a.jpg", JPEG}, {"b.png", PNG}}, {2000, true}),
         {},
         Outcome::Encrypted,
         {},
         0},
        {"archives inside are never opened, whatever their name",
         {test::ZipArchive({{"inner.zip", smallZip},
                            {"disguised.jpg", smallZip},
                            {"inner.rar", test::Rar4Volumes({{"x.jpg", JPEG}})[0]},
                            {"outer.png", PNG}})},
         {},
         Outcome::Done,
         {{"outer.png", PNG}},
         3},
        {"named as a picture, bytes of none: passed over unless the format has no signature",
         {test::SevenZipArchive({{"fake.jpg", TEXT},
                                 {"fake.png", ""},
                                 {"plain.tga", TEXT},
                                 {"png-in-fact.jpg", PNG}})},
         {},
         Outcome::Done,
         {{"plain.tga", TEXT}, {"png-in-fact.jpg", PNG}},
         2},
        {"not an archive", {TEXT + TEXT}, {}, Outcome::NotReadable, {}, 0},
        {"a gzip stream is no archive of pictures",
         {std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10) + TEXT},
         {},
         Outcome::NotReadable,
         {},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Extracted extracted = ExtractVolumes(c.volumes, {c.limits});
        EXPECT_EQ(extracted.result.outcome, c.outcome) << extracted.result.log;
        EXPECT_EQ(extracted.pictures, c.pictures);
        EXPECT_EQ(extracted.result.passedOver, c.passedOver);
    }
}

TEST(ArchiveExtractorTest, TheCallerEndsIt) {
    const std::vector<std::string> volumes = {test::ZipArchive(MixedEntries())};
    const struct {
        const char* what;
        RunOptions run;
        Outcome outcome;
        std::size_t pictures;
    } cases[] = {
        {"take refuses the first picture", {{}, true, false}, Outcome::WriteFailed, 1},
        {"stopped before the start", {{}, false, true}, Outcome::Stopped, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Extracted extracted = ExtractVolumes(volumes, c.run);
        EXPECT_EQ(extracted.result.outcome, c.outcome);
        EXPECT_EQ(extracted.pictures.size(), c.pictures);
    }
    const Extracted missing = [] {
        const test::TempDir dir;
        Extracted extracted;
        extracted.result =
            CArchiveExtractor::Extract({(dir.Path() / "absent.rar").string()}, dir.Folder(), {},
                                       [](const CArchiveExtractor::Picture&) { return true; });
        return extracted;
    }();
    EXPECT_EQ(missing.result.outcome, Outcome::NotReadable);
    EXPECT_NE(missing.result.log.find("absent.rar: cannot be opened"), std::string::npos)
        << missing.result.log;
}

}  // namespace
