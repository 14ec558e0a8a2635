#pragma once

// What the fetch worker thread is handed: the window's display, the news server session, the
// two events and the stop flag. The thread shares ownership of it, so that a worker that
// outlives the window (one stuck resolving a host name at exit) never touches freed memory.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "fetch/CBackOff.h"
#include "fetch/CDisplayGate.h"
#include "fetch/CSessionRegistry.h"
#include "nntp/CNewsServer.h"
#include "platform/ManualResetEvent.h"

struct ThreadArg {
    explicit ThreadArg(CFetchDisplay& display) : dlg(display), server("", CNewsServer::NNTP_PORT) {
        sessions.Add(server);
    }

    CDisplayGate dlg;
    CNewsServer server;
    // `server` and the extra connections of the group under way: what Stop and Exit cut.
    CSessionRegistry sessions;
    platform::ManualResetEvent startEvent;  // set by Start, reset when a run begins
    platform::ManualResetEvent exitEvent;   // set by Exit
    // The stop flag: set by Stop (and Exit), reset by Start. The worker tests it before each
    // group and each article, and a wait between reconnects ends when it is set.
    platform::ManualResetEvent stop;
    // The waits before the tries to win the worker's own connection back.
    CBackOff reconnect = CBackOff::Patient();

    // The password for the next run, handed over by Start; the run takes it, gives it to the
    // session, and wipes its own copy.
    std::mutex passwordMutex;
    std::string password;

    // How many runs have ended, and whether the thread has: for the window's bounded exit wait,
    // for tests and for the benchmark front.
    std::mutex progressMutex;
    std::condition_variable progressChanged;
    std::uint64_t runsDone = 0;
    bool threadEnded = false;
};
