#pragma once

// A stand-in for the main window as the fetch worker sees it: records every display call in
// order, keeps the picture list under a re-entrant lock and moves like the picture browser's
// Next (to the next entry, or to the last one), and keeps the run log's entries.

#include <mutex>
#include <string>
#include <vector>

#include "fetch/CFetchDisplay.h"

namespace test {

class FakeFetchDisplay : public CFetchDisplay {
public:
    void SetEditText(int control, const std::string& text) override;
    void SetProgress(int control, std::int64_t low, std::int64_t high, int step,
                     std::int64_t position) override;
    void StepProgress(int control) override;
    void ClearPictures() override;
    std::size_t AppendPicture(const std::string& path) override;
    int CurrentPicture() override;
    void OnNext() override;
    void SetStatusText(const std::string& text) override;
    void AddLogEntry(const CRunLogEntry& entry) override;
    void SetRunning(bool running) override;

    // Every call so far, one line each ("edit 1020 3 / 4", "range 1001 0..4 step 1 at 0",
    // "step 1000", "clear", "append <path>", "next", "status <text>", "running 1").
    std::vector<std::string> Calls() const;
    // The texts an edit box was given, in order.
    std::vector<std::string> Texts(int control) const;
    // The status line's texts, in order.
    std::vector<std::string> StatusTexts() const;
    std::vector<std::string> Pictures() const;
    // The run log's entries, each as "<group>: <what>: <todo>".
    std::vector<std::string> LogEntries() const;
    void SetCurrentPicture(int index);

private:
    void Record(std::string call);

    mutable std::recursive_mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<std::pair<int, std::string>> m_texts;
    std::vector<std::string> m_statusTexts;
    std::vector<std::string> m_pictures;
    std::vector<std::string> m_log;
    int m_current = 0;
};

}  // namespace test
