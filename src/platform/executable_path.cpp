#include "platform/executable_path.h"

#include <cstdint>

#include "platform/features.h"
#include "platform/real_path.h"

#if KORVANE_HAVE_NS_GET_EXECUTABLE_PATH
#include <mach-o/dyld.h>
#endif

namespace korvane::platform {

std::string lasting_link(const std::string& resolved) {
  // <prefix>/Cellar/<formula>/<version>/bin/<name>
  const std::size_t cellar = resolved.rfind("/Cellar/");
  if (cellar == std::string::npos) return resolved;
  const std::size_t formula_end = resolved.find('/', cellar + 8);
  const std::size_t version_end = formula_end == std::string::npos ? formula_end : resolved.find('/', formula_end + 1);
  if (version_end == std::string::npos || resolved.compare(version_end, 5, "/bin/") != 0) return resolved;
  const std::string name = resolved.substr(version_end + 5);
  if (name.empty() || name.find('/') != std::string::npos) return resolved;
  std::string link = resolved.substr(0, cellar) + "/bin/" + name;
  const std::optional<std::string> target = real_path(link);
  return target == resolved ? link : resolved;
}

std::optional<std::string> executable_path() {
#if KORVANE_HAVE_NS_GET_EXECUTABLE_PATH
  // dyld(3): _NSGetExecutablePath gives the path the program was started by, which may be
  // relative or run through links; it asks for a larger buffer by returning -1.
  std::uint32_t size = 0;
  (void)::_NSGetExecutablePath(nullptr, &size);
  std::string started_by(size, '\0');
  if (::_NSGetExecutablePath(started_by.data(), &size) != 0) return std::nullopt;
  const std::optional<std::string> path = real_path(started_by);
#else
  // proc(5): /proc/self/exe is a link to the program's file, wherever procfs is mounted. Once the
  // file is deleted the link names "<path> (deleted)", which realpath refuses with ENOENT.
  const std::optional<std::string> path = real_path("/proc/self/exe");
#endif
  if (!path) return std::nullopt;
  return lasting_link(*path);
}

}  // namespace korvane::platform
