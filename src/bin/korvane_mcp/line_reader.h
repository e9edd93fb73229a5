// Reads standard input line by line through an 8 KiB buffer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane {

class LineReader {
 public:
  explicit LineReader(int fd);

  // The next line without its "\n" or "\r\n". False at end of input, on a read error and
  // on a line that is not valid UTF-8. The view lives until the next call.
  bool next_line(std::string_view& line);

  // True when next_line will not wait for input: a whole line is buffered, or the input ended.
  bool next_line_ready() const;

 private:
  bool fill();  // reads more input; false at end or on error

  int fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  std::string assembled_;  // a line longer than what the buffer holds
  bool exhausted_ = false;
};

}  // namespace korvane
