#include "platform/memory.h"

#include <stdlib.h>
#include <sys/mman.h>

namespace korvane::platform {

void* allocate_large_block(std::size_t size) {
  void* block = nullptr;
  if (::posix_memalign(&block, kLargeBlockUnit, size) != 0) return nullptr;
#if defined(MADV_HUGEPAGE)
  (void)::madvise(block, size, MADV_HUGEPAGE);
#endif
  return block;
}

}  // namespace korvane::platform
