#include "bench/fetch/DelayLine.h"

#include <algorithm>

CDelayLine::CDelayLine(Clock::duration oneWayDelay, double bytesPerSecond,
                       Clock::duration maxBacklog)
    : m_delay(oneWayDelay), m_bytesPerSecond(bytesPerSecond), m_maxBacklog(maxBacklog) {}

bool CDelayLine::Transparent() const {
    return m_delay == Clock::duration::zero() && m_bytesPerSecond <= 0;
}

std::size_t CDelayLine::ChunkSize(std::size_t fallback) const {
    if (m_bytesPerSecond <= 0) {
        return fallback;
    }
    constexpr double MIN_CHUNK = 1460;  // one full Ethernet segment's payload
    return static_cast<std::size_t>(
        std::clamp(m_bytesPerSecond / 1000, MIN_CHUNK, static_cast<double>(fallback)));
}

CDelayLine::Clock::time_point CDelayLine::ReadyAt() const {
    if (m_bytesPerSecond <= 0) {
        return Clock::time_point::min();
    }
    std::lock_guard lock(m_mutex);
    return m_freeAt - m_maxBacklog;
}

CDelayLine::Clock::time_point CDelayLine::Enter(Clock::time_point now, std::size_t bytes) {
    if (m_bytesPerSecond <= 0) {
        return now + m_delay;
    }
    const auto sending = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / m_bytesPerSecond));
    std::lock_guard lock(m_mutex);
    m_freeAt = std::max(now, m_freeAt) + sending;
    return m_freeAt + m_delay;
}
