// The article reader must cut lines exactly where a 300-byte fgets buffer cuts them, wherever its
// own reads happen to end; these tests hold it against real fgets on the same bytes.

#include "decode/CArticleReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using Lines = std::vector<std::string>;

// The lines as fgets through a 300-byte buffer reads them, each trimmed of a trailing LF and a
// CR right before it, and read as a C text.
Lines ReadWithFgets(const std::string& path) {
    Lines lines;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open " << path;
        return lines;
    }
    char buffer[300];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
        }
        lines.push_back(line);
    }
    std::fclose(file);
    return lines;
}

Lines ReadWithReader(const std::string& path, std::size_t chunkSize) {
    Lines lines;
    CArticleReader reader(chunkSize);
    EXPECT_TRUE(reader.Open(path));
    std::uint64_t size = 0;
    EXPECT_TRUE(reader.ReadSize(size));
    std::string_view line;
    while (reader.NextLine(line)) {
        lines.emplace_back(line);
    }
    EXPECT_TRUE(reader.Close());
    return lines;
}

// Lines of every awkward length (0, 298, 299, 300, 598, 599, several hundred), with LF, CR LF and
// lone CR, CRs and NULs inside, and sometimes no line end at the very end.
std::string AwkwardText(unsigned seed, std::size_t approximateSize) {
    std::mt19937 random(seed);
    const std::vector<std::size_t> lengths = {0,   1,   61,  297, 298, 299,
                                              300, 301, 597, 598, 599, 1000};
    std::string text;
    while (text.size() < approximateSize) {
        std::size_t length =
            random() % 3 == 0 ? lengths[random() % lengths.size()] : random() % 120;
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned pick = random() % 100;
            text += pick == 0 ? '\0' : pick == 1 ? '\r' : static_cast<char>('!' + random() % 90);
        }
        const unsigned end = random() % 10;
        text += end < 6 ? "\n" : end < 9 ? "\r\n" : "\r";
    }
    if (seed % 2 == 0) {
        text += "no line end here";
    }
    return text;
}

TEST(ArticleReaderTest, CutsLinesLikeFgetsWhateverTheReadSize) {
    test::TempDir dir;
    const std::string path = (dir.Path() / "article").string();
    for (unsigned seed = 1; seed <= 4; ++seed) {
        test::WriteFile(path, AwkwardText(seed, 40000));
        const Lines expected = ReadWithFgets(path);
        ASSERT_GT(expected.size(), 100u);
        for (const std::size_t chunk : {1, 2, 7, 298, 299, 300, 301, 4096, 1 << 20}) {
            EXPECT_EQ(ReadWithReader(path, chunk), expected)
                << "seed " << seed << " chunk " << chunk;
        }
    }
}

TEST(ArticleReaderTest, LinesAcrossFullSizeReadsMatchFgets) {
    // Larger than two default reads, so lines straddle the 1 MiB boundaries on the inline path.
    test::TempDir dir;
    const std::string path = (dir.Path() / "article").string();
    test::WriteFile(path, AwkwardText(7, 2'500'000));
    EXPECT_EQ(ReadWithReader(path, CArticleReader::CHUNK_SIZE), ReadWithFgets(path));
}

TEST(ArticleReaderTest, SmallCases) {
    test::TempDir dir;
    const std::string path = (dir.Path() / "article").string();
    const auto read = [&](const std::string& text) {
        test::WriteFile(path, text);
        return ReadWithReader(path, CArticleReader::CHUNK_SIZE);
    };
    EXPECT_EQ(read(""), Lines{});
    EXPECT_EQ(read("\n"), Lines{""});
    EXPECT_EQ(read("a\r\nb\nc"), (Lines{"a", "b", "c"}));
    // A lone CR is no line end, and a CR not followed by LF stays.
    EXPECT_EQ(read("a\rb\r\n\r"), (Lines{"a\rb", "\r"}));
    // 299 characters and their LF: the LF arrives as an empty line of its own.
    EXPECT_EQ(read(std::string(299, 'x') + "\n"), (Lines{std::string(299, 'x'), ""}));
    EXPECT_EQ(read(std::string(300, 'x') + "\n"), (Lines{std::string(299, 'x'), "x"}));
    // A NUL ends the text of its line; the next line starts after the LF as usual.
    EXPECT_EQ(read(std::string("ab\0cd\nef\n", 9)), (Lines{"ab", "ef"}));
}

TEST(ArticleReaderTest, MissingFileFailsToOpen) {
    test::TempDir dir;
    CArticleReader reader;
    EXPECT_FALSE(reader.Open((dir.Path() / "absent").string()));
    std::string_view line;
    EXPECT_FALSE(reader.NextLine(line));
}

}  // namespace
