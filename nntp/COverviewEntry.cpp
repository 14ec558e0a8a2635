#include "nntp/COverviewEntry.h"

#include <charconv>
#include <vector>

namespace {

template <typename Number>
Number LeadingNumber(std::string_view text) {
    // Some servers write a field's name before its value ("Bytes: 1234").
    const std::size_t digit = text.find_first_of("0123456789");
    Number value = 0;
    if (digit != std::string_view::npos) {
        std::from_chars(text.data() + digit, text.data() + text.size(), value);
    }
    return value;
}

}  // namespace

std::optional<COverviewEntry> COverviewEntry::Parse(std::string_view line) {
    if (line.ends_with("\r\n")) {
        line.remove_suffix(2);
    }
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            break;
        }
        line.remove_prefix(tab + 1);
    }
    if (fields.size() < 8) {
        return std::nullopt;
    }
    COverviewEntry entry;
    const std::string_view number = fields[0];
    const auto [end, error] =
        std::from_chars(number.data(), number.data() + number.size(), entry.number);
    if (number.empty() || error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    entry.subject = fields[1];
    entry.from = fields[2];
    entry.date = fields[3];
    entry.messageId = fields[4];
    entry.bytes = LeadingNumber<std::uint64_t>(fields[6]);
    if (fields[7].find_first_of("0123456789") != std::string_view::npos) {
        entry.lines = LeadingNumber<std::uint32_t>(fields[7]);
    }
    return entry;
}
