// Reads standard input line by line through an 8 KiB buffer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace korvane {

class LineReader {
 public:
  explicit LineReader(int fd);

  // The next line without its "\n" or "\r\n"; nullopt at end of input, on a read error and on
  // a line that is not valid UTF-8. The view lives until the next call. A line too long to be
  // held in memory is read through to its end and dropped; the error is ENOMEM's system text.
  // A non-blocking descriptor is waited on when it has nothing to read (its flags are left
  // alone).
  Outcome<std::optional<std::string_view>> next_line();

  // True when next_line will not wait for input: a whole line is buffered, or the input ended.
  bool next_line_ready() const;

  // The memory kept for assembling lines longer than the buffer.
  std::size_t assembly_capacity() const { return assembled_.capacity(); }

 private:
  bool fill();                              // reads more input; false at end or on error
  bool assemble(std::string_view piece);    // false when the line cannot be held any more
  void forget_long_line();                  // gives the memory of a long line back
  Outcome<std::optional<std::string_view>> drop_rest_of_line();

  int fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  std::string assembled_;  // a line longer than what the buffer holds
  bool exhausted_ = false;
};

}  // namespace korvane
