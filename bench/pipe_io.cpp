#include "pipe_io.h"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "common/posix.h"

namespace korvane::bench {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kKeptLine = 4096;
constexpr int kMaxPieces = 64;

int idle_limit_ms() { return static_cast<int>(std::chrono::milliseconds(kIdleLimit).count()); }

// Waits until `fd` is ready for `events`; an error after the idle limit.
Outcome<void> wait_for(int fd, short events) {
  pollfd entry{fd, events, 0};
  int ready = 0;
  KORVANE_RETRY_EINTR(ready, ::poll(&entry, 1, idle_limit_ms()));
  if (ready < 0) return error_text("poll: " + os_error_text(errno));
  if (ready == 0) return error_text("no progress for " + std::to_string(kIdleLimit.count()) + " s");
  return ok_outcome();
}

// Where the next write starts: a piece index and an offset inside it.
struct Cursor {
  std::size_t piece = 0;
  std::size_t offset = 0;
};

bool finished(const Input& input, const Cursor& cursor) { return cursor.piece == input.pieces().size(); }

Outcome<void> write_some(int to, const Input& input, Cursor& cursor) {
  iovec vectors[kMaxPieces];
  int count = 0;
  for (std::size_t i = cursor.piece; i < input.pieces().size() && count < kMaxPieces; ++i, ++count) {
    const std::string_view piece = input.pieces()[i].substr(i == cursor.piece ? cursor.offset : 0);
    vectors[count] = iovec{const_cast<char*>(piece.data()), piece.size()};
  }
  ssize_t written = 0;
  KORVANE_RETRY_EINTR(written, ::writev(to, vectors, count));
  if (written < 0) {
    if (errno == EAGAIN) return ok_outcome();
    return error_text("write to server: " + os_error_text(errno));
  }
  auto left = static_cast<std::size_t>(written);
  while (left > 0) {
    const std::size_t rest = input.pieces()[cursor.piece].size() - cursor.offset;
    if (left < rest) {
      cursor.offset += left;
      break;
    }
    left -= rest;
    ++cursor.piece;
    cursor.offset = 0;
  }
  while (!finished(input, cursor) && input.pieces()[cursor.piece].size() == cursor.offset) ++cursor.piece;
  return ok_outcome();
}

// Reads what the server wrote; false once it closed its output.
Outcome<bool> read_some(int from, std::vector<char>& scratch, Drained& drained) {
  ssize_t got = 0;
  KORVANE_RETRY_EINTR(got, ::read(from, scratch.data(), scratch.size()));
  if (got < 0) return errno == EAGAIN ? Outcome<bool>(true) : error_text("read from server: " + os_error_text(errno));
  if (got == 0) return false;
  const std::string_view bytes(scratch.data(), static_cast<std::size_t>(got));
  if (drained.lines == 0 && drained.first_line.size() < kKeptLine) {
    const std::string_view head = bytes.substr(0, std::min(bytes.find('\n'), kKeptLine - drained.first_line.size()));
    drained.first_line.append(head);
  }
  drained.lines += static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  drained.bytes += bytes.size();
  return true;
}

}  // namespace

void Input::add(std::string_view piece) {
  if (piece.empty()) return;
  pieces_.push_back(piece);
  size_ += piece.size();
}

Outcome<Drained> exchange(int to, int from, const Input& input, std::uint64_t expected_lines) {
  Drained drained;
  std::vector<char> scratch(kReadChunk);
  Cursor cursor;
  while (drained.lines < expected_lines) {
    const bool writing = !finished(input, cursor);
    pollfd entries[2] = {{from, POLLIN, 0}, {to, POLLOUT, 0}};
    int ready = 0;
    KORVANE_RETRY_EINTR(ready, ::poll(entries, writing ? 2 : 1, idle_limit_ms()));
    if (ready < 0) return error_text("poll: " + os_error_text(errno));
    if (ready == 0) return error_text("no progress for " + std::to_string(kIdleLimit.count()) + " s");
    if (entries[0].revents != 0) {
      auto more = read_some(from, scratch, drained);
      if (!more) return error_text(more.error());
      if (!more.value()) {
        return error_text("server closed its output after " + std::to_string(drained.lines) + " of " +
                          std::to_string(expected_lines) + " lines");
      }
    }
    if (writing && entries[1].revents != 0) {
      if (auto wrote = write_some(to, input, cursor); !wrote) return error_text(wrote.error());
    }
  }
  return drained;
}

Outcome<void> write_all(int to, std::string_view bytes) {
  Input input;
  input.add(bytes);
  Cursor cursor;
  while (!finished(input, cursor)) {
    if (auto ready = wait_for(to, POLLOUT); !ready) return ready;
    if (auto wrote = write_some(to, input, cursor); !wrote) return wrote;
  }
  return ok_outcome();
}

void LineReceiver::make_room() {
  if (begin_ > 0) {
    std::memmove(storage_.get(), storage_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (capacity_ - end_ >= kReadChunk) return;
  const std::size_t grown = std::max(capacity_ * 2, end_ + kReadChunk);
  auto larger = std::make_unique_for_overwrite<char[]>(grown);
  std::memcpy(larger.get(), storage_.get(), end_);
  storage_ = std::move(larger);
  capacity_ = grown;
}

Outcome<void> LineReceiver::fill() {
  make_room();
  for (;;) {
    ssize_t got = 0;
    KORVANE_RETRY_EINTR(got, ::read(from_, storage_.get() + end_, capacity_ - end_));
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return ok_outcome();
    }
    if (got == 0) return error_text("server closed its output");
    if (errno != EAGAIN) return error_text("read from server: " + os_error_text(errno));
    if (auto ready = wait_for(from_, POLLIN); !ready) return ready;
  }
}

Outcome<std::string_view> LineReceiver::next_line() {
  std::size_t scanned = begin_;
  for (;;) {
    const void* newline = end_ > scanned ? std::memchr(storage_.get() + scanned, '\n', end_ - scanned) : nullptr;
    if (newline != nullptr) {
      const auto stop = static_cast<std::size_t>(static_cast<const char*>(newline) - storage_.get()) + 1;
      const std::string_view line(storage_.get() + begin_, stop - begin_);
      begin_ = stop;
      return line;
    }
    const std::size_t unread = end_ - begin_;
    if (auto more = fill(); !more) return error_text(more.error());
    scanned = begin_ + unread;
  }
}

}  // namespace korvane::bench
