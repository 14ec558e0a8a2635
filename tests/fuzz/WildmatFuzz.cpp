// Wildmats of fuzzed bytes against texts of fuzzed bytes. Beyond memory errors (and time: a
// matcher that backtracks into every star runs into the time-out) it checks that "*" matches
// every text; that a wildmat valid without spaces is valid with them; that "*,!p" matches exactly
// the texts that the single pattern p does not; that a text with none of the special characters
// matches itself, and still does with every n-th ASCII character turned into "?" and a run of whole
// characters into "*"; and that ignoring case, a text matches as its lower-case form does.
//
// Input: whether to ignore case, the run for "*" and the step for "?", then the wildmat and the
// text.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "nntp/Wildmat.h"

namespace {

bool IsAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

// An ASCII byte is never part of a longer character, so a place next to one is between two.
bool BetweenCharacters(const std::string& text, std::size_t at) {
    return at == 0 || at == text.size() || IsAscii(text[at - 1]) || IsAscii(text[at]);
}

// The text made into a pattern that must match it; empty when the text has special characters.
std::string OwnPattern(const std::string& text, std::size_t runBegin, std::size_t runEnd,
                       std::size_t step) {
    if (text.find_first_of("*?,") != std::string::npos || text.starts_with('!')) {
        return {};
    }
    std::string pattern = text;
    for (std::size_t i = step - 1; i < pattern.size(); i += step) {
        if (IsAscii(pattern[i])) {
            pattern[i] = '?';
        }
    }
    runEnd = std::min(runEnd, text.size());
    runBegin = std::min(runBegin, runEnd);
    if (BetweenCharacters(text, runBegin) && BetweenCharacters(text, runEnd)) {
        pattern.replace(runBegin, runEnd - runBegin, "*");
    }
    return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool ignoreCase = input.ConsumeBool();
    const std::size_t runBegin = input.ConsumeIntegral<std::uint16_t>();
    const std::size_t runEnd = runBegin + input.ConsumeIntegral<std::uint8_t>();
    const std::size_t step = input.ConsumeIntegralInRange<std::size_t>(1, 16);
    const std::string wildmat = input.ConsumeRandomLengthString(300);
    const std::string text = input.ConsumeRemainingBytesAsString();

    if (IsWildmatValid(wildmat) && !IsWildmatValid(wildmat, true)) {
        __builtin_trap();
    }
    const bool matches = WildmatMatches(wildmat, text, ignoreCase);
    // The first pattern, if it is not negated itself.
    const std::string single = wildmat.substr(0, wildmat.find(','));
    if (!WildmatMatches("*", text, ignoreCase) ||
        (!single.starts_with('!') && WildmatMatches("*,!" + single, text, ignoreCase) ==
                                         WildmatMatches(single, text, ignoreCase))) {
        __builtin_trap();
    }
    const std::string own = OwnPattern(text, runBegin, runEnd, step);
    if (!own.empty() &&
        (!WildmatMatches(text, text, ignoreCase) || !WildmatMatches(own, text, ignoreCase))) {
        __builtin_trap();
    }
    if (ignoreCase) {
        std::string lower = text;
        for (char& c : lower) {
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (WildmatMatches(wildmat, lower, true) != matches) {
            __builtin_trap();
        }
    }
    return 0;
}
