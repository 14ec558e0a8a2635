#pragma once

// Runs one piece of work at a time on a thread of its own, so that the window's thread stays
// free, and hands what the work returns (a call to make there) back to the window's thread
// through its event loop. Abandon() drops that call and waits a bounded time for the thread.
// It cannot cut the work short: the caller does that with the work's own means (a session's
// Cancel, a stop flag), and the work must hold nothing of the window, only copies and shared
// objects, since a thread that outlasts the wait is left to end on its own.

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CBackgroundJob {
public:
    // Runs on the job's thread; returns what is then to run on the window's thread.
    using Work = std::function<std::function<void()>()>;

    // The calls back run on the thread of `context`, and never once it is gone.
    explicit CBackgroundJob(QObject& context);
    // Abandons the work under way, waiting for it at most ABANDON_WAIT.
    ~CBackgroundJob();
    CBackgroundJob(const CBackgroundJob&) = delete;
    CBackgroundJob& operator=(const CBackgroundJob&) = delete;

    static constexpr std::chrono::milliseconds ABANDON_WAIT{1000};

    // Starts the work; false when work is under way already. The call back comes once Busy()
    // is false again, so that it may start the next work.
    bool Start(Work work);
    // From Start until its call back begins, or until it is abandoned.
    bool Busy() const { return m_state != nullptr; }
    // Drops the call back of the work under way and waits for its thread at most `wait`: true
    // when the thread has ended (or there was none), false when it was left to end on its own.
    bool Abandon(std::chrono::milliseconds wait = ABANDON_WAIT);

private:
    // Shared between the job, its thread and the call back in flight.
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool finished = false;   // the work has returned
        bool abandoned = false;  // its call back is not wanted
    };

    // Runs on the window's thread once the work has returned.
    void Deliver(const std::shared_ptr<State>& state, const std::function<void()>& then);

    QObject* m_context;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
