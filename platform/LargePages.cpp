#include "platform/LargePages.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

namespace {

constexpr std::uintptr_t LARGE_PAGE = std::uintptr_t{2} << 20;

}  // namespace

void AdviseLargePages(void* start, std::size_t size) {
    const auto begin = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = (begin + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
    const std::uintptr_t last = (begin + size) & ~(LARGE_PAGE - 1);
    if (last > first) {
        // Advice that the kernel does not take (no large page support) changes nothing.
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
}

}  // namespace platform
