#pragma once

// A reply reader's source that hands out the given chunks, one per receive (a chunk larger than
// the room offered goes out over several), and then says that the connection has ended: the
// network's way of cutting a stream, replayed exactly.

#include <deque>
#include <span>
#include <string>

#include "nntp/CReplyReader.h"

namespace test {

inline CReplyReader::ReceiveFunction FromChunks(std::deque<std::string> chunks) {
    // Empty chunks would read as the end of the connection.
    std::erase(chunks, std::string());
    return [chunks = std::move(chunks)](std::span<char> room) mutable -> std::size_t {
        if (chunks.empty()) {
            return 0;
        }
        std::string& chunk = chunks.front();
        const std::size_t count = chunk.copy(room.data(), room.size());
        chunk.erase(0, count);
        if (chunk.empty()) {
            chunks.pop_front();
        }
        return count;
    };
}

}  // namespace test
