#include "ui/CProgressBar.h"

#include <algorithm>

CProgressBar::CProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setRange(0, SCALE);
    Show();
}

void CProgressBar::SetProgress(std::int64_t low, std::int64_t high, int step,
                               std::int64_t position) {
    m_low = low;
    m_high = std::max(low, high);
    m_step = step;
    m_position = std::clamp(position, m_low, m_high);
    Show();
}

void CProgressBar::StepIt() {
    m_position += m_step;
    if (m_position > m_high || m_position < m_low) {
        m_position = m_low;
    }
    Show();
}

void CProgressBar::Show() {
    const std::int64_t span = m_high - m_low;
    // An empty range shows an empty bar.
    const long double share =
        span > 0 ? static_cast<long double>(m_position - m_low) / static_cast<long double>(span)
                 : 0.0L;
    setValue(static_cast<int>(share * SCALE));
}
