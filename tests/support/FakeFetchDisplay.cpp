#include "tests/support/FakeFetchDisplay.h"

namespace test {

void FakeFetchDisplay::Record(std::string call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
}

void FakeFetchDisplay::SetEditText(int control, const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_texts.emplace_back(control, text);
    Record("edit " + std::to_string(control) + " " + text);
}

void FakeFetchDisplay::SetProgress(int control, std::int64_t low, std::int64_t high, int step,
                                   std::int64_t position) {
    Record("range " + std::to_string(control) + " " + std::to_string(low) + ".." +
           std::to_string(high) + " step " + std::to_string(step) + " at " +
           std::to_string(position));
}

void FakeFetchDisplay::StepProgress(int control) {
    Record("step " + std::to_string(control));
}

void FakeFetchDisplay::ClearPictures() {
    std::lock_guard lock(m_mutex);
    m_pictures.clear();
    Record("clear");
}

std::size_t FakeFetchDisplay::AppendPicture(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_pictures.push_back(path);
    Record("append " + path);
    return m_pictures.size();
}

int FakeFetchDisplay::CurrentPicture() {
    std::lock_guard lock(m_mutex);
    return m_current;
}

void FakeFetchDisplay::OnNext() {
    std::lock_guard lock(m_mutex);
    const int last = static_cast<int>(m_pictures.size()) - 1;
    m_current = m_current >= 0 && m_current < last ? m_current + 1 : last;
    Record("next");
}

void FakeFetchDisplay::SetStatusText(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_statusTexts.push_back(text);
    Record("status " + text);
}

void FakeFetchDisplay::AddLogEntry(const CRunLogEntry& entry) {
    std::lock_guard lock(m_mutex);
    m_log.push_back(entry.group + ": " + entry.what + ": " + entry.todo);
}

std::vector<std::string> FakeFetchDisplay::LogEntries() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

void FakeFetchDisplay::SetRunning(bool running) {
    Record(running ? "running 1" : "running 0");
}

std::vector<std::string> FakeFetchDisplay::StatusTexts() const {
    std::lock_guard lock(m_mutex);
    return m_statusTexts;
}

std::vector<std::string> FakeFetchDisplay::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<std::string> FakeFetchDisplay::Texts(int control) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> texts;
    for (const auto& [id, text] : m_texts) {
        if (id == control) {
            texts.push_back(text);
        }
    }
    return texts;
}

std::vector<std::string> FakeFetchDisplay::Pictures() const {
    std::lock_guard lock(m_mutex);
    return m_pictures;
}

void FakeFetchDisplay::SetCurrentPicture(int index) {
    std::lock_guard lock(m_mutex);
    m_current = index;
}

}  // namespace test
