// A child process's peak memory and the processor's name, read the same way on Linux and macOS.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace korvane::platform {

// The peak resident set of a running child so far, in KiB, where the system shows it while the
// child runs: VmHWM in /proc/<pid>/status (Linux, proc(5)). Nullopt where there is no such
// file, and once the child has exited.
std::optional<double> running_peak_rss_kib(pid_t pid);

// waitpid(2), retried after EINTR, that also gives the peak resident set of the reaped child in
// KiB where wait4(2)'s rusage holds the child's own: on macOS, where ru_maxrss counts bytes
// (macOS "man 2 getrusage"). Linux's ru_maxrss also counts the memory the child's address space
// held before execve, which after posix_spawn is the parent's, so there `peak_rss_kib` is left
// alone, as it is when nothing is reaped.
pid_t wait_for_child(pid_t pid, int* status, int options, double* peak_rss_kib);

// The processor's name: the sysctl machdep.cpu.brand_string where sysctlbyname(3) exists
// (macOS), else "model name" in /proc/cpuinfo (Linux); "unknown" when neither says.
std::string cpu_model();

}  // namespace korvane::platform
