// A growable byte buffer for replies of any size: it grows without zero-filling, and the
// allocator may move a large block by remapping its pages instead of copying them.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvane {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  // Room for at least min_free more bytes at the end; fill it, then commit what was written.
  // Null when the memory cannot be had; the buffer keeps what it holds.
  char* tail(std::size_t min_free);
  std::size_t tail_size() const { return capacity_ - size_; }
  void commit(std::size_t count) { size_ += count; }

  std::string_view view() const { return {data_, size_}; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace korvane
