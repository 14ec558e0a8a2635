#include "decode/Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

std::uint32_t Crc32(std::string_view bytes, std::uint32_t previous) {
    uLong crc = previous;
    // zlib takes lengths as unsigned int: larger inputs go in pieces.
    constexpr std::size_t PIECE = std::numeric_limits<unsigned>::max() / 2 + 1;
    while (!bytes.empty()) {
        const std::size_t now = std::min(bytes.size(), PIECE);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(now));
        bytes.remove_prefix(now);
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
    // z_off_t is 64 bits wide on the 64-bit systems Zarvo builds for; no file comes near its end.
    static_assert(sizeof(z_off_t) >= sizeof(std::int64_t));
    return static_cast<std::uint32_t>(
        crc32_combine(first, second, static_cast<z_off_t>(secondLength)));
}
