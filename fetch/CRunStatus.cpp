#include "fetch/CRunStatus.h"

#include <cstdio>
#include <ctime>

#include "fetch/ControlIds.h"

namespace {

using Clock = std::chrono::steady_clock;

// "1 picture", "3 pictures".
std::string Count(std::uint64_t count, const char* singular, const char* plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string Counter(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " / " + std::to_string(total);
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

// The local time of day, "14:32:10".
std::string TimeOfDay(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    char text[16] = {};
    if (::localtime_r(&seconds, &local) != nullptr) {
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
    }
    return text;
}

}  // namespace

CRunStatus::CRunStatus(CFetchDisplay& display)
    : m_display(display), m_start(Clock::now()), m_lastProgress(m_start - PROGRESS_INTERVAL) {
    m_display.SetEditText(IDC_GROUP_NAME, {});
    m_display.SetEditText(IDC_GROUP_COUNTER, {});
    m_display.SetEditText(IDC_ARTICLE_COUNTER, {});
    m_display.SetProgress(IDC_GROUP_PROGRESS, 0, 1, 1, 0);
    m_display.SetProgress(IDC_OVERALL_PROGRESS, 0, 1, 1, 0);
}

void CRunStatus::Show(const std::string& text) {
    m_display.SetStatusText(text);
}

void CRunStatus::Groups(std::size_t count) {
    m_groupCount = count;
    m_display.SetEditText(IDC_GROUP_COUNTER, Counter(0, m_groupCount));
    m_display.SetProgress(IDC_OVERALL_PROGRESS, 0,
                          static_cast<std::int64_t>(m_groupCount) * GROUP_STEPS, 1, 0);
}

void CRunStatus::Connecting(const std::string& host) {
    Show("Connecting to " + host + "...");
}

void CRunStatus::Reconnecting(const std::string& host, std::chrono::system_clock::time_point next,
                              int attempt) {
    Show("Lost the connection to " + host + "; trying again at " + TimeOfDay(next) + " (try " +
         std::to_string(attempt) + ")...");
}

void CRunStatus::GroupBegins(const std::string& name, std::uint64_t articles) {
    m_group = name;
    m_inGroup = true;
    m_articles = articles;
    m_position = 0;
    m_display.SetEditText(IDC_GROUP_NAME, name);
    ShowProgress(true);
}

void CRunStatus::Article(std::uint64_t position, std::uint64_t bytes) {
    ++m_totals.articles;
    m_totals.bytes += bytes;
    m_position = position;
    // The last article of a group is always shown, so that a group never seems unfinished.
    if (Clock::now() - m_lastProgress < PROGRESS_INTERVAL && position != m_articles) {
        return;
    }
    ShowProgress(true);
}

void CRunStatus::ShowProgress(bool text) {
    const Clock::time_point now = Clock::now();
    m_lastProgress = now;
    m_shownPosition = m_position;
    // A group with nothing to visit is over as soon as it began: its bar is full.
    const bool empty = m_articles == 0;
    m_display.SetEditText(IDC_ARTICLE_COUNTER, Counter(m_position, m_articles));
    m_display.SetProgress(IDC_GROUP_PROGRESS, 0, empty ? 1 : static_cast<std::int64_t>(m_articles),
                          1, empty ? 1 : static_cast<std::int64_t>(m_position));
    const std::uint64_t within = empty ? 0 : m_position * GROUP_STEPS / m_articles;
    m_display.SetProgress(IDC_OVERALL_PROGRESS, 0,
                          static_cast<std::int64_t>(m_groupCount) * GROUP_STEPS, 1,
                          static_cast<std::int64_t>(m_groupsOver * GROUP_STEPS + within));
    if (!text) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    Show(m_group + ": article " + std::to_string(m_position) + " of " + std::to_string(m_articles) +
         ", " + Count(m_totals.pictures, "picture", "pictures") + ", " +
         Megabytes(seconds > 0 ? static_cast<double>(m_totals.bytes) / seconds : 0.0, "MB/s"));
}

void CRunStatus::GroupOver() {
    if (m_shownPosition != m_position) {
        ShowProgress(false);
    }
    ++m_groupsOver;
    m_inGroup = false;
    m_articles = 0;
    m_position = 0;
    m_shownPosition = 0;
    m_display.SetEditText(IDC_GROUP_COUNTER, Counter(m_groupsOver, m_groupCount));
    m_display.SetProgress(IDC_OVERALL_PROGRESS, 0,
                          static_cast<std::int64_t>(m_groupCount) * GROUP_STEPS, 1,
                          static_cast<std::int64_t>(m_groupsOver) * GROUP_STEPS);
}

void CRunStatus::GroupDone() {
    ++m_totals.groups;
    GroupOver();
}

void CRunStatus::GroupFailed(const std::string& name, const std::string& what,
                             const std::string& todo) {
    ++m_totals.groupsNotFetched;
    if (!m_inGroup) {
        // It never began: nothing of the group before it stays beside its name.
        m_group = name;
        m_display.SetEditText(IDC_GROUP_NAME, name);
        m_display.SetEditText(IDC_ARTICLE_COUNTER, {});
        m_display.SetProgress(IDC_GROUP_PROGRESS, 0, 1, 1, 0);
    }
    Show(name + " " + what + (todo.empty() ? "" : ": " + todo) + ".");
    m_display.AddLogEntry({std::chrono::system_clock::now(), name, what, todo});
    GroupOver();
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
    if (m_totals.groupsNotFetched > 0) {
        text +=
            "; " + Count(m_totals.groupsNotFetched, "group", "groups") + " not fetched (see Log)";
    }
    return text;
}

void CRunStatus::Finish(Outcome outcome, const std::string& failure) {
    if (m_shownPosition != m_position) {
        ShowProgress(false);
    }
    const bool nothingNew = m_totals.articles == 0 && m_totals.groupsNotFetched == 0;
    std::string ending = outcome == Outcome::Done      ? (nothingNew ? "Done, nothing new" : "Done")
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
