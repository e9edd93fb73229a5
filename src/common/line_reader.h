// Reads standard input line by line through an 8 KiB buffer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// What LineReader::next_line found. `text` is set for a line only and lives until the next call.
struct NextLine {
  enum class Kind {
    line,      // a whole line, without its "\n" or "\r\n", valid UTF-8
    too_long,  // a line too long to be held in memory: read through to its end and dropped
    ended,     // end of input, a read error or a line that is not valid UTF-8: nothing more
  };
  Kind kind;
  std::string_view text;

  static NextLine of(std::string_view line) { return {Kind::line, line}; }
  static NextLine dropped() { return {Kind::too_long, {}}; }
  static NextLine end() { return {Kind::ended, {}}; }
};

class LineReader {
 public:
  explicit LineReader(int fd);

  // The next line, a line too long to hold, or the end. A non-blocking descriptor is waited on
  // when it has nothing to read (its flags are left alone).
  NextLine next_line();

  // True when next_line will not wait for input: a whole line is buffered, or the input ended.
  bool next_line_ready() const;

  // The memory kept for assembling lines longer than the buffer.
  std::size_t assembly_capacity() const { return assembled_.capacity(); }

 private:
  bool fill();                            // reads more input; false at end or on error
  bool assemble(std::string_view piece);  // false when the line cannot be held any more
  void forget_long_line();                // gives the memory of a long line back
  NextLine drop_rest_of_line();

  int fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  std::string assembled_;  // a line longer than what the buffer holds
  bool exhausted_ = false;
};

}  // namespace korvane
