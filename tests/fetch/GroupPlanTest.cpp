// A group's posts planned batch by batch from the overview alone: what is fetched and what is
// passed over, with posts cut by a batch, parts before the articles visited, parts missing on
// the server, archive sets, names that say nothing, and the settings' limits.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "fetch/CGroupPlan.h"

namespace {

using Numbers = std::set<std::uint32_t>;

COverviewEntry Entry(std::uint32_t number, const std::string& subject,
                     const std::string& from = "Poster <p@x>",
                     std::optional<std::uint32_t> lines = 40) {
    COverviewEntry entry;
    entry.number = number;
    entry.subject = subject;
    entry.from = from;
    entry.bytes = 5000;
    entry.lines = lines;
    return entry;
}

struct Batch {
    std::uint32_t first;
    std::uint32_t last;
    std::vector<COverviewEntry> entries;
};

struct PlanCase {
    const char* what;
    const char* earlier;  // the record of earlier runs
    std::uint32_t groupLast;
    std::vector<Batch> batches;
    std::vector<COverviewEntry> lookBack;  // read before the first batch's articles
    std::string lookedAt;                  // the first bytes of a post looked at
    Numbers fetched;
    Numbers passed;
    std::string passedOver;  // as the run tells it
};

const std::string JPEG = "\xFF\xD8\xFF\xE0 picture";

const PlanCase CASES[] = {
    {"a post cut by a batch waits for its other parts",
     "",
     5,
     {{1, 3, {Entry(1, "\"a.jpg\" yEnc (1/2)"), Entry(3, "\"b.jpg\" yEnc (1/1)")}},
      {4, 5, {Entry(4, "\"a.jpg\" yEnc (2/2)"), Entry(5, "\"c.mkv\" yEnc (1/1)")}}},
     {},
     {},
     {1, 3, 4},
     {2, 5},
     "1 post passed over: 1 video or audio"},
    {"earlier parts are fetched with the rest, unless an earlier run had them",
     "1-2",
     6,
     {{5, 6, {Entry(5, "\"x.jpg\" yEnc (3/4)"), Entry(6, "\"x.jpg\" yEnc (4/4)")}}},
     {Entry(1, "\"x.jpg\" yEnc (1/4)"), Entry(3, "\"x.jpg\" yEnc (2/4)"),
      Entry(4, "\"y.jpg\" yEnc (1/1)")},
     {},
     {3, 5, 6},
     {},
     ""},
    {"a post with a part missing on the server is passed over, one still being posted is not",
     "",
     3100,
     {{1, 3, {Entry(1, "\"gap.jpg\" yEnc (1/3)"), Entry(3, "\"gap.jpg\" yEnc (3/3)")}},
      {3099, 3100, {Entry(3099, "\"new.jpg\" yEnc (1/3)"), Entry(3100, "\"new.jpg\" yEnc (2/3)")}}},
     {},
     {},
     {3099, 3100},
     {1, 2, 3},
     "1 post passed over: 1 incomplete on the server"},
    {"an archive set waits for every volume, fetched once; an archive of a video is passed over",
     "",
     5,
     {{1,
       2,
       {Entry(1, "\"s.part1.rar\" yEnc (1/1)"), Entry(2, "\"film.mkv.part1.rar\" yEnc (1/1)")}},
      {3,
       5,
       {Entry(3, "\"s.part2.rar\" yEnc (1/1)"), Entry(4, "\"s.part3.rar\" yEnc (1/1)"),
        Entry(5, "\"s.part2.rar\" yEnc (1/1)")}}},
     {},
     {},
     {1, 3, 4},
     {2, 5},
     "1 post passed over: 1 video or audio"},
    {"a name that says nothing: its first part's bytes say picture",
     "",
     3,
     {{1,
       3,
       {Entry(1, "a1b2c3 yEnc (1/3)"), Entry(2, "a1b2c3 yEnc (2/3)"),
        Entry(3, "a1b2c3 yEnc (3/3)")}}},
     {},
     JPEG,
     {1, 2, 3},
     {},
     ""},
    {"a name that says nothing: its first part's bytes say something else",
     "",
     3,
     {{1,
       3,
       {Entry(1, "a1b2c3 yEnc (1/3)"), Entry(2, "a1b2c3 yEnc (2/3)"),
        Entry(3, "a1b2c3 yEnc (3/3)")}}},
     {},
     "MZ\x90 a program",
     {1},
     {2, 3},
     "1 post passed over: 1 other files"},
    {"too few lines for a picture, or lines unknown",
     "",
     3,
     {{1,
       3,
       {Entry(1, "Re: thanks", "Reader <r@x>", 1), Entry(2, "a.jpg", "Poster <p@x>", 1),
        Entry(3, "b.jpg", "Poster <p@x>", std::nullopt)}}},
     {},
     {},
     {3},
     {1, 2},
     ""},
    {"the size limit and the poster to skip",
     "",
     2,
     {{1,
       2,
       {Entry(1, "\"big.jpg\" yEnc (1/1) 300 MB"),
        Entry(2, "\"c.jpg\" yEnc (1/1)", "Spammer <spam@x>")}}},
     {},
     {},
     {},
     {1, 2},
     "2 posts passed over: 1 over the size limit, 1 skipped by your patterns"},
};

TEST(GroupPlanTest, WhatIsFetchedAndWhatIsPassedOver) {
    CCollectPolicy policy;
    policy.maxPostBytes = 200 << 20;
    policy.maxUnnamedBytes = 50 << 20;
    policy.skipPosters = {"*spam@*"};
    for (const PlanCase& c : CASES) {
        SCOPED_TRACE(c.what);
        CGroupPlan plan(policy, *CArticleRanges::FromText(c.earlier), c.groupLast);
        Numbers fetched;
        Numbers passed;
        const auto take = [&](bool final) {
            for (const CPlannedArticle& article : plan.TakeWork(final)) {
                (article.fetch ? fetched : passed).insert(article.number);
                if (article.target && article.target->look) {
                    plan.Looked(article.target->key, c.lookedAt);
                }
                if (article.target && article.target->volume) {
                    EXPECT_EQ(article.target->volume->count, 3u) << article.number;
                }
            }
        };
        for (std::size_t i = 0; i < c.batches.size(); ++i) {
            const Batch& batch = c.batches[i];
            std::vector<std::uint32_t> numbers;
            for (std::uint32_t n = batch.first; n <= batch.last; ++n) {
                numbers.push_back(n);
            }
            plan.AddBatch(numbers, batch.entries);
            if (i == 0) {
                plan.AddLookBack(c.lookBack);
            }
            take(i + 1 == c.batches.size());
        }
        while (plan.HasWork()) {
            take(true);
        }
        EXPECT_EQ(fetched, c.fetched);
        EXPECT_EQ(passed, c.passed);
        EXPECT_EQ(DescribePassedOver(plan.PassedOver()), c.passedOver);
    }
}

}  // namespace
