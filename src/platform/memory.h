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

// A block of `size` bytes, aligned to kLargeBlockUnit, whose whole huge pages the system is asked
// to back with huge pages as they are first written, so that filling it takes a page fault per
// 2 MiB instead of one per 4 KiB page; the rest, past the last whole one, stays in small pages,
// so that a block a little longer than a multiple of 2 MiB is not backed by another 2 MiB.
// Released with std::free; nullptr when memory is short. posix_memalign(3), then (see
// advise_huge_pages) madvise(2) with MADV_HUGEPAGE where the system has it (Linux's transparent
// huge pages); elsewhere (macOS has no huge-page advice) only the alignment.
void* allocate_large_block(std::size_t size);

// Asks for huge pages in the whole aligned huge pages of [begin, begin + size), memory that is
// read all over (an index sorted in place): a page fault per 2 MiB, and far fewer misses of the
// translation cache. The pages at its ends stay small, so that no more is backed than is used.
void advise_huge_pages(void* begin, std::size_t size);

}  // namespace korvane::platform
