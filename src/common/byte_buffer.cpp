#include "common/byte_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/memory.h"

namespace korvane {
ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { std::free(data_); }

bool ByteBuffer::reallocate(std::size_t capacity) {
  if (capacity < platform::kLargeBlockFrom) {
    auto* grown = static_cast<char*>(std::realloc(data_, capacity));
    if (grown == nullptr) return false;
    data_ = grown;
  } else {
    // Huge pages, filled with few faults; copied once when a buffer grows past a size.
    capacity = platform::large_block_size(capacity);
    auto* block = static_cast<char*>(platform::allocate_large_block(capacity));
    if (block == nullptr) return false;
    if (size_ > 0) std::memcpy(block, data_, size_);
    std::free(data_);
    data_ = block;
  }
  capacity_ = capacity;
  return true;
}

void ByteBuffer::reserve(std::size_t capacity) {
  if (capacity > capacity_) (void)reallocate(capacity);
}

bool ByteBuffer::grow(std::size_t min_free) {
  // Doubling where it can; exactly what is asked for when doubling cannot be had.
  return reallocate(std::max(capacity_ * 2, size_ + min_free)) || reallocate(size_ + min_free);
}

}  // namespace korvane
