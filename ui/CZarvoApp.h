#pragma once

// The application: it sets up Qt and the error boxes, then shows the main window and runs the
// event loop for the program's whole life; the program ends when the window is done. It has no
// window, menu or document of its own and reads no command line.

#include <QApplication>

#include "ui/CErrorBoxPresenter.h"

class CZarvoApp : public QApplication {
    Q_OBJECT

public:
    CZarvoApp(int& argc, char** argv);

    // Runs the main window until it is done. Returns false, as there is nothing more to run.
    bool InitInstance();
    // False when the worker was still busy when the window closed (see main.cpp).
    bool WorkerEnded() const { return m_workerEnded; }

private:
    CErrorBoxPresenter m_errorBoxes;
    bool m_workerEnded = true;
};
