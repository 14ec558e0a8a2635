#pragma once

// Asks the kernel to back a large buffer with large pages. Touching fresh memory a 4 KiB page at
// a time costs a fault per page, which for buffers of hundreds of megabytes takes longer than
// filling them; with 2 MiB pages the faults are few. It is advice only: nothing fails without it.

#include <cstddef>

namespace platform {

// Advises large pages for the whole 2 MiB pages that lie inside [start, start + size). Call it
// before the buffer is first written; smaller buffers are left alone.
void AdviseLargePages(void* start, std::size_t size);

}  // namespace platform
