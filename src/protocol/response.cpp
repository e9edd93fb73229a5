#include "protocol/response.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>

#include "common/posix.h"
#include "common/stdout_failure.h"
#include "json/write/writer.h"
#include "platform/termination.h"

namespace korvane {
namespace {

// Texts at least this long are written from where they lie instead of being copied.
constexpr std::size_t kWrittenInPlaceFrom = 512;

// At most this many parts go to one writev (POSIX guarantees IOV_MAX of at least 16).
constexpr int kMaxParts = IOV_MAX < 1024 ? IOV_MAX : 1024;

template <typename... Visitors>
struct Overloaded : Visitors... {
  using Visitors::operator()...;
};
template <typename... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;  // older compilers deduce no aggregate

std::string out_of_memory_text() { return "read: " + os_error_text(ENOMEM); }

// Writes all parts, resuming after partial and interrupted writes.
Outcome<void> write_parts(int fd, std::vector<iovec>& parts) {
  std::size_t first = 0;
  while (first < parts.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(parts.size() - first, kMaxParts));
    ssize_t written = 0;
    KORVANE_RETRY_EINTR(written, ::writev(fd, parts.data() + first, count));
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {  // a non-blocking stdout is full
      if (auto waited = wait_writable(fd); !waited) return waited;
      continue;
    }
    if (written < 0) return error_text(os_error_text(errno));
    if (written == 0) return error_text(os_error_text(EIO));
    auto left = static_cast<std::size_t>(written);
    for (; first < parts.size() && left >= parts[first].iov_len; ++first) left -= parts[first].iov_len;
    if (left > 0) {
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
      parts[first].iov_len -= left;
    }
  }
  return ok_outcome();
}

const std::string& error_prefix() {
  static const std::string prefix = ",\"error\":{\"code\":" + std::to_string(kErrorCode) + ",\"message\":";
  return prefix;
}

}  // namespace

void ResponseWriter::append_text(std::string_view text) {
  const std::size_t start = text_.size();
  text_.append(text);
  note_text(start);
}

// The queued text grew from `start` on: the last piece takes it in, or a new one does.
void ResponseWriter::note_text(std::size_t start) {
  const std::size_t size = text_.size() - start;
  queued_bytes_ += size;
  if (!pieces_.empty() && pieces_.back().external == nullptr && pieces_.back().offset + pieces_.back().size == start) {
    pieces_.back().size += size;
  } else {
    pieces_.push_back({nullptr, start, size});
  }
}

void ResponseWriter::append_external(std::string_view text) {
  if (text.size() < kWrittenInPlaceFrom) return append_text(text);
  pieces_.push_back({text.data(), 0, text.size()});
  queued_bytes_ += text.size();
}

void ResponseWriter::append_value(const json::Value& value) {
  const std::size_t start = text_.size();
  json::append_json(text_, value);
  note_text(start);
}

void ResponseWriter::add_line(const json::Value& id, ResultOutcome& outcome) {
  append_text("{\"jsonrpc\":\"2.0\",\"id\":");
  append_value(id);
  if (!outcome.ok()) {
    append_text(error_prefix());
    const std::size_t start = text_.size();
    json::append_json_string(text_, outcome.error());
    note_text(start);
    append_text("}}\n");
    return;
  }
  append_text(",\"result\":");
  std::visit(Overloaded{
                 [&](const json::Value& value) { append_value(value); },
                 [&](const ConstantJson& constant) { append_external(constant.text); },
                 [&](ToolResult& tool) {
                   append_text("{\"content\":[{\"text\":");
                   replies_.push_back(std::move(tool.reply));
                   pieces_.push_back({nullptr, 0, 0, replies_.size() - 1});
                   queued_bytes_ += replies_.back().source().size();
                   append_text(",\"type\":\"text\"}]}");
                 },
             },
             outcome.value());
  append_text("}\n");
}

// Text appended after a mark may have extended the piece before it (adjacent text is merged).
void ResponseWriter::rewind(const Mark& to) {
  pieces_.resize(to.pieces);
  if (!pieces_.empty() && pieces_.back().external == nullptr && pieces_.back().offset + pieces_.back().size > to.text) {
    pieces_.back().size = to.text - pieces_.back().offset;
  }
  text_.resize(to.text);
  while (replies_.size() > to.replies) replies_.pop_back();
  queued_bytes_ = to.queued;
}

std::string_view ResponseWriter::bytes_of(std::size_t piece) const {
  const Piece& at = pieces_[piece];
  if (at.reply != kNoReply) return {};
  return {at.external != nullptr ? at.external : text_.data() + at.offset, at.size};
}

void ResponseWriter::add(const json::Value& id, ResultOutcome outcome) {
  const Mark before = mark();
  try {
    add_line(id, outcome);
  } catch (const std::bad_alloc&) {
    rewind(before);
    ResultOutcome out_of_memory = error_text(out_of_memory_text());
    try {
      add_line(id, out_of_memory);
    } catch (const std::bad_alloc&) {
      rewind(before);
      add_line(json::Value(nullptr), out_of_memory);
    }
  }
}

namespace {

// Writes a relayed reply's literal as it is produced: to the descriptor, or to the lines.
class ReplyOutput final : public json::PieceSink {
 public:
  // `observed_start`, when given, keeps the literal's first `start_bytes`, in room reserved for them.
  ReplyOutput(int fd, std::string* lines, std::string* observed_start, std::size_t start_bytes)
      : fd_(fd), lines_(lines), observed_start_(observed_start), start_bytes_(start_bytes) {}

  bool put(std::string_view piece) override {
    if (observed_start_ != nullptr && observed_start_->size() < start_bytes_) {
      observed_start_->append(piece.substr(0, start_bytes_ - observed_start_->size()));  // reserved: no allocation
    }
    size_ += piece.size();
    if (lines_ != nullptr) {
      lines_->append(piece);
      return true;
    }
    std::vector<iovec> part{{const_cast<char*>(piece.data()), piece.size()}};
    written_ = write_parts(fd_, part);
    return written_.ok();
  }
  Outcome<void>& written() { return written_; }
  std::size_t size() const { return size_; }

 private:
  int fd_;
  std::string* lines_;
  std::string* observed_start_;
  std::size_t start_bytes_;
  std::size_t size_ = 0;
  Outcome<void> written_ = ok_outcome();
};

}  // namespace

Outcome<void> ResponseWriter::write_pieces(std::size_t from, std::size_t to) {
  if (lines_ != nullptr) {
    for (std::size_t piece = from; piece < to; ++piece) lines_->append(bytes_of(piece));
    return ok_outcome();
  }
  std::vector<iovec> parts;
  parts.reserve(to - from);
  for (std::size_t piece = from; piece < to; ++piece) {
    const std::string_view part = bytes_of(piece);
    if (!part.empty()) parts.push_back({const_cast<char*>(part.data()), part.size()});
  }
  return write_parts(fd_, parts);
}

// The literal is produced as it is written, from memory its reading set aside: nothing here
// can run short once the line has begun.
Outcome<void> ResponseWriter::write_reply(std::size_t piece) {
  const json::CompactLiteral& reply = replies_[pieces_[piece].reply];
  WrittenReply* shown = nullptr;
  std::size_t start_bytes = 0;
  if (observer_ != nullptr) {
    try {
      shown = &written_replies_.emplace_back();
      // A literal is at most every byte escaped twice (a control character becomes \\u0001),
      // in quotation marks.
      start_bytes = std::min(observer_->line_start_bytes(), 8 * reply.source().size() + 2);
      shown->start.reserve(start_bytes);
      shown->start_whole = true;
    } catch (const std::exception&) {  // the line goes unshown
    }
  }
  ReplyOutput output(fd_, lines_, shown != nullptr && shown->start_whole ? &shown->start : nullptr, start_bytes);
  const bool written = reply.write(output);
  if (shown != nullptr) shown->size = output.size();
  if (!output.written()) return std::move(output.written());
  if (!written) return error_text(os_error_text(ENOMEM));
  return ok_outcome();
}

Outcome<void> ResponseWriter::flush() {
  const bool to_stdout = lines_ == nullptr && fd_ == STDOUT_FILENO;
  if (const auto& unwritable = stdout_unwritable(); unwritable && to_stdout) return error_text(*unwritable);
  if (pieces_.empty()) return ok_outcome();
  // A signal to end comes into effect between batches of lines, never within one.
  std::optional<platform::TerminationHeldBack> lines_finished;
  if (to_stdout) lines_finished.emplace();
  written_replies_.clear();
  std::size_t from = 0;
  for (std::size_t piece = 0; piece <= pieces_.size(); ++piece) {
    if (piece < pieces_.size() && pieces_[piece].reply == kNoReply) continue;
    Outcome<void> written = write_pieces(from, piece);
    if (written && piece < pieces_.size()) written = write_reply(piece);
    if (!written) {
      if (to_stdout) note_stdout_unwritable(written.error());
      return written;
    }
    from = piece + 1;
  }
  if (observer_ != nullptr) show_lines();
  written_replies_.clear();
  pieces_.clear();
  text_.clear();
  replies_.clear();
  queued_bytes_ = 0;
  return ok_outcome();
}

// Shows the observer each line written as its first bytes (no more than it takes) and its
// length, without the whole line being copied. Lines end at their "\n" (the compact text holds
// no other); a reply's literal counts with its length. An observer that fails misses the rest of
// the lines; the answers stay as they were written.
void ResponseWriter::show_lines() noexcept {
  try {
    const std::size_t wanted = observer_->line_start_bytes();
    std::string start;
    std::size_t length = 0, reply = 0;
    bool whole = true;  // false for a line whose reply's start could not be kept
    auto take = [&](std::string_view bytes, std::size_t size) {
      if (start.size() < wanted) start.append(bytes.substr(0, wanted - start.size()));
      length += size;
    };
    for (std::size_t piece = 0; piece < pieces_.size(); ++piece) {
      if (pieces_[piece].reply != kNoReply) {
        if (reply >= written_replies_.size()) break;
        whole = whole && written_replies_[reply].start_whole;
        take(written_replies_[reply].start, written_replies_[reply].size);
        ++reply;
        continue;
      }
      std::string_view bytes = bytes_of(piece);
      for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n')) {
        take(bytes.substr(0, end), end);
        if (whole) observer_->line_written(start, length);
        start.clear();
        length = 0;
        whole = true;
        bytes.remove_prefix(end + 1);
      }
      take(bytes, bytes.size());
    }
  } catch (const std::exception&) {
  }
  try {
    observer_->lines_written();
  } catch (const std::exception&) {
  }
}

void append_response(std::string& out, const json::Value& id, ResultOutcome outcome) {
  ResponseWriter writer(out);
  writer.add(id, std::move(outcome));
  (void)writer.flush();  // collecting into a string cannot fail
}

}  // namespace korvane
