// Saving decoded yEnc pictures: only a whole, verified file reaches images/, byte for byte,
// under its posted name made safe, beside pictures of the same name.

#include "decode/YEncPicture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "decode/PictureName.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"
#include "tests/support/YEncEncode.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* GROUP = "alt.binaries.test";

class YEncPictureTest : public ::testing::Test {
protected:
    YEncPictureTest() {
        platform::SetProgramFolder(dir.Folder());
        fs::create_directories(fs::path("images") / GROUP);
    }
    static std::string Save(const std::string& body) {
        const std::optional<CYEncPart> part = DecodeYEncArticle(body);
        return part ? SaveYEncPicture(*part, GROUP) : "";
    }
    std::string PicturePath(const std::string& name) const {
        return dir.Folder() + "images/" + GROUP + "/" + name;
    }
    static std::size_t FilesInImages() {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator("images")) {
            count += entry.is_directory() ? 0 : 1;
        }
        return count;
    }

    test::TempDir dir{true};
};

TEST_F(YEncPictureTest, WholeVerifiedFilesAreSavedByteForByte) {
    // Larger than the picture file's write buffer, so it goes out in several writes.
    const std::string file = test::PictureBytes(3'000'000, 1);
    EXPECT_EQ(Save(test::YEncEncode(file, "C:\\pics\\cat.jpg")), PicturePath("cat.jpg"));
    EXPECT_TRUE(test::ReadFile(PicturePath("cat.jpg")) == file);
    // Part 1 of 1 is the whole file too; the same name with other bytes gets a number.
    const std::string other = test::PictureBytes(1000, 2);
    EXPECT_EQ(Save(test::YEncEncode(other, "cat.jpg", {.part = 1, .total = 1})),
              PicturePath("cat (2).jpg"));
    EXPECT_EQ(test::ReadFile(PicturePath("cat (2).jpg")), other);
    EXPECT_EQ(FilesInImages(), 2u);
}

TEST_F(YEncPictureTest, NothingThatFailsReachesImages) {
    const std::string file = test::PictureBytes(5000, 3);
    for (const std::string& body :
         {test::YEncEncode(file, "bad.jpg", {.badCrc = true}),
          test::YEncEncode(file, "part.jpg", {.part = 1, .total = 2, .begin = 1, .end = 2500}),
          test::YEncEncode(file, ".."), test::YEncEncode(file, "pics/"),
          test::YEncEncode(file, "cut.jpg").substr(0, 3000)}) {
        EXPECT_EQ(Save(body), "");
    }
    EXPECT_EQ(FilesInImages(), 0u);
}

TEST(PictureNameTest, PostedNamesAreMadeSafe) {
    const struct {
        std::string posted;
        std::optional<std::string> safe;
    } cases[] = {
        {"cat.jpg", "cat.jpg"},
        {"my cat.jpg", "my cat.jpg"},
        {"C:\\pics\\cat.jpg", "cat.jpg"},
        {"../cat.jpg", "cat.jpg"},
        {"/cat.jpg", "cat.jpg"},
        {"d/e\\f:g.jpg", "g.jpg"},
        {":y.jpg", ":y.jpg"},
        {std::string(300, 'n') + ".jpeg", std::string(250, 'n') + ".jpeg"},
        {"", std::nullopt},
        {".", std::nullopt},
        {"..", std::nullopt},
        {"a/", std::nullopt},
        {"x/..", std::nullopt},
        {"/", std::nullopt},
        // Bytes that are no UTF-8 are read as Windows-1252; well-formed characters stay.
        {"caf\xe9.jpg", "caf\xc3\xa9.jpg"},
        {"caf\xc3\xa9.jpg", "caf\xc3\xa9.jpg"},
        {"\xf0\x9f\x98\x80.png", "\xf0\x9f\x98\x80.png"},
        {"\x93q\x94\x81.jpg", "\xe2\x80\x9cq\xe2\x80\x9d\xc2\x81.jpg"},
        {"a\xe2\x82.jpg", "a\xc3\xa2\xe2\x80\x9a.jpg"},                    // cut short
        {"x\xc0\xaf.jpg", "x\xc3\x80\xc2\xaf.jpg"},                        // an overlong "/"
        {"\xed\xa0\x80.jpg", "\xc3\xad\xc2\xa0\xe2\x82\xac.jpg"},          // a surrogate
        {"\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xe2\x82\xac\xe2\x82\xac"},  // past U+10FFFF
        {std::string(300, '\xe9') + ".jpg",
         [] {
             std::string name;
             for (int i = 0; i < 125; ++i) {
                 name += "\xc3\xa9";
             }
             return name + ".jpg";
         }()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafePictureName(c.posted), c.safe) << c.posted;
    }
}

}  // namespace
