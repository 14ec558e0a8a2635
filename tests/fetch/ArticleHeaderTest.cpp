// Header fields and the part numbers of a subject, as posters write them.

#include "fetch/ArticleHeader.h"

#include <gtest/gtest.h>

namespace {

TEST(ArticleHeaderTest, FieldsAreFoundWhateverTheirCaseAndFolding) {
    const std::string header =
        "Path: a!b\r\nFROM: Poster <p@example.com>\r\nsubject:  cat.jpg (1/2)\r\n"
        "\tcontinued  \r\nX-Empty:\r\n";
    EXPECT_EQ(HeaderField(header, "From"), "Poster <p@example.com>");
    EXPECT_EQ(HeaderField(header, "Subject"), "cat.jpg (1/2) continued");
    EXPECT_EQ(HeaderField(header, "X-Empty"), "");
    EXPECT_EQ(HeaderField(header, "Newsgroups"), "");
    EXPECT_EQ(HeaderField("Subject: lf only\nFrom: x\n", "subject"), "lf only");
}

TEST(ArticleHeaderTest, TheLastWellFormedPartNumbersOfASubjectCount) {
    struct Case {
        std::string subject;
        std::uint32_t number;  // 0: none found
        std::uint32_t total;
        std::string rest;
    };
    const Case cases[] = {
        {"cat.jpg (2/3)", 2, 3, "cat.jpg "},
        {"[1/10] holiday - \"sea.jpg\" yEnc (3/12)", 3, 12, "[1/10] holiday - \"sea.jpg\" yEnc "},
        {"sea.jpg [1/2] (draft)", 1, 2, "sea.jpg  (draft)"},
        {"cat.jpg (0/3)", 0, 0, ""},
        {"cat.jpg (4/3)", 0, 0, ""},
        {"cat.jpg (a/3)", 0, 0, ""},
        {"cat.jpg (1/99999999999)", 0, 0, ""},
        {"just words (really)", 0, 0, ""},
    };
    for (const Case& c : cases) {
        const std::optional<CSubjectParts> parts = FindSubjectParts(c.subject);
        ASSERT_EQ(parts.has_value(), c.number != 0) << c.subject;
        if (parts) {
            EXPECT_EQ(parts->number, c.number) << c.subject;
            EXPECT_EQ(parts->total, c.total) << c.subject;
            EXPECT_EQ(parts->rest, c.rest) << c.subject;
        }
    }
}

}  // namespace
