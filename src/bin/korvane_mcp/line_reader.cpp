#include "line_reader.h"

#include <unistd.h>

#include <cstring>

#include "common/posix.h"
#include "common/utf8.h"

namespace korvane {
namespace {

constexpr std::size_t kBufferSize = 8 * 1024;

std::string_view strip_terminator(std::string_view line, bool had_newline) {
  if (!had_newline) return line;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

LineReader::LineReader(int fd) : fd_(fd), buffer_(kBufferSize) {}

bool LineReader::fill() {
  if (exhausted_) return false;
  ssize_t count;
  KORVANE_RETRY_EINTR(count, ::read(fd_, buffer_.data(), buffer_.size()));
  if (count <= 0) {
    exhausted_ = true;
    return false;
  }
  begin_ = 0;
  end_ = static_cast<std::size_t>(count);
  return true;
}

bool LineReader::next_line_ready() const {
  return exhausted_ || std::memchr(buffer_.data() + begin_, '\n', end_ - begin_) != nullptr;
}

bool LineReader::next_line(std::string_view& line) {
  assembled_.clear();
  bool spans_reads = false;
  for (;;) {
    if (begin_ == end_ && !fill()) break;
    const char* start = buffer_.data() + begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (newline != nullptr) {
      std::string_view piece(start, static_cast<std::size_t>(newline - start));
      begin_ += piece.size() + 1;
      if (spans_reads) {
        assembled_.append(piece);
        piece = assembled_;
      }
      line = strip_terminator(piece, true);
      return is_valid_utf8(line);
    }
    assembled_.append(start, end_ - begin_);
    begin_ = end_;
    spans_reads = true;
  }
  // End of input: a last line without terminator is still a line.
  if (assembled_.empty()) return false;
  line = assembled_;
  return is_valid_utf8(line);
}

}  // namespace korvane
