#pragma once

// The error message box of the core: caption "ERROR", one OK button, no owner window; a notice
// that is no error (caption "Zarvo", one OK button); and the one question the core asks, with
// Yes and No. The core only asks for a box; the window installs
// the handlers that really show one (and block the asking thread until it is answered). Without
// a handler the text goes to standard error, and a question is answered No.

#include <functional>
#include <string>

namespace platform {

// Shows the text in an error box and returns once the box is gone.
void ShowErrorBox(const std::string& text);

// Installs the function that shows the boxes; an empty function restores standard error.
void SetErrorBoxHandler(std::function<void(const std::string&)> handler);

// Shows the text as information, not as an error, and returns once the box is gone. Without a
// handler the text goes to standard error.
void ShowInformation(const std::string& text);

// Installs the function that shows information; an empty function restores standard error.
void SetInformationHandler(std::function<void(const std::string&)> handler);

// Asks the question in a box with Yes and No and returns once it is answered: true for Yes.
bool AskQuestion(const std::string& text);

// Installs the function that asks the questions; an empty function answers No.
void SetQuestionHandler(std::function<bool(const std::string&)> handler);

}  // namespace platform
