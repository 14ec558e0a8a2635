// Publishing a finished picture: the name it gets beside the files already in its folder, that
// no existing file is ever changed, and that the temporary file is gone afterwards.

#include "decode/PicturePublisher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/RenameNoReplace.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

constexpr const char* TEMPORARY = "pics/.zarvo-1-1.part";
const std::string PICTURE = "the new picture";
// Same size as PICTURE, other bytes: the sizes alone must not decide.
const std::string OTHER = "the old picture";

Files FolderFiles(const fs::path& folder) {
    Files files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] =
            entry.is_directory() ? "<folder>" : test::ReadFile(entry.path());
    }
    return files;
}

TEST(PicturePublisherTest, NumberedNames) {
    const std::string stem251(251, 's');
    std::string accented(246, 'n');  // "é" across the cut of a name for " (2)"
    accented += "\xC3\xA9xyz.jpg";
    const struct {
        std::string name;
        unsigned number;
        std::string expected;
    } cases[] = {
        {"image.jpg", 1, "image.jpg"},
        {"image.jpg", 2, "image (2).jpg"},
        {"a.tar.gz", 3, "a.tar (3).gz"},
        {"README", 2, "README (2)"},
        {".hidden", 2, ".hidden (2)"},
        {stem251 + ".jpg", 1, stem251 + ".jpg"},
        {stem251 + ".jpg", 2, std::string(247, 's') + " (2).jpg"},
        {stem251 + ".jpg", 12, std::string(246, 's') + " (12).jpg"},
        {std::string(300, 'x'), 2, std::string(251, 'x') + " (2)"},
        {accented, 2, std::string(246, 'n') + " (2).jpg"},
        // An extension that leaves no room is part of the stem.
        {"a." + std::string(252, 'e'), 2, "a." + std::string(249, 'e') + " (2)"},
    };
    for (const auto& c : cases) {
        const std::string numbered = NumberedPictureName(c.name, c.number);
        EXPECT_EQ(numbered, c.expected) << c.name << " " << c.number;
        EXPECT_LE(numbered.size(), PICTURE_NAME_LIMIT);
    }
}

TEST(PicturePublisherTest, TakesTheFirstNameThatIsFreeOrHoldsTheSameBytes) {
    const std::string longName = std::string(251, 'n') + ".jpg";
    const struct {
        const char* what;
        std::string target;
        Files before;
        std::string expected;  // the name published under
    } cases[] = {
        {"free name", "image.jpg", {{"other.jpg", OTHER}}, "image.jpg"},
        {"same bytes", "image.jpg", {{"image.jpg", PICTURE}}, "image.jpg"},
        {"different bytes", "image.jpg", {{"image.jpg", OTHER}}, "image (2).jpg"},
        {"(2) taken by other bytes",
         "image.jpg",
         {{"image.jpg", OTHER}, {"image (2).jpg", OTHER + "!"}},
         "image (3).jpg"},
        {"(2) holds the same bytes",
         "image.jpg",
         {{"image.jpg", OTHER}, {"image (2).jpg", PICTURE}},
         "image (2).jpg"},
        {"no extension", "README", {{"README", OTHER}}, "README (2)"},
        {"a folder under the name", "image.jpg", {{"image.jpg", "<folder>"}}, "image (2).jpg"},
        {"at the length limit", longName, {{longName, OTHER}}, std::string(247, 'n') + " (2).jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir dir(true);
        fs::create_directory("pics");
        for (const auto& [name, content] : c.before) {
            if (content == "<folder>") {
                fs::create_directory("pics/" + name);
            } else {
                test::WriteFile("pics/" + name, content);
            }
        }
        test::WriteFile(TEMPORARY, PICTURE);

        EXPECT_EQ(PublishPicture(TEMPORARY, "pics/" + c.target), "pics/" + c.expected);
        Files after = c.before;
        after[c.expected] = PICTURE;
        EXPECT_EQ(FolderFiles("pics"), after);
    }
}

TEST(PicturePublisherTest, FailureRemovesTheTemporaryFile) {
    const test::TempDir dir(true);
    fs::create_directory("pics");
    test::WriteFile(TEMPORARY, PICTURE);
    EXPECT_EQ(PublishPicture(TEMPORARY, "pics/missing/image.jpg"), std::nullopt);
    EXPECT_TRUE(FolderFiles("pics").empty());
}

TEST(PicturePublisherTest, LinkFallbackNeverReplaces) {
    const test::TempDir dir(true);
    test::WriteFile("a", "A");
    test::WriteFile("b", "B");
    EXPECT_EQ(platform::LinkThenUnlink("a", "b"), platform::RenameResult::NameTaken);
    EXPECT_EQ(platform::LinkThenUnlink("a", "c"), platform::RenameResult::Renamed);
    EXPECT_EQ(FolderFiles("."), (Files{{"b", "B"}, {"c", "A"}}));
    EXPECT_EQ(platform::RenameNoReplace("c", "b"), platform::RenameResult::NameTaken);
    EXPECT_EQ(platform::RenameNoReplace("missing", "d"), platform::RenameResult::Failed);
}

}  // namespace

namespace {

// A picture folder on another file system than the temporary file (a link to another disk, a
// mounted folder): the picture is copied over and published all the same.
TEST(PicturePublisherTest, PublishesAcrossFileSystems) {
    const test::TempDir dir(true);
    fs::create_directory("pics");
    char pattern[] = "/dev/shm/zarvo-publish-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string other = pattern;
    struct stat here {};
    struct stat there {};
    ASSERT_EQ(::stat("pics", &here), 0);
    ASSERT_EQ(::stat(other.c_str(), &there), 0);
    if (here.st_dev == there.st_dev) {
        fs::remove(other);
        GTEST_SKIP() << "/dev/shm is on the same file system as the temporary folder";
    }
    test::WriteFile(other, PICTURE);
    EXPECT_EQ(PublishPicture(other, "pics/image.jpg"), "pics/image.jpg");
    EXPECT_EQ(FolderFiles("pics"), (Files{{"image.jpg", PICTURE}}));
    EXPECT_FALSE(fs::exists(other));
}

}  // namespace
