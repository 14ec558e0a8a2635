#include "fetch/PostSubject.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kNone = std::string_view::npos;
// Stands for the part number in CPostSubject::rest.
constexpr std::string_view kPlaceholder = "*";
// Digits of the longest number a marker may hold.
constexpr std::size_t kMarkerDigits = 10;
// No post has more parts (a million parts of the usual size hold hundreds of gigabytes); a
// larger count is taken for text, so that nothing counts out the parts of a made-up one.
constexpr std::uint32_t kMostParts = 1'000'000;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAlnum(char c) {
    return IsDigit(c) || IsLetter(c);
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A stretch of the subject, by its positions.
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Where text that is a view into subject lies in it.
Span SpanOf(std::string_view subject, std::string_view text) {
    const auto begin = static_cast<std::size_t>(text.data() - subject.data());
    return {begin, begin + text.size()};
}

// The quoted texts, from quote to quote. Quotes pair up in order; a last one without a partner
// quotes nothing.
class CQuotes {
public:
    explicit CQuotes(std::string_view subject) {
        std::size_t open = subject.find('"');
        while (open != kNone) {
            const std::size_t close = subject.find('"', open + 1);
            if (close == kNone) {
                break;
            }
            m_quotes.push_back({open, close + 1});
            open = subject.find('"', close + 1);
        }
    }

    // Whether the character at `at` lies inside a quoted text or is one of its quotes.
    bool Cover(std::size_t at) const {
        const auto after = std::upper_bound(
            m_quotes.begin(), m_quotes.end(), at,
            [](std::size_t position, const Span& quote) { return position < quote.begin; });
        return after != m_quotes.begin() && at < std::prev(after)->end;
    }

    // The last quoted text ending at or before `end` with more than blanks in it, trimmed.
    std::optional<std::string_view> LastBefore(std::string_view subject, std::size_t end) const {
        for (auto quote = m_quotes.rbegin(); quote != m_quotes.rend(); ++quote) {
            if (quote->end > end) {
                continue;
            }
            const std::string_view inside =
                Trim(subject.substr(quote->begin + 1, quote->end - quote->begin - 2));
            if (!inside.empty()) {
                return inside;
            }
        }
        return std::nullopt;
    }

private:
    std::vector<Span> m_quotes;  // quote to quote, closing quote included
};

// "(p/N)" or "[p/N]" with 0 <= p <= N and 1 <= N <= kMostParts, outside quotes.
struct Marker {
    Span brackets;
    std::size_t slash = 0;
    std::uint32_t number = 0;
    std::uint32_t total = 0;
};

// The digits that end just before `end`, and how many there are (at most kMarkerDigits + 1).
std::size_t DigitsBefore(std::string_view subject, std::size_t end) {
    std::size_t count = 0;
    while (count <= kMarkerDigits && count < end && IsDigit(subject[end - count - 1])) {
        ++count;
    }
    return count;
}

std::optional<std::uint32_t> Decimal(std::string_view digits) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<Marker> FindMarkers(std::string_view subject, const CQuotes& quotes) {
    std::vector<Marker> markers;
    for (std::size_t close = 0; close < subject.size(); ++close) {
        const char closing = subject[close];
        if ((closing != ')' && closing != ']') || quotes.Cover(close)) {
            continue;
        }
        const std::size_t totalDigits = DigitsBefore(subject, close);
        if (totalDigits == 0 || totalDigits > kMarkerDigits) {
            continue;
        }
        const std::size_t slash = close - totalDigits - 1;
        if (close < totalDigits + 1 || subject[slash] != '/') {
            continue;
        }
        const std::size_t numberDigits = DigitsBefore(subject, slash);
        if (numberDigits == 0 || numberDigits > kMarkerDigits || slash < numberDigits + 1) {
            continue;
        }
        const std::size_t open = slash - numberDigits - 1;
        if (subject[open] != (closing == ')' ? '(' : '[') || quotes.Cover(open)) {
            continue;
        }
        const std::optional<std::uint32_t> number = Decimal(subject.substr(open + 1, numberDigits));
        const std::optional<std::uint32_t> total = Decimal(subject.substr(slash + 1, totalDigits));
        if (number && total && *total >= 1 && *total <= kMostParts && *number <= *total) {
            markers.push_back({{open, close + 1}, slash, *number, *total});
        }
    }
    return markers;
}

// Where the last word "yEnc" (any case) of subject[begin, end) outside quotes starts, or kNone.
std::size_t FindYenc(std::string_view subject, std::size_t begin, std::size_t end,
                     const CQuotes& quotes) {
    constexpr std::string_view word = "yenc";
    for (std::size_t at = end; at >= begin + word.size();) {
        at -= 1;
        const std::size_t start = at + 1 - word.size();
        bool same = true;
        for (std::size_t i = 0; i < word.size() && same; ++i) {
            same = Lower(subject[start + i]) == word[i];
        }
        if (same && (start == 0 || !IsAlnum(subject[start - 1])) &&
            (at + 1 == subject.size() || !IsAlnum(subject[at + 1])) && !quotes.Cover(start)) {
            return start;
        }
    }
    return kNone;
}

// A word without the brackets, quotes and punctuation around it.
std::string_view Bare(std::string_view word) {
    constexpr std::string_view leading = "\"'([<";
    constexpr std::string_view trailing = "\"')]>,;:";
    while (!word.empty() && leading.find(word.front()) != kNone) {
        word.remove_prefix(1);
    }
    while (!word.empty() && trailing.find(word.back()) != kNone) {
        word.remove_suffix(1);
    }
    return word;
}

// Something before a dot, then one to five letters or digits, and not a plain number ("1.2").
bool LooksLikeFileName(std::string_view word) {
    const std::size_t dot = word.rfind('.');
    if (dot == kNone || dot == 0 || word.size() - dot - 1 < 1 || word.size() - dot - 1 > 5) {
        return false;
    }
    const std::string_view extension = word.substr(dot + 1);
    if (!std::all_of(extension.begin(), extension.end(), IsAlnum)) {
        return false;
    }
    return !std::all_of(word.begin(), word.end(),
                        [](char c) { return IsDigit(c) || c == '.' || c == ','; });
}

// A word that can name something: not a separator such as "-", not a marker such as "[1/7]".
bool CanName(std::string_view word) {
    if (!std::any_of(word.begin(), word.end(), IsAlnum)) {
        return false;
    }
    const bool markerLike = std::all_of(word.begin(), word.end(), [](char c) {
        return IsDigit(c) || c == '/' || c == '(' || c == ')' || c == '[' || c == ']';
    });
    return !(markerLike && word.find('/') != kNone);
}

// The name the words of subject[begin, end) give: the last that looks like a file name before
// "yEnc" (or the end), else, when "yEnc" stands there, the word right before it.
std::optional<std::string_view> WordName(std::string_view subject, std::size_t begin,
                                         std::size_t end, const CQuotes& quotes) {
    const std::size_t yenc = FindYenc(subject, begin, end, quotes);
    std::vector<std::string_view> words;
    std::size_t at = begin;
    const std::size_t limit = yenc == kNone ? end : yenc;
    while (at < limit) {
        while (at < limit && IsBlank(subject[at])) {
            ++at;
        }
        const std::size_t start = at;
        while (at < limit && !IsBlank(subject[at])) {
            ++at;
        }
        if (at > start) {
            words.push_back(Bare(subject.substr(start, at - start)));
        }
    }
    for (auto word = words.rbegin(); word != words.rend(); ++word) {
        if (LooksLikeFileName(*word)) {
            return *word;
        }
    }
    if (yenc != kNone) {
        for (auto word = words.rbegin(); word != words.rend(); ++word) {
            if (CanName(*word)) {
                return *word;
            }
        }
    }
    return std::nullopt;
}

// Bytes in one of the unit: none or "bytes", or K, M, G or T (with "B" or "iB") in powers of 1024.
std::optional<std::uint64_t> Multiplier(std::string_view unit) {
    std::string lower;
    for (const char c : unit) {
        lower += Lower(c);
    }
    if (lower.empty() || lower == "b" || lower == "byte" || lower == "bytes") {
        return 1;
    }
    const std::size_t power = std::string_view("kmgt").find(lower.front());
    const std::string_view after = std::string_view(lower).substr(1);
    if (power == kNone || (!after.empty() && after != "b" && after != "ib")) {
        return std::nullopt;
    }
    return 1ULL << (10 * (power + 1));
}

bool AddDigit(std::uint64_t& value, char digit) {
    return !__builtin_mul_overflow(value, 10U, &value) &&
           !__builtin_add_overflow(value, static_cast<std::uint64_t>(digit - '0'), &value);
}

// A number as posters write sizes: "1234567", "1,234,567", "1.234.567", "1.2", "1,2",
// "1,234.5", times `factor`, rounded to a byte. A fraction of a byte is no size.
std::optional<std::uint64_t> Amount(std::string_view number, std::uint64_t factor) {
    if (number.empty() || !IsDigit(number.front()) || !IsDigit(number.back())) {
        return std::nullopt;
    }
    const auto dots = std::count(number.begin(), number.end(), '.');
    const auto commas = std::count(number.begin(), number.end(), ',');
    char decimal = 0;
    char grouping = 0;
    if (dots > 0 && commas > 0) {
        decimal = number.rfind('.') > number.rfind(',') ? '.' : ',';
        grouping = decimal == '.' ? ',' : '.';
    } else if (dots + commas > 1) {
        grouping = dots > 0 ? '.' : ',';
    } else if (commas == 1) {
        (number.size() - number.find(',') - 1 == 3 ? grouping : decimal) = ',';
    } else if (dots == 1) {
        decimal = '.';
    }
    const std::size_t point = decimal == 0 ? kNone : number.find(decimal);
    if (point != kNone && number.find(decimal, point + 1) != kNone) {
        return std::nullopt;
    }
    const std::string_view whole = number.substr(0, point);
    const std::string_view fraction = point == kNone ? "" : number.substr(point + 1);
    std::uint64_t value = 0;
    std::size_t groupDigits = 0;
    bool grouped = false;
    for (const char c : whole) {
        if (c == grouping) {
            if (groupDigits == 0 || groupDigits > 3 || (grouped && groupDigits != 3)) {
                return std::nullopt;
            }
            grouped = true;
            groupDigits = 0;
        } else if (!IsDigit(c) || !AddDigit(value, c)) {
            return std::nullopt;
        } else {
            ++groupDigits;
        }
    }
    if (groupDigits == 0 || (grouped && groupDigits != 3)) {
        return std::nullopt;
    }
    // Six digits of a fraction are more than a byte's worth of any unit up to a tebibyte.
    std::uint64_t fractionValue = 0;
    std::uint64_t scale = 1;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        if (!IsDigit(fraction[i])) {
            return std::nullopt;
        }
        if (i < 6) {
            AddDigit(fractionValue, fraction[i]);
            scale *= 10;
        }
    }
    if (factor == 1 && fractionValue != 0) {
        return std::nullopt;
    }
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(value, factor, &bytes) ||
        __builtin_add_overflow(bytes, (fractionValue * factor + scale / 2) / scale, &bytes)) {
        return std::nullopt;
    }
    return bytes;
}

// A size standing at the start of `text`, after blanks and dashes, maybe in brackets, and
// followed by a blank or nothing.
std::optional<std::uint64_t> SizeAt(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (IsBlank(text[at]) || text[at] == '-')) {
        ++at;
    }
    char closing = 0;
    if (at < text.size() && (text[at] == '(' || text[at] == '[')) {
        closing = text[at] == '(' ? ')' : ']';
        ++at;
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
    }
    const std::size_t numberStart = at;
    while (at < text.size() && (IsDigit(text[at]) || text[at] == '.' || text[at] == ',')) {
        ++at;
    }
    const std::string_view number = text.substr(numberStart, at - numberStart);
    std::size_t unitStart = at;
    while (unitStart < text.size() && IsBlank(text[unitStart])) {
        ++unitStart;
    }
    std::size_t unitEnd = unitStart;
    while (unitEnd < text.size() && IsLetter(text[unitEnd])) {
        ++unitEnd;
    }
    if (unitEnd > unitStart) {
        at = unitEnd;
    }
    if (closing != 0) {
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
        if (at == text.size() || text[at] != closing) {
            return std::nullopt;
        }
        ++at;
    }
    if (at < text.size() && !IsBlank(text[at])) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> factor =
        Multiplier(text.substr(unitStart, unitEnd - unitStart));
    return factor ? Amount(number, *factor) : std::nullopt;
}

}  // namespace

CPostSubject ParseSubject(std::string_view subject) {
    CPostSubject result;
    const CQuotes quotes(subject);
    const std::vector<Marker> markers = FindMarkers(subject, quotes);
    const std::size_t yenc = FindYenc(subject, 0, subject.size(), quotes);
    result.yenc = yenc != kNone;

    // The last marker is the part marker unless the name stands after it: then it is a set
    // marker of a post in one article.
    const Marker* part = markers.empty() ? nullptr : &markers.back();
    std::optional<std::string_view> name;
    if (part != nullptr) {
        name = quotes.LastBefore(subject, part->brackets.begin);
        if (!name) {
            name = quotes.LastBefore(subject, subject.size());
            if (!name) {
                name = WordName(subject, 0, part->brackets.begin, quotes);
            }
            if (!name) {
                name = WordName(subject, part->brackets.end, subject.size(), quotes);
            }
            if (name && SpanOf(subject, *name).begin > part->brackets.begin) {
                part = nullptr;
            }
        }
    } else {
        name = quotes.LastBefore(subject, subject.size());
        if (!name) {
            name = WordName(subject, 0, subject.size(), quotes);
        }
    }
    if (name) {
        // A quote without a partner may stand inside a word.
        std::erase(result.name.assign(*name), '"');
    }

    // The set marker is the last other marker before the name, or, without a name, before the
    // part marker.
    const std::size_t setBefore =
        name ? SpanOf(subject, *name).begin : (part ? part->brackets.begin : 0);
    for (auto marker = markers.rbegin(); marker != markers.rend(); ++marker) {
        if (&*marker != part && marker->brackets.end <= setBefore) {
            result.file = marker->number;
            result.files = marker->total;
            break;
        }
    }

    if (part != nullptr) {
        result.part = part->number;
        result.parts = part->total;
        result.rest = std::string(subject.substr(0, part->brackets.begin + 1));
        result.rest += kPlaceholder;
        result.rest += subject.substr(part->slash);
        result.size = SizeAt(subject.substr(part->brackets.end));
    } else {
        result.rest = subject;
        if (yenc != kNone) {
            result.size = SizeAt(subject.substr(yenc + 4));
        }
    }
    return result;
}
