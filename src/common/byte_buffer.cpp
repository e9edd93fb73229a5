#include "common/byte_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/memory.h"

namespace korvane {
namespace {

constexpr std::size_t kHugePageAdviceFrom = 4 * 1024 * 1024;

}  // namespace

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
  auto* grown = static_cast<char*>(std::realloc(data_, capacity));
  if (grown == nullptr) return false;
  data_ = grown;
  capacity_ = capacity;
  if (capacity >= kHugePageAdviceFrom) platform::advise_huge_pages(data_, capacity_);
  return true;
}

void ByteBuffer::reserve(std::size_t capacity) {
  if (capacity > capacity_) (void)reallocate(capacity);
}

void ByteBuffer::grow(std::size_t min_free) {
  if (!reallocate(std::max(capacity_ * 2, size_ + min_free))) std::abort();  // out of memory ends the process
}

}  // namespace korvane
