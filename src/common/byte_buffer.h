// A growable byte buffer for replies of any size: it grows without zero-filling, and from a
// few megabytes on it is made of whole huge pages where the system offers them. Size it up
// front when the size is known: growing a large buffer copies it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace korvane {

// Copies n bytes; short copies (most JSON tokens) in a few fixed-size moves, no call.
inline void copy_bytes(char* to, const char* from, std::size_t n) {
  if (n > 64) {
    std::memcpy(to, from, n);
  } else if (n >= 16) {
    for (std::size_t i = 0; i + 16 < n; i += 16) std::memcpy(to + i, from + i, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ~ByteBuffer();

  // Room for at least min_free more bytes at the end; fill it, then commit what was written.
  char* tail(std::size_t min_free) {
    if (capacity_ - size_ < min_free) grow(min_free);
    return data_ + size_;
  }
  std::size_t tail_size() const { return capacity_ - size_; }
  void commit(std::size_t count) { size_ += count; }

  void append(std::string_view bytes) {
    copy_bytes(tail(bytes.size()), bytes.data(), bytes.size());
    size_ += bytes.size();
  }
  void push_back(char byte) {
    *tail(1) = byte;
    ++size_;
  }
  // Makes the capacity at least `capacity` when memory allows; a hint, so failing is no error.
  void reserve(std::size_t capacity);
  // Drops the bytes from `size` on.
  void truncate(std::size_t size) { size_ = size; }

  char* data() { return data_; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

 private:
  void grow(std::size_t min_free);  // out of memory ends the process
  bool reallocate(std::size_t capacity);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace korvane
