#include "diagnostics/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <exception>

#include "base/eintr.h"
#include "bridge/socket_info.h"
#include "common/version.h"
#include "diagnostics/trace_path.h"

namespace korvane::trace {
namespace {

// Records gathered beyond this size are written before the batch ends (whole records still).
constexpr std::size_t kPendingLimit = 1024 * 1024;

constexpr int kOpenFlags = O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool is_standard_stream(const struct stat& facts) {
  for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream {};
    if (::fstat(standard, &stream) == 0 && same_file(facts, stream)) return true;
  }
  return false;
}

int open_path(const std::string& path, int flags, mode_t mode = 0) {
  int fd = -1;
  KORVANE_RETRY_EINTR(fd, ::open(path.c_str(), flags, mode));
  return fd;
}

// Whether a non-empty file's last byte is a line break; true when it cannot be told.
bool ends_in_line_break(int fd, const struct stat& facts) {
  if (facts.st_size == 0) return true;
  char last = '\n';
  ssize_t read = 0;
  KORVANE_RETRY_EINTR(read, ::pread(fd, &last, 1, facts.st_size - 1));
  return read != 1 || last == '\n';
}

std::int64_t now_microseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string trace_file_problem(const struct stat& facts, const std::string& socket_info) {
  if (!S_ISREG(facts.st_mode)) return "it is not a regular file";
  if (facts.st_uid != ::geteuid()) return "it belongs to another user (uid " + std::to_string(facts.st_uid) + ")";
  if (facts.st_nlink != 1) return "it has " + std::to_string(facts.st_nlink) + " links";
  // Checked on the mode itself: root may open a file that nobody may write.
  if ((facts.st_mode & S_IWUSR) == 0) return "its owner may not write it";
  if ((facts.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return "group or others have permissions on it (anyone who opened it before would read the trace)";
  }
  if (is_standard_stream(facts)) return "it is one of the server's standard streams";
  struct stat info {};
  if (::stat(socket_info.c_str(), &info) == 0 && same_file(facts, info)) return "it is the socket-info file";
  return "";
}

Trace::Trace() {
  const char* path = std::getenv("KORVANE_MCP_TRACE");
  if (path == nullptr || *path == '\0') return;
  TracePlace place = place_trace_file(path);
  if (!place.problem.empty()) return;
  path_ = std::move(place.path);
  socket_info_ = socket_info_path();
  // Learnt before the file is opened: reading the socket-info file takes a descriptor too.
  const SocketInfoProbe probe = probe_socket_info(socket_info_);
  try {
    if (probe.info) redactor_.learn(probe.info.value().token);
  } catch (const std::exception&) {
    return;  // a token that cannot be hidden is not traced around
  }
  if (!open_file()) return;
  pid_ = static_cast<long>(::getpid());
  const std::optional<std::string> session = caller_session_id();
  add(pending_, "start", [&](TraceRecord& record) {
    record.text("version", kServerVersion)
        .text("socket_info", socket_info_)
        .text_or_null("session_id", session ? &*session : nullptr);
  });
  write_pending();
}

bool Trace::open_file() {
  bool created = false;
  UniqueFd file(open_path(path_, O_RDWR | kOpenFlags));
  if (!file.valid() && errno == EACCES) file = UniqueFd(open_path(path_, O_WRONLY | kOpenFlags));
  if (!file.valid() && errno == ENOENT) {
    file = UniqueFd(open_path(path_, O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0600));
    created = file.valid();
  }
  struct stat facts {};
  if (!file.valid() || ::fstat(file.get(), &facts) != 0) return false;
  if (!trace_file_problem(facts, socket_info_).empty()) {
    if (created) ::unlink(path_.c_str());  // the empty file made a moment ago, at the socket-info path
    return false;
  }
  // A record torn by a full disk or a killed writer is not glued to the first of this run.
  if (!ends_in_line_break(file.get(), facts)) pending_.push_back('\n');
  device_ = facts.st_dev;
  inode_ = facts.st_ino;
  file_ = std::move(file);
  return true;
}

// The file once more, after a tool call: only the very file used so far, still fit.
bool Trace::reopen_file() {
  UniqueFd file(open_path(path_, O_WRONLY | kOpenFlags));
  struct stat facts {};
  if (!file.valid() || ::fstat(file.get(), &facts) != 0) return false;
  if (facts.st_dev != device_ || facts.st_ino != inode_ || !trace_file_problem(facts, socket_info_).empty()) {
    return false;
  }
  file_ = std::move(file);
  return true;
}

void Trace::turn_off() {
  file_.reset();
  path_.clear();
  pending_.clear();
  sent_.clear();
}

std::string_view Trace::timestamp() {
  const std::int64_t now = now_microseconds();
  const std::int64_t second = now / 1'000'000;
  if (second != time_second_ || time_text_.size() != 27) {
    time_text_ = utc_timestamp(now);
    time_second_ = second;
    return time_text_;
  }
  auto micros = static_cast<int>(now % 1'000'000);
  for (std::size_t digit = 25; digit >= 20; --digit, micros /= 10)
    time_text_[digit] = static_cast<char>('0' + micros % 10);
  return time_text_;
}

// Appends one whole record, or nothing when it cannot be built.
template <typename Fill>
void Trace::add(std::string& records, std::string_view event, const Fill& fill) noexcept {
  const std::size_t before = records.size();
  try {
    TraceRecord record(records, timestamp(), pid_, event, redactor_);
    fill(record);
    record.finish();
  } catch (const std::exception&) {
    records.resize(before);
  }
  if (pending_.size() >= kPendingLimit) write_pending();
}

void Trace::write_pending() {
  if (pending_.empty() || !on()) return;
  ssize_t written = 0;
  KORVANE_RETRY_EINTR(written, ::write(file_.get(), pending_.data(), pending_.size()));
  // A part of a write would leave a torn record: the rest is not written after it either.
  if (written != static_cast<ssize_t>(pending_.size())) return turn_off();
  pending_.clear();
}

void Trace::line_received(std::string_view line) {
  add(pending_, "received",
      [&](TraceRecord& record) { record.bounded_text(line.substr(0, line_start_bytes()), line.size()); });
}

void Trace::stdout_failed(std::string_view reason) {
  if (!on()) return;
  sent_.clear();
  add(pending_, "stdout_failed", [&](TraceRecord& record) { record.text("error", reason); });
  write_pending();
}

void Trace::input_ended() {
  if (!on()) return;
  add(pending_, "input_ended", [](TraceRecord&) {});
  write_pending();
}

std::size_t Trace::line_start_bytes() const { return redactor_.start_for(kTextBound); }

void Trace::line_written(std::string_view start, std::size_t size) {
  add(sent_, "sent", [&](TraceRecord& record) { record.bounded_text(start, size); });
}

void Trace::lines_written() {
  try {
    pending_ += sent_;
  } catch (const std::exception&) {  // these lines go unrecorded
  }
  sent_.clear();
}

void Trace::call_starting() {
  write_pending();
  file_.reset();
}

void Trace::call_finished(const ToolCallFacts& facts) {
  if (path_.empty()) return;
  if (!reopen_file()) return turn_off();
  const SocketInfoProbe& probe = facts.socket_info;
  try {
    if (probe.info) redactor_.learn(probe.info.value().token);
  } catch (const std::exception&) {
    return turn_off();  // a token that cannot be hidden could show in any later record
  }
  add(pending_, "app", [&](TraceRecord& record) {
    record.text("tool", facts.tool);
    if (facts.exchange != nullptr) {
      record.text("method", facts.tool);
    } else {
      record.null("method");
    }
    record.text("socket_info", facts.socket_info_path);
    if (!probe.problem.empty()) record.text("socket_info_problem", probe.problem);
    if (probe.info) {
      record.number("port", probe.info.value().port);
    } else {
      record.null("port");
    }
    if (const ExchangeFacts* exchange = facts.exchange) {
      record.number("request_bytes", exchange->request_bytes).number("reply_bytes", exchange->reply_bytes);
      if (exchange->status_line.empty()) {
        record.null("status");
      } else {
        record.text("status", exchange->status_line);
      }
    }
    record.number("duration_us", static_cast<std::uint64_t>(facts.duration.count()));
    record.text_or_null("error", facts.error);
  });
}

}  // namespace korvane::trace
