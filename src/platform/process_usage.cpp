#include "platform/process_usage.h"

#include <sys/resource.h>
#include <sys/wait.h>
#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif

#include <cerrno>
#include <fstream>

namespace korvane::platform {

std::optional<double> running_peak_rss_kib([[maybe_unused]] pid_t pid) {
#if defined(__linux__)
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6));
  }
#endif
  return std::nullopt;
}

pid_t wait_for_child(pid_t pid, int* status, int options, [[maybe_unused]] double* peak_rss_kib) {
  rusage usage{};
  pid_t reaped = 0;
  do {
    reaped = ::wait4(pid, status, options, &usage);
  } while (reaped < 0 && errno == EINTR);
#if defined(__APPLE__)
  if (reaped > 0 && peak_rss_kib != nullptr) *peak_rss_kib = static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
  return reaped;
}

std::string cpu_model() {
#if defined(__APPLE__)
  char name[256] = {};
  std::size_t length = sizeof name - 1;
  if (::sysctlbyname("machdep.cpu.brand_string", name, &length, nullptr, 0) == 0 && name[0] != '\0') return name;
#elif defined(__linux__)
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
#endif
  return "unknown";
}

}  // namespace korvane::platform
