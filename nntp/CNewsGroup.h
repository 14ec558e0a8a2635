#pragma once

// One newsgroup as a server reported it, in a LIST line or a GROUP reply. A plain record: the
// news server client makes it, whoever receives it owns it.

#include <cstdint>
#include <string>
#include <utility>

class CNewsGroup {
public:
    CNewsGroup(std::string name_, std::int32_t first_, std::int32_t last_, std::string info_)
        : name(std::move(name_)), first(first_), last(last_), info(std::move(info_)) {}

    std::string name;
    // Article numbers as the server gave them; readers compare them as unsigned 32-bit numbers.
    std::int32_t first;
    std::int32_t last;
    // The line's one remaining field: the posting status of a LIST line, the article count of a
    // GROUP reply. Nothing reads it.
    std::string info;
};
