// Memory for large buffers.
#pragma once

#include <cstddef>

namespace korvane::platform {

// Large blocks are aligned to this size and come in multiples of it: a huge page.
inline constexpr std::size_t kLargeBlockUnit = std::size_t{2} << 20;

// A block of `size` bytes (a multiple of kLargeBlockUnit), aligned to kLargeBlockUnit, that
// the system is asked to back with huge pages as it is first written, so that filling it takes
// a page fault per 2 MiB instead of one per 4 KiB page. Released with std::free; nullptr when
// memory is short. Linux: posix_memalign(3), then madvise(2) with MADV_HUGEPAGE (transparent
// huge pages). Elsewhere (macOS: madvise(2) has no huge-page advice) only the alignment.
void* allocate_large_block(std::size_t size);

}  // namespace korvane::platform
