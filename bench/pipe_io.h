// Feeding a child's stdin while draining its stdout, so that neither pipe can fill up and stall.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace korvane::bench {

// Bytes to send, as pieces that may repeat one shared buffer; the pieces must outlive the Input.
class Input {
 public:
  void add(std::string_view piece);
  const std::vector<std::string_view>& pieces() const { return pieces_; }
  std::uint64_t size() const { return size_; }

 private:
  std::vector<std::string_view> pieces_;
  std::uint64_t size_ = 0;
};

struct Drained {
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;
  std::string first_line;  // kept to check what the server answered
};

// How long a pipe may stay without progress before the case is abandoned.
inline constexpr std::chrono::seconds kIdleLimit{30};

// Writes the whole input to `to` while reading from `from`, until `expected_lines` lines arrived.
Outcome<Drained> exchange(int to, int from, const Input& input, std::uint64_t expected_lines);

// Writes all bytes to a non-blocking descriptor.
Outcome<void> write_all(int to, std::string_view bytes);

// Reads whole lines from a non-blocking descriptor into one reusable buffer.
class LineReceiver {
 public:
  explicit LineReceiver(int from) : from_(from) {}
  // The next line including its "\n"; valid until the next call.
  Outcome<std::string_view> next_line();

 private:
  Outcome<void> fill();
  void make_room();

  int from_;
  std::unique_ptr<char[]> storage_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // unread bytes are storage_[begin_, end_)
  std::size_t end_ = 0;
};

}  // namespace korvane::bench
