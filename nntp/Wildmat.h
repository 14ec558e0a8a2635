#pragma once

// Wildmats as RFC 3977 section 4 defines them: patterns separated by commas, each one
// optionally negated by a leading "!", in which "*" stands for any run of characters and "?"
// for exactly one, characters being UTF-8 ones; the last pattern that matches a string decides
// (section 4.2). It matches and checks wildmats; it does not take the reserved characters
// "[", "\" and "]" for anything (section 4.3 keeps them for extensions), and it sends nothing
// to a server.

#include <string>
#include <string_view>

// True when `text` matches `wildmat`: when the last of its patterns that matches the whole of
// `text` is not negated. With `ignoreCase` the ASCII letters match their other case; other
// characters are compared exactly. A wildmat that breaks the syntax is matched all the same,
// every character but "*", "?", "," and a pattern's leading "!" standing for itself; bytes
// that are not UTF-8 count as one character each. The time it takes grows with the lengths of
// the two multiplied, never faster.
bool WildmatMatches(std::string_view wildmat, std::string_view text, bool ignoreCase = false);

// What breaks the syntax of RFC 3977 section 4.1 in `wildmat`, in words for the user; empty
// when nothing does. `allowSpaces` takes a space as an ordinary character, as patterns for
// subjects and posters need, though a wildmat sent to a server never holds one.
std::string WildmatProblem(std::string_view wildmat, bool allowSpaces = false);

inline bool IsWildmatValid(std::string_view wildmat, bool allowSpaces = false) {
    return WildmatProblem(wildmat, allowSpaces).empty();
}
