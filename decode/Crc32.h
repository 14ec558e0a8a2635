#pragma once

// The CRC-32 that yEnc posts carry (the one of zip and PNG), computed by zlib. It checks bytes;
// it knows nothing of where they come from.

#include <cstdint>
#include <string_view>

// The CRC-32 of `bytes` continued from `previous`, the CRC of the bytes before them (0 for none).
std::uint32_t Crc32(std::string_view bytes, std::uint32_t previous = 0);

// The CRC-32 of two pieces one after the other, from the CRCs of each and the second's length.
std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);
