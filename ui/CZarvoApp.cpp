#include "ui/CZarvoApp.h"

#include "ui/CZarvoDlg.h"
#include "ui/CZarvoIcon.h"

CZarvoApp::CZarvoApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("zarvo"));
    setApplicationVersion(QStringLiteral("1.0.0.2"));
    setWindowIcon(CZarvoIcon::Create());
    // Tool windows of the window (the configuration dialog, boxes, pictures) must not end the
    // program when they close; the main window's end does.
    setQuitOnLastWindowClosed(false);
}

bool CZarvoApp::InitInstance() {
    CZarvoDlg dialog;
    // The main window is not modal: a modal one would block every box that opens later, the
    // worker's above all. The boxes open over it instead, and must not hold the worker back
    // once Exit has begun.
    m_errorBoxes.SetOwnerWindow(&dialog);
    connect(&dialog, &CZarvoDlg::exiting, &m_errorBoxes, &CErrorBoxPresenter::ReleaseWorkers);
    connect(&dialog, &QDialog::finished, this, [] { QCoreApplication::quit(); });
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    exec();
    m_errorBoxes.SetOwnerWindow(nullptr);
    m_workerEnded = dialog.WorkerEnded();
    return false;
}
