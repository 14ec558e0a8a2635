#pragma once

// The totals of one run of the fetch worker and the status line that reports them: what the
// run is doing while it goes (connecting, which group, how far, how fast) and how it ended. A
// change of step is shown at once; the article-by-article progress at most a few times a
// second, so that a fast run is not slowed down by its own reports. It decides nothing about
// the run.

#include <chrono>
#include <cstdint>
#include <string>

#include "fetch/CFetchDisplay.h"
#include "fetch/CRunTotals.h"

class CRunStatus {
public:
    // How often the progress text may change.
    static constexpr std::chrono::milliseconds PROGRESS_INTERVAL{200};

    enum class Outcome { Done, Stopped, Failed };

    // Starts the run's clock.
    explicit CRunStatus(CFetchDisplay& display);

    // Any other text, such as why a run could not begin.
    void Show(const std::string& text);

    void Connecting(const std::string& host);
    // From any thread: it touches none of the totals.
    void Reconnecting(const std::string& host, std::chrono::seconds delay, int attempt,
                      int attempts);
    // One more article of the group has been dealt with: it is the `position`th of `count`, and
    // `bytes` came for it from the server.
    void Article(const std::string& group, std::uint64_t position, std::uint64_t count,
                 std::uint64_t bytes);
    void Picture() { ++m_totals.pictures; }
    void GroupDone() { ++m_totals.groups; }
    void Recognised(std::uint64_t count) { m_totals.recognised += count; }
    void NotPictures(std::uint64_t count) { m_totals.notPictures += count; }
    void Unwritten() { ++m_totals.unwritten; }
    // A group's posts passed over, by reason.
    void PassedOver(const PassCounts& counts);

    // The last text: "Done", "Stopped" or `failure`, with the run's totals and time; the window
    // is then told the totals.
    void Finish(Outcome outcome, const std::string& failure = {});

    // The totals so far, for the last text and for tests.
    std::string Totals() const;
    const CRunTotals& Figures() const { return m_totals; }

private:
    CFetchDisplay& m_display;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastProgress;
    CRunTotals m_totals;
};
