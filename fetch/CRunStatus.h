#pragma once

// The story that one run of the fetch worker tells the window, and the run's totals: the status
// line (connecting, which group, how far, how fast, and at the end how the run ended), the
// group and article counters and both progress bars, so that they always agree; and the run
// log's entries for the groups that could not be fetched. A change of step is shown at once;
// the article-by-article progress at most a few times a second, counters, bars and status line
// together, so that a fast run is not slowed down by its own reports. It decides nothing about
// the run.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fetch/CFetchDisplay.h"
#include "fetch/CRunTotals.h"

class CRunStatus {
public:
    // How often the progress may change.
    static constexpr std::chrono::milliseconds PROGRESS_INTERVAL{200};
    // The overall bar's steps for one group: the bar moves on within a group as its articles
    // are dealt with.
    static constexpr std::int64_t GROUP_STEPS = 1000;

    enum class Outcome { Done, Stopped, Failed };

    // Starts the run's clock and clears what the last run left on the window: the counters, the
    // bars and the group's name.
    explicit CRunStatus(CFetchDisplay& display);

    // Any other text, such as why a run could not begin.
    void Show(const std::string& text);

    // The run's groups are known: the group counter shows "0 / count".
    void Groups(std::size_t count);
    void Connecting(const std::string& host);
    // From any thread: it touches none of the totals. `next` is when the next try is.
    void Reconnecting(const std::string& host, std::chrono::system_clock::time_point next,
                      int attempt);
    // A group is selected and visits `articles` articles: its name, "0 / articles" (a group
    // with nothing to visit shows its bar full at once).
    void GroupBegins(const std::string& name, std::uint64_t articles);
    // One more article of the group has been dealt with: it is the `position`th of those the
    // group visits, and `bytes` came for it from the server.
    void Article(std::uint64_t position, std::uint64_t bytes);
    // The group is over, all of it fetched: the group counter and the overall bar move on.
    void GroupDone();
    // The group could not be fetched, or not to its end: the status line and the run log say
    // what happened and what to do, and the run goes on with the next group.
    void GroupFailed(const std::string& name, const std::string& what, const std::string& todo);
    void Picture() { ++m_totals.pictures; }
    void Recognised(std::uint64_t count) { m_totals.recognised += count; }
    void NotPictures(std::uint64_t count) { m_totals.notPictures += count; }
    void Unwritten() { ++m_totals.unwritten; }
    // A group's posts passed over, by reason.
    void PassedOver(const PassCounts& counts);

    // The last text: "Done" (", nothing new" when no article was new), "Stopped" or `failure`,
    // with the run's totals and time; the counters keep showing how far the run got, and the
    // window is then told the totals.
    void Finish(Outcome outcome, const std::string& failure = {});

    // The totals so far, for the last text and for tests.
    std::string Totals() const;
    const CRunTotals& Figures() const { return m_totals; }

private:
    // The article counter, both bars and, with `text`, the status line, as they stand now.
    void ShowProgress(bool text);
    // A group is over: fetched or not, it counts as dealt with.
    void GroupOver();

    CFetchDisplay& m_display;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastProgress;
    CRunTotals m_totals;
    std::uint64_t m_groupCount = 0;
    std::uint64_t m_groupsOver = 0;  // fetched, or not and logged
    std::string m_group;
    bool m_inGroup = false;        // between GroupBegins and the group's end
    std::uint64_t m_articles = 0;  // those the current group visits
    std::uint64_t m_position = 0;
    std::uint64_t m_shownPosition = 0;  // as the counters show it
};
