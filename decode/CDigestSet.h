#pragma once

// A set of SHA-256 digests sized for collections of millions of pictures: the digests lie side
// by side in one array, and an open-addressing table of their positions finds one in constant
// time, with no allocation per digest. Digests are only added; Clear empties it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class CDigestSet {
public:
    using Digest = std::array<unsigned char, 32>;

    // Makes room for `count` digests in all, so that adding up to that many moves nothing.
    void Reserve(std::size_t count);
    // False when the digest was there already.
    bool Insert(const Digest& digest);
    bool Contains(const Digest& digest) const;
    std::size_t Size() const { return m_digests.size(); }
    void Clear();

private:
    // The slot holding the digest, or the empty slot where it would go.
    std::size_t FindSlot(const Digest& digest) const;
    void Rehash(std::size_t slotCount);

    std::vector<Digest> m_digests;
    std::vector<std::uint32_t> m_slots;  // 0: empty; else the digest's position in m_digests + 1
    unsigned m_shift = 64;               // 64 minus log2 of the slot count
};
