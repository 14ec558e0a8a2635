#pragma once

// What the fetch worker needs of the main window: its counters and progress bars, the picture
// list (kept under the window's picture lock), the picture browser's Next and the run log. The
// window implements it; tests implement a fake. Every call comes from the worker's thread and
// returns when the window has carried it out. Message boxes go through platform::ShowErrorBox.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fetch/CRunLogEntry.h"
#include "fetch/CRunTotals.h"

class CFetchDisplay {
public:
    virtual ~CFetchDisplay() = default;

    // Replaces the whole text of a read-only edit box.
    virtual void SetEditText(int control, const std::string& text) = 0;
    // Sets a progress bar's range, its step and its position.
    virtual void SetProgress(int control, std::int64_t low, std::int64_t high, int step,
                             std::int64_t position) = 0;
    // Advances a progress bar by its step.
    virtual void StepProgress(int control) = 0;

    // Empties the picture list, holding the picture lock.
    virtual void ClearPictures() = 0;
    // Appends a picture path holding the picture lock; returns the list's new size, read under
    // the same hold.
    virtual std::size_t AppendPicture(const std::string& path) = 0;
    // The index of the picture on show.
    virtual int CurrentPicture() = 0;
    // The picture browser's Next: moves to and shows a picture of the list.
    virtual void OnNext() = 0;

    // The status line under the window's controls: what the run is doing (connecting, which
    // group, how far, how fast), and at its end how it ended, with its totals.
    virtual void SetStatusText(const std::string& text) = 0;
    // What went wrong with one group, for the run log that the user can open: the run goes on
    // with the next group. The window keeps the entries of every run of the session.
    virtual void AddLogEntry(const CRunLogEntry& entry) = 0;
    // A run has begun (true) or ended (false): Start is for an idle worker, Stop for a run.
    virtual void SetRunning(bool running) = 0;
    // A run has ended with these totals, just before SetRunning(false). Nothing by default.
    virtual void RunFinished(const CRunTotals&) {}
};
