// The .newsrc record on whatever a file may hold. Beyond memory errors it checks that writing
// what was read and reading it again changes nothing, and that a group's numbers and what
// Missing() says is missing of a range never overlap and together fill the range.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "config/CNewsrc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint32_t first = input.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t last = first + input.ConsumeIntegralInRange<std::uint32_t>(0, 5000);
    const std::string text = input.ConsumeRemainingBytesAsString();

    CNewsrc record;
    record.Parse(text);
    const std::string written = record.Serialize();
    CNewsrc again;
    again.Parse(written);
    if (again.Serialize() != written) {
        __builtin_trap();
    }
    const std::optional<CArticleRanges> ranges = CArticleRanges::FromText(text.substr(0, 200));
    if (!ranges || last < first) {
        return 0;
    }
    std::uint64_t counted = 0;
    for (const CArticleRanges::Range& gap : ranges->Missing(first, last)) {
        if (gap.last < gap.first || gap.first < first || gap.last > last ||
            ranges->Contains(gap.first) || ranges->Contains(gap.last)) {
            __builtin_trap();
        }
        counted += gap.last - gap.first + 1ULL;
    }
    for (std::uint64_t n = first; n <= last; ++n) {
        counted += ranges->Contains(static_cast<std::uint32_t>(n)) ? 1 : 0;
    }
    if (counted != static_cast<std::uint64_t>(last) - first + 1) {
        __builtin_trap();
    }
    return 0;
}
