#pragma once

// The error message box of the core: caption "ERROR", one OK button, no owner window. The core
// only asks for a box; the window installs the handler that really shows one (and blocks the
// asking thread until it is dismissed). Without a handler the text goes to standard error.

#include <functional>
#include <string>

namespace platform {

// Shows the text in an error box and returns once the box is gone.
void ShowErrorBox(const std::string& text);

// Installs the function that shows the boxes; an empty function restores standard error.
void SetErrorBoxHandler(std::function<void(const std::string&)> handler);

}  // namespace platform
