// A growable byte buffer for replies of any size: it grows without zero-filling, and from a
// few megabytes on it is made of whole huge pages where the system offers them. Size it up
// front when the size is known: growing a large buffer copies it.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
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
  // Null when the memory cannot be had; the buffer keeps what it holds.
  char* tail(std::size_t min_free) {
    if (capacity_ - size_ < min_free && !grow(min_free)) return nullptr;
    return data_ + size_;
  }
  // The same room, or std::bad_alloc (an empty buffer has no room to point at: none is asked).
  char* tail_or_throw(std::size_t min_free) {
    char* room = tail(min_free);
    if (room == nullptr && min_free > 0) throw std::bad_alloc();
    return room;
  }
  std::size_t tail_size() const { return capacity_ - size_; }
  void commit(std::size_t count) { size_ += count; }

  // Appending throws std::bad_alloc when the memory cannot be had; the caller that owns the
  // buffer turns it into an answer.
  void append(std::string_view bytes) {
    copy_bytes(tail_or_throw(bytes.size()), bytes.data(), bytes.size());
    size_ += bytes.size();
  }
  void push_back(char byte) {
    *tail_or_throw(1) = byte;
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
  bool grow(std::size_t min_free);
  bool reallocate(std::size_t capacity);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace korvane
