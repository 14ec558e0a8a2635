// The record of processed articles: its ranges of numbers, and the .newsrc file they live in.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "config/CNewsrc.h"
#include "tests/support/TempDir.h"

namespace {

using Range = CArticleRanges::Range;
using ::testing::ElementsAre;

TEST(NewsrcTest, RangesMergeAndSayWhatIsMissing) {
    CArticleRanges ranges;
    for (const auto& [first, last] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{10, 20},
                                                              {30, 40},
                                                              {21, 21},
                                                              {5, 3},
                                                              {50, 50},
                                                              {35, 55},
                                                              {4294967290u, 4294967295u}}) {
        ranges.Add(first, last);
    }
    EXPECT_THAT(ranges.Ranges(),
                ElementsAre(Range{10, 21}, Range{30, 55}, Range{4294967290u, 4294967295u}));
    EXPECT_EQ(ranges.ToText(), "10-21,30-55,4294967290-4294967295");
    EXPECT_TRUE(ranges.Contains(30));
    EXPECT_FALSE(ranges.Contains(25));
    EXPECT_EQ(ranges.Highest(), 4294967295u);
    EXPECT_THAT(ranges.Missing(1, 60), ElementsAre(Range{1, 9}, Range{22, 29}, Range{56, 60}));
    EXPECT_THAT(ranges.Missing(12, 18), ::testing::IsEmpty());
    EXPECT_THAT(ranges.Missing(4294967280u, 4294967295u),
                ElementsAre(Range{4294967280u, 4294967289u}));
    EXPECT_EQ(CArticleRanges::FromText("30-55,10-21,4294967290-4294967295,40"), ranges);
    for (const char* bad : {"1-", "-5", "a", "1,,2", "4294967296", " 1"}) {
        EXPECT_EQ(CArticleRanges::FromText(bad), std::nullopt) << bad;
    }
}

TEST(NewsrcTest, ALineInAnyOrderGivesTheSetOfItsSortedLine) {
    // Every number but the multiples of 7, some as ranges that overlap the next, a reversed
    // range that stands for nothing, and the highest number there is.
    std::vector<std::string> items = {"9-3", "4294967295"};
    CArticleRanges expected;
    expected.Add(4294967295u);
    for (std::uint32_t number = 1; number < 30000; ++number) {
        if (number % 7 != 0) {
            const bool pair = number % 5 == 0 && (number + 1) % 7 != 0;
            items.push_back(std::to_string(number) +
                            (pair ? "-" + std::to_string(number + 1) : ""));
            expected.Add(number);
        }
    }
    const auto line = [&items] {
        std::string text;
        for (const std::string& item : items) {
            text += (text.empty() ? "" : ",") + item;
        }
        return text;
    };
    EXPECT_EQ(CArticleRanges::FromText(line()), expected);
    std::shuffle(items.begin(), items.end(), std::mt19937(7));
    EXPECT_EQ(CArticleRanges::FromText(line()), expected);
}

TEST(NewsrcTest, TheFileKeepsWhatOtherReadersWroteAndRoundTrips) {
    const test::TempDir folder(true);
    CNewsrc record;
    std::string error;
    ASSERT_TRUE(record.Load("zarvo-news-119.newsrc", error));  // none yet
    EXPECT_EQ(record.Find("alt.pics"), nullptr);
    test::WriteFile("zarvo-news-119.newsrc",
                    "alt.pics: 1-2000,2005\r\ncomp.x! 1-5\n\n# a note\nalt.empty:\n");
    ASSERT_TRUE(record.Load("zarvo-news-119.newsrc", error));
    ASSERT_NE(record.Find("alt.pics"), nullptr);
    EXPECT_EQ(record.Find("alt.pics")->ToText(), "1-2000,2005");
    EXPECT_EQ(record.Find("comp.x"), nullptr);
    record.Group("alt.pics").Add(2001, 2004);
    record.Group("alt.new").Add(7);
    ASSERT_TRUE(record.Save("zarvo-news-119.newsrc", error)) << error;
    EXPECT_EQ(test::ReadFile("zarvo-news-119.newsrc"),
              "alt.pics: 1-2005\ncomp.x! 1-5\n# a note\nalt.empty: \nalt.new: 7\n");
    EXPECT_EQ(CNewsrc::FileName("[::1]:563"), "zarvo-_--1_-563.newsrc");
    EXPECT_EQ(CNewsrc::FileName("news.example.com:119"), "zarvo-news.example.com-119.newsrc");
}

}  // namespace
