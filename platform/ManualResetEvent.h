#pragma once

// A manual-reset event: once set it stays set, waking every waiter, until it is reset. Two
// events can be waited on together, and the first one of the pair wins when both are set; that
// is how the fetch worker tells Start from Exit.

#include <chrono>

namespace platform {

class ManualResetEvent {
public:
    ManualResetEvent() = default;
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until the event is set; false when the time-out ran out first.
    bool Wait(std::chrono::milliseconds timeout) const;

    // Waits, without a time-out, until one of the two is set; returns 0 when `first` is set
    // (whether or not `second` is), otherwise 1.
    static int WaitForEither(const ManualResetEvent& first, const ManualResetEvent& second);

private:
    // Every event signals through one process-wide lock and condition, so that one waiter can
    // wait on any set of events. There are only a handful of events, so sharing costs nothing.
    bool m_set = false;
};

}  // namespace platform
