#include "platform/process_usage.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include "platform/features.h"
#if KORVANE_HAVE_SYSCTLBYNAME
#include <sys/sysctl.h>
#endif

#include <cerrno>
#include <fstream>

namespace korvane::platform {
namespace {

// The text after "name:" on the first line of a /proc file that begins with `name`; empty where
// there is no such file or line.
std::string proc_field(const std::string& path, std::string_view name) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(name, 0) == 0 && line.find(':') != std::string::npos) return line.substr(line.find(':') + 1);
  }
  return "";
}

}  // namespace

std::optional<double> running_peak_rss_kib(pid_t pid) {
  const std::string peak = proc_field("/proc/" + std::to_string(pid) + "/status", "VmHWM:");
  if (peak.empty()) return std::nullopt;
  return std::stod(peak);
}

pid_t wait_for_child(pid_t pid, int* status, int options, [[maybe_unused]] double* peak_rss_kib) {
  rusage usage{};
  pid_t reaped = 0;
  do {
    reaped = ::wait4(pid, status, options, &usage);
  } while (reaped < 0 && errno == EINTR);
  // What ru_maxrss counts is each system's own: macOS's counts the child's bytes.
#if defined(__APPLE__)
  if (reaped > 0 && peak_rss_kib != nullptr) *peak_rss_kib = static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
  return reaped;
}

std::string cpu_model() {
#if KORVANE_HAVE_SYSCTLBYNAME
  char name[256] = {};
  std::size_t length = sizeof name - 1;
  if (::sysctlbyname("machdep.cpu.brand_string", name, &length, nullptr, 0) == 0 && name[0] != '\0') return name;
#endif
  const std::string model = proc_field("/proc/cpuinfo", "model name");
  return model.size() > 1 ? model.substr(1) : "unknown";
}

}  // namespace korvane::platform
