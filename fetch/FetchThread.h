#pragma once

// The fetch worker thread's function. It waits for Start or Exit; on each Start it reads the
// configuration, connects, walks every article of every chosen group, decodes the pictures and
// hands them to the window, then disconnects and waits again. A lost connection is won back
// and the group resumed where it was. A group that cannot be fetched goes to the status line and
// the run log, and the run goes on with the next; only what ends the whole run is shown in a
// box, once the run is over. Exit ends it while it is idle.

#include <memory>

#include "fetch/ThreadArg.h"

// Returns 0 when the exit event ends the thread.
unsigned FetchThread(std::shared_ptr<ThreadArg> threadArg);

// True when a newsgroup name can be a folder name under images/: not empty, not "." or "..",
// and free of "/", "\" and control characters.
bool IsUsableFolderName(const std::string& name);
