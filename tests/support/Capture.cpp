#include "tests/support/Capture.h"

#include <cctype>

#include "platform/Console.h"
#include "platform/ErrorBox.h"

namespace test {
namespace {

// The shape of a log line's timestamp: "2001:03:03::14:05:09 ".
constexpr std::string_view TIMESTAMP = "dddd:dd:dd::dd:dd:dd ";

bool HasTimestamp(const std::string& line) {
    if (line.size() < TIMESTAMP.size()) {
        return false;
    }
    for (std::size_t i = 0; i < TIMESTAMP.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (TIMESTAMP[i] == 'd' ? !digit : line[i] != TIMESTAMP[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

ConsoleCapture::ConsoleCapture() {
    platform::SetConsoleSink([this](std::string_view text) {
        std::lock_guard lock(m_mutex);
        m_text.append(text);
    });
}

ConsoleCapture::~ConsoleCapture() {
    platform::SetConsoleSink({});
}

std::string ConsoleCapture::Text() const {
    std::lock_guard lock(m_mutex);
    return m_text;
}

std::vector<std::string> ConsoleCapture::LogLines() const {
    std::vector<std::string> lines;
    const std::string text = Text();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (HasTimestamp(line)) {
            line.erase(0, TIMESTAMP.size());
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

ErrorBoxRecorder::ErrorBoxRecorder() {
    platform::SetErrorBoxHandler([this](const std::string& text) {
        std::lock_guard lock(m_mutex);
        m_texts.push_back(text);
    });
    platform::SetInformationHandler([this](const std::string& text) {
        std::lock_guard lock(m_mutex);
        m_texts.push_back("(i) " + text);
    });
    platform::SetQuestionHandler([this](const std::string& text) {
        std::lock_guard lock(m_mutex);
        m_texts.push_back("? " + text);
        return m_answer;
    });
}

ErrorBoxRecorder::~ErrorBoxRecorder() {
    platform::SetErrorBoxHandler({});
    platform::SetInformationHandler({});
    platform::SetQuestionHandler({});
}

void ErrorBoxRecorder::AnswerQuestions(bool yes) {
    std::lock_guard lock(m_mutex);
    m_answer = yes;
}

std::vector<std::string> ErrorBoxRecorder::Texts() const {
    std::lock_guard lock(m_mutex);
    return m_texts;
}

}  // namespace test
