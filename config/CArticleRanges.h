#pragma once

// A set of article numbers kept as sorted, disjoint ranges, as a .newsrc line writes them
// ("1-2000,2005"): the articles of one group that were processed already. Numbers run from 1 to
// 2^32 - 1, as RFC 3977 allows. It knows nothing of files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CArticleRanges {
public:
    struct Range {
        std::uint32_t first;
        std::uint32_t last;  // inclusive

        bool operator==(const Range&) const = default;
    };

    void Add(std::uint32_t number) { Add(number, number); }
    // Adds first..last (inclusive); nothing when last < first.
    void Add(std::uint32_t first, std::uint32_t last);
    bool Contains(std::uint32_t number) const;
    bool Empty() const { return m_ranges.empty(); }
    // The highest number in the set; 0 when it is empty.
    std::uint32_t Highest() const { return m_ranges.empty() ? 0 : m_ranges.back().last; }
    void Clear() { m_ranges.clear(); }
    const std::vector<Range>& Ranges() const { return m_ranges; }
    // The numbers of first..last that are not in the set, as ranges.
    std::vector<Range> Missing(std::uint32_t first, std::uint32_t last) const;

    // "1-2000,2005"; empty for an empty set.
    std::string ToText() const;
    // The set a .newsrc line's numbers give, in any order and overlapping; nothing when the text
    // is not a list of numbers and ranges.
    static std::optional<CArticleRanges> FromText(std::string_view text);

    bool operator==(const CArticleRanges&) const = default;

private:
    std::vector<Range> m_ranges;  // sorted, disjoint, never adjacent
};
