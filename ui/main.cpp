// Zarvo: collects the pictures posted to Usenet newsgroups.

#include <cstdio>
#include <cstdlib>

#include "ui/CZarvoApp.h"

int main(int argc, char** argv) {
    CZarvoApp app(argc, argv);
    app.InitInstance();
    if (!app.WorkerEnded()) {
        // The window is gone, but the worker is still inside something that nothing can cut
        // short (a host name look-up). It touches nothing of the window any more; the program
        // must neither wait for it nor tear down what it may still hold.
        std::fflush(nullptr);
        std::_Exit(EXIT_SUCCESS);
    }
    return EXIT_SUCCESS;
}
