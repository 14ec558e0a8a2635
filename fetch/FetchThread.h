#pragma once

// The fetch worker thread's function. It waits for Start or Exit; on each Start it reads the
// configuration, connects, walks every article of every chosen group, decodes the pictures and
// hands them to the window, then disconnects and waits again. Exit ends it while it is idle.

#include <memory>

#include "fetch/ThreadArg.h"

// Returns 0 when the exit event ends the thread.
unsigned FetchThread(std::shared_ptr<ThreadArg> threadArg);

// True when a newsgroup name can be a folder name under images/: not empty, not "." or "..",
// and free of "/", "\" and zero bytes.
bool IsUsableFolderName(const std::string& name);
