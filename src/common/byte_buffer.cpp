#include "common/byte_buffer.h"

#include <algorithm>
#include <cstdlib>

namespace korvane {

ByteBuffer::~ByteBuffer() { std::free(data_); }

char* ByteBuffer::tail(std::size_t min_free) {
  if (capacity_ - size_ < min_free) {
    const std::size_t capacity = std::max(capacity_ * 2, size_ + min_free);
    auto* grown = static_cast<char*>(std::realloc(data_, capacity));
    if (grown == nullptr) return nullptr;
    data_ = grown;
    capacity_ = capacity;
  }
  return data_ + size_;
}

}  // namespace korvane
