// Child processes with piped standard input and output, and their peak resident memory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/outcome.h"
#include "base/unique_fd.h"

namespace korvane::bench {

// The benchmark's own environment with KORVANE_SOCKET_INFO set and KORVANE_SESSION_ID removed.
class Environment {
 public:
  explicit Environment(const std::string& socket_info_path);
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

// A running child; our ends of its stdin and stdout pipes are non-blocking and close-on-exec.
class Child {
 public:
  Child(pid_t pid, UniqueFd input, UniqueFd output) : pid_(pid), input_(std::move(input)), output_(std::move(output)) {}
  Child(Child&& other) noexcept;
  Child& operator=(Child&&) = delete;
  ~Child();

  pid_t pid() const { return pid_; }
  int input() const { return input_.get(); }
  int output() const { return output_.get(); }

  void close_input();
  // Closes stdin and waits for the exit; the exit status, or an error text for a signal.
  Outcome<int> finish();
  // Like finish(), but a child still running after `limit` is killed and yields std::nullopt.
  Outcome<std::optional<int>> finish_within(std::chrono::milliseconds limit);
  // The peak resident set in KiB of a child that has ended (finish or finish_within), as it
  // stood when its input was closed or, where only the reaping tells, over its whole life.
  Outcome<double> peak_rss_kib() const;

 private:
  Outcome<int> reaped(int status);  // the exit status of a child that has ended

  pid_t pid_;
  UniqueFd input_;
  UniqueFd output_;
  double peak_rss_kib_ = -1;  // set when the input is closed or the child is reaped
};

// Starts argv[0] (searched in PATH) with stdin and stdout piped and stderr appended to stderr_path.
Outcome<Child> spawn_child(const std::vector<std::string>& argv, const Environment& environment,
                           const std::string& stderr_path);

}  // namespace korvane::bench
