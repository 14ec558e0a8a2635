// Overview entries grouped into posts, and when posts are settled.

#include "fetch/CPostList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

COverviewEntry Entry(std::uint32_t number, std::string subject, std::string from = "P <p@x>",
                     std::string date = "", std::uint64_t bytes = 100) {
    return {number,
            std::move(subject),
            std::move(from),
            std::move(date),
            "<" + std::to_string(number) + "@x>",
            bytes,
            10};
}

// "name: articles in part order", and what is missing.
std::string Describe(const CPost& post) {
    std::string text = post.name + ":";
    for (const CPost::Part& part : post.listed) {
        text += " " + std::to_string(part.article);
    }
    for (const std::uint32_t missing : post.Missing()) {
        text += " -" + std::to_string(missing);
    }
    return text;
}

TEST(PostListTest, EntriesAreGroupedIntoPosts) {
    struct Case {
        const char* what;
        std::vector<COverviewEntry> entries;
        std::vector<std::string> posts;  // in the order of their oldest article
    };
    const Case cases[] = {
        {"interleaved",
         {Entry(1, R"("a.jpg" yEnc (1/2))"), Entry(2, R"("b.jpg" yEnc (1/2))"),
          Entry(3, R"("b.jpg" yEnc (2/2))"), Entry(4, R"("a.jpg" yEnc (2/2))")},
         {"a.jpg: 1 4", "b.jpg: 2 3"}},
        {"parts out of order", {Entry(5, "c.jpg (2/2)"), Entry(6, "c.jpg (1/2)")}, {"c.jpg: 6 5"}},
        {"repost",
         {Entry(1, "a.jpg (1/2)"), Entry(2, "a.jpg (2/2)"), Entry(3, "a.jpg (1/2)"),
          Entry(4, "a.jpg (2/2)")},
         {"a.jpg: 1 2", "a.jpg: 3 4"}},
        {"a repost fills the first post's gap",
         {Entry(1, "a.jpg (1/3)"), Entry(2, "a.jpg (3/3)"), Entry(3, "a.jpg (1/3)"),
          Entry(4, "a.jpg (2/3)"), Entry(5, "a.jpg (3/3)")},
         {"a.jpg: 1 4 2", "a.jpg: 3 5 -2"}},
        {"subject lies about its part count",
         {Entry(1, "x.jpg (1/3)"), Entry(2, "x.jpg (2/3)")},
         {"x.jpg: 1 2 -3"}},
        {"parts carrying different names",
         {Entry(1, R"("a.jpg" yEnc (1/2))"), Entry(2, R"("b.jpg" yEnc (2/2))")},
         {"a.jpg: 1 -2", "b.jpg: 2 -1"}},
        {"other poster",
         {Entry(1, "a.jpg (1/2)"), Entry(2, "a.jpg (2/2)", "Q <q@x>")},
         {"a.jpg: 1 -2", "a.jpg: 2 -1"}},
        {"part 0 and single articles",
         {Entry(1, "s.jpg (0/2)"), Entry(2, "s.jpg (1/2)"), Entry(3, "Re: nice"),
          Entry(4, "s.jpg (2/2)"), Entry(5, "Re: nice")},
         {"s.jpg: 1", "s.jpg: 2 4", ": 3", ": 5"}},
    };
    for (const Case& c : cases) {
        CPostList list;
        for (const COverviewEntry& entry : c.entries) {
            list.Add(entry);
        }
        std::vector<std::string> posts;
        for (const CPost& post : list.TakeSettled(0, 0, true)) {
            posts.push_back(Describe(post));
        }
        EXPECT_EQ(posts, c.posts) << c.what;
        EXPECT_EQ(list.Waiting(), 0u) << c.what;
    }
}

TEST(PostListTest, PostsWaitForTheirPartsUntilTheSpanHasPassed) {
    CPostList list;
    list.Add(Entry(10, "a.jpg (2/3)", "P <p@x>", "day 2", 120));
    list.Add(Entry(11, "b.jpg"));
    list.Add(Entry(12, "c.jpg (1/2) 1000"));
    list.Add(Entry(13, "c.jpg (2/2) 1000"));
    std::vector<std::string> taken;
    for (const CPost& post : list.TakeSettled(13, 5, false)) {
        taken.push_back(Describe(post));
    }
    EXPECT_THAT(taken, ElementsAre("b.jpg: 11", "c.jpg: 12 13"));
    EXPECT_EQ(list.Waiting(), 1u);

    // Looking back: only a part the waiting post lacks is worth adding.
    EXPECT_TRUE(list.Completes(Entry(9, "a.jpg (1/3)")));
    EXPECT_FALSE(list.Completes(Entry(9, "a.jpg (2/3)")));
    EXPECT_FALSE(list.Completes(Entry(9, "c.jpg (1/2) 1000")));
    EXPECT_FALSE(list.Completes(Entry(9, "a.jpg (1/3)", "Q <q@x>")));
    EXPECT_FALSE(list.Completes(Entry(9, "a.jpg")));
    list.Add(Entry(9, "a.jpg (1/3)", "P <p@x>", "day 1", 80));

    EXPECT_TRUE(list.TakeSettled(15, 5, false).empty());
    const std::vector<CPost> late = list.TakeSettled(16, 5, false);
    ASSERT_EQ(late.size(), 1u);
    const CPost& a = late[0];
    EXPECT_EQ(Describe(a), "a.jpg: 9 10 -3");
    EXPECT_FALSE(a.Complete());
    EXPECT_EQ(a.date, "day 1");
    EXPECT_EQ(a.Oldest(), 9u);
    EXPECT_EQ(a.Newest(), 10u);
    EXPECT_EQ(a.Bytes(), 200u);
    EXPECT_EQ(a.EstimatedBytes(), 300u);

    list.Add(Entry(20, "d.jpg (1/4) 5000"));
    EXPECT_TRUE(list.TakeSettled(20, 1000, false).empty());
    const std::vector<CPost> last = list.TakeSettled(20, 1000, true);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].EstimatedBytes(), 5000u);
    EXPECT_EQ(list.Waiting(), 0u);
}

}  // namespace
