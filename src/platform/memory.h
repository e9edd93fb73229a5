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

// Large blocks are aligned to this size: a huge page.
inline constexpr std::size_t kLargeBlockUnit = std::size_t{2} << 20;
// Memory of this size and more is taken as a large block.
inline constexpr std::size_t kLargeBlockFrom = std::size_t{4} << 20;

// A block of `size` bytes, aligned to kLargeBlockUnit, whose whole huge pages the system is asked
// to back with huge pages as they are first written, so that filling it takes a page fault per
// 2 MiB instead of one per 4 KiB page; the rest, past the last whole one, stays in small pages,
// so that a block a little longer than a multiple of 2 MiB is not backed by another 2 MiB.
// Released with std::free; nullptr when memory is short. posix_memalign(3), then madvise(2) with
// MADV_HUGEPAGE where the system has it (Linux's transparent huge pages); elsewhere (macOS has no
// huge-page advice) only the alignment.
void* allocate_large_block(std::size_t size);

// The size to give a large block that must hold `size` bytes: whole huge pages when the last one
// would be at least half used, else `size` itself. A huge page is backed at one fault, and each
// small page at one of its own (on some virtual machines a fault takes ten microseconds), while a
// huge page mostly unused is memory held for nothing.
std::size_t large_block_size(std::size_t size);

}  // namespace korvane::platform
