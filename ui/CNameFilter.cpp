#include "ui/CNameFilter.h"

#include <algorithm>
#include <iterator>

#include "nntp/Wildmat.h"

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lowered(std::string_view text) {
    std::string lowered;
    lowered.reserve(text.size());
    std::transform(text.begin(), text.end(), std::back_inserter(lowered), LowerAscii);
    return lowered;
}

// Whether `name` holds `lowered` (in lower case) anywhere, the name's ASCII letters taken in
// lower case.
bool Holds(std::string_view name, std::string_view lowered) {
    const auto same = [](char inName, char inText) { return LowerAscii(inName) == inText; };
    return std::search(name.begin(), name.end(), lowered.begin(), lowered.end(), same) !=
           name.end();
}

}  // namespace

CNameFilter::CNameFilter(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return;
    }
    if (text.find_first_of("*?") == std::string_view::npos) {
        m_kind = Kind::Substring;
        m_text = Lowered(text);
        return;
    }
    m_kind = Kind::Wildmat;
    m_text = text;
    // Patterns are separated by commas (RFC 3977 section 4.2); a leading "!" negates one.
    std::string_view rest = text;
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string_view pattern = rest.substr(0, comma);
        if (pattern.empty() || pattern.front() != '!') {
            std::vector<std::string>& runs = m_runs.emplace_back();
            std::size_t start = 0;
            for (std::size_t at = 0; at <= pattern.size(); ++at) {
                if (at == pattern.size() || pattern[at] == '*' || pattern[at] == '?') {
                    if (at > start) {
                        runs.push_back(Lowered(pattern.substr(start, at - start)));
                    }
                    start = at + 1;
                }
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
}

bool CNameFilter::Passes(std::string_view name) const {
    switch (m_kind) {
        case Kind::All:
            return true;
        case Kind::Substring:
            return Holds(name, m_text);
        case Kind::Wildmat:
            break;
    }
    const bool mayMatch =
        std::any_of(m_runs.begin(), m_runs.end(), [name](const std::vector<std::string>& runs) {
            return std::all_of(runs.begin(), runs.end(),
                               [name](const std::string& run) { return Holds(name, run); });
        });
    return mayMatch && WildmatMatches(m_text, name, true);
}
