#pragma once

// One line of a group's overview (RFC 3977, 8.3 OVER; XOVER on older servers): what a reader
// needs to choose articles and to put multi-part pictures together without asking for their
// headers. A plain record; the news server session makes it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct COverviewEntry {
    std::uint32_t number = 0;
    std::string subject;
    std::string from;
    std::string date;  // the Date field, as given
    std::string messageId;
    std::uint64_t bytes = 0;  // the article's size, as the server counts it
    // The body's lines; none when the field is empty or unreadable, as RFC 3977 (8.3.2) allows
    // and servers that copy a missing Lines header give.
    std::optional<std::uint32_t> lines;

    bool operator==(const COverviewEntry&) const = default;

    // The entry in one overview line (tab-separated fields: number, subject, from, date,
    // message-id, references, bytes, lines, then optional ones), or nothing when the line has
    // no article number or too few fields.
    static std::optional<COverviewEntry> Parse(std::string_view line);
};
