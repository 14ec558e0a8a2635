#pragma once

// One retrieved article: its header block and its body block, each as the server sent it after
// the status line, without the terminating dot line and with dot-stuffing undone.

#include <cstdint>
#include <string>

struct CNewsMessage {
    std::uint32_t number = 0;
    std::string header;
    std::size_t headerLength = 0;  // header.size(): the bytes of the block, CR LFs included
    std::string body;
    std::size_t bodyLength = 0;  // body.size()
};
