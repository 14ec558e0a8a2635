#pragma once

// The process's diagnostic output. Two threads write diagnostics at once (the fetch worker and
// the configuration dialog's own session), so every text goes out whole under one lock; a test
// can take the output over to read it.

#include <functional>
#include <string_view>

namespace platform {

// Writes the text to standard output in one piece, never interleaved with another thread's.
void WriteConsole(std::string_view text);

// Sends every later text to the given function instead of standard output; an empty function
// restores standard output. Meant for tests.
void SetConsoleSink(std::function<void(std::string_view)> sink);

}  // namespace platform
