#pragma once

// The lines of the configuration file that the dialog's lists would not take, and the one
// message that names them by line number and says why and what becomes of them. It only
// collects and words; reading the file and showing the message are the caller's.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CSkippedConfigLines {
public:
    // At most this many line numbers are listed in the message; the rest are counted.
    static constexpr std::size_t LISTED = 3;

    // Records that the line numbered `lineNumber` (counted from 1), holding `text`, was skipped.
    // Numbers come in ascending order; several pieces of one long line count once.
    void Add(std::size_t lineNumber, std::string_view text);
    bool Empty() const { return m_lines.empty(); }
    // For example "Line 4 of zarvo.cfg was skipped: a newsgroup name cannot hold a TAB or
    // another control character. ..."; "Lines 4, 9, 12 and 7 more of zarvo.cfg were skipped: ...".
    std::string Message() const;

private:
    std::vector<std::size_t> m_lines;
    // Whether every skipped line holds a control character, the one thing the lists refuse.
    bool m_allHoldControl = true;
};
