#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace korvane::platform {

void advise_huge_pages(void* block, std::size_t size) {
#if defined(MADV_HUGEPAGE)
  // The advice applies to whole pages: from the page that holds the block's first byte.
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first_page = start & ~(page - 1);
  (void)::madvise(reinterpret_cast<void*>(first_page), size + (start - first_page), MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

}  // namespace korvane::platform
