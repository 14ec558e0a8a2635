#include "ui/CZarvoApp.h"

#include "ui/CZarvoDlg.h"
#include "ui/CZarvoIcon.h"

CZarvoApp::CZarvoApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("zarvo"));
    setApplicationVersion(QStringLiteral("1.0.0.2"));
    setWindowIcon(CZarvoIcon::Create());
    // Tool windows of the window (the configuration dialog, boxes) must not end the program
    // when they close; the main window's end does.
    setQuitOnLastWindowClosed(false);
}

bool CZarvoApp::InitInstance() {
    CZarvoDlg dialog;
    // The worker's message boxes must not hold the worker back once Exit has begun.
    connect(&dialog, &CZarvoDlg::exiting, &m_errorBoxes, &CErrorBoxPresenter::ReleaseWorkers);
    dialog.exec();
    m_workerEnded = dialog.WorkerEnded();
    return false;
}
