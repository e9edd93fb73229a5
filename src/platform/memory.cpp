#include "platform/memory.h"

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/features.h"
#if KORVANE_HAVE_MALLOPT_MMAP_THRESHOLD || KORVANE_HAVE_MALLOC_TRIM
#include <malloc.h>
#endif
#if KORVANE_HAVE_MALLOC_ZONE_PRESSURE_RELIEF
#include <malloc/malloc.h>
#endif

#include <cstdint>

namespace korvane::platform {
void tune_allocator() {
#if KORVANE_HAVE_MALLOPT_MMAP_THRESHOLD
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void release_free_memory() {
#if KORVANE_HAVE_MALLOC_TRIM
  ::malloc_trim(0);
#elif KORVANE_HAVE_MALLOC_ZONE_PRESSURE_RELIEF
  // <malloc/malloc.h>: a null zone examines every zone; a goal of 0 asks for maximal relief.
  ::malloc_zone_pressure_relief(nullptr, 0);
#endif
}

void* allocate_large_block(std::size_t size) {
  void* block = nullptr;
  if (::posix_memalign(&block, kLargeBlockUnit, size) != 0) return nullptr;
#if KORVANE_HAVE_MADV_HUGEPAGE
  if (const std::size_t whole = size / kLargeBlockUnit * kLargeBlockUnit; whole > 0) {
    (void)::madvise(block, whole, MADV_HUGEPAGE);
  }
#endif
  return block;
}

std::size_t large_block_size(std::size_t size) {
  const std::size_t past_whole = size % kLargeBlockUnit;
  return past_whole >= kLargeBlockUnit / 2 ? size - past_whole + kLargeBlockUnit : size;
}

}  // namespace korvane::platform
