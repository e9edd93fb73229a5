#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "common/posix.h"
#include "platform/descriptors.h"
#include "platform/process_usage.h"

extern char** environ;

namespace korvane::bench {
namespace {

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool is_replaced_variable(const char* entry) {
  return std::strncmp(entry, "KORVANE_SOCKET_INFO=", 20) == 0 || std::strncmp(entry, "KORVANE_SESSION_ID=", 19) == 0;
}

// Both ends close-on-exec; ours (picked by `ours_is_write_end`) non-blocking.
Outcome<std::pair<int, int>> make_pipe(bool ours_is_write_end) {
  auto pipe = platform::open_pipe(platform::Blocking::yes);
  if (!pipe) return error_text("pipe: " + os_error_text(errno));
  platform::set_nonblocking(ours_is_write_end ? pipe->write_end.get() : pipe->read_end.get());
  return std::pair<int, int>{pipe->read_end.release(), pipe->write_end.release()};
}

}  // namespace

Environment::Environment(const std::string& socket_info_path) {
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!is_replaced_variable(*entry)) texts_.emplace_back(*entry);
  }
  texts_.push_back("KORVANE_SOCKET_INFO=" + socket_info_path);
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      peak_rss_kib_(other.peak_rss_kib_) {}

Child::~Child() {
  close_fd(input_);
  close_fd(output_);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    platform::wait_for_child(pid_, &status, 0, nullptr);
  }
}

void Child::close_input() {
  // The work is done once the input ends; where the peak can be read only while the child runs,
  // it is read now (elsewhere it comes with the reaping).
  if (input_ >= 0 && pid_ > 0) {
    if (const auto peak = platform::running_peak_rss_kib(pid_)) peak_rss_kib_ = *peak;
  }
  close_fd(input_);
}

Outcome<int> Child::finish() {
  close_input();
  int status = 0;
  if (platform::wait_for_child(pid_, &status, 0, &peak_rss_kib_) < 0) return error_text("waitpid: " + os_error_text(errno));
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
      close_fd(output_);
      return std::optional<int>();
    }
    ::usleep(1000);
  }
}

Outcome<int> Child::reaped(int status) {
  pid_ = -1;
  close_fd(output_);
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
  auto [input_read, input_write] = input.value();
  auto [output_read, output_write] = output.value();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input_read, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output_write, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  pid_t pid = -1;
  const int failed = ::posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environment.entries());
  posix_spawn_file_actions_destroy(&actions);
  ::close(input_read);
  ::close(output_write);
  if (failed != 0) {
    ::close(input_write);
    ::close(output_read);
    return error_text("spawn " + argv[0] + ": " + os_error_text(failed));
  }
  return Child(pid, input_write, output_read);
}

}  // namespace korvane::bench
