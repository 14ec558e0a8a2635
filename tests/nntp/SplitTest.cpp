#include "nntp/Split.h"

#include <gtest/gtest.h>

namespace {

using Pieces = std::vector<std::string>;

TEST(SplitTest, BlanksGiveEmptyPiecesButNoEmptyLastPiece) {
    Pieces pieces;
    EXPECT_EQ(Split(" ", "a  b", pieces), 3u);
    EXPECT_EQ(pieces, (Pieces{"a", "", "b"}));
    EXPECT_EQ(Split(" ", "a b ", pieces), 2u);
    EXPECT_EQ(pieces, (Pieces{"a", "b"}));
    EXPECT_EQ(Split(" ", " ", pieces), 1u);
    EXPECT_EQ(pieces, (Pieces{""}));
}

TEST(SplitTest, EmptyTextOrSetLeavesTheListAsItWas) {
    Pieces pieces{"kept"};
    EXPECT_EQ(Split(" ", "", pieces), 0u);
    EXPECT_EQ(Split("", "a b", pieces), 0u);
    EXPECT_EQ(pieces, (Pieces{"kept"}));
}

TEST(SplitTest, TwoCharacterSetStepsOverBothCharacters) {
    Pieces pieces;
    EXPECT_EQ(Split("\r\n", "one\r\ntwo\r\n", pieces), 2u);
    EXPECT_EQ(pieces, (Pieces{"one", "two"}));
    // A lone LF ends a piece and swallows the character after it.
    EXPECT_EQ(Split("\r\n", "ab\ncd", pieces), 2u);
    EXPECT_EQ(pieces, (Pieces{"ab", "d"}));
}

}  // namespace
