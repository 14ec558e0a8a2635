#include "fetch/CBackOff.h"

#include <numeric>
#include <utility>

using namespace std::chrono_literals;

CBackOff::CBackOff(std::vector<Wait> waits, Wait repeat, Wait atLeast)
    : m_waits(std::move(waits)), m_repeat(repeat), m_tries(static_cast<int>(m_waits.size())) {
    const Wait listed = std::accumulate(m_waits.begin(), m_waits.end(), Wait::zero());
    if (repeat > Wait::zero() && atLeast > listed) {
        m_tries += static_cast<int>((atLeast - listed + repeat - 1ms) / repeat);
    }
}

CBackOff CBackOff::Quick() {
    return CBackOff({1s, 2s, 4s});
}

CBackOff CBackOff::Patient() {
    return CBackOff({1s, 2s, 4s, 8s, 15s, 30s, 60s}, 60s, 10min);
}

CBackOff::Wait CBackOff::Before(int attempt) const {
    if (attempt >= 0 && static_cast<std::size_t>(attempt) < m_waits.size()) {
        return m_waits[static_cast<std::size_t>(attempt)];
    }
    if (m_repeat > Wait::zero()) {
        return m_repeat;
    }
    return m_waits.empty() ? Wait::zero() : m_waits.back();
}
