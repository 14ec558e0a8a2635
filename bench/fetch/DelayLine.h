#pragma once

// One direction of an emulated network link: it tells when a chunk that enters the line at a
// given time comes out at the far end. Every chunk comes out the one-way delay after it has been
// sent whole; with a bandwidth cap the chunks of all connections take turns on the line in the
// order they entered, each for its size over the bandwidth. It moves and keeps no bytes itself.

#include <chrono>
#include <cstddef>
#include <mutex>

class CDelayLine {
public:
    using Clock = std::chrono::steady_clock;

    // bytesPerSecond 0 leaves the line uncapped. With a cap, the senders hold back once more
    // than maxBacklog of line time lies queued ahead (the queue of the line's router).
    CDelayLine(Clock::duration oneWayDelay, double bytesPerSecond,
               Clock::duration maxBacklog = std::chrono::milliseconds{5});

    // True when the line neither delays nor caps: bytes may go straight through.
    bool Transparent() const;
    // How many bytes a sender should hand in at a time: about a millisecond of line time when
    // capped (so that a chunk comes out about as soon as its last packet would), else `fallback`.
    std::size_t ChunkSize(std::size_t fallback) const;
    // When the line can take the next chunk without its queue growing past the backlog: at once
    // (the clock's minimum) when uncapped.
    Clock::time_point ReadyAt() const;
    // Puts a chunk of `bytes` on the line at `now` and returns when it arrives at the far end.
    // Chunks entered one after the other arrive in that order.
    Clock::time_point Enter(Clock::time_point now, std::size_t bytes);

private:
    const Clock::duration m_delay;
    const double m_bytesPerSecond;
    const Clock::duration m_maxBacklog;
    mutable std::mutex m_mutex;
    Clock::time_point m_freeAt{};  // when the last chunk on the line has been sent whole
};
