// korvane-bench-launch: runs one command with standard input from a file and standard output to
// a file, as a shell does for `command < in > out`, and prints how it went on one line:
// "<exit status> <seconds from start to exit> <peak resident memory in KiB> <CPU seconds, user
// and system>".
//
// The benchmark starts the command through this small program so that the peak memory is the
// command's own: Linux keeps a process's high-water mark across exec, so a command started
// straight from the large benchmark process would report the benchmark's peak.
//
// usage: korvane-bench-launch IN OUT COMMAND [ARGUMENT...]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: korvane-bench-launch IN OUT COMMAND [ARGUMENT...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, argv[1], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int failed = ::posix_spawnp(&pid, argv[3], &actions, nullptr, argv + 3, environ);
  if (failed != 0) {
    std::fprintf(stderr, "korvane-bench-launch: %s: %s\n", argv[3], std::strerror(failed));
    return 2;
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 2;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
#if defined(__APPLE__)
  const long peak_kib = usage.ru_maxrss / 1024;  // bytes on macOS (getrusage(2))
#else
  const long peak_kib = usage.ru_maxrss;  // KiB on Linux (getrusage(2))
#endif
  const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  std::printf("%d %.9f %ld %.6f\n", exit_status, elapsed.count(), peak_kib,
              seconds(usage.ru_utime) + seconds(usage.ru_stime));
  return 0;
}
