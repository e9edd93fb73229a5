// Memory hints for large buffers.
#pragma once

#include <cstddef>

namespace korvane::platform {

// Asks the system to back a large block (megabytes) with huge pages as it is first written, so
// that filling it takes a fault per 2 MiB instead of one per page. Linux: madvise(2) with
// MADV_HUGEPAGE (transparent huge pages). Systems without such advice (macOS: madvise(2) has no
// huge-page advice) ignore it.
void advise_huge_pages(void* block, std::size_t size);

}  // namespace korvane::platform
