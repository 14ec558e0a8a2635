#include "fetch/CDisplayGate.h"

#include "platform/ErrorBox.h"

void CDisplayGate::Detach() {
    std::lock_guard lock(m_mutex);
    m_display = nullptr;
}

void CDisplayGate::ShowErrorBox(const std::string& text) {
    {
        std::lock_guard lock(m_mutex);
        if (m_display == nullptr) {
            return;
        }
    }
    // Outside the lock: a box waits for the user, and Detach() must not wait for the user.
    platform::ShowErrorBox(text);
}

bool CDisplayGate::AskQuestion(const std::string& text) {
    {
        std::lock_guard lock(m_mutex);
        if (m_display == nullptr) {
            return false;
        }
    }
    return platform::AskQuestion(text);
}

void CDisplayGate::SetEditText(int control, const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->SetEditText(control, text);
    }
}

void CDisplayGate::SetProgress(int control, std::int64_t low, std::int64_t high, int step,
                               std::int64_t position) {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->SetProgress(control, low, high, step, position);
    }
}

void CDisplayGate::StepProgress(int control) {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->StepProgress(control);
    }
}

void CDisplayGate::ClearPictures() {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->ClearPictures();
    }
}

std::size_t CDisplayGate::AppendPicture(const std::string& path) {
    std::lock_guard lock(m_mutex);
    return m_display != nullptr ? m_display->AppendPicture(path) : 0;
}

int CDisplayGate::CurrentPicture() {
    std::lock_guard lock(m_mutex);
    return m_display != nullptr ? m_display->CurrentPicture() : 0;
}

void CDisplayGate::OnNext() {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->OnNext();
    }
}

void CDisplayGate::SetStatusText(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->SetStatusText(text);
    }
}

void CDisplayGate::AddLogEntry(const CRunLogEntry& entry) {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->AddLogEntry(entry);
    }
}

void CDisplayGate::SetRunning(bool running) {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->SetRunning(running);
    }
}

void CDisplayGate::RunFinished(const CRunTotals& totals) {
    std::lock_guard lock(m_mutex);
    if (m_display != nullptr) {
        m_display->RunFinished(totals);
    }
}
