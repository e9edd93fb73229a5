#include "processes.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "base/eintr.h"
#include "json/shared/value.h"
#include "platform/descriptors.h"
#include "testkit/spawn.h"

namespace korvane::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Writing to a child that has gone must give EPIPE, not end the test program.
void ignore_sigpipe_once() {
  static const bool ignored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)ignored;
}

ExitStatus status_from(int raw) {
  ExitStatus status;
  if (WIFEXITED(raw)) {
    status.exited = true;
    status.code = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    status.signal = WTERMSIG(raw);
  }
  return status;
}

}  // namespace

int milliseconds_until(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000));
}

std::string describe(const ExitStatus& status) {
  if (status.timed_out) return "timed out";
  if (status.exited) return "exit " + std::to_string(status.code);
  return "signal " + std::to_string(status.signal);
}

void PrintTo(const ExitStatus& status, std::ostream* out) { *out << describe(status); }

// ---------------------------------------------------------------------------------------------
// Subprocess

bool can_limit_address_space() {
#if defined(__linux__)
  return true;
#else
  return false;
#endif
}

namespace {

// Lowers a child's RLIMIT_AS once it waits in read(0, ...) for its first line (proc(5):
// /proc/pid/syscall holds the call's number, then its arguments in hex): a limit below what the
// C library needs to start would otherwise stop the program before it runs at all.
bool limit_address_space([[maybe_unused]] pid_t pid, [[maybe_unused]] std::uint64_t bytes) {
#if defined(__linux__)
  const Clock::time_point deadline = Clock::now() + Duration{10'000};
  for (;;) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    std::string fd;
    if (file >> number >> fd && number == SYS_read && fd == "0x0") break;
    if (Clock::now() > deadline) break;  // never seen waiting (a wrapper's reads, say): limit it now
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const rlimit limit{bytes, bytes};
  return ::prlimit(pid, RLIMIT_AS, &limit, nullptr) == 0;
#else
  return false;
#endif
}

// With $KORVANE_E2E_TRACE_DIR set, every server a test starts without a trace of its own traces
// into a new file there: running the suite with and without it shows that tracing changes no
// answer, no stderr and no exit status.
void trace_when_asked(const std::vector<std::string>& argv, Environment& environment) {
  static int runs = 0;
  const char* directory = std::getenv("KORVANE_E2E_TRACE_DIR");
  if (directory == nullptr || *directory == '\0' || argv.empty() || argv.front() != server_binary()) return;
  for (const std::string& entry : environment) {
    if (entry.starts_with("KORVANE_MCP_TRACE=")) return;
  }
  environment.push_back("KORVANE_MCP_TRACE=" + std::string(directory) + "/trace-" + std::to_string(::getpid()) + "-" +
                        std::to_string(++runs) + ".jsonl");
}

}  // namespace

Subprocess::Subprocess(std::vector<std::string> argv, Environment environment, SpawnOptions options) {
  ignore_sigpipe_once();
  trace_when_asked(argv, environment);
  name_ = argv.empty() ? "" : argv.front();
  auto in = platform::open_pipe(platform::Blocking::yes);
  auto out = platform::open_pipe(platform::Blocking::yes);
  auto err = platform::open_pipe(platform::Blocking::yes);
  if (!in || !out || !err) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  if (options.nonblocking_stdio &&
      !(platform::set_nonblocking(in->read_end.get()) && platform::set_nonblocking(out->write_end.get()))) {
    ADD_FAILURE() << "fcntl: " << std::strerror(errno);
    return;
  }
  // An emulator named without a path is found in our PATH: the child's environment has none.
  auto pid = testkit::spawn(command_for(std::move(argv)), environment,
                            {.in = {.fd = in->read_end.get()},
                             .out = {.fd = out->write_end.get()},
                             .err = {.fd = err->write_end.get()},
                             .search_path = true});
  if (!pid) {
    ADD_FAILURE() << pid.error();
    return;
  }
  pid_ = pid.value();
  // The child blocks reading its stdin until the test writes: the limit is in place before.
  if (options.address_space_limit && !limit_address_space(pid_, *options.address_space_limit)) {
    ADD_FAILURE() << "cannot limit the address space of " << name_ << ": " << std::strerror(errno);
  }
  // The child's ends close with the pipes here; ours do not block the test.
  stdin_fd_ = std::move(in->write_end);
  stdout_fd_ = std::move(out->read_end);
  stderr_fd_ = std::move(err->read_end);
  for (const UniqueFd* fd : {&stdin_fd_, &stdout_fd_, &stderr_fd_}) {
    if (!platform::set_nonblocking(fd->get())) ADD_FAILURE() << "fcntl: " << std::strerror(errno);
  }
}

Subprocess::~Subprocess() {
  if (pid_ > 0 && !status_) kill();
}

void Subprocess::drain(UniqueFd& fd, std::string& into) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got > 0) {
      into.append(chunk, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    fd.reset();  // end of output, or an error that ends it all the same
    return;
  }
}

Subprocess::Pumped Subprocess::pump(int timeout_ms, bool want_stdin) {
  pollfd watched[3] = {
      {stdout_fd_.get(), POLLIN, 0}, {stderr_fd_.get(), POLLIN, 0}, {want_stdin ? stdin_fd_.get() : -1, POLLOUT, 0}};
  const int ready = ::poll(watched, 3, timeout_ms);
  if (ready < 0) return errno == EINTR ? Pumped::idle : Pumped::failed;
  if (ready == 0) return Pumped::idle;
  if (watched[0].revents != 0) drain(stdout_fd_, stdout_);
  if (watched[1].revents != 0) drain(stderr_fd_, stderr_);
  return Pumped::progress;
}

bool Subprocess::write_stdin(std::string_view bytes, Duration timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!bytes.empty()) {
    if (!stdin_fd_.valid()) return false;
    const ssize_t written = ::write(stdin_fd_.get(), bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EPIPE) return false;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      ADD_FAILURE() << "write to " << name_ << ": " << std::strerror(errno);
      return false;
    }
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "timed out writing to the stdin of " << name_ << " (" << bytes.size() << " bytes left)";
      return false;
    }
    if (pump(std::min(milliseconds_until(deadline), 100), true) == Pumped::failed) return false;
  }
  return true;
}

void Subprocess::close_stdin() { stdin_fd_.reset(); }

void Subprocess::close_stdout() { stdout_fd_.reset(); }

std::optional<std::string> Subprocess::read_line(Duration timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    const std::size_t end = stdout_.find('\n', stdout_consumed_);
    if (end != std::string::npos) {
      std::string line = stdout_.substr(stdout_consumed_, end - stdout_consumed_);
      stdout_consumed_ = end + 1;
      return line;
    }
    if (!stdout_fd_.valid()) {
      if (stdout_consumed_ == stdout_.size()) return std::nullopt;
      std::string rest = stdout_.substr(stdout_consumed_);
      stdout_consumed_ = stdout_.size();
      return rest;
    }
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "timed out waiting for a line from " << name_;
      return std::nullopt;
    }
    if (pump(std::min(milliseconds_until(deadline), 100), false) == Pumped::failed) return std::nullopt;
  }
}

bool Subprocess::wait_for_stdout(Duration timeout) {
  if (stdout_consumed_ < stdout_.size()) return true;
  pollfd watched{stdout_fd_.get(), POLLIN, 0};
  int ready = 0;
  KORVANE_RETRY_EINTR(ready, ::poll(&watched, 1, static_cast<int>(timeout.count())));
  return ready > 0;
}

std::string Subprocess::read_stdout_to_end(Duration timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (stdout_fd_.valid()) {
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "timed out waiting for the end of output of " << name_;
      break;
    }
    if (pump(std::min(milliseconds_until(deadline), 100), false) == Pumped::failed) break;
  }
  std::string rest = stdout_.substr(stdout_consumed_);
  stdout_consumed_ = stdout_.size();
  return rest;
}

const std::string& Subprocess::stderr_text() {
  if (stderr_fd_.valid()) drain(stderr_fd_, stderr_);
  return stderr_;
}

bool Subprocess::reap(int options) {
  if (status_) return true;
  if (pid_ <= 0) return false;
  int raw = 0;
  pid_t done;
  do {
    done = ::waitpid(pid_, &raw, options);
  } while (done < 0 && errno == EINTR);
  if (done == pid_) status_ = status_from(raw);
  if (done < 0) status_ = ExitStatus{};  // not our child any more: nothing left to wait for
  return status_.has_value();
}

ExitStatus Subprocess::wait(Duration timeout) {
  if (pid_ <= 0) return ExitStatus{};
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!reap(WNOHANG)) {
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << name_ << " did not exit within " << timeout.count() << " ms";
      kill();
      ExitStatus timed_out = *status_;
      timed_out.timed_out = true;
      status_ = timed_out;
      return timed_out;
    }
    // Either output arrives (and is collected) or a short nap passes before the next check.
    if (pump(std::min(milliseconds_until(deadline), 5), false) == Pumped::failed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // Output still in the pipes after the exit; a descendant holding them open must not hang us.
  const Clock::time_point drain_deadline = std::min(deadline, Clock::now() + std::chrono::seconds(2));
  while ((stdout_fd_.valid() || stderr_fd_.valid()) && Clock::now() < drain_deadline) {
    pump(std::min(milliseconds_until(drain_deadline), 50), false);
  }
  return *status_;
}

ExitStatus Subprocess::wait_unread(Duration timeout) {
  if (pid_ <= 0) return ExitStatus{};
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!reap(WNOHANG)) {
    if (Clock::now() >= deadline) return wait(Duration{0});  // the failure and the kill
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return *status_;
}

void Subprocess::send_signal(int signal) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

ExitStatus Subprocess::kill() {
  if (pid_ <= 0) return ExitStatus{};
  send_signal(SIGKILL);
  reap(0);
  return *status_;
}

// ---------------------------------------------------------------------------------------------
// StandinApp

StandinApp::StandinApp(StandinOptions options)
    : socket_info_path_(dir_.file("socket-info.json")), record_path_(dir_.file("requests.jsonl")) {
  std::vector<std::string> argv = {KORVANE_STANDIN_BINARY, "--socket-info",      socket_info_path_, "--mode",
                                   options.mode,           "--exit-on-stdin-eof"};
  const auto add = [&argv](const char* name, const std::optional<std::string>& value) {
    if (value) argv.insert(argv.end(), {name, *value});
  };
  add("--token", options.token);
  add("--body-file", options.body_file);
  add("--replies", options.replies_file);
  if (options.delay_ms) argv.insert(argv.end(), {"--delay-ms", std::to_string(*options.delay_ms)});
  if (options.port) argv.insert(argv.end(), {"--port", std::to_string(*options.port)});
  if (options.record) argv.insert(argv.end(), {"--record", record_path_});
  argv.insert(argv.end(), options.extra_arguments.begin(), options.extra_arguments.end());

  // Its stdin stays open while the fixture lives: if the test program dies, the stand-in goes too.
  process_.emplace(std::move(argv), Environment{});
  const std::optional<std::string> line = process_->read_line(std::chrono::seconds(10));
  if (!line || !line->starts_with("ready ")) {
    ADD_FAILURE() << "the stand-in app did not get ready; stdout: " << line.value_or("<none>")
                  << "; stderr: " << process_->stderr_text();
    return;
  }
  const json::Value info = json::Value::parse(read_file(socket_info_path_), nullptr, false);
  if (info.is_discarded() || !info.contains("token") || !info["token"].is_string()) {
    ADD_FAILURE() << "unreadable socket-info file " << socket_info_path_;
    return;
  }
  token_ = info["token"].get<std::string>();
  port_ = static_cast<std::uint16_t>(std::stoi(line->substr(6)));
}

StandinApp::~StandinApp() { stop(); }

ExitStatus StandinApp::stop() {
  if (stopped_) return *stopped_;
  if (!process_ || !process_->started()) return ExitStatus{};
  process_->send_signal(SIGTERM);
  stopped_ = process_->wait(std::chrono::seconds(10));
  return *stopped_;
}

std::vector<RecordedRequest> StandinApp::recorded_requests() const {
  std::vector<RecordedRequest> requests;
  for (const std::string& line : split_lines(read_file(record_path_))) {
    const json::Value entry = json::Value::parse(line, nullptr, false);
    if (entry.is_discarded() || !entry.is_object() || !entry["head"].is_string() || !entry["body"].is_string()) {
      ADD_FAILURE() << "malformed record line: " << line;
      continue;
    }
    requests.push_back({entry["head"].get<std::string>(), entry["body"].get<std::string>()});
  }
  return requests;
}

Environment StandinApp::server_environment(const std::optional<std::string>& session_id) const {
  Environment environment = {"KORVANE_SOCKET_INFO=" + socket_info_path_};
  if (session_id) environment.push_back("KORVANE_SESSION_ID=" + *session_id);
  return environment;
}

}  // namespace korvane::e2e
