#include "diagnostics/trace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "bridge/tool_call.h"
#include "common/posix.h"
#include "base/unique_fd.h"
#include "common/version.h"
#include "diagnostics/trace_record.h"

namespace korvane::trace {

namespace detail {
bool g_on = false;
}  // namespace detail

namespace {

// The trace file is, like the standard streams, held for the whole run.
struct TraceState {
  UniqueFd file;
  long pid = 0;
  Redactor redactor;
};

TraceState& state() {
  static TraceState trace_state;
  return trace_state;
}

bool same_file(const struct stat& a, int fd) {
  struct stat b {};
  return ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file the trace may go to: a regular file of the effective user's with one link, none of
// the standard streams (tracing must not write to them, nor read its own records back as
// input). Group and others lose their permissions: the trace holds what the agent types.
bool claim(int fd) {
  struct stat facts {};
  if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) return false;
  if (facts.st_uid != ::geteuid() || facts.st_nlink != 1) return false;
  for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (same_file(facts, standard)) return false;
  }
  return (facts.st_mode & (S_IRWXG | S_IRWXO)) == 0 || ::fchmod(fd, facts.st_mode & S_IRWXU) == 0;
}

std::int64_t now_microseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

TraceRecord record(std::string_view event) {
  return TraceRecord(event, now_microseconds(), state().pid, state().redactor);
}

// Appends one record; a failed write turns tracing off for good.
void put(TraceRecord& record) {
  if (!write_all(state().file.get(), record.finish())) {
    detail::g_on = false;
    state().file.reset();
  }
}

// Learns the token of the socket-info file as it is now, so that a line that carries it is
// redacted even before any tool call has read it.
void learn_current_token() {
  const SocketInfoProbe probe = probe_socket_info(socket_info_path());
  if (probe.info) state().redactor.learn(probe.info.value().token);
}

}  // namespace

void start() {
  const char* path = std::getenv("KORVANE_MCP_TRACE");
  if (path == nullptr || *path == '\0') return;
  int raw = -1;
  KORVANE_RETRY_EINTR(raw, ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  UniqueFd file(raw);
  if (!file.valid() || !claim(file.get())) return;
  // Past a file size limit a write must fail, not end the process with SIGXFSZ.
  ::signal(SIGXFSZ, SIG_IGN);
  state().file = std::move(file);
  state().pid = static_cast<long>(::getpid());
  detail::g_on = true;
  learn_current_token();
  const std::optional<std::string> session = caller_session_id();
  const std::string socket_info = socket_info_path();
  TraceRecord started = record("start");
  started.text("version", kServerVersion).text("socket_info", socket_info).text_or_null("session_id", session ? &*session : nullptr);
  put(started);
}

namespace detail {

void received(std::string_view line) {
  learn_current_token();
  TraceRecord entry = record("received");
  put(entry.bounded_text(line));
}

void sent(std::string_view head, std::size_t length) {
  TraceRecord entry = record("sent");
  put(entry.bounded_text(head, length));
}

void stdout_failed(std::string_view reason) {
  TraceRecord entry = record("stdout_failed");
  put(entry.text("error", reason));
}

void input_ended() {
  TraceRecord entry = record("input_ended");
  put(entry);
}

}  // namespace detail

void AppCall::note_socket_info(const std::string& path, const SocketInfoProbe& probe) {
  path_ = path;
  if (probe.info) {
    port_ = probe.info.value().port;
    state().redactor.learn(probe.info.value().token);
  } else {
    problem_ = probe.problem;
  }
}

void AppCall::write_record(const std::string* error) {
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  TraceRecord entry = record("app");
  entry.text("tool", tool_);
  if (exchanged_) {
    entry.text("method", tool_);
  } else {
    entry.null("method");
  }
  entry.text("socket_info", path_);
  if (!problem_.empty()) entry.text("socket_info_problem", problem_);
  if (port_) {
    entry.number("port", *port_);
  } else {
    entry.null("port");
  }
  if (exchanged_) {
    entry.number("request_bytes", facts_.request_bytes).number("reply_bytes", facts_.reply_bytes);
    if (facts_.status_line.empty()) {
      entry.null("status");
    } else {
      entry.text("status", facts_.status_line);
    }
  }
  entry.number("duration_us",
               static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
  put(entry.text_or_null("error", error));
}

}  // namespace korvane::trace
