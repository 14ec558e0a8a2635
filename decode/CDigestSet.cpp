#include "decode/CDigestSet.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t FIRST_SLOT_COUNT = 16;

// All 32 bytes count: digests read from a damaged or foreign file need not be random.
std::uint64_t Mix(const CDigestSet::Digest& digest) {
    std::uint64_t words[4];
    std::memcpy(words, digest.data(), sizeof words);
    const std::uint64_t folded =
        words[0] ^ std::rotl(words[1], 16) ^ std::rotl(words[2], 32) ^ std::rotl(words[3], 48);
    return folded * 0x9E3779B97F4A7C15ULL;
}

}  // namespace

void CDigestSet::Reserve(std::size_t count) {
    m_digests.reserve(count);
    std::size_t slots = std::max(m_slots.size(), FIRST_SLOT_COUNT);
    while (slots / 2 < count) {
        slots *= 2;
    }
    if (slots != m_slots.size()) {
        Rehash(slots);
    }
}

bool CDigestSet::Insert(const Digest& digest) {
    // At most half the slots in use keeps the runs of taken slots short.
    if ((m_digests.size() + 1) * 2 > m_slots.size()) {
        Rehash(std::max(m_slots.size() * 2, FIRST_SLOT_COUNT));
    }
    const std::size_t slot = FindSlot(digest);
    if (m_slots[slot] != 0) {
        return false;
    }
    m_digests.push_back(digest);
    m_slots[slot] = static_cast<std::uint32_t>(m_digests.size());
    return true;
}

bool CDigestSet::Contains(const Digest& digest) const {
    return !m_slots.empty() && m_slots[FindSlot(digest)] != 0;
}

void CDigestSet::Clear() {
    m_digests.clear();
    m_slots.clear();
    m_shift = 64;
}

std::size_t CDigestSet::FindSlot(const Digest& digest) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = static_cast<std::size_t>(Mix(digest) >> m_shift);;
         slot = (slot + 1) & mask) {
        const std::uint32_t taken = m_slots[slot];
        if (taken == 0 || m_digests[taken - 1] == digest) {
            return slot;
        }
    }
}

void CDigestSet::Rehash(std::size_t slotCount) {
    m_slots.assign(slotCount, 0);
    m_shift = 64 - static_cast<unsigned>(std::countr_zero(slotCount));
    const std::size_t mask = slotCount - 1;
    for (std::size_t i = 0; i < m_digests.size(); ++i) {
        std::size_t slot = static_cast<std::size_t>(Mix(m_digests[i]) >> m_shift);
        while (m_slots[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        m_slots[slot] = static_cast<std::uint32_t>(i + 1);
    }
}
