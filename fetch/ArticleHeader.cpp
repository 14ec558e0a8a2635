#include "fetch/ArticleHeader.h"

#include <charconv>

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// A decimal number filling the whole text, in 1 .. 2^32 - 1.
std::optional<std::uint32_t> Number(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value == 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string HeaderField(std::string_view header, std::string_view name) {
    std::string value;
    bool inField = false;
    while (!header.empty()) {
        const std::size_t feed = header.find('\n');
        std::string_view line = header.substr(0, feed);
        header.remove_prefix(feed == std::string_view::npos ? header.size() : feed + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (inField) {
            if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                value += ' ';
                value += Trim(line);  // a folded line continues the field
                continue;
            }
            break;
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && SameNoCase(line.substr(0, colon), name)) {
            value = Trim(line.substr(colon + 1));
            inField = true;
        }
    }
    return value;
}

std::optional<CSubjectParts> FindSubjectParts(std::string_view subject) {
    for (std::size_t close = subject.size(); close-- > 0;) {
        const char closing = subject[close];
        if (closing != ')' && closing != ']') {
            continue;
        }
        const char opening = closing == ')' ? '(' : '[';
        const std::size_t open = subject.rfind(opening, close);
        if (open == std::string_view::npos) {
            continue;
        }
        const std::string_view inside = subject.substr(open + 1, close - open - 1);
        const std::size_t slash = inside.find('/');
        if (slash == std::string_view::npos) {
            continue;
        }
        const std::optional<std::uint32_t> number = Number(inside.substr(0, slash));
        const std::optional<std::uint32_t> total = Number(inside.substr(slash + 1));
        if (number && total && *number <= *total) {
            CSubjectParts parts;
            parts.number = *number;
            parts.total = *total;
            parts.rest =
                std::string(subject.substr(0, open)) + std::string(subject.substr(close + 1));
            return parts;
        }
    }
    return std::nullopt;
}
