// The window's tests need a QApplication for as long as they run; this main replaces
// GoogleTest's own. The offscreen platform is the default, so no display is needed. The tests
// get a home of their own: Delete File moves pictures to the desktop's trash, and the user's
// real trash must never see a test's pictures. Nor may a test reach the desktop's keyring: the
// session bus is one that is not there, so passwords go to the password file.

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>

#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Without a runtime folder Qt makes one of its own under /tmp and leaves it there; the
    // tests give it one that goes with them.
    const test::TempDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", runtime.Path().string().c_str());
    }
    // In the system's temporary folder, like the tests' pictures: on their file system the
    // trash takes them by moving them.
    const test::TempDir home;
    std::filesystem::create_directory(home.Path() / "data");
    qputenv("HOME", home.Path().string().c_str());
    qputenv("XDG_DATA_HOME", (home.Path() / "data").string().c_str());
    // Nor may the desktop's thumbnail cache see them.
    qputenv("XDG_CACHE_HOME", (home.Path() / "cache").string().c_str());
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            ("unix:path=" + (runtime.Path() / "no-session-bus").string()).c_str());
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
