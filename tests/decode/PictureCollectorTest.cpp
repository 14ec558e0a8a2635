// What the collection makes of decoded files, one after another in one collection: pictures
// kept once whatever their name, a name that says nothing given the extension its bytes call
// for, the pictures of archives and of a volume set, and what is not a picture dropped.

#include "decode/CPictureCollector.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/ProgramFolder.h"
#include "tests/support/ArchiveWriter.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"

namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

const std::string CAT = test::PictureBytes(3000, 1);
const std::string DOG = test::PictureBytes(4000, 2, true);
const std::string SHELL = test::PictureBytes(2000, 3);

struct CollectCase {
    const char* what;
    std::string name;
    std::string bytes;
    bool fromFile = false;  // handed over as a file on another file system
    std::optional<CVolumeHint> volume{};
    Paths pictures{};  // under images/g/
    unsigned recognised = 0;
    unsigned dropped = 0;
};

const std::vector<std::string> SET =
    test::Rar4Volumes({{"a/shell.jpg", SHELL}, {"b/cat.jpg", CAT}}, {2500});

const CollectCase CASES[] = {
    {"a picture", "cat.jpg", CAT, false, {}, {"cat.jpg"}},
    {"its bytes again under another name", "cat again.jpg", CAT, false, {}, {}, 1},
    {"a name that says nothing", "a8f7e6", DOG, false, {}, {"a8f7e6.png"}},
    {"a picture's name on other bytes", "fake.jpg", "MZ\x90\x00 a program", false, {}, {}, 0, 1},
    {"an archive: its pictures in a folder of its name, the rest dropped",
     "set.zip",
     test::ZipArchive({{"x/shell.jpg", SHELL}, {"readme.txt", "text"}, {"dog.png", DOG}}),
     false,
     {},
     {"set/shell.jpg"},
     1},
    {"a file from another file system",
     "far.jpg",
     test::PictureBytes(5000, 4),
     true,
     {},
     {"far.jpg"}},
    {"the first volume of a set waits", "city.part1.rar", SET[0], false, CVolumeHint{"city", 0, 2}},
    {"the last volume opens the set",
     "city.part2.rar",
     SET[1],
     true,
     CVolumeHint{"city", 1, 2},
     {},
     2},
    {"a format without a signature goes by its name",
     "old.tga",
     std::string("\0\0\2\0 targa", 10),
     false,
     {},
     {"old.tga"}},
    {"nothing at all", "empty.tga", "", false, {}, {}, 0, 1},
};

TEST(PictureCollectorTest, KeepsEachPictureOnceAndDropsTheRest) {
    const test::TempDir folder(true);
    const test::ConsoleCapture console;
    platform::SetProgramFolder(folder.Folder());
    CContentIndex index;
    std::string error;
    ASSERT_TRUE(index.Open(CONTENT_INDEX_FILE_NAME, "images", error)) << error;
    CPictureCollector collector("images", "tmp_dir", index, {});
    for (const CollectCase& c : CASES) {
        SCOPED_TRACE(c.what);
        CCollected collected;
        if (c.fromFile) {
            const std::string far = "/dev/shm/zarvo-collect-" + std::to_string(::getpid());
            test::WriteFile(far, c.bytes);
            collected = collector.CollectFile(far, c.name, "g", c.volume);
            EXPECT_EQ(test::ReadFile(far), c.bytes) << "the file handed over stays";
            fs::remove(far);
        } else {
            collected = collector.CollectBytes(c.bytes, c.name, "g", c.volume);
        }
        Paths pictures;
        for (const std::string& path : collected.pictures) {
            pictures.push_back(path.substr((folder.Folder() + "images/g/").size()));
        }
        EXPECT_EQ(pictures, c.pictures);
        EXPECT_EQ(collected.recognised, c.recognised);
        EXPECT_EQ(collected.dropped, c.dropped);
        EXPECT_FALSE(collected.failed);
    }
    EXPECT_EQ(test::ReadFile("images/g/set/shell.jpg"), SHELL);
    EXPECT_EQ(test::ReadFile("images/g/a8f7e6.png"), DOG);
    EXPECT_TRUE(fs::is_empty("tmp_dir/g/archives"));
    // What the index learnt outlives the collector.
    ASSERT_TRUE(collector.FlushIndex());
    CContentIndex again;
    ASSERT_TRUE(again.Open(CONTENT_INDEX_FILE_NAME, "images", error)) << error;
    EXPECT_TRUE(again.Contains(CContentIndex::DigestOf(SHELL)));
}

TEST(PictureCollectorTest, KindsTurnedOffAreDropped) {
    const test::TempDir folder(true);
    const test::ConsoleCapture console;
    platform::SetProgramFolder(folder.Folder());
    CContentIndex index;
    std::string error;
    ASSERT_TRUE(index.Open(CONTENT_INDEX_FILE_NAME, "images", error)) << error;
    CPictureCollector collector("images", "tmp_dir", index, {false, false, {}});
    EXPECT_EQ(collector.CollectBytes(CAT, "cat.jpg", "g").dropped, 1u);
    EXPECT_EQ(collector.CollectBytes(test::ZipArchive({{"c.jpg", CAT}}), "s.zip", "g").dropped, 1u);
    EXPECT_FALSE(fs::exists("images/g"));
}

TEST(PictureCollectorTest, VolumeSetsThatGotNothingForAWeekAreRemoved) {
    const test::TempDir folder(true);
    fs::create_directories("tmp_dir/g/archives/old");
    fs::create_directories("tmp_dir/g/archives/new");
    test::WriteFile("tmp_dir/g/archives/old/00000.volume", "v");
    test::WriteFile("tmp_dir/g/archives/new/00000.volume", "v");
    fs::last_write_time("tmp_dir/g/archives/old/00000.volume",
                        fs::file_time_type::clock::now() - std::chrono::hours{24 * 8});
    CPictureCollector::RemoveStale("tmp_dir", std::chrono::hours{24 * 7});
    EXPECT_FALSE(fs::exists("tmp_dir/g/archives/old"));
    EXPECT_TRUE(fs::exists("tmp_dir/g/archives/new/00000.volume"));
}

}  // namespace
