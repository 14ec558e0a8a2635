#include "bench/fetch/DelayedPipe.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

constexpr std::size_t READ_SIZE = 64 * 1024;

}  // namespace

CDelayedPipe::CDelayedPipe(int source, int destination, CDelayLine& line, std::size_t bufferLimit)
    : m_source(source), m_destination(destination), m_line(line), m_bufferLimit(bufferLimit) {
    m_reader = std::thread([this] {
        ReadLoop();
        ++m_threadsDone;
    });
    if (m_line.Transparent()) {
        ++m_threadsDone;  // the reader sends itself; no writer
    } else {
        m_writer = std::thread([this] {
            WriteLoop();
            ++m_threadsDone;
        });
    }
}

CDelayedPipe::~CDelayedPipe() {
    Stop();
    m_reader.join();
    if (m_writer.joinable()) {
        m_writer.join();
    }
}

void CDelayedPipe::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
    shutdown(m_source, SHUT_RDWR);
    shutdown(m_destination, SHUT_RDWR);
}

bool CDelayedPipe::SendAll(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count =
            send(m_destination, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(count);
    }
    m_delivered += bytes.size();
    return true;
}

void CDelayedPipe::ReadLoop() {
    const std::size_t chunkSize = m_line.ChunkSize(READ_SIZE);
    std::string buffer(chunkSize, '\0');
    for (;;) {
        {
            // Wait for room in this pipe and on the line before taking more from the source.
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopped || m_queuedBytes < m_bufferLimit; });
            const auto readyAt = m_line.ReadyAt();
            if (readyAt > CDelayLine::Clock::now()) {
                m_changed.wait_until(lock, readyAt, [this] { return m_stopped; });
            }
            if (m_stopped) {
                return;
            }
        }
        // Acknowledge at once what arrives: a sender that holds back small writes until its
        // last one is acknowledged (Nagle) must not wait for this hop's delayed acknowledgement.
        // The option wears off, so it is set before every read.
        const int one = 1;
        setsockopt(m_source, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const ssize_t count = recv(m_source, buffer.data(), buffer.size(), 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            Stop();
            return;
        }
        const auto now = CDelayLine::Clock::now();
        if (m_line.Transparent()) {
            if (count == 0) {
                shutdown(m_destination, SHUT_WR);
                return;
            }
            if (!SendAll(std::string_view(buffer).substr(0, static_cast<std::size_t>(count)))) {
                Stop();
                return;
            }
            continue;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopped) {
                return;
            }
            if (count == 0) {
                // The end of the stream travels behind the last bytes.
                m_queue.push_back({m_line.Enter(now, 0), {}});
            } else {
                m_queue.push_back({m_line.Enter(now, static_cast<std::size_t>(count)),
                                   buffer.substr(0, static_cast<std::size_t>(count))});
                m_queuedBytes += static_cast<std::size_t>(count);
            }
        }
        m_changed.notify_all();
        if (count == 0) {
            return;
        }
    }
}

void CDelayedPipe::WriteLoop() {
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopped || !m_queue.empty(); });
            if (m_stopped) {
                return;
            }
            const auto due = m_queue.front().due;
            if (m_changed.wait_until(lock, due, [this] { return m_stopped; })) {
                return;
            }
            chunk = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (chunk.bytes.empty()) {
            shutdown(m_destination, SHUT_WR);
            return;
        }
        if (!SendAll(chunk.bytes)) {
            Stop();
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_queuedBytes -= chunk.bytes.size();
        }
        m_changed.notify_all();
    }
}
