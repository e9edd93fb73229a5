// A child process's peak memory and the processor's name, read the same way on Linux and macOS.
#pragma once

#include <sys/types.h>

#include <string>

namespace korvane::platform {

// waitpid(2), retried after EINTR, that also gives the peak resident set of the child it reaps,
// in KiB. It comes from wait4(2)'s rusage: ru_maxrss counts KiB on Linux (getrusage(2)) and
// bytes on macOS (macOS "man 2 getrusage"). `peak_rss_kib` is left alone when nothing is reaped.
pid_t wait_for_child(pid_t pid, int* status, int options, double* peak_rss_kib);

// The processor's name: "model name" in /proc/cpuinfo on Linux, the sysctl
// machdep.cpu.brand_string on macOS (sysctlbyname(3)); "unknown" when neither says.
std::string cpu_model();

}  // namespace korvane::platform
