#include "fetch/CRunStatus.h"

#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

// "1 picture", "3 pictures".
std::string Count(std::uint64_t count, const char* singular, const char* plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string Megabytes(double bytes, const char* unit) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", bytes / 1e6, unit);
    return text;
}

// "42 s", "3 min 12 s", "1 h 5 min".
std::string Duration(Clock::duration elapsed) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    if (seconds < 60) {
        return std::to_string(seconds) + " s";
    }
    if (seconds < 3600) {
        return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
    }
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

}  // namespace

CRunStatus::CRunStatus(CFetchDisplay& display)
    : m_display(display), m_start(Clock::now()), m_lastProgress(m_start - PROGRESS_INTERVAL) {}

void CRunStatus::Show(const std::string& text) {
    m_display.SetStatusText(text);
}

void CRunStatus::Connecting(const std::string& host) {
    Show("Connecting to " + host + "...");
}

void CRunStatus::Reconnecting(const std::string& host, std::chrono::seconds delay, int attempt,
                              int attempts) {
    Show("Lost the connection to " + host + "; trying again in " + std::to_string(delay.count()) +
         " s (" + std::to_string(attempt) + " of " + std::to_string(attempts) + ")...");
}

void CRunStatus::Article(const std::string& group, std::uint64_t position, std::uint64_t count,
                         std::uint64_t bytes) {
    ++m_totals.articles;
    m_totals.bytes += bytes;
    const Clock::time_point now = Clock::now();
    // The last article of a group is always shown, so that a group never seems unfinished.
    if (now - m_lastProgress < PROGRESS_INTERVAL && position != count) {
        return;
    }
    m_lastProgress = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    Show(group + ": article " + std::to_string(position) + " of " + std::to_string(count) + ", " +
         Count(m_totals.pictures, "picture", "pictures") + ", " +
         Megabytes(seconds > 0 ? static_cast<double>(m_totals.bytes) / seconds : 0.0, "MB/s"));
}

void CRunStatus::PassedOver(const PassCounts& counts) {
    for (std::size_t i = 0; i < counts.size(); ++i) {
        m_totals.passedOver[i] += counts[i];
    }
}

std::string CRunStatus::Totals() const {
    std::string text = Count(m_totals.groups, "group", "groups") + ", " +
                       Count(m_totals.articles, "article", "articles") + ", " +
                       Count(m_totals.pictures, "picture", "pictures");
    if (m_totals.recognised > 0) {
        text += " (" + std::to_string(m_totals.recognised) + " more already collected)";
    }
    if (m_totals.notPictures > 0) {
        text += ", " + Count(m_totals.notPictures, "file", "files") + " not pictures";
    }
    text += ", " + Megabytes(static_cast<double>(m_totals.bytes), "MB") + " in " +
            Duration(Clock::now() - m_start);
    const std::string passed = DescribePassedOver(m_totals.passedOver);
    if (!passed.empty()) {
        text += "; " + passed;
    }
    if (m_totals.unwritten > 0) {
        text += "; " + Count(m_totals.unwritten, "article", "articles") +
                " could not be written and will be fetched again";
    }
    return text;
}

void CRunStatus::Finish(Outcome outcome, const std::string& failure) {
    std::string ending = outcome == Outcome::Done      ? "Done"
                         : outcome == Outcome::Stopped ? "Stopped"
                                                       : failure;
    // A message that is a sentence of its own loses its full stop before the totals.
    if (ending.ends_with('.')) {
        ending.pop_back();
    }
    Show(ending + ": " + Totals());
    m_totals.elapsed = Clock::now() - m_start;
    m_display.RunFinished(m_totals);
}
