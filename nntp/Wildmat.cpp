#include "nntp/Wildmat.h"

#include <cstddef>

namespace {

constexpr std::size_t NONE = std::string_view::npos;

// The bytes of the character that starts at `at`: a well-formed UTF-8 sequence (RFC 3629
// section 4: no overlong forms, no surrogates, nothing past U+10FFFF), or else the one byte.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    const auto byte = [text](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byte(at);
    if (lead < 0xC2 || lead > 0xF4) {
        return 1;
    }
    std::size_t length = 4;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0xE0) {
        length = 2;
    } else if (lead < 0xF0) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else {
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    }
    if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) {
        return 1;
    }
    for (std::size_t next = 2; next < length; ++next) {
        if ((byte(at + next) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return length;
}

char FoldCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameCharacter(std::string_view a, std::string_view b, bool ignoreCase) {
    if (a.size() != b.size()) {
        return false;
    }
    if (ignoreCase && a.size() == 1) {
        return FoldCase(a[0]) == FoldCase(b[0]);
    }
    return a == b;
}

// One pattern against the whole text, without a leading "!". A mismatch goes back to the last
// "*" only, which then takes one character more: the earlier stars' choices can stay as they
// are, since whatever the later part of the pattern matched after them the last star can
// match too. So the text is walked at most once for each character of the pattern.
bool PatternMatches(std::string_view pattern, std::string_view text, bool ignoreCase) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t afterStar = NONE;  // the pattern just after the last "*" met
    std::size_t starEnd = 0;       // where the text that star takes ends
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            afterStar = ++p;
            starEnd = t;
            continue;
        }
        const std::size_t length = CharacterLength(text, t);
        if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            t += length;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t own = CharacterLength(pattern, p);
            if (SameCharacter(pattern.substr(p, own), text.substr(t, length), ignoreCase)) {
                p += own;
                t += length;
                continue;
            }
        }
        if (afterStar == NONE) {
            return false;
        }
        starEnd += CharacterLength(text, starEnd);
        t = starEnd;
        p = afterStar;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

// What is wrong with one character of a pattern (RFC 3977 section 4.1, wildmat-exact and
// wildmat-wild); empty when nothing is.
std::string CharacterProblem(std::string_view pattern, std::size_t at, bool allowSpaces) {
    const auto c = static_cast<unsigned char>(pattern[at]);
    if (c == '!') {
        return "\"!\" may only begin a pattern that follows a comma";
    }
    if (c == '[' || c == '\\' || c == ']') {
        return "\"[\", \"\\\" and \"]\" are reserved";
    }
    if (c == ' ' && !allowSpaces) {
        return "it holds a space";
    }
    if (c < 0x20 || c == 0x7F) {
        return "it holds a control character";
    }
    if (c >= 0x80 && CharacterLength(pattern, at) == 1) {
        return "it is not UTF-8";
    }
    return {};
}

}  // namespace

bool WildmatMatches(std::string_view wildmat, std::string_view text, bool ignoreCase) {
    // Section 4.2: the rightmost pattern that matches decides, so the patterns are tried from
    // the last one back.
    std::size_t end = wildmat.size();
    for (;;) {
        const std::size_t comma = end == 0 ? NONE : wildmat.rfind(',', end - 1);
        const std::size_t begin = comma == NONE ? 0 : comma + 1;
        std::string_view pattern = wildmat.substr(begin, end - begin);
        const bool negated = pattern.starts_with('!');
        if (negated) {
            pattern.remove_prefix(1);
        }
        if (PatternMatches(pattern, text, ignoreCase)) {
            return !negated;
        }
        if (comma == NONE) {
            return false;
        }
        end = comma;
    }
}

std::string WildmatProblem(std::string_view wildmat, bool allowSpaces) {
    if (wildmat.empty()) {
        return "it is empty";
    }
    std::size_t begin = 0;
    for (bool first = true;; first = false) {
        const std::size_t comma = wildmat.find(',', begin);
        std::string_view pattern =
            wildmat.substr(begin, comma == NONE ? wildmat.size() - begin : comma - begin);
        if (pattern.starts_with('!')) {
            if (first) {
                return "the first pattern cannot be negated (\"*,!x\" is all but x)";
            }
            pattern.remove_prefix(1);
        }
        if (pattern.empty()) {
            return "a pattern between commas is empty";
        }
        for (std::size_t at = 0; at < pattern.size(); at += CharacterLength(pattern, at)) {
            std::string problem = CharacterProblem(pattern, at, allowSpaces);
            if (!problem.empty()) {
                return problem;
            }
        }
        if (comma == NONE) {
            return {};
        }
        begin = comma + 1;
    }
}
