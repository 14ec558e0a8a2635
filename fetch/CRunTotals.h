#pragma once

// The totals of one run of the fetch worker, as its last status line states them: what came,
// what the collection took, and what was passed over and why. A plain record.

#include <chrono>
#include <cstdint>

#include "fetch/PassReason.h"

struct CRunTotals {
    std::uint64_t groups = 0;
    std::uint64_t articles = 0;  // dealt with, fetched or not
    std::uint64_t bytes = 0;     // received from the server
    std::uint64_t pictures = 0;  // new in the collection
    // Pictures whose bytes the collection held already: not stored again.
    std::uint64_t recognised = 0;
    // Files fetched that were not pictures (a name that said nothing, a picture's name on other
    // bytes): not kept.
    std::uint64_t notPictures = 0;
    // Articles that could not be written: fetched again by the next run.
    std::uint64_t unwritten = 0;
    // Groups that could not be fetched, or not to their end; the run log says why.
    std::uint64_t groupsNotFetched = 0;
    PassCounts passedOver{};
    std::chrono::steady_clock::duration elapsed{};
};
