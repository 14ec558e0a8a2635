// Whole yEnc blocks in article bodies, on every decoding path: what the header lines say, the
// decoded bytes against the original, and the checks that make a part good or bad, for our own
// encoder's blocks and for hand-written header oddities of real posters.

#include "decode/YEncArticle.h"

#include <gtest/gtest.h>

#include <string>

#include "decode/Crc32.h"
#include "tests/support/UUEncode.h"
#include "tests/support/YEncEncode.h"

namespace {

class YEncArticleTest : public ::testing::TestWithParam<YEncPath> {
protected:
    CYEncPart Decode(std::string_view body) const {
        std::optional<CYEncPart> part = DecodeYEncArticle(body, GetParam());
        EXPECT_TRUE(part.has_value());
        return part.value_or(CYEncPart{});
    }
};

TEST_P(YEncArticleTest, SinglePartPostsDecodeAndVerify) {
    const std::string file = test::PictureBytes(50'000, 1);
    const struct {
        const char* what;
        test::YEncOptions options;
    } knobs[] = {
        {"plain", {}},
        {"LF only", {.lineEnd = "\n"}},
        {"long lines, blanks after values", {.lineLength = 3000, .trailingBlanks = "  \t"}},
        {"part 1 of 1", {.part = 1, .total = 1}},
        {"part 1 without total", {.part = 1}},
        {"extra escapes", {.extraEscapes = "abc*", .escapeLineEdges = false}},
    };
    for (const auto& knob : knobs) {
        const std::string body =
            "Text before.\r\n\r\n" + test::YEncEncode(file, "cat.jpg", knob.options) + "-- \r\n";
        const CYEncPart part = Decode(body);
        EXPECT_TRUE(part.data == file) << knob.what;
        EXPECT_EQ(part.name, "cat.jpg") << knob.what;
        EXPECT_EQ(part.fileSize, file.size()) << knob.what;
        EXPECT_EQ(part.part, knob.options.part) << knob.what;
        EXPECT_EQ(part.total, knob.options.total) << knob.what;
        EXPECT_EQ(part.begin, 1u) << knob.what;
        EXPECT_EQ(part.end, file.size()) << knob.what;
        EXPECT_EQ(part.dataCrc, Crc32(file)) << knob.what;
        EXPECT_EQ(part.fileCrc, Crc32(file)) << knob.what;
        EXPECT_EQ(part.endSize, file.size()) << knob.what;
        EXPECT_TRUE(part.ended && part.Verified() && part.WholeFile()) << knob.what;
    }
}

TEST_P(YEncArticleTest, PartsOfAFileVerifyAndCombine) {
    const std::string file = test::PictureBytes(300'000, 2);
    const std::uint64_t cuts[] = {1, 100'001, 200'001, 300'001};
    for (const std::uint32_t total : {3u, 0u}) {  // 1.3 posts, and 1.2 posts without total=
        std::uint32_t combined = 0;
        for (std::uint32_t index = 0; index < 3; ++index) {
            const test::YEncOptions options{.part = index + 1,
                                            .total = total,
                                            .begin = cuts[index],
                                            .end = cuts[index + 1] - 1};
            const CYEncPart part = Decode(test::YEncEncode(file, "big.png", options));
            EXPECT_TRUE(part.Verified()) << index;
            EXPECT_FALSE(part.WholeFile()) << index;
            EXPECT_EQ(part.part, index + 1);
            EXPECT_EQ(part.total, total);
            EXPECT_EQ(part.begin, cuts[index]);
            EXPECT_EQ(part.end, cuts[index + 1] - 1);
            EXPECT_TRUE(part.data == file.substr(cuts[index] - 1, 100'000)) << index;
            combined =
                index == 0 ? part.dataCrc : Crc32Combine(combined, part.dataCrc, part.data.size());
            EXPECT_EQ(part.fileCrc, Crc32(file));
        }
        EXPECT_EQ(combined, Crc32(file));
    }
}

TEST_P(YEncArticleTest, BadPartsFailTheirChecks) {
    const std::string file = test::PictureBytes(20'000, 3);
    const std::string good = test::YEncEncode(file, "a.jpg");
    const std::string goodPart =
        test::YEncEncode(file, "a.jpg", {.part = 1, .total = 2, .begin = 1, .end = 10'000});
    const auto replaced = [](std::string body, const std::string& from, const std::string& to) {
        return body.replace(body.find(from), from.size(), to);
    };
    const std::string lostLine = [&] {
        std::string body = good;
        const std::size_t line = body.find("\r\n", 1000) + 2;
        return body.erase(line, body.find("\r\n", line) + 2 - line);
    }();
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"wrong crc32", test::YEncEncode(file, "a.jpg", {.badCrc = true})},
        {"wrong pcrc32",
         test::YEncEncode(file, "a.jpg",
                          {.badCrc = true, .part = 1, .total = 2, .begin = 1, .end = 10'000})},
        {"a line lost", lostLine},
        {"no =yend", good.substr(0, good.find("=yend"))},
        {"cut inside the data", good.substr(0, 10'000)},
        {"=yend size= differs", replaced(good, "=yend size=20000", "=yend size=20001")},
        {"size= differs", replaced(good, "size=20000 name", "size=20001 name")},
        {"unreadable crc32", replaced(good, "crc32=", "crc32=x")},
        {"unreadable size", replaced(good, "size=20000 name", "size=2e4 name")},
        {"=yend part= differs", replaced(goodPart, " part=1 pcrc32", " part=2 pcrc32")},
        {"part beyond total", replaced(goodPart, "part=1 total=2", "part=3 total=2")},
        {"end beyond the file", replaced(goodPart, "end=10000", "end=20001")},
        {"another =ybegin before =yend", good.substr(0, 5000) + "\r\n" + good},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Decode(c.body).Verified()) << c.what;
    }
    EXPECT_TRUE(Decode(good).Verified());
    EXPECT_TRUE(Decode(goodPart).Verified());
}

TEST_P(YEncArticleTest, HeaderOdditiesOfRealPosts) {
    const std::string data = "Hello";
    const std::string lines = test::YEncEncodeLines(data, {.lineEnd = "\n"});
    const std::string crc = " crc32=" + [&] {
        char text[9];
        std::snprintf(text, sizeof text, "%08X", Crc32(data));
        return std::string(text);
    }();
    const struct {
        std::string begin;
        std::string end;
        std::string name;
    } cases[] = {
        // 1.1: no part=, a name with blanks and "=", blanks around it.
        {"=ybegin line=128 size=5 name=  my cat = best.jpg \t", "=yend size=5",
         "my cat = best.jpg"},
        {"=ybegin size=5 line=128 name=name=x.jpg", "=yend size=5" + crc, "name=x.jpg"},
        // Blanks after values and around fields, tabs, a CRC in capitals.
        {"=ybegin  line=128   size=5\t name=a.jpg", "=yend size=5  \tcrc32=" + crc.substr(7),
         "a.jpg"},
        {"=ybegin line=128 size=5 name=a.jpg", "=yend size=5 crc32=f7d18982 ", "a.jpg"},
        // No name at all: the part still decodes.
        {"=ybegin line=128 size=5", "=yend size=5", ""},
    };
    for (const auto& c : cases) {
        const std::string body = "intro\n" + c.begin + "\n" + lines + c.end + "\n";
        const CYEncPart part = Decode(body);
        EXPECT_EQ(part.name, c.name) << c.begin;
        EXPECT_EQ(part.data, data) << c.begin;
        EXPECT_TRUE(part.Verified()) << c.begin << " / " << c.end;
    }
    EXPECT_EQ(Crc32(data), 0xf7d18982u);
    // Only a line that starts with "=ybegin " opens a block.
    for (const std::string body : {"", "text\n", " =ybegin size=5 name=a\n", "=ybegin2 size=5\n",
                                   "x=ybegin size=5 name=a\n"}) {
        EXPECT_FALSE(DecodeYEncArticle(body, GetParam()).has_value()) << body;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, YEncArticleTest, ::testing::ValuesIn(AvailableYEncPaths()),
                         [](const ::testing::TestParamInfo<YEncPath>& info) {
                             return std::string(info.param == YEncPath::Scalar  ? "Scalar"
                                                : info.param == YEncPath::Sse41 ? "Sse41"
                                                                                : "Avx2");
                         });

}  // namespace
