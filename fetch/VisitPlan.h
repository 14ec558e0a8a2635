#pragma once

// Which articles of a group a run visits, from the record of the articles earlier runs
// processed and the group's first and last numbers as the server reports them: those not
// processed before (or every one), and on a group's first run only its newest N. A pure
// function: it changes no record and asks no server.

#include <cstdint>
#include <optional>
#include <vector>

#include "config/CArticleRanges.h"

struct CVisitPlan {
    // The numbers to visit, ascending.
    std::vector<CArticleRanges::Range> ranges;
    // How many numbers the ranges hold.
    std::uint64_t count = 0;
    // The record holds numbers the group no longer reaches: the server numbered it afresh, and
    // the record is to be cleared before the plan's numbers are added to it.
    bool renumbered = false;
    // On a group's first run with a newest-N window, the first number of the window: the
    // articles first..windowStart - 1 are passed over for good, as a newsreader catching up marks
    // them. 0 when there is no window.
    std::uint32_t windowStart = 0;
};

struct CVisitOptions {
    bool onlyNew = true;               // skip what the record holds
    std::uint32_t firstRunNewest = 0;  // 0: no window on a first run
};

// `first`, `last` and `count` are what GROUP reported (RFC 3977, 6.1.1.2). An empty group
// (a zero count, or last below first, or "0 0 0") gives nothing to visit and keeps the record as
// it is: only a group that holds articles and ends below the record's highest number counts as
// numbered afresh. Article 0 is never visited.
CVisitPlan PlanVisit(const CArticleRanges& done, const CVisitOptions& options, std::uint32_t first,
                     std::uint32_t last, std::optional<std::uint64_t> count = std::nullopt);
