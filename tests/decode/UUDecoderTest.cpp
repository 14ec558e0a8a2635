// The uudecoder on whole article files, in a temporary program folder: the pictures it writes,
// the paths it returns, the progress lines, and what it leaves on disk when an article is broken.

#include "decode/UUDecoder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

constexpr const char* GROUP = "alt.test";
constexpr const char* ARTICLE = "4711";

// Picture bytes that take every value from 0 to 255.
std::string Picture(std::size_t size, unsigned seed = 0) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + seed * 17 + i / 256) & 0xFF);
    }
    return bytes;
}

class UUDecoderTest : public ::testing::Test {
protected:
    UUDecoderTest() {
        platform::SetProgramFolder(dir.Folder());
        fs::create_directories(fs::path("images") / GROUP);
    }

    std::string Decode(const std::string& article,
                       const std::optional<std::string>& subFolder = std::string(GROUP)) {
        test::WriteFile(ARTICLE, article);
        const std::string picture = UUDecodeFile(ARTICLE, subFolder);
        // Every article of these tests decodes from memory to the same first picture.
        std::optional<std::string> first;
        UUDecodeArticle(article, [&first](const std::string&, std::string_view bytes) {
            first = first.value_or(std::string(bytes));
        });
        if (!picture.empty()) {
            EXPECT_EQ(first, test::ReadFile(picture)) << "decoded from memory";
        }
        return picture;
    }
    std::string PicturePath(const std::string& name) const {
        return dir.Folder() + "images/" + GROUP + "/" + name;
    }
    std::string PictureFile(const std::string& name) const {
        return test::ReadFile(fs::path("images") / GROUP / name);
    }
    // Every file under images/ (temporary files included), relative to it.
    static Names ImageFiles() {
        Names names;
        for (const auto& entry : fs::recursive_directory_iterator("images")) {
            if (!entry.is_directory()) {
                names.push_back(fs::relative(entry.path(), "images").string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static void ClearImages() {
        fs::remove_all("images");
        fs::create_directories(fs::path("images") / GROUP);
    }

    test::TempDir dir{true};
    test::ConsoleCapture console;
};

TEST_F(UUDecoderTest, SinglePartPictureDecodesByteForByte) {
    // 20 full lines and a last line of 14 bytes, whose length character is ".".
    const std::string data = Picture(45 * 20 + 14);
    const std::string block = test::UUEncode(data, "cat.jpg");
    ASSERT_NE(block.find("\n."), std::string::npos);
    const std::string article = "Hello, here is my cat.\n\n" + block + "-- \nJo\n";

    EXPECT_EQ(Decode(article), PicturePath("cat.jpg"));
    EXPECT_EQ(PictureFile("cat.jpg"), data);
    EXPECT_EQ(ImageFiles(), Names{"alt.test/cat.jpg"});
    EXPECT_EQ(console.Text(), "File size is " + std::to_string(article.size()) +
                                  "\nOpening outputfile 'images/alt.test/cat.jpg'\n");
}

TEST_F(UUDecoderTest, CrLfArticlesAndNoSubFolder) {
    const std::string data = Picture(1000, 1);
    EXPECT_EQ(Decode("text\r\n" + test::UUEncode(data, "cr.png", "\r\n")), PicturePath("cr.png"));
    EXPECT_EQ(PictureFile("cr.png"), data);

    EXPECT_EQ(Decode(test::UUEncode(data, "top.png"), std::nullopt),
              dir.Folder() + "images/top.png");
    EXPECT_EQ(test::ReadFile("images/top.png"), data);
    EXPECT_NE(console.Text().find("Opening outputfile 'images/top.png'\n"), std::string::npos);
}

TEST_F(UUDecoderTest, PictureLargerThanEveryBufferDecodesWhole) {
    // Lines straddle the reader's 1 MiB reads and the writer's 1 MiB writes.
    const std::string data = Picture(3'000'000, 2);
    EXPECT_EQ(Decode(test::UUEncode(data, "big.jpg", "\r\n")), PicturePath("big.jpg"));
    EXPECT_TRUE(PictureFile("big.jpg") == data);
}

TEST_F(UUDecoderTest, NamesKeepTheirLastPartAndSpacesBecomeUnderscores) {
    const std::string data = Picture(100, 3);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"my cat.jpg", "my_cat.jpg"}, {"a  b.jpg", "a__b.jpg"}, {"C:\\pics\\cat.jpg", "cat.jpg"},
        {"../cat.jpg", "cat.jpg"},    {"/cat.jpg", "cat.jpg"},  {"d/e\\f:g.jpg", "g.jpg"},
        {"\\x.jpg", "\\x.jpg"},       {":y.jpg", ":y.jpg"},
    };
    for (const auto& [name, expected] : cases) {
        ClearImages();
        EXPECT_EQ(Decode(test::UUEncode(data, name)), PicturePath(expected)) << name;
        EXPECT_EQ(ImageFiles(), Names{"alt.test/" + expected}) << name;
        EXPECT_EQ(PictureFile(expected), data) << name;
    }
}

TEST_F(UUDecoderTest, NamesThatNameNoFileGiveNoPicture) {
    const std::string lines = test::UUEncodeLines(Picture(100)) + "`\nend\n";
    for (const std::string name : {"a/", ".", "..", "/", "x/..", ""}) {
        EXPECT_EQ(Decode("begin 644  " + name + "\n" + lines), "") << name;
        EXPECT_EQ(Decode("begin 644 " + name + "\n" + lines), "") << name;
        EXPECT_EQ(ImageFiles(), Names{}) << name;
    }
    EXPECT_EQ(console.Text().find("Opening"), std::string::npos);
}

TEST_F(UUDecoderTest, OverlongNamesAreShortenedKeepingTheExtension) {
    const std::string data = Picture(200, 4);
    // "begin 644 " and a 289-byte name make a line of exactly 299 characters: its LF arrives as
    // an empty line of its own, which the block skips.
    const std::string withExtension = std::string(284, 'n') + ".jpeg";
    const std::string shortened = std::string(250, 'n') + ".jpeg";
    EXPECT_EQ(Decode(test::UUEncode(data, withExtension)), PicturePath(shortened));
    EXPECT_EQ(PictureFile(shortened), data);

    ClearImages();
    EXPECT_EQ(Decode(test::UUEncode(data, std::string(289, 'n'))),
              PicturePath(std::string(255, 'n')));
    EXPECT_EQ(ImageFiles(), Names{"alt.test/" + std::string(255, 'n')});

    // A two-byte character across the cut goes whole.
    ClearImages();
    std::string accented = std::string(250, 'n');
    for (int i = 0; i < 10; ++i) {
        accented += "\xC3\xA9";
    }
    EXPECT_EQ(Decode(test::UUEncode(data, accented + ".jpg")),
              PicturePath(std::string(250, 'n') + ".jpg"));
}

TEST_F(UUDecoderTest, BeginLineRules) {
    const std::string lines = test::UUEncodeLines(Picture(90)) + "`\nend\n";
    for (const std::string begin :
         {"begin 0 cat.jpg", "begin abc cat.jpg", "begin cat.jpg", "begin 644",
          "begin  644 cat.jpg", "Begin 644 cat.jpg", " begin 644 cat.jpg", "begin\t644 cat.jpg"}) {
        EXPECT_EQ(Decode("text\n" + begin + "\n" + lines), "") << begin;
        EXPECT_EQ(ImageFiles(), Names{}) << begin;
    }
    EXPECT_EQ(console.Text().find("Opening"), std::string::npos);

    // The mode is read as a decimal number and only has to be other than 0; a single space at
    // the end of the line adds no field.
    for (const std::string begin :
         {"begin 0644 cat.jpg", "begin -1 cat.jpg", "begin 7x cat.jpg", "begin 644 cat.jpg "}) {
        ClearImages();
        EXPECT_EQ(Decode(begin + "\n" + lines), PicturePath("cat.jpg")) << begin;
    }
}

TEST_F(UUDecoderTest, NulEndsTheBeginLineSoThePathNamesTheFileWritten) {
    const std::string data = Picture(60, 5);
    const std::string article =
        std::string("begin 644 cat\0.jpg\n", 19) + test::UUEncodeLines(data) + "`\nend\n";
    EXPECT_EQ(Decode(article), PicturePath("cat"));
    EXPECT_EQ(PictureFile("cat"), data);
}

TEST_F(UUDecoderTest, BrokenBlocksLeaveNoFileAndKeepTheOldPicture) {
    test::WriteFile("images/alt.test/cat.jpg", "GOOD");
    const std::string data = Picture(45 * 10, 6);
    const std::string lines = test::UUEncodeLines(data);
    const std::string half = lines.substr(0, lines.size() / 2 / 62 * 62);

    // Only the first part of a picture: no end line.
    EXPECT_EQ(Decode("begin 644 cat.jpg\n" + lines), "");
    // "begin " inside a block is a data line with a length character out of range.
    EXPECT_EQ(Decode("begin 644 cat.jpg\n" + half + "begin 644 cat.jpg\n" + lines + "`\nend\n"),
              "");
    // Any other character out of range: below the space, or above the grave accent.
    EXPECT_EQ(Decode("begin 644 cat.jpg\n" + half + "\x1f\n" + lines + "end\n"), "");
    EXPECT_EQ(Decode("begin 644 cat.jpg\n" + half + "a\n" + lines + "end\n"), "");

    EXPECT_EQ(PictureFile("cat.jpg"), "GOOD");
    EXPECT_EQ(ImageFiles(), Names{"alt.test/cat.jpg"});
}

TEST_F(UUDecoderTest, PicturesOfTheSameNameAreAllKept) {
    const std::string first = Picture(10, 7);
    const std::string second = Picture(500, 8);
    EXPECT_EQ(Decode(test::UUEncode(first, "image.jpg")), PicturePath("image.jpg"));
    EXPECT_EQ(Decode(test::UUEncode(second, "image.jpg")), PicturePath("image (2).jpg"));
    // The same picture again (a second run over the group) is listed under the name it has.
    EXPECT_EQ(Decode(test::UUEncode(second, "image.jpg")), PicturePath("image (2).jpg"));
    EXPECT_EQ(PictureFile("image.jpg"), first);
    EXPECT_EQ(PictureFile("image (2).jpg"), second);
    EXPECT_EQ(ImageFiles(), (Names{"alt.test/image (2).jpg", "alt.test/image.jpg"}));
    // The progress lines name the picture's own name, whichever name it is published under.
    EXPECT_EQ(console.LogLines()[3], "Opening outputfile 'images/alt.test/image.jpg'");
}

TEST_F(UUDecoderTest, AnyLineStartingWithEndClosesTheBlock) {
    const std::string data = Picture(200, 9);
    // "END" and 50 more characters would also make a whole data line of length character E.
    const std::string longEnd = "END" + std::string(50, '-');
    for (const std::string& end :
         std::vector<std::string>{"end", "END", "endless", "END of part 1/1", "end\r", longEnd}) {
        ClearImages();
        EXPECT_EQ(Decode("begin 644 cat.jpg\n" + test::UUEncodeLines(data) + end + "\nM\n" +
                         std::string(200, '-') + "\n"),
                  PicturePath("cat.jpg"))
            << end;
        EXPECT_EQ(PictureFile("cat.jpg"), data) << end;
    }
}

TEST_F(UUDecoderTest, BlankLinesInsideABlockAreSkipped) {
    const std::string data = Picture(45 * 3, 10);
    const std::string article = "begin 644 cat.jpg\n\n" + test::UUEncodeLine(data.substr(0, 45)) +
                                "\n\n\r\n" + test::UUEncodeLine(data.substr(45, 45)) + "\r\n\n" +
                                test::UUEncodeLine(data.substr(90)) + "\n\n`\n\nend\n";
    EXPECT_EQ(Decode(article), PicturePath("cat.jpg"));
    EXPECT_EQ(PictureFile("cat.jpg"), data);
}

TEST_F(UUDecoderTest, LengthCharacterGivesTheBytesOfTheLine) {
    const std::string data = Picture(1 + 3 + 4 + 45, 11);
    const std::string one = test::UUEncodeLine(data.substr(0, 1));
    const std::string three = test::UUEncodeLine(data.substr(1, 3));
    const std::string four = test::UUEncodeLine(data.substr(4, 4));
    const std::string full = test::UUEncodeLine(data.substr(8, 45));
    EXPECT_EQ(one.substr(0, 1) + three.substr(0, 1) + four.substr(0, 1) + full.substr(0, 1),
              "!#$M");
    EXPECT_EQ(one.size(), 5u);
    EXPECT_EQ(four.size(), 9u);
    EXPECT_EQ(full.size(), 61u);
    // A line of a lone space and a line of a lone grave accent write nothing and end nothing.
    const std::string article =
        "begin 644 cat.jpg\n" + one + "\n \n" + three + "\n`\n" + four + "\n" + full + "\n`\nend\n";
    EXPECT_EQ(Decode(article), PicturePath("cat.jpg"));
    EXPECT_EQ(PictureFile("cat.jpg"), data);
}

TEST_F(UUDecoderTest, ShortDataLinesCountMissingCharactersAsZero) {
    // "ABCDEFG" takes three groups; the line keeps two characters of the third, which carry the
    // whole of "G". The length character M asks for 45 bytes: the rest are zeros, and nothing
    // of the next line is read. The next line (36 bytes, 49 characters) ends just where a full
    // M line would: its LF must not pass for the short line's end.
    const std::string encoded = test::UUEncodeLine("ABCDEFG");
    const std::string data = Picture(36, 12);
    const std::string next = test::UUEncodeLine(data);
    ASSERT_EQ(next.size(), 49u);
    const std::string article = "begin 644 cat.jpg\nM" + encoded.substr(1, 10) + "\n" + next +
                                "\nM\n`\nend\n" + std::string(200, '-') + "\n";
    EXPECT_EQ(Decode(article), PicturePath("cat.jpg"));
    EXPECT_EQ(PictureFile("cat.jpg"),
              "ABCDEFG" + std::string(38, '\0') + data + std::string(45, '\0'));
}

TEST_F(UUDecoderTest, CharactersAfterTheGroupsAreIgnored) {
    // Some encoders add a check character to each line.
    const std::string data = Picture(45 * 4 + 7, 13);
    std::string article = "begin 644 cat.jpg\n";
    for (std::size_t start = 0; start < data.size(); start += 45) {
        article += test::UUEncodeLine(data.substr(start, 45)) + "X\r\n";
    }
    EXPECT_EQ(Decode(article + "`\nend\n"), PicturePath("cat.jpg"));
    EXPECT_EQ(PictureFile("cat.jpg"), data);
}

TEST_F(UUDecoderTest, OverlongPhysicalLineArrivesAsSeveralLines) {
    // One physical line: a full data line padded to 299 characters, then a second full data
    // line. The 300-byte rule cuts it after 299 characters, so both decode.
    const std::string data = Picture(90, 14);
    const std::string first = test::UUEncodeLine(data.substr(0, 45));
    const std::string second = test::UUEncodeLine(data.substr(45));
    const std::string physical = first + std::string(299 - first.size(), 'x') + second;
    EXPECT_EQ(Decode("begin 644 cat.jpg\n" + physical + "\n`\nend\n"), PicturePath("cat.jpg"));
    EXPECT_EQ(PictureFile("cat.jpg"), data);
}

TEST_F(UUDecoderTest, SeveralBlocksAreEachWrittenAndTheFirstIsReturned) {
    const std::string a = Picture(100, 15);
    const std::string b = Picture(200, 16);
    EXPECT_EQ(Decode(test::UUEncode(a, "a.jpg") + "between\n" + test::UUEncode(b, "b.jpg")),
              PicturePath("a.jpg"));
    EXPECT_EQ(PictureFile("a.jpg"), a);
    EXPECT_EQ(PictureFile("b.jpg"), b);

    // A later block that breaks takes nothing back and leaves nothing.
    ClearImages();
    EXPECT_EQ(Decode(test::UUEncode(a, "a.jpg") + "begin 644 b.jpg\n" + test::UUEncodeLines(b)),
              PicturePath("a.jpg"));
    EXPECT_EQ(Decode(test::UUEncode(a, "a.jpg") + "begin 644 b.jpg\n" + test::UUEncodeLines(b) +
                     "\x7f\n`\nend\n"),
              PicturePath("a.jpg"));
    EXPECT_EQ(ImageFiles(), Names{"alt.test/a.jpg"});
}

TEST_F(UUDecoderTest, FilesThatCannotBeHad) {
    EXPECT_EQ(UUDecodeFile("", std::string(GROUP)), "");
    EXPECT_EQ(console.Text(), "");

    EXPECT_EQ(UUDecodeFile("4712", std::string(GROUP)), "");
    EXPECT_EQ(console.Text(), "Couldn't open file '4712'\n");

    // The caller creates the group's folder; the decoder does not.
    const std::string article = test::UUEncode(Picture(50), "cat.jpg");
    EXPECT_EQ(Decode(article, std::string("alt.none")), "");
    EXPECT_EQ(console.Text(), "Couldn't open file '4712'\nFile size is " +
                                  std::to_string(article.size()) +
                                  "\nOpening outputfile 'images/alt.none/cat.jpg'\n"
                                  "couldn't open output file 'images/alt.none/cat.jpg'\n");
    EXPECT_FALSE(fs::exists("images/alt.none"));
}

TEST_F(UUDecoderTest, FailedWriteGivesNoPictureAndLeavesNoFile) {
    test::WriteFile("images/alt.test/big.jpg", "GOOD");
    test::WriteFile(ARTICLE, test::UUEncode(Picture(3'000'000, 17), "big.jpg"));
    // Let writes beyond 1 MB fail, as on a full disk.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1'000'000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string result = UUDecodeFile(ARTICLE, std::string(GROUP));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, "");
    EXPECT_NE(console.Text().find("fwrite failed...\n"), std::string::npos);
    EXPECT_EQ(PictureFile("big.jpg"), "GOOD");
    EXPECT_EQ(ImageFiles(), Names{"alt.test/big.jpg"});
}

TEST_F(UUDecoderTest, MatchesTheSystemUuencode) {
    if (!fs::exists("/usr/bin/uuencode")) {
        GTEST_SKIP() << "no /usr/bin/uuencode";
    }
    const std::string data = Picture(45 * 30 + 14, 18);
    test::WriteFile("data.bin", data);
    ASSERT_EQ(std::system("/usr/bin/uuencode data.bin pic.jpg > encoded 2>/dev/null"), 0);
    const std::string theirs = test::ReadFile("encoded");
    const std::string ours = test::UUEncode(data, "pic.jpg");
    // The mode of the begin line follows the file's permissions; the rest must be the same.
    EXPECT_EQ(theirs.substr(theirs.find('\n')), ours.substr(ours.find('\n')));
    EXPECT_EQ(UUDecodeFile("encoded", std::string(GROUP)), PicturePath("pic.jpg"));
    EXPECT_EQ(PictureFile("pic.jpg"), data);
}

}  // namespace
