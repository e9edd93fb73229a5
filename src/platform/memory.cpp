#include "platform/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#elif defined(__APPLE__)
#include <malloc/malloc.h>
#endif

namespace korvane::platform {

void tune_allocator() {
#if defined(__GLIBC__)
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void release_free_memory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#elif defined(__APPLE__)
  // <malloc/malloc.h>: a null zone examines every zone; a goal of 0 asks for maximal relief.
  ::malloc_zone_pressure_relief(nullptr, 0);
#endif
}

}  // namespace korvane::platform
