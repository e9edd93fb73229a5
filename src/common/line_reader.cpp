#include "common/line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "base/eintr.h"
#include "common/utf8.h"
#include "platform/client_watch.h"
#include "platform/memory.h"

namespace korvane {
namespace {

constexpr std::size_t kBufferSize = 8 * 1024;

// A line assembled beyond this size gives its memory back once it has been handled.
constexpr std::size_t kLongLine = 1024 * 1024;

std::string_view strip_terminator(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

NextLine checked(std::string_view line) { return is_valid_utf8(line) ? NextLine::of(line) : NextLine::end(); }

}  // namespace

LineReader::LineReader(int fd) : fd_(fd), buffer_(kBufferSize) {}

bool LineReader::fill() {
  if (exhausted_) return false;
  for (;;) {
    ssize_t count;
    KORVANE_RETRY_EINTR(count, ::read(fd_, buffer_.data(), buffer_.size()));
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && platform::wait_ready(fd_, platform::Io::read)) {
      continue;
    }
    if (count <= 0) {
      exhausted_ = true;
      return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
    return true;
  }
}

bool LineReader::assemble(std::string_view piece) {
  try {
    assembled_.append(piece);
    return true;
  } catch (const std::bad_alloc&) {
    std::string().swap(assembled_);
    return false;
  }
}

void LineReader::forget_long_line() {
  if (assembled_.capacity() <= kLongLine) {
    assembled_.clear();
    return;
  }
  std::string().swap(assembled_);
  platform::release_free_memory();
}

NextLine LineReader::drop_rest_of_line() {
  while (begin_ != end_ || fill()) {
    const char* start = buffer_.data() + begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (newline != nullptr) {
      begin_ += static_cast<std::size_t>(newline - start) + 1;
      break;
    }
    begin_ = end_;
  }
  return NextLine::dropped();
}

bool LineReader::next_line_ready() const {
  return exhausted_ || std::memchr(buffer_.data() + begin_, '\n', end_ - begin_) != nullptr;
}

NextLine LineReader::next_line() {
  forget_long_line();
  bool spans_reads = false;
  for (;;) {
    if (begin_ == end_ && !fill()) break;
    const char* start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', available));
    if (newline == nullptr) {
      begin_ = end_;
      if (!assemble({start, available})) return drop_rest_of_line();
      spans_reads = true;
      continue;
    }
    std::string_view piece(start, static_cast<std::size_t>(newline - start));
    begin_ += piece.size() + 1;
    if (spans_reads) {
      if (!assemble(piece)) return NextLine::dropped();
      piece = assembled_;
    }
    return checked(strip_terminator(piece));
  }
  // End of input: a last line without terminator is still a line.
  if (assembled_.empty()) return NextLine::end();
  return checked(assembled_);
}

}  // namespace korvane
