#pragma once

// A reply reader's source that hands out the given chunks, one per receive, and then says that
// the connection has ended: the network's way of cutting a stream, replayed exactly.

#include <deque>
#include <string>

#include "nntp/CReplyReader.h"

namespace test {

inline CReplyReader::ReceiveFunction FromChunks(std::deque<std::string> chunks) {
    return [chunks = std::move(chunks)](std::string& pending) mutable {
        if (chunks.empty()) {
            return false;
        }
        pending += chunks.front();
        chunks.pop_front();
        return true;
    };
}

}  // namespace test
