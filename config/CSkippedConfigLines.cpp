#include "config/CSkippedConfigLines.h"

#include <algorithm>

#include "config/ConfigFile.h"

void CSkippedConfigLines::Add(std::size_t lineNumber, std::string_view text) {
    const bool holdsControl = std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
    m_allHoldControl = m_allHoldControl && holdsControl;
    if (m_lines.empty() || m_lines.back() != lineNumber) {
        m_lines.push_back(lineNumber);
    }
}

std::string CSkippedConfigLines::Message() const {
    const bool one = m_lines.size() == 1;
    std::string text = one ? "Line " : "Lines ";
    const std::size_t listed = std::min(m_lines.size(), LISTED);
    for (std::size_t i = 0; i < listed; ++i) {
        if (i > 0) {
            text += i + 1 == listed && listed == m_lines.size() ? " and " : ", ";
        }
        text += std::to_string(m_lines[i]);
    }
    if (listed < m_lines.size()) {
        text += " and " + std::to_string(m_lines.size() - listed) + " more";
    }
    text += std::string(" of ") + CONFIG_FILE_NAME + (one ? " was" : " were") + " skipped: ";
    text += m_allHoldControl ? "a newsgroup name cannot hold a TAB or another control character."
                             : (one ? "the configuration dialog's lists did not take it."
                                    : "the configuration dialog's lists did not take them.");
    text += one ? " The rest of the file was read; Done saves the configuration without that line."
                : " The rest of the file was read; Done saves the configuration without those "
                  "lines.";
    return text;
}
