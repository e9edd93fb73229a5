#include "platform/process_usage.h"

#include <sys/resource.h>
#include <sys/wait.h>
#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif

#include <cerrno>
#include <fstream>

namespace korvane::platform {
namespace {

double max_rss_kib(const rusage& usage) {
#if defined(__APPLE__)
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
#else
  return static_cast<double>(usage.ru_maxrss);
#endif
}

}  // namespace

pid_t wait_for_child(pid_t pid, int* status, int options, double* peak_rss_kib) {
  rusage usage{};
  pid_t reaped = 0;
  do {
    reaped = ::wait4(pid, status, options, &usage);
  } while (reaped < 0 && errno == EINTR);
  if (reaped > 0 && peak_rss_kib != nullptr) *peak_rss_kib = max_rss_kib(usage);
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
