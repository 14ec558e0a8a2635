// Which articles of a group a run visits, from the record and what GROUP reported.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "fetch/VisitPlan.h"

namespace {

using Range = CArticleRanges::Range;

struct VisitCase {
    const char* what;
    const char* record;  // the .newsrc numbers
    CVisitOptions options;
    std::uint32_t first;
    std::uint32_t last;
    std::optional<std::uint64_t> count;
    std::vector<Range> visit;
    bool renumbered;
    std::uint32_t windowStart;
};

const VisitCase CASES[] = {
    {"first run, small group", "", {true, 1000}, 5, 9, 5, {{5, 9}}, false, 0},
    {"first run, newest N", "", {true, 3}, 1, 10, 10, {{8, 10}}, false, 8},
    {"only new: the gaps", "1-4,7", {true, 1000}, 1, 9, 9, {{5, 6}, {8, 9}}, false, 0},
    {"every article", "1-9", {false, 1000}, 1, 9, 9, {{1, 9}}, false, 0},
    {"nothing new", "1-9", {true, 1000}, 1, 9, 9, {}, false, 0},
    {"renumbered afresh", "1-900", {true, 2}, 1, 10, 10, {{9, 10}}, true, 9},
    {"empty: 0 0 0", "1-900", {true, 1000}, 0, 0, 0, {}, false, 0},
    {"empty: last below first", "1-900", {true, 1000}, 901, 900, std::nullopt, {}, false, 0},
    {"empty: count 0", "1-900", {true, 1000}, 1, 900, 0, {}, false, 0},
    {"article 0 is never visited", "", {true, 1000}, 0, 3, 4, {{1, 3}}, false, 0},
    {"the last number",
     "",
     {true, 2},
     4294967290u,
     4294967295u,
     6,
     {{4294967294u, 4294967295u}},
     false,
     4294967294u},
};

TEST(VisitPlanTest, VisitsWhatTheRecordAndTheGroupLeave) {
    for (const VisitCase& c : CASES) {
        const std::optional<CArticleRanges> done = CArticleRanges::FromText(c.record);
        ASSERT_TRUE(done) << c.what;
        const CVisitPlan plan = PlanVisit(*done, c.options, c.first, c.last, c.count);
        EXPECT_EQ(plan.ranges, c.visit) << c.what;
        EXPECT_EQ(plan.renumbered, c.renumbered) << c.what;
        EXPECT_EQ(plan.windowStart, c.windowStart) << c.what;
        std::uint64_t count = 0;
        for (const Range& range : c.visit) {
            count += range.last - range.first + 1ULL;
        }
        EXPECT_EQ(plan.count, count) << c.what;
    }
}

}  // namespace
