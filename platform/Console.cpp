#include "platform/Console.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex& ConsoleMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(std::string_view)>& ConsoleSink() {
    static std::function<void(std::string_view)> sink;
    return sink;
}

}  // namespace

void WriteConsole(std::string_view text) {
    std::lock_guard lock(ConsoleMutex());
    if (ConsoleSink()) {
        ConsoleSink()(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void SetConsoleSink(std::function<void(std::string_view)> sink) {
    std::lock_guard lock(ConsoleMutex());
    ConsoleSink() = std::move(sink);
}

}  // namespace platform
