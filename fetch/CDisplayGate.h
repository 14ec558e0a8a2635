#pragma once

// The worker's way to the window: forwards each display call while the window is attached, and
// drops it once the window has detached itself, so that after Exit the worker touches nothing of
// the window, not even with a message box. A call under way finishes before Detach() returns.

#include <mutex>

#include "fetch/CFetchDisplay.h"

class CDisplayGate final : public CFetchDisplay {
public:
    explicit CDisplayGate(CFetchDisplay& display) : m_display(&display) {}

    // After it every call is dropped. Whoever calls it must first release any display call
    // that is waiting for the calling thread, or the two would wait for each other.
    void Detach();

    // The worker's message boxes and questions, shown only while the window is attached; a
    // question not asked is answered No.
    void ShowErrorBox(const std::string& text);
    bool AskQuestion(const std::string& text);

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
    void RunFinished(const CRunTotals& totals) override;

private:
    std::mutex m_mutex;
    CFetchDisplay* m_display;
};
