#pragma once

// What the filter box above a list of newsgroup names lets through: the names that hold its
// text anywhere, without regard to case, or, when the text holds "*" or "?", the names that the
// text matches as a wildmat (RFC 3977 section 4), again without regard to case. Blanks around
// the text are dropped, and an empty text lets every name through. It judges names one at a
// time, quickly enough for a list of 150,000 names to be filtered at each key typed; keeping the
// list of those shown is CNameListModel's business.

#include <string>
#include <string_view>
#include <vector>

class CNameFilter {
public:
    // Lets every name through.
    CNameFilter() = default;
    explicit CNameFilter(std::string_view text);

    bool LetsAllThrough() const { return m_kind == Kind::All; }
    bool Passes(std::string_view name) const;

private:
    enum class Kind { All, Substring, Wildmat };
    Kind m_kind = Kind::All;
    // The substring in lower case (ASCII letters only, as names compare), or the wildmat.
    std::string m_text;
    // For each of the wildmat's patterns that is not negated, the runs of characters between
    // its "*" and "?", in lower case: a name that a pattern matches holds every run of it, so a
    // name that holds all the runs of none cannot match, and is passed over without matching
    // the wildmat, which takes far longer.
    std::vector<std::vector<std::string>> m_runs;
};
