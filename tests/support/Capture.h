#pragma once

// Catches what the core writes to standard output and the error boxes it asks for, for as long
// as the object lives.

#include <mutex>
#include <string>
#include <vector>

namespace test {

class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    std::string Text() const;
    // The captured text as lines, without their line feeds; each log line is stripped of its
    // timestamp ("YYYY:MM:DD::HH:MM:SS ") when it has one.
    std::vector<std::string> LogLines() const;

private:
    mutable std::mutex m_mutex;
    std::string m_text;
};

// Records the error boxes, the information (as "(i) <text>") and the questions (as
// "? <text>"); questions get the answer set.
class ErrorBoxRecorder {
public:
    ErrorBoxRecorder();
    ~ErrorBoxRecorder();
    std::vector<std::string> Texts() const;
    void AnswerQuestions(bool yes);

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
    bool m_answer = false;
};

}  // namespace test
