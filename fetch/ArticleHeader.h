#pragma once

// What the worker reads from an article's header (RFC 5322 as RFC 3977 carries it): a field by
// its name, and the part numbers a poster writes into the subject of a picture posted in
// several articles ("cat.jpg (2/3)" or "[2/3]").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The value of the first field of that name (compared without regard to case), with folded
// lines joined and the blanks around it trimmed; empty when there is none.
std::string HeaderField(std::string_view header, std::string_view name);

struct CSubjectParts {
    std::uint32_t number = 0;  // n of "(n/N)", 1-based
    std::uint32_t total = 0;   // N
    std::string rest;          // the subject without that "(n/N)": the same for every part
};

// The last "(n/N)" or "[n/N]" in the subject with 1 <= n <= N, or nothing.
std::optional<CSubjectParts> FindSubjectParts(std::string_view subject);
