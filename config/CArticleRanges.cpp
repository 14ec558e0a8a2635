#include "config/CArticleRanges.h"

#include <algorithm>
#include <charconv>

namespace {

std::optional<std::uint32_t> Number(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

void CArticleRanges::Add(std::uint32_t first, std::uint32_t last) {
    if (last < first) {
        return;
    }
    // The ranges that overlap or touch first..last melt into one.
    auto begin = std::lower_bound(
        m_ranges.begin(), m_ranges.end(), first,
        [](const Range& range, std::uint32_t value) { return range.last + 1ULL < value; });
    auto end = begin;
    std::uint32_t newFirst = first;
    std::uint32_t newLast = last;
    while (end != m_ranges.end() && end->first <= static_cast<std::uint64_t>(last) + 1) {
        newFirst = std::min(newFirst, end->first);
        newLast = std::max(newLast, end->last);
        ++end;
    }
    const auto place = m_ranges.erase(begin, end);
    m_ranges.insert(place, Range{newFirst, newLast});
}

bool CArticleRanges::Contains(std::uint32_t number) const {
    const auto range = std::lower_bound(
        m_ranges.begin(), m_ranges.end(), number,
        [](const Range& candidate, std::uint32_t value) { return candidate.last < value; });
    return range != m_ranges.end() && range->first <= number;
}

std::vector<CArticleRanges::Range> CArticleRanges::Missing(std::uint32_t first,
                                                           std::uint32_t last) const {
    std::vector<Range> missing;
    if (last < first) {
        return missing;
    }
    std::uint64_t next = first;  // the lowest number not yet looked at
    for (const Range& range : m_ranges) {
        if (range.last < next) {
            continue;
        }
        if (range.first > last) {
            break;
        }
        if (range.first > next) {
            missing.push_back({static_cast<std::uint32_t>(next), range.first - 1});
        }
        next = static_cast<std::uint64_t>(range.last) + 1;
        if (next > last) {
            return missing;
        }
    }
    missing.push_back({static_cast<std::uint32_t>(next), last});
    return missing;
}

std::string CArticleRanges::ToText() const {
    std::string text;
    for (const Range& range : m_ranges) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(range.first);
        if (range.last != range.first) {
            text += '-' + std::to_string(range.last);
        }
    }
    return text;
}

std::optional<CArticleRanges> CArticleRanges::FromText(std::string_view text) {
    // Read whole, then sorted and merged once: a line written out of order would cost a move of
    // the ranges behind each number added one by one.
    std::vector<Range> read;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        const std::size_t dash = item.find('-');
        const std::optional<std::uint32_t> first = Number(item.substr(0, dash));
        const std::optional<std::uint32_t> last =
            dash == std::string_view::npos ? first : Number(item.substr(dash + 1));
        if (!first || !last) {
            return std::nullopt;
        }
        if (*first <= *last) {  // a reversed range stands for nothing, as in other readers
            read.push_back({*first, *last});
        }
    }
    std::sort(read.begin(), read.end(),
              [](const Range& a, const Range& b) { return a.first < b.first; });
    CArticleRanges ranges;
    for (const Range& range : read) {
        // Overlapping or touching the last range: the two melt into one.
        if (!ranges.m_ranges.empty() &&
            range.first <= static_cast<std::uint64_t>(ranges.m_ranges.back().last) + 1) {
            ranges.m_ranges.back().last = std::max(ranges.m_ranges.back().last, range.last);
        } else {
            ranges.m_ranges.push_back(range);
        }
    }
    return ranges;
}
