#pragma once

// Why the fetch worker passed a post over without fetching it, and how the reasons are counted
// and told. It decides nothing.

#include <array>
#include <cstdint>
#include <string>

// Why a post was passed over; Count is the number of reasons.
enum class PassReason {
    None,
    VideoOrAudio,  // video and audio, and archives of them
    SetFiles,      // PAR2, NFO, SFV, NZB and the like that come with a set
    OtherFile,     // programs, documents, disc images, text
    TooLarge,      // over the largest post (or set) to fetch
    Skipped,       // its poster or subject matches a pattern to skip
    TurnedOff,     // a kind the settings leave out (plain pictures, or archives)
    Incomplete,    // parts missing on the server
    Count,
};

using PassCounts = std::array<std::uint64_t, static_cast<std::size_t>(PassReason::Count)>;

// "312 posts passed over: 280 video or audio, 32 PAR2, NFO and other files of sets"; empty when
// none was.
std::string DescribePassedOver(const PassCounts& counts);
