#pragma once

// Owns the fetch worker for the main window: the thread, its session, its events and its stop
// flag, and the handshake of Start, Stop and Exit. It does no fetching itself (FetchThread does)
// and shows nothing (the window implements CFetchDisplay).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "fetch/CFetchDisplay.h"
#include "fetch/ThreadArg.h"

class CFetchWorker {
public:
    explicit CFetchWorker(CFetchDisplay& display);
    // Ends the worker (see EndRun) if the window has not done so.
    ~CFetchWorker();
    CFetchWorker(const CFetchWorker&) = delete;
    CFetchWorker& operator=(const CFetchWorker&) = delete;

    // Starts the session's network layer.
    bool InitServer();
    // Starts the worker thread, idle until Start; false when it cannot be started.
    bool StartThread();
    bool IsThreadStarted() const { return m_thread.joinable(); }

    // The waits before the tries to win a lost connection back (CBackOff::Patient() unless
    // set). Only while no run is under way: tests shorten them to milliseconds.
    void SetReconnectBackOff(CBackOff backOff);

    // Start: clears the stop flag and asks for a run; a run under way is followed by one more.
    // The password (for a server that wants a log-in) is the next run's alone.
    void OnStart(const std::string& password = {});
    // Stop: cuts the exchange under way (a look-up, a connect, a read) and the wait before a
    // reconnect; the worker then ends the run before its next group or article.
    void OnStop();
    // Exit: ends a run under way at once (stop flag, exit event, the session's connection cut
    // from this thread so that a blocked read returns) and waits at most `wait` for the thread
    // to end. From then on the worker touches nothing of the display. True when the thread has
    // ended; otherwise it is left to end on its own, holding nothing of the window.
    bool EndRun(std::chrono::milliseconds wait);

    // Waits until at least `runs` runs have ended since the thread started; false on time-out.
    bool WaitForRuns(std::uint64_t runs, std::chrono::milliseconds timeout);
    std::uint64_t RunsDone() const;

private:
    std::shared_ptr<ThreadArg> m_threadArg;
    std::thread m_thread;
};
