#include "process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/posix.h"
#include "platform/descriptors.h"
#include "platform/process_usage.h"
#include "testkit/spawn.h"

extern char** environ;

namespace korvane::bench {
namespace {

bool is_replaced_variable(const char* entry) {
  return std::strncmp(entry, "KORVANE_SOCKET_INFO=", 20) == 0 || std::strncmp(entry, "KORVANE_SESSION_ID=", 19) == 0;
}

// A pipe whose end on our side (the write end when `ours_is_write_end`) is non-blocking.
Outcome<platform::Pipe> make_pipe(bool ours_is_write_end) {
  auto pipe = platform::open_pipe(platform::Blocking::yes);
  if (!pipe) return error_text("pipe: " + os_error_text(errno));
  if (!platform::set_nonblocking(ours_is_write_end ? pipe->write_end.get() : pipe->read_end.get())) {
    return error_text("fcntl: " + os_error_text(errno));
  }
  return std::move(*pipe);
}

}  // namespace

Environment::Environment(const std::string& socket_info_path) {
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!is_replaced_variable(*entry)) entries_.emplace_back(*entry);
  }
  entries_.push_back("KORVANE_SOCKET_INFO=" + socket_info_path);
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)),
      peak_rss_kib_(other.peak_rss_kib_) {}

Child::~Child() {
  input_.reset();
  output_.reset();
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    platform::wait_for_child(pid_, &status, 0, nullptr);
  }
}

void Child::close_input() {
  // The work is done once the input ends; where the peak can be read only while the child runs,
  // it is read now (elsewhere it comes with the reaping).
  if (input_.valid() && pid_ > 0) {
    if (const auto peak = platform::running_peak_rss_kib(pid_)) peak_rss_kib_ = *peak;
  }
  input_.reset();
}

Outcome<int> Child::finish() {
  close_input();
  int status = 0;
  if (platform::wait_for_child(pid_, &status, 0, &peak_rss_kib_) < 0)
    return error_text("waitpid: " + os_error_text(errno));
  return reaped(status);
}

Outcome<std::optional<int>> Child::finish_within(std::chrono::milliseconds limit) {
  close_input();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    pid_t ended = platform::wait_for_child(pid_, &status, WNOHANG, &peak_rss_kib_);
    if (ended < 0) return error_text("waitpid: " + os_error_text(errno));
    if (ended == pid_) {
      auto code = reaped(status);
      if (!code) return error_text(code.error());
      return std::optional<int>(code.value());
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      platform::wait_for_child(pid_, &status, 0, &peak_rss_kib_);
      pid_ = -1;
      output_.reset();
      return std::optional<int>();
    }
    ::usleep(1000);
  }
}

Outcome<int> Child::reaped(int status) {
  pid_ = -1;
  output_.reset();
  if (WIFSIGNALED(status)) return error_text("killed by signal " + std::to_string(WTERMSIG(status)));
  return WEXITSTATUS(status);
}

Outcome<double> Child::peak_rss_kib() const {
  if (peak_rss_kib_ < 0) return error_text("no peak memory: the child's input was not closed, or it was not reaped");
  return peak_rss_kib_;
}

Outcome<Child> spawn_child(const std::vector<std::string>& argv, const Environment& environment,
                           const std::string& stderr_path) {
  auto input = make_pipe(true);
  if (!input) return error_text(input.error());
  auto output = make_pipe(false);
  if (!output) return error_text(output.error());
  auto pid = testkit::spawn(argv, environment.entries(),
                            {.in = {.fd = input.value().read_end.get()},
                             .out = {.fd = output.value().write_end.get()},
                             .err = {.append_path = stderr_path},
                             .search_path = true});
  if (!pid) return error_text(pid.error());
  return Child(pid.value(), std::move(input.value().write_end), std::move(output.value().read_end));
}

}  // namespace korvane::bench
