// The window's tests need a QApplication for as long as they run; this main replaces
// GoogleTest's own. The offscreen platform is the default, so no display is needed.

#include <gtest/gtest.h>

#include <QApplication>

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
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
