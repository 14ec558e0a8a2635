#pragma once

// A progress bar with the Windows progress bar's range, step and position, in 64-bit numbers:
// a group's article range can reach 2^32, beyond what QProgressBar holds, so the bar keeps the
// true values and shows their proportion. It shows no text.

#include <QProgressBar>
#include <cstdint>

class CProgressBar : public QProgressBar {
    Q_OBJECT

public:
    explicit CProgressBar(QWidget* parent = nullptr);

    // Sets the range, the step and the position (clamped into the range).
    void SetProgress(std::int64_t low, std::int64_t high, int step, std::int64_t position);
    // Advances by the step; past the end it starts again from the beginning of the range, as a
    // Windows progress bar does.
    void StepIt();

    std::int64_t Low() const { return m_low; }
    std::int64_t High() const { return m_high; }
    std::int64_t Position() const { return m_position; }

private:
    void Show();

    // The bar's own scale: fine enough for any window width.
    static constexpr int SCALE = 10000;

    std::int64_t m_low = 0;
    std::int64_t m_high = 100;
    int m_step = 10;
    std::int64_t m_position = 0;
};
