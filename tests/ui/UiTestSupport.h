#pragma once

// Helpers for the window's tests: waiting while the event loop runs (the worker's calls are
// served by it), finding a control by its id, articles that carry a picture, and environment
// variables set for a while.

#include <QByteArray>
#include <QMenu>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>

namespace test {

// Runs the event loop until the condition holds; false when the time-out came first. The
// time-out only bounds a failing test; no test measures time with it.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds{30});
// Runs the event loop for a while, for tests that show nothing more happens.
void RunEventsFor(std::chrono::milliseconds time);

// The control with the id (its object name) under the window, or null.
template <typename Widget>
Widget* Control(QWidget& window, int id) {
    return window.findChild<Widget*>(QString::number(id));
}
// The text of the edit box with the id.
std::string EditText(QWidget& window, int id);

// An article body (CR LF line ends) that carries `data` uuencoded as `name`.
std::string PictureArticle(const std::string& name, const std::string& data);

// Runs `action` from the event loop on the next modal window to open (for driving dialogs that
// run their own loop); it receives null when none opened within some seconds.
void OnNextModalWindow(std::function<void(QWidget*)> action);

// The same for the next popup menu to open.
void OnNextPopup(std::function<void(QMenu*)> action);

// Sets an environment variable for as long as it lives, then puts back what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_previous;
};

}  // namespace test
