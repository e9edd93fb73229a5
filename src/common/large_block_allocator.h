// An allocator for a vector that may grow to megabytes and is read all over, such as an index
// sorted in place: from half a huge page on it takes large blocks, backed by huge pages (see
// platform/memory.h).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#include "platform/memory.h"

namespace korvane {

template <typename T>
struct LargeBlockAllocator {
  using value_type = T;

  LargeBlockAllocator() = default;
  template <typename U>
  explicit LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    void* block = bytes >= platform::kLargeBlockUnit / 2
                      ? platform::allocate_large_block(platform::large_block_size(bytes))
                      : std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) noexcept { std::free(block); }

  friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator&) { return true; }
};

}  // namespace korvane
