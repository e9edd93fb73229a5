// Memory from and back to the system: allocator tuning, freed memory handed back, and large
// blocks for big buffers, where the platform allows.
#pragma once

#include <cstddef>

namespace korvane::platform {

// Called once at start: large blocks (long lines, big replies) get pages of their own, so that
// they go back to the system when freed and grow by remapping instead of copying. Where the C
// library has mallopt's M_MMAP_THRESHOLD (glibc); elsewhere the allocator already maps large
// blocks by themselves.
void tune_allocator();

// Returns free memory held by the allocator to the system, after a large request has been
// handled: malloc_trim where the C library has it (glibc), else malloc_zone_pressure_relief
// where it has that (macOS: every malloc zone is relieved); elsewhere nothing is done.
void release_free_memory();

// Large blocks are aligned to this size and come in multiples of it: a huge page.
inline constexpr std::size_t kLargeBlockUnit = std::size_t{2} << 20;

// A block of `size` bytes (a multiple of kLargeBlockUnit), aligned to kLargeBlockUnit, that
// the system is asked to back with huge pages as it is first written, so that filling it takes
// a page fault per 2 MiB instead of one per 4 KiB page. Released with std::free; nullptr when
// memory is short. posix_memalign(3), then madvise(2) with MADV_HUGEPAGE where the system has
// it (Linux's transparent huge pages); elsewhere (macOS has no huge-page advice) only the alignment.
void* allocate_large_block(std::size_t size);

}  // namespace korvane::platform
