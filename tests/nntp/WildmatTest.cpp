// Wildmats: the examples of RFC 3977 section 4.4, UTF-8 characters, case, and the syntax check.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nntp/Wildmat.h"

namespace {

TEST(WildmatTest, MatchesAsTheRfcsExamplesSay) {
    const std::string pound = "\xC2\xA3";  // one character of two bytes
    const struct {
        std::string wildmat;
        std::vector<std::string> matching;
        std::vector<std::string> other;
    } cases[] = {
        {"abc", {"abc"}, {"ab", "abcd", "ABC", ""}},
        {"abc,def", {"abc", "def"}, {"abcdef", "ab"}},
        {pound, {pound}, {"\xC2", "?"}},
        {"a*", {"a", "abc"}, {"ba", ""}},
        {"a*b", {"ab", "axxb"}, {"a", "ba", "abc"}},
        {"a*,*b", {"a", "xb", "ab"}, {"ba", "c"}},
        {"a*,!*b", {"a", "ac"}, {"ab", "xb", "c"}},
        {"a*,!*b,c*", {"ac", "cb", "c"}, {"ab", "b"}},
        {"a*,c*,!*b", {"a", "cx"}, {"ab", "cb", "x"}},
        {"?a*", {"ba", "xab"}, {"a", "abc"}},
        {"??a*", {"xya", "xyab"}, {"xa", "xyb"}},
        {"*a?", {"ab", "xxab"}, {"a", "abb"}},
        {"*a??", {"abc", "xabc"}, {"ab", "abcd"}},
        // "?" and "*" take UTF-8 characters, not bytes.
        {"?", {pound, "x", "\xF0\x9F\x98\x80"}, {"", "xx", pound + "x"}},
        {"??", {"\xC2\xC2", "x\xC2"}, {pound}},  // a byte that is not UTF-8 is a character
        {"*\xA3", {"x\xA3"}, {pound}},           // nor is a character cut in two
        {"*" + pound + "?", {pound + pound, "x" + pound + "y"}, {pound, "x" + pound}},
        // Only negated patterns: nothing matches.
        {"!a*", {}, {"a", "b", ""}},
        {"", {""}, {"a"}},
        {"*", {"", "anything at all", "\xFF"}, {}},
        {"a,,b", {"a", "", "b"}, {"ab"}},
    };
    for (const auto& c : cases) {
        for (const std::string& text : c.matching) {
            EXPECT_TRUE(WildmatMatches(c.wildmat, text)) << c.wildmat << " " << text;
        }
        for (const std::string& text : c.other) {
            EXPECT_FALSE(WildmatMatches(c.wildmat, text)) << c.wildmat << " " << text;
        }
    }
}

TEST(WildmatTest, IgnoringCaseFoldsAsciiLettersOnly) {
    const struct {
        std::string wildmat, text;
        bool exact, ignoringCase;
    } cases[] = {
        {"*Pictures*", "alt.binaries.PICTURES.misc", false, true},
        {"*,!spam*", "SPAM offer", true, false},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false, false},  // not "É"
        {"a?c",
         "A\xC3\x9F"
         "C",
         false, true},
        {"[x]", "[X]", false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WildmatMatches(c.wildmat, c.text), c.exact) << c.wildmat;
        EXPECT_EQ(WildmatMatches(c.wildmat, c.text, true), c.ignoringCase) << c.wildmat;
    }
}

TEST(WildmatTest, ManyStarsOnALongTextAnswerWithoutBlowingUp) {
    // Backtracking into every star would take about n^5 steps here.
    const std::string text(200000, 'a');
    EXPECT_FALSE(WildmatMatches("*a*a*a*a*b", text));
    EXPECT_TRUE(WildmatMatches("*a*a*a*a*a", text));
    EXPECT_TRUE(WildmatMatches("*a*a*a*a*b", text + "b"));
}

TEST(WildmatTest, TheSyntaxCheckNamesWhatIsWrong) {
    const struct {
        std::string wildmat;
        bool allowSpaces;
        std::string problem;  // empty: valid
    } cases[] = {
        {"alt.binaries.*,!*.d", false, ""},
        {"*,!?x*", false, ""},
        {"\xC2\xA3*", false, ""},
        {"*big fan*", true, ""},
        {"*big fan*", false, "it holds a space"},
        {"", false, "it is empty"},
        {"a,", false, "a pattern between commas is empty"},
        {"a,!", false, "a pattern between commas is empty"},
        {"!a*", false, "the first pattern cannot be negated (\"*,!x\" is all but x)"},
        {"a!b", false, "\"!\" may only begin a pattern that follows a comma"},
        {"*,!!b", false, "\"!\" may only begin a pattern that follows a comma"},
        {"*[1/5]*", false, "\"[\", \"\\\" and \"]\" are reserved"},
        {"a\tb", true, "it holds a control character"},
        {"a\xC2", false, "it is not UTF-8"},
        {"\xED\xA0\x80", false, "it is not UTF-8"},  // a surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WildmatProblem(c.wildmat, c.allowSpaces), c.problem) << c.wildmat;
        EXPECT_EQ(IsWildmatValid(c.wildmat, c.allowSpaces), c.problem.empty()) << c.wildmat;
    }
}

}  // namespace
