// A growable byte buffer for replies of any size: it grows without zero-filling, the allocator
// may move a large block by remapping its pages instead of copying them, and blocks of
// megabytes are backed by huge pages where the system offers them.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace korvane {

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
    std::memcpy(tail(bytes.size()), bytes.data(), bytes.size());
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
