#pragma once

// Moves the bytes of one direction of a proxied TCP connection from one socket to the other
// through a CDelayLine: a reader thread takes chunks from the source as they arrive and notes
// when the line delivers each; a writer thread hands them to the destination at that time, in
// the order they came. It holds at most about `bufferLimit` bytes (beyond that the source waits,
// as a TCP window would make it), passes the end of the stream on as a half close, and on any
// failure shuts both sockets down, which ends the opposite pipe too. It owns neither socket.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "bench/fetch/DelayLine.h"

class CDelayedPipe {
public:
    CDelayedPipe(int source, int destination, CDelayLine& line, std::size_t bufferLimit);
    // Stops and waits for both threads.
    ~CDelayedPipe();
    CDelayedPipe(const CDelayedPipe&) = delete;
    CDelayedPipe& operator=(const CDelayedPipe&) = delete;

    // Ends the pipe soon, dropping what it still holds: both sockets are shut down. Also how a
    // failure on either socket ends it.
    void Stop();
    // True once the stream has ended (delivered, failed or stopped) and both threads are done.
    bool Finished() const { return m_threadsDone.load() == 2; }
    // The bytes handed to the destination so far.
    std::uint64_t BytesDelivered() const { return m_delivered.load(); }

private:
    struct Chunk {
        CDelayLine::Clock::time_point due;
        std::string bytes;  // empty: the end of the stream
    };

    void ReadLoop();
    void WriteLoop();
    // Sends all of the bytes, repeating short writes; false when the destination failed.
    bool SendAll(std::string_view bytes);

    const int m_source;
    const int m_destination;
    CDelayLine& m_line;
    const std::size_t m_bufferLimit;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_stopped = false;
    std::atomic<std::uint64_t> m_delivered{0};
    std::atomic<int> m_threadsDone{0};
    // Last, so that they end before the members they use go.
    std::thread m_reader;
    std::thread m_writer;
};
