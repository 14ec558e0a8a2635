#include "fetch/VisitPlan.h"

#include <algorithm>

CVisitPlan PlanVisit(const CArticleRanges& record, const CVisitOptions& options,
                     std::uint32_t first, std::uint32_t last, std::optional<std::uint64_t> count) {
    CVisitPlan plan;
    first = std::max<std::uint32_t>(first, 1);
    if ((count && *count == 0) || last < first) {
        return plan;  // an empty group
    }
    plan.renumbered = record.Highest() > last;
    static const CArticleRanges none;
    const CArticleRanges& done = plan.renumbered ? none : record;
    const bool firstRun = done.Empty();
    if (options.onlyNew) {
        plan.ranges = done.Missing(first, last);
    } else if (first <= last) {
        plan.ranges.push_back({first, last});
    }
    const std::uint32_t newest = options.firstRunNewest;
    if (firstRun && newest > 0 && last >= first && last - first >= newest) {
        plan.windowStart = last - newest + 1;
        std::vector<CArticleRanges::Range> clipped;
        for (const CArticleRanges::Range& range : plan.ranges) {
            if (range.last >= plan.windowStart) {
                clipped.push_back({std::max(range.first, plan.windowStart), range.last});
            }
        }
        plan.ranges = std::move(clipped);
    }
    for (const CArticleRanges::Range& range : plan.ranges) {
        plan.count += static_cast<std::uint64_t>(range.last) - range.first + 1;
    }
    return plan;
}
