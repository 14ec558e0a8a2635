#include "tests/ui/UiTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <thread>

#include "tests/support/UUEncode.h"

namespace test {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds{2});
    }
    return true;
}

void RunEventsFor(std::chrono::milliseconds time) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < time.count()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds{2});
    }
}

std::string EditText(QWidget& window, int id) {
    const QLineEdit* edit = Control<QLineEdit>(window, id);
    return edit == nullptr ? "<no control " + std::to_string(id) + ">" : edit->text().toStdString();
}

std::string PictureArticle(const std::string& name, const std::string& data) {
    return "A picture for you.\r\n\r\n" + UUEncode(data, name, "\r\n") + "-- \r\nsignature\r\n";
}

namespace {

// Polls every 10 ms, for some seconds at most, for the window that `find` finds.
template <typename Window>
void PollFor(Window* (*find)(), std::function<void(Window*)> action, int triesLeft) {
    QTimer::singleShot(10, [find, action = std::move(action), triesLeft]() mutable {
        Window* window = find();
        if (window == nullptr && triesLeft > 0) {
            PollFor(find, std::move(action), triesLeft - 1);
            return;
        }
        action(window);
    });
}

QWidget* ModalWindow() {
    return QApplication::activeModalWidget();
}

QMenu* PopupMenu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

}  // namespace

void OnNextModalWindow(std::function<void(QWidget*)> action) {
    PollFor(&ModalWindow, std::move(action), 500);
}

void OnNextPopup(std::function<void(QMenu*)> action) {
    PollFor(&PopupMenu, std::move(action), 500);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value)
    : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_previous(qgetenv(name)) {
    qputenv(name, QByteArray::fromStdString(value));
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_wasSet) {
        qputenv(m_name, m_previous);
    } else {
        qunsetenv(m_name);
    }
}

}  // namespace test
