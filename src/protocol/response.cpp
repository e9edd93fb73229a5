#include "protocol/response.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <exception>
#include <new>
#include <cstdlib>

#include "common/posix.h"
#include "common/stdout_failure.h"
#include "json/writer.h"

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
                   holding_.push_back(std::move(tool.reply_literal));
                   append_external(holding_.back().view());
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
  holding_.resize(to.holding);
  queued_bytes_ = to.queued;
}

std::string_view ResponseWriter::bytes_of(std::size_t piece) const {
  const Piece& at = pieces_[piece];
  return {at.external != nullptr ? at.external : text_.data() + at.offset, at.size};
}

// Shows the observer the line queued since the mark: no more of its start than it takes. An
// observer that fails misses the line; the line stays queued as it is.
void ResponseWriter::show_line(const Mark& from) noexcept {
  try {
    const std::size_t wanted = observer_->line_start_bytes();
    std::string start;
    std::size_t size = 0;
    const auto take = [&](std::string_view bytes) {
      size += bytes.size();
      if (start.size() < wanted) start.append(bytes.substr(0, wanted - start.size()));
    };
    if (from.pieces > 0) {  // the piece before the mark may have been extended since
      const Piece& before = pieces_[from.pieces - 1];
      const std::size_t end = before.offset + before.size;
      if (before.external == nullptr && end > from.text) take({text_.data() + from.text, end - from.text});
    }
    for (std::size_t piece = from.pieces; piece < pieces_.size(); ++piece) take(bytes_of(piece));
    if (size > 0) --size;  // the final "\n"
    if (start.size() > size) start.resize(size);
    observer_->line_queued(start, size);
  } catch (const std::exception&) {
  }
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
  if (observer_ != nullptr) show_line(before);
}

Outcome<void> ResponseWriter::flush() {
  const bool to_stdout = lines_ == nullptr && fd_ == STDOUT_FILENO;
  if (const auto& unwritable = stdout_unwritable(); unwritable && to_stdout) return error_text(*unwritable);
  if (pieces_.empty()) return ok_outcome();
  if (lines_ != nullptr) {
    for (std::size_t piece = 0; piece < pieces_.size(); ++piece) lines_->append(bytes_of(piece));
  } else {
    std::vector<iovec> parts;
    parts.reserve(pieces_.size());
    for (std::size_t piece = 0; piece < pieces_.size(); ++piece) {
      const std::string_view part = bytes_of(piece);
      if (!part.empty()) parts.push_back({const_cast<char*>(part.data()), part.size()});
    }
    if (auto written = write_parts(fd_, parts); !written) {
      if (to_stdout) note_stdout_unwritable(written.error());
      return written;
    }
  }
  if (observer_ != nullptr) observer_->lines_written();
  pieces_.clear();
  text_.clear();
  holding_.clear();
  queued_bytes_ = 0;
  return ok_outcome();
}

void append_response(std::string& out, const json::Value& id, ResultOutcome outcome) {
  ResponseWriter writer(out);
  writer.add(id, std::move(outcome));
  (void)writer.flush();  // collecting into a string cannot fail
}

}  // namespace korvane
