#include "fetch/PassReason.h"

std::string DescribePassedOver(const PassCounts& counts) {
    static constexpr const char* NAMES[] = {
        "",
        "video or audio",
        "PAR2, NFO and other files of sets",
        "other files",
        "over the size limit",
        "skipped by your patterns",
        "of kinds turned off",
        "incomplete on the server",
    };
    std::uint64_t total = 0;
    std::string parts;
    for (std::size_t i = 1; i < counts.size(); ++i) {
        if (counts[i] == 0) {
            continue;
        }
        total += counts[i];
        parts += (parts.empty() ? "" : ", ") + std::to_string(counts[i]) + " " + NAMES[i];
    }
    if (total == 0) {
        return {};
    }
    return std::to_string(total) + (total == 1 ? " post" : " posts") + " passed over: " + parts;
}
