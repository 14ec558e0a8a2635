#include "platform/ErrorBox.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex& HandlerMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string&)>& Handler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

std::function<void(const std::string&)>& InformationHandler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

std::function<bool(const std::string&)>& QuestionHandler() {
    static std::function<bool(const std::string&)> handler;
    return handler;
}

}  // namespace

void ShowErrorBox(const std::string& text) {
    std::function<void(const std::string&)> handler;
    {
        // Copy the handler and call it outside the lock: a box blocks its thread until the user
        // dismisses it, and the other thread may want a box of its own meanwhile.
        std::lock_guard lock(HandlerMutex());
        handler = Handler();
    }
    if (handler) {
        handler(text);
        return;
    }
    std::fprintf(stderr, "ERROR: %s\n", text.c_str());
}

void SetErrorBoxHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(HandlerMutex());
    Handler() = std::move(handler);
}

void ShowInformation(const std::string& text) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = InformationHandler();
    }
    if (handler) {
        handler(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void SetInformationHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(HandlerMutex());
    InformationHandler() = std::move(handler);
}

bool AskQuestion(const std::string& text) {
    std::function<bool(const std::string&)> handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = QuestionHandler();
    }
    if (handler) {
        return handler(text);
    }
    std::fprintf(stderr, "QUESTION (answered No): %s\n", text.c_str());
    return false;
}

void SetQuestionHandler(std::function<bool(const std::string&)> handler) {
    std::lock_guard lock(HandlerMutex());
    QuestionHandler() = std::move(handler);
}

}  // namespace platform
